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

typedef float v8f __attribute__((vector_size(32)));
typedef float v16f __attribute__((vector_size(64)));

template <unsigned T>
struct ToneVec;
template <>
struct ToneVec<4> {
  using type = v8f;
};
template <>
struct ToneVec<8> {
  using type = v16f;
};

/// Sample positions per table stretch: P and Q of 64 positions take 8 KiB for 8 tones.
constexpr std::size_t kStretch = 64;
/// Symbols accumulated side by side.
constexpr std::size_t kGroup = 4;

/// acc[g] += x_g * phasor for kG symbols starting at iq0, over positions [0, len)
/// of the stretch tables. x * phasor = [a c - b s | b c + a s] = a P + b Q with
/// P = [c | s] and Q = [-s | c]: b * (-s) is exactly -(b s), and the sums are the same sums.
template <class V, std::size_t kG>
TARSK_INLINE void accumulate(const Cf32* const* x, const V* p, const V* q, std::size_t len, V* acc) noexcept {
  V a[kG];
  for (std::size_t g = 0; g < kG; ++g) a[g] = acc[g];
  for (std::size_t n = 0; n < len; ++n) {
    const V pn = p[n], qn = q[n];
    for (std::size_t g = 0; g < kG; ++g) a[g] = a[g] + (x[g][n].re * pn + x[g][n].im * qn);
  }
  for (std::size_t g = 0; g < kG; ++g) acc[g] = a[g];
}

template <unsigned T>
TARSK_INLINE void decide(const Cf32* iq, std::size_t n_symbols, std::size_t symbol_samples, const float* offsets_hz,
                         float base_hz, float fs, std::uint8_t* decisions) noexcept {
  using V = typename ToneVec<T>::type;
  float c[T], s[T], re[T], im[T];
  for (unsigned t = 0; t < T; ++t) {
    cr_sincosf(((offsets_hz[t] + base_hz) * -kTwoPi) / fs, s[t], c[t]);
    re[t] = 1.0f;
    im[t] = 0.0f;
  }
  if (n_symbols > kFskMaxSymbols) n_symbols = kFskMaxSymbols;

  V acc[kFskMaxSymbols];
  for (std::size_t k = 0; k < n_symbols; ++k) acc[k] = V{};
  alignas(64) V p[kStretch];
  alignas(64) V q[kStretch];
  for (std::size_t n0 = 0; n0 < symbol_samples; n0 += kStretch) {
    const std::size_t len = symbol_samples - n0 < kStretch ? symbol_samples - n0 : kStretch;
    for (std::size_t n = 0; n < len; ++n) {
      for (unsigned t = 0; t < T; ++t) {
        p[n][t] = re[t];
        p[n][T + t] = im[t];
        q[n][t] = -im[t];
        q[n][T + t] = re[t];
        const float r = std::fma(re[t], c[t], -(im[t] * s[t]));
        const float i = std::fma(im[t], c[t], re[t] * s[t]);
        re[t] = r;
        im[t] = i;
      }
    }
    std::size_t k = 0;
    for (; k + kGroup <= n_symbols; k += kGroup) {
      const Cf32* x[kGroup];
      for (std::size_t g = 0; g < kGroup; ++g) x[g] = iq + (k + g) * symbol_samples + n0;
      accumulate<V, kGroup>(x, p, q, len, acc + k);
    }
    for (; k < n_symbols; ++k) {
      const Cf32* x[1] = {iq + k * symbol_samples + n0};
      accumulate<V, 1>(x, p, q, len, acc + k);
    }
  }

  for (std::size_t k = 0; k < n_symbols; ++k) {
    float best = -1.0f;
    std::uint8_t tone = 0;
    for (unsigned t = 0; t < T; ++t) {
      const float sr = acc[k][t], si = acc[k][T + t];
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
