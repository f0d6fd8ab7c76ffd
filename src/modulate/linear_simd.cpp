// Per-sample loops of the BPSK, QPSK and QAM modulators, compiled once per
// CPU target (see core/dispatch.hpp); the carrier recursion is the only serial
// dependency.
#include <algorithm>
#include <bit>
#include <cmath>
#include <cstring>

#if defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif

#include "modulate/bpsk.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

// Samples per round: the carrier recursion and the mapper run sample by
// sample into small planes, then the round is mixed with vector operations.
// The recursion is then nearly alone on the multiply-add units instead of
// queueing behind the mixing of older samples; a round is short enough for
// the next one's recursion to start while its mixing is still in flight.
constexpr std::size_t kRound = 64;

/// y[k] = ((x * p).re * gain, (x * p).im * gain) for k < m, with
/// (x * p).re = fma(x.re, p.re, -(x.im * p.im)), (x * p).im = fma(x.im, p.re, x.re * p.im).
TARSK_INLINE void mix(const float* xr, const float* xi, const float* pr, const float* pi, float gain,
                      Cf32* y, std::size_t m) noexcept {
  std::size_t k = 0;
  float* out = reinterpret_cast<float*>(y);
#if defined(__AVX512F__)
  const __m512 g = _mm512_set1_ps(gain);
  const __m512i lo = _mm512_setr_epi32(0, 16, 1, 17, 2, 18, 3, 19, 4, 20, 5, 21, 6, 22, 7, 23);
  const __m512i hi = _mm512_setr_epi32(8, 24, 9, 25, 10, 26, 11, 27, 12, 28, 13, 29, 14, 30, 15, 31);
  for (; k + 16 <= m; k += 16) {
    const __m512 ar = _mm512_loadu_ps(xr + k), ai = _mm512_loadu_ps(xi + k);
    const __m512 br = _mm512_loadu_ps(pr + k), bi = _mm512_loadu_ps(pi + k);
    const __m512 zr = _mm512_mul_ps(_mm512_fmsub_ps(ar, br, _mm512_mul_ps(ai, bi)), g);
    const __m512 zi = _mm512_mul_ps(_mm512_fmadd_ps(ai, br, _mm512_mul_ps(ar, bi)), g);
    _mm512_storeu_ps(out + 2 * k, _mm512_permutex2var_ps(zr, lo, zi));
    _mm512_storeu_ps(out + 2 * k + 16, _mm512_permutex2var_ps(zr, hi, zi));
  }
#elif defined(__AVX2__) && defined(__FMA__)
  const __m256 g = _mm256_set1_ps(gain);
  for (; k + 8 <= m; k += 8) {
    const __m256 ar = _mm256_loadu_ps(xr + k), ai = _mm256_loadu_ps(xi + k);
    const __m256 br = _mm256_loadu_ps(pr + k), bi = _mm256_loadu_ps(pi + k);
    const __m256 zr = _mm256_mul_ps(_mm256_fmsub_ps(ar, br, _mm256_mul_ps(ai, bi)), g);
    const __m256 zi = _mm256_mul_ps(_mm256_fmadd_ps(ai, br, _mm256_mul_ps(ar, bi)), g);
    const __m256 a = _mm256_unpacklo_ps(zr, zi), b = _mm256_unpackhi_ps(zr, zi);  // samples 0 1 4 5, 2 3 6 7
    _mm256_storeu_ps(out + 2 * k, _mm256_permute2f128_ps(a, b, 0x20));
    _mm256_storeu_ps(out + 2 * k + 8, _mm256_permute2f128_ps(a, b, 0x31));
  }
#endif
  for (; k < m; ++k) {
    const float zr = std::fma(xr[k], pr[k], -(xi[k] * pi[k]));
    const float zi = std::fma(xi[k], pr[k], xr[k] * pi[k]);
    out[2 * k] = zr * gain;
    out[2 * k + 1] = zi * gain;
  }
}

/// Advances the carrier: the Oscillator's advance written in the modulators'
/// own order, fma(re, cos w, -(im * sin w)), which equals fma(re, cos w,
/// (-im) * sin w) but keeps the negation off the recursion's critical path.
TARSK_INLINE void advance_carrier(float& re, float& im, std::uint32_t& count, float c, float s) noexcept {
  const float zr = std::fma(re, c, -(im * s));
  const float zi = std::fma(im, c, re * s);
  re = zr;
  im = zi;
  if ((++count & 1023u) == 0) [[unlikely]] {
    const float m = std::sqrt((zi * zi) + (zr * zr));
    const float g = 1.0f / m;
    re = zr * g;
    im = zi * g;
  }
}

/// Writes out.size() samples; map(k, re, im) stores symbol k (a mapper whose
/// symbols are all real leaves im alone: it stays 0). The carrier recursion
/// is the only serial dependency, everything else per sample is independent.
template <class Map>
TARSK_INLINE void linear_waveform(Oscillator& carrier, float gain, std::span<Cf32> out, Map map) noexcept {
  // Locals stay in registers; stores to out cannot alias them.
  float re = carrier.phasor.re, im = carrier.phasor.im;
  const float c = carrier.step.re, s = carrier.step.im;
  std::uint32_t count = carrier.count;
  alignas(64) float xr[kRound], xi[kRound] = {}, pr[kRound], pi[kRound];
  Cf32* y = out.data();
  const std::size_t n = out.size();
  for (std::size_t k0 = 0; k0 < n; k0 += kRound) {
    const std::size_t m = std::min(kRound, n - k0);
    for (std::size_t j = 0; j < m; ++j) {
      advance_carrier(re, im, count, c, s);
      map(k0 + j, xr[j], xi[j]);
      pr[j] = re;
      pi[j] = im;
    }
    mix(xr, xi, pr, pi, gain, y + k0, m);
  }
  carrier.phasor = {re, im};
  carrier.count = count;
}

}  // namespace

void bpsk_modulate(Oscillator& carrier, float gain, const std::uint8_t* bits,
                   std::span<Cf32> out) noexcept {
  // A table rather than a branch: random bits would mispredict half the time.
  static constexpr float kLevel[2] = {1.0f, -1.0f};
  linear_waveform(carrier, gain, out, [bits](std::size_t k, float& re, float&) { re = kLevel[bits[k] & 1u]; });
}

void qpsk_modulate(Oscillator& carrier, float gain, const std::uint8_t* bits,
                   std::span<Cf32> out) noexcept {
  // A table rather than a branch: random bits would mispredict half the time.
  static constexpr float kLevel[2] = {kQpskLevel, -kQpskLevel};
  linear_waveform(carrier, gain, out, [bits](std::size_t k, float& re, float& im) {
    re = kLevel[bits[2 * k] & 1u];
    im = kLevel[bits[2 * k + 1] & 1u];
  });
}

/// Element j of a symbol's axis sits in byte j of w; its lowest bit, at bit
/// 8j, is moved by one multiply to bit 24 + (b - 1 - j), first element most
/// significant. The other partial products fall on distinct bits below 24 or
/// above 31, so nothing carries into the field.
template <unsigned b>
constexpr unsigned gather_axis(std::uint32_t w) noexcept {
  constexpr std::uint32_t kGather = [] {
    std::uint32_t m = 0;
    for (unsigned j = 0; j < b; ++j) m |= 1u << (24 + (b - 1 - j) - 8 * j);
    return m;
  }();
  return (((w & 0x01010101u) * kGather) >> 24) & ((1u << b) - 1);
}

template <unsigned b>
constexpr bool gather_axis_is_exact() noexcept {
  for (std::uint32_t v = 0; v < (1u << b); ++v) {
    for (std::uint32_t junk : {0x00u, 0xFEu}) {  // the upper bits of an element never count
      std::uint32_t w = 0;
      for (unsigned j = 0; j < b; ++j) w |= (((v >> (b - 1 - j)) & 1u) | junk) << (8 * j);
      if (gather_axis<b>(w) != v) return false;
    }
  }
  return true;
}
static_assert(gather_axis_is_exact<2>() && gather_axis_is_exact<3>() && gather_axis_is_exact<4>());

/// Symbol of B = 2b elements at s: the I index from the first b, the Q index
/// from the next b.
template <unsigned b>
TARSK_INLINE Cf32 qam_symbol(const float* levels, const std::uint8_t* s) noexcept {
  std::uint32_t wi = 0, wq = 0;
  if constexpr (std::endian::native == std::endian::little && b == 2) {
    std::memcpy(&wi, s, 4);  // one load for both axes
    wq = wi >> 16;
    wi &= 0xFFFFu;
  } else if constexpr (std::endian::native == std::endian::little && b == 3) {
    std::memcpy(&wi, s, 4);  // two loads inside the six elements instead of six byte loads
    std::memcpy(&wq, s + 2, 4);
    wi &= 0xFFFFFFu;
    wq >>= 8;
  } else if constexpr (std::endian::native == std::endian::little && b == 4) {
    std::memcpy(&wi, s, 4);
    std::memcpy(&wq, s + 4, 4);
  } else {
    for (unsigned j = 0; j < b; ++j) {
      wi |= static_cast<std::uint32_t>(s[j]) << (8 * j);
      wq |= static_cast<std::uint32_t>(s[b + j]) << (8 * j);
    }
  }
  return Cf32{levels[gather_axis<b>(wi)], levels[gather_axis<b>(wq)]};
}

template <unsigned B>
TARSK_INLINE void qam_waveform(Oscillator& carrier, float gain, const float* levels,
                               const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  linear_waveform(carrier, gain, out, [levels, bits](std::size_t k, float& re, float& im) {
    const Cf32 x = qam_symbol<B / 2>(levels, bits + k * B);
    re = x.re;
    im = x.im;
  });
}

void qam_modulate(unsigned bits_per_symbol, Oscillator& carrier, float gain, const float* levels,
                  const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  switch (bits_per_symbol) {
    case 4: qam_waveform<4>(carrier, gain, levels, bits, out); break;
    case 6: qam_waveform<6>(carrier, gain, levels, bits, out); break;
    case 8: qam_waveform<8>(carrier, gain, levels, bits, out); break;
    default: break;
  }
}


}  // namespace tarsk::TARSK_ISA_NS
