// QPSK demodulator: sign of each scaled component.
#include "demodulate/qpsk.hpp"

#include <algorithm>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarsk {

std::size_t QpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  // The output order I, Q, I, Q ... is the input's float order: one decision per float.
  const std::size_t n = 2 * std::min(iq.size(), out.size() / 2);
  const float* f = reinterpret_cast<const float*>(iq.data());
  std::uint8_t* y = out.data();
  const float g = gain;
  std::size_t k = 0;
#if defined(__SSE2__)
  // Sixteen decisions per step (see the BPSK decider for why by hand).
  const __m128 gv = _mm_set1_ps(g);
  const __m128 zero = _mm_setzero_ps();
  const __m128i one = _mm_set1_epi8(1);
  for (; k + 16 <= n; k += 16) {
    __m128i m[4];
    for (int j = 0; j < 4; ++j) {
      m[j] = _mm_castps_si128(_mm_cmplt_ps(_mm_mul_ps(_mm_loadu_ps(f + k + 4 * j), gv), zero));
    }
    const __m128i packed = _mm_packs_epi16(_mm_packs_epi32(m[0], m[1]), _mm_packs_epi32(m[2], m[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + k), _mm_and_si128(packed, one));
  }
#endif
  for (; k < n; ++k) y[k] = (f[k] * g) < 0.0f;
  return n;
}

}  // namespace tarsk
