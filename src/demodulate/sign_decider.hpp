// Hard decisions "scaled value below zero" over runs of floats, shared by the
// BPSK and QPSK deciders; sixteen at a time where SSE2 is available.
#pragma once

#include <cstddef>
#include <cstdint>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

namespace tarsk::detail {

/// y[k] = (f[Stride * k] * g) < 0 for k < n: Stride 1 decides every float, 2 only real parts.
template <std::size_t Stride>
inline void decide_negative(const float* f, float g, std::uint8_t* y, std::size_t n) noexcept {
  static_assert(Stride == 1 || Stride == 2);
  std::size_t k = 0;
#if defined(__SSE2__)
  // Written out because byte stores may alias the input as far as the compiler
  // knows, which keeps its vectoriser off the plain loop. cmplt is the same
  // ordered strict compare: -0 and NaN decide 0.
  const __m128 gv = _mm_set1_ps(g);
  const __m128 zero = _mm_setzero_ps();
  const __m128i one = _mm_set1_epi8(1);
  for (; k + 16 <= n; k += 16) {
    __m128i m[4];
    for (std::size_t j = 0; j < 4; ++j) {
      const float* p = f + Stride * (k + 4 * j);
      __m128 v;
      if constexpr (Stride == 2)
        v = _mm_shuffle_ps(_mm_loadu_ps(p), _mm_loadu_ps(p + 4), 0x88);
      else
        v = _mm_loadu_ps(p);
      m[j] = _mm_castps_si128(_mm_cmplt_ps(_mm_mul_ps(v, gv), zero));
    }
    const __m128i packed = _mm_packs_epi16(_mm_packs_epi32(m[0], m[1]), _mm_packs_epi32(m[2], m[3]));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(y + k), _mm_and_si128(packed, one));
  }
#endif
  for (; k < n; ++k) y[k] = (f[Stride * k] * g) < 0.0f;
}

}  // namespace tarsk::detail
