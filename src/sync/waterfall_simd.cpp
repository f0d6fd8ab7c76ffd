// The waterfall's inner loops, compiled once per CPU target (core/dispatch.hpp).
//
// Every bin's phasor starts at 1 on every row and follows the same recursion,
// so the phasors of one group of bins are computed once per step and shared
// by a tile of rows whose accumulators stay in registers. Each lane does
// exactly the scalar arithmetic in the scalar order: the targets differ only
// in how many bins and rows run side by side, never in the bits.
#include <algorithm>
#include <array>
#include <cmath>
#include <cstring>
#include <utility>

#include "core/fmath.hpp"
#include "sync/waterfall.hpp"

#if defined(__AVX2__) && defined(__FMA__)
#include <immintrin.h>
#endif

// The vector row loops must be unrolled for the accumulators to live in
// registers; the portable form has too many of them for that, and unrolling
// its sixteen tile sizes only multiplies compile time.
#if defined(__AVX2__) && defined(__FMA__)
#define TARSK_UNROLL _Pragma("GCC unroll 16")
#else
#define TARSK_UNROLL
#endif

namespace tarsk::TARSK_ISA_NS {
namespace {

#if defined(__AVX2__) && defined(__FMA__)
struct Lanes {
  static constexpr std::size_t kWidth = 8;
  static constexpr std::size_t kGroups = 1;
#if defined(__AVX512F__)
  // 256-bit vectors with AVX-512's 32 registers: 14 rows share each phasor step with
  // every accumulator in a register. (Measured faster than 512-bit vectors on a core
  // that splits them in two; a core with full-width units may prefer those.)
  static constexpr std::size_t kTileRows = 14;
#else
  // More accumulators than the 16 registers hold: the spilled ones cost loads and stores,
  // which still beats recomputing the phasors for fewer rows.
  static constexpr std::size_t kTileRows = 12;
#endif
  __m256 v;
  TARSK_INLINE static Lanes load(const float* p) noexcept { return {_mm256_loadu_ps(p)}; }
  TARSK_INLINE static Lanes splat(float x) noexcept { return {_mm256_set1_ps(x)}; }
  TARSK_INLINE static Lanes zero() noexcept { return {_mm256_setzero_ps()}; }
  TARSK_INLINE void store(float* p) const noexcept { _mm256_storeu_ps(p, v); }
  TARSK_INLINE friend Lanes operator+(Lanes a, Lanes b) noexcept { return {_mm256_add_ps(a.v, b.v)}; }
  TARSK_INLINE friend Lanes operator-(Lanes a, Lanes b) noexcept { return {_mm256_sub_ps(a.v, b.v)}; }
  TARSK_INLINE friend Lanes operator*(Lanes a, Lanes b) noexcept { return {_mm256_mul_ps(a.v, b.v)}; }
  TARSK_INLINE static Lanes fma(Lanes a, Lanes b, Lanes c) noexcept { return {_mm256_fmadd_ps(a.v, b.v, c.v)}; }
  TARSK_INLINE static Lanes fms(Lanes a, Lanes b, Lanes c) noexcept { return {_mm256_fmsub_ps(a.v, b.v, c.v)}; }
};
#else
// Portable form: plain per-lane arithmetic, the reference the wider targets reproduce.
struct Lanes {
  static constexpr std::size_t kWidth = 4;
  static constexpr std::size_t kGroups = 1;
  // Without a hardware fma the phasor step is a library call: share it among many rows.
  static constexpr std::size_t kTileRows = 16;
  float v[kWidth];
  TARSK_INLINE static Lanes load(const float* p) noexcept {
    Lanes r;
    std::memcpy(r.v, p, sizeof r.v);
    return r;
  }
  TARSK_INLINE static Lanes splat(float x) noexcept { return {{x, x, x, x}}; }
  TARSK_INLINE static Lanes zero() noexcept { return splat(0.0f); }
  TARSK_INLINE void store(float* p) const noexcept { std::memcpy(p, v, sizeof v); }
  template <class F>
  TARSK_INLINE static Lanes map(F f) noexcept {
    Lanes r;
    for (std::size_t i = 0; i < kWidth; ++i) r.v[i] = f(i);
    return r;
  }
  TARSK_INLINE friend Lanes operator+(Lanes a, Lanes b) noexcept {
    return map([&](std::size_t i) { return a.v[i] + b.v[i]; });
  }
  TARSK_INLINE friend Lanes operator-(Lanes a, Lanes b) noexcept {
    return map([&](std::size_t i) { return a.v[i] - b.v[i]; });
  }
  TARSK_INLINE friend Lanes operator*(Lanes a, Lanes b) noexcept {
    return map([&](std::size_t i) { return a.v[i] * b.v[i]; });
  }
  TARSK_INLINE static Lanes fma(Lanes a, Lanes b, Lanes c) noexcept {
    return map([&](std::size_t i) { return std::fma(a.v[i], b.v[i], c.v[i]); });
  }
  TARSK_INLINE static Lanes fms(Lanes a, Lanes b, Lanes c) noexcept {
    return map([&](std::size_t i) { return std::fma(a.v[i], b.v[i], -c.v[i]); });
  }
};
#endif

constexpr std::size_t W = Lanes::kWidth;

constexpr std::size_t G = Lanes::kGroups;

/// Squared magnitudes plus 1e-12 of T rows (at most kTileRows) for G groups of W bins.
/// Each sample, broadcast once, serves all G groups.
template <std::size_t T>
TARSK_INLINE void tile_power(const Cf32* x, std::size_t n, std::size_t stride, const float* c_lanes,
                             const float* s_lanes, float* power) noexcept {
  Lanes c[G], s[G], pr[G], pi[G], xr_acc[T][G], xi_acc[T][G];
  TARSK_UNROLL
  for (std::size_t g = 0; g < G; ++g) {
    c[g] = Lanes::load(c_lanes + g * W);
    s[g] = Lanes::load(s_lanes + g * W);
    pr[g] = Lanes::splat(1.0f);
    pi[g] = Lanes::zero();
    TARSK_UNROLL
    for (std::size_t r = 0; r < T; ++r) xr_acc[r][g] = xi_acc[r][g] = Lanes::zero();
  }
  for (std::size_t k = 0; k < n; ++k) {
    TARSK_UNROLL
    for (std::size_t r = 0; r < T; ++r) {
      const Cf32 v = x[r * stride + k];
      const Lanes a = Lanes::splat(v.re), b = Lanes::splat(v.im);
      TARSK_UNROLL
      for (std::size_t g = 0; g < G; ++g) {
        // X += x * p, the product written out: (a c - b s) + j (b c + a s).
        xr_acc[r][g] = xr_acc[r][g] + (a * pr[g] - b * pi[g]);
        xi_acc[r][g] = xi_acc[r][g] + (b * pr[g] + a * pi[g]);
      }
    }
    TARSK_UNROLL
    for (std::size_t g = 0; g < G; ++g) {
      const Lanes nr = Lanes::fms(pr[g], c[g], s[g] * pi[g]);
      const Lanes ni = Lanes::fma(pi[g], c[g], s[g] * pr[g]);
      pr[g] = nr;
      pi[g] = ni;
    }
  }
  const Lanes tiny = Lanes::splat(1e-12f);
  TARSK_UNROLL
  for (std::size_t r = 0; r < T; ++r) {
    TARSK_UNROLL
    for (std::size_t g = 0; g < G; ++g) {
      ((xr_acc[r][g] * xr_acc[r][g] + xi_acc[r][g] * xi_acc[r][g]) + tiny).store(power + (r * G + g) * W);
    }
  }
}

template <std::size_t T>
void rows_tile(const Cf32* x, std::size_t n, std::size_t stride, const float* cos_step, const float* sin_step,
               std::size_t bins, float* out) noexcept {
  constexpr std::size_t kSpan = G * W;  // bins per pass
  alignas(64) float c_lanes[kSpan], s_lanes[kSpan], power[T * kSpan];
  for (std::size_t b0 = 0; b0 < bins; b0 += kSpan) {
    const std::size_t m = std::min(kSpan, bins - b0);
    // Lanes past the last bin turn by 0 and are dropped.
    for (std::size_t i = 0; i < kSpan; ++i) {
      c_lanes[i] = i < m ? cos_step[b0 + i] : 1.0f;
      s_lanes[i] = i < m ? sin_step[b0 + i] : 0.0f;
    }
    tile_power<T>(x, n, stride, c_lanes, s_lanes, power);
    for (std::size_t r = 0; r < T; ++r) std::memcpy(out + r * bins + b0, power + r * kSpan, m * sizeof(float));
  }
}

template <std::size_t... T>
constexpr auto make_tiles(std::index_sequence<T...>) noexcept {
  using Fn = void (*)(const Cf32*, std::size_t, std::size_t, const float*, const float*, std::size_t, float*);
  return std::array<Fn, sizeof...(T)>{&rows_tile<T + 1>...};
}

}  // namespace

void waterfall_rows(const Cf32* x, std::size_t n, std::size_t stride, std::size_t rows, const float* cos_step,
                    const float* sin_step, std::size_t bins, float* out) noexcept {
  static constexpr auto kTiles = make_tiles(std::make_index_sequence<Lanes::kTileRows>{});
  for (std::size_t r = 0; r < rows; r += Lanes::kTileRows) {
    const std::size_t t = std::min(Lanes::kTileRows, rows - r);
    kTiles[t - 1](x + r * stride, n, stride, cos_step, sin_step, bins, out + r * bins);
    float* const row0 = out + r * bins;
    cr_logf_n(row0, row0, t * bins);
  }
}

}  // namespace tarsk::TARSK_ISA_NS
