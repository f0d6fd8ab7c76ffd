// FSK tone decisions, compiled once per CPU target (core/dispatch.hpp).
//
// Every tone's correlator phasor restarts at (1, 0) with each symbol, so the
// phasors of one stretch of sample positions serve every symbol: they are
// built once per stretch into a small table that stays in the first-level
// cache, and all symbols then accumulate over that stretch. One vector holds
// the real parts of all tones' products in its lower half and the imaginary
// parts in its upper half; several symbols run side by side so that no sum
// waits for the previous sample of its own symbol. Each sum still adds its
// products one by one in sample order.
#include <cmath>
#include <cstring>

#include "core/constants.hpp"
#include "core/fmath.hpp"
#include "demodulate/fsk_frame.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

#if defined(__AVX512F__)
constexpr std::size_t kLanes = 16;
#elif defined(__AVX2__)
constexpr std::size_t kLanes = 8;
#else
constexpr std::size_t kLanes = 4;
#endif

typedef float v4f __attribute__((vector_size(16)));
typedef float v8f __attribute__((vector_size(32)));
typedef float v16f __attribute__((vector_size(64)));

template <std::size_t L>
struct VecOf;
template <>
struct VecOf<4> {
  using type = v4f;
};
template <>
struct VecOf<8> {
  using type = v8f;
};
template <>
struct VecOf<16> {
  using type = v16f;
};

/// Sample positions per table stretch: P and Q of 64 positions take 8 KiB for 8 tones.
constexpr std::size_t kStretch = 64;

template <class V>
TARSK_INLINE V load(const float* p) noexcept {
  V v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

/// acc[g] += x_g * phasor for kG symbols over positions [0, len) of the stretch
/// tables, each 2T-float row held as kK native vectors. x * phasor =
/// [a c - b s | b c + a s] = a P + b Q with P = [c | s] and Q = [-s | c]:
/// b * (-s) is exactly -(b s), and the sums are the same sums.
template <class V, std::size_t kK, std::size_t kG>
TARSK_INLINE void accumulate(const Cf32* const* x, const float* p, const float* q, std::size_t len,
                             V* acc) noexcept {
  constexpr std::size_t kL = sizeof(V) / sizeof(float);
  V a[kG][kK];
  for (std::size_t g = 0; g < kG; ++g)
    for (std::size_t j = 0; j < kK; ++j) a[g][j] = acc[g * kK + j];
  for (std::size_t n = 0; n < len; ++n) {
    // Unrolled, so that the sums stay in registers.
#pragma GCC unroll 4
    for (std::size_t j = 0; j < kK; ++j) {
      const V pn = load<V>(p + (n * kK + j) * kL), qn = load<V>(q + (n * kK + j) * kL);
#pragma GCC unroll 4
      for (std::size_t g = 0; g < kG; ++g) a[g][j] = a[g][j] + (x[g][n].re * pn + x[g][n].im * qn);
    }
  }
  for (std::size_t g = 0; g < kG; ++g)
    for (std::size_t j = 0; j < kK; ++j) acc[g * kK + j] = a[g][j];
}

template <unsigned T>
TARSK_INLINE void decide(const Cf32* iq, std::size_t n_symbols, std::size_t symbol_samples, const float* offsets_hz,
                         float base_hz, float fs, std::uint8_t* decisions) noexcept {
  constexpr std::size_t kL = kLanes < 2 * T ? kLanes : 2 * T;
  constexpr std::size_t kK = 2 * T / kL;  // native vectors per row
  constexpr std::size_t kG = kK >= 4 ? 2 : 4;  // symbols side by side, within the register file
  using V = typename VecOf<kL>::type;

  float c[T], s[T], re[T], im[T];
  for (unsigned t = 0; t < T; ++t) {
    cr_sincosf(((offsets_hz[t] + base_hz) * -kTwoPi) / fs, s[t], c[t]);
    re[t] = 1.0f;
    im[t] = 0.0f;
  }
  if (n_symbols > kFskMaxSymbols) n_symbols = kFskMaxSymbols;

  V acc[kFskMaxSymbols * kK];
  for (std::size_t k = 0; k < n_symbols * kK; ++k) acc[k] = V{};
  alignas(64) float p[kStretch * 2 * T];
  alignas(64) float q[kStretch * 2 * T];
  for (std::size_t n0 = 0; n0 < symbol_samples; n0 += kStretch) {
    const std::size_t len = symbol_samples - n0 < kStretch ? symbol_samples - n0 : kStretch;
    for (std::size_t n = 0; n < len; ++n) {
      float* pn = p + n * 2 * T;
      float* qn = q + n * 2 * T;
      for (unsigned t = 0; t < T; ++t) {
        pn[t] = re[t];
        pn[T + t] = im[t];
        qn[t] = -im[t];
        qn[T + t] = re[t];
        const float r = std::fma(re[t], c[t], -(im[t] * s[t]));
        const float i = std::fma(im[t], c[t], re[t] * s[t]);
        re[t] = r;
        im[t] = i;
      }
    }
    std::size_t k = 0;
    for (; k + kG <= n_symbols; k += kG) {
      const Cf32* x[kG];
      for (std::size_t g = 0; g < kG; ++g) x[g] = iq + (k + g) * symbol_samples + n0;
      accumulate<V, kK, kG>(x, p, q, len, acc + k * kK);
    }
    for (; k < n_symbols; ++k) {
      const Cf32* x[1] = {iq + k * symbol_samples + n0};
      accumulate<V, kK, 1>(x, p, q, len, acc + k * kK);
    }
  }

  for (std::size_t k = 0; k < n_symbols; ++k) {
    float sums[2 * T];
    std::memcpy(sums, acc + k * kK, sizeof sums);
    float best = -1.0f;
    std::uint8_t tone = 0;
    for (unsigned t = 0; t < T; ++t) {
      const float sr = sums[t], si = sums[T + t];
      const float power = (si * si) + (sr * sr);
      if (power > best) {  // strictly: the lowest tone wins a tie, a NaN never wins
        best = power;
        tone = static_cast<std::uint8_t>(t);
      }
    }
    decisions[k] = tone;
  }
}

}  // namespace

void fsk_decide_8(const Cf32* iq, std::size_t n_symbols, std::size_t symbol_samples, const float* offsets_hz,
                  float base_hz, float fs, std::uint8_t* decisions) noexcept {
  decide<8>(iq, n_symbols, symbol_samples, offsets_hz, base_hz, fs, decisions);
}

void fsk_decide_4(const Cf32* iq, std::size_t n_symbols, std::size_t symbol_samples, const float* offsets_hz,
                  float base_hz, float fs, std::uint8_t* decisions) noexcept {
  decide<4>(iq, n_symbols, symbol_samples, offsets_hz, base_hz, fs, decisions);
}

}  // namespace tarsk::TARSK_ISA_NS
