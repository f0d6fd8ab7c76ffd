// BPSK demodulator: sign of the scaled real part.
#include "demodulate/bpsk.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarsk {

std::size_t BpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t n = std::min(output_size(iq.size()), out.size());
  const Cf32* x = iq.data();
  std::uint8_t* y = out.data();
  const float g = gain;
  std::size_t k = 0;
#if defined(__SSE2__)
  // Sixteen decisions per step, written out because byte stores may alias the
  // input as far as the compiler knows, which keeps its vectoriser off the
  // plain loop. cmplt is the same ordered strict compare: -0 and NaN decide 0.
  const float* f = reinterpret_cast<const float*>(x);
  const __m128 gv = _mm_set1_ps(g);
  const __m128 zero = _mm_setzero_ps();
  const __m128i one = _mm_set1_epi8(1);
  for (; k + 16 <= n; k += 16) {
    __m128i m[4];
    for (int j = 0; j < 4; ++j) {
      const float* p = f + 2 * k + 8 * j;
      const __m128 re = _mm_shuffle_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + 4), 0x88);
      m[j] = _mm_castps_si128(_mm_cmplt_ps(_mm_mul_ps(re, gv), zero));
    }
    const __m128i packed = _mm_packs_epi16(_mm_packs_epi32(m[0], m[1]), _mm_packs_epi32(m[2], m[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + k), _mm_and_si128(packed, one));
  }
#endif
  for (; k < n; ++k) y[k] = (x[k].re * g) < 0.0f;
  return n;
}

}  // namespace tarsk
