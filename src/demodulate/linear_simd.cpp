// Hard deciders of the BPSK, QPSK and QAM demodulators, compiled once per CPU
// target (see core/dispatch.hpp). Every vector compare below is the ordered,
// strict scalar compare of the plain loops, so all targets decide alike: ties
// go down, -0 is not below 0, NaN is below nothing.
#include <algorithm>
#include <array>
#include <cstdint>
#include <cstring>

#if defined(__SSE2__) || defined(__AVX2__) || defined(__AVX512F__)
#include <immintrin.h>
#endif

#include "demodulate/bpsk.hpp"
#include "demodulate/qam.hpp"
#include "demodulate/qpsk.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

/// y[k] = (f[Stride * k] * g) < 0 for k < n: Stride 1 decides every float, 2 only real parts.
template <std::size_t Stride>
TARSK_INLINE void decide_negative(const float* f, float g, std::uint8_t* y, std::size_t n) noexcept {
  static_assert(Stride == 1 || Stride == 2);
  std::size_t k = 0;
  // Written out because byte stores may alias the input as far as the
  // compiler knows, which keeps its vectoriser off the plain loop.
#if defined(__AVX512F__) && defined(__AVX512BW__)
  const __m512 gv = _mm512_set1_ps(g);
  const __m512 zero = _mm512_setzero_ps();
  const __m512i evens = _mm512_setr_epi32(0, 2, 4, 6, 8, 10, 12, 14, 16, 18, 20, 22, 24, 26, 28, 30);
  for (; k + 64 <= n; k += 64) {
    std::uint64_t below = 0;
    for (std::size_t j = 0; j < 4; ++j) {
      const float* p = f + Stride * (k + 16 * j);
      __m512 v;
      if constexpr (Stride == 2)
        v = _mm512_permutex2var_ps(_mm512_loadu_ps(p), evens, _mm512_loadu_ps(p + 16));
      else
        v = _mm512_loadu_ps(p);
      const __mmask16 m = _mm512_cmp_ps_mask(_mm512_mul_ps(v, gv), zero, _CMP_LT_OQ);
      below |= static_cast<std::uint64_t>(m) << (16 * j);
    }
    _mm512_storeu_si512(y + k, _mm512_maskz_set1_epi8(below, 1));
  }
#elif defined(__AVX2__)
  const __m256 gv = _mm256_set1_ps(g);
  const __m256 zero = _mm256_setzero_ps();
  const __m256i one = _mm256_set1_epi8(1);
  const __m256i order = _mm256_setr_epi32(0, 4, 1, 5, 2, 6, 3, 7);
  for (; k + 32 <= n; k += 32) {
    __m256i m[4];
    for (std::size_t j = 0; j < 4; ++j) {
      const float* p = f + Stride * (k + 8 * j);
      __m256 v;
      if constexpr (Stride == 2) {
        // Real parts, per 128-bit half: a0 a2 b0 b2 | a4 a6 b4 b6; then the middle quarters swap.
        v = _mm256_shuffle_ps(_mm256_loadu_ps(p), _mm256_loadu_ps(p + 8), 0x88);
        v = _mm256_castpd_ps(_mm256_permute4x64_pd(_mm256_castps_pd(v), 0xD8));
      } else {
        v = _mm256_loadu_ps(p);
      }
      m[j] = _mm256_castps_si256(_mm256_cmp_ps(_mm256_mul_ps(v, gv), zero, _CMP_LT_OQ));
    }
    // The packs work per 128-bit half; the dword permute puts the groups of
    // four decisions back in order.
    const __m256i packed = _mm256_packs_epi16(_mm256_packs_epi32(m[0], m[1]), _mm256_packs_epi32(m[2], m[3]));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(y + k),
                        _mm256_and_si256(_mm256_permutevar8x32_epi32(packed, order), one));
  }
#elif defined(__SSE2__)
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

/// p[k] = number of the T thresholds t with t < f[k] * g, for k < n.
template <unsigned T>
TARSK_INLINE void count_above(const float* th, float g, const float* f, std::size_t n, std::int32_t* p) noexcept {
  std::size_t k = 0;
#if defined(__AVX512F__)
  __m512 t[T];
  for (unsigned i = 0; i < T; ++i) t[i] = _mm512_set1_ps(th[i]);
  const __m512 gv = _mm512_set1_ps(g);
  const __m512i one = _mm512_set1_epi32(1);
  for (; k < n; k += 16) {
    // Masked loads and stores cover the tail without reading past the input.
    const __mmask16 live = n - k >= 16 ? __mmask16(0xFFFF) : __mmask16((1u << (n - k)) - 1);
    const __m512 x = _mm512_mul_ps(_mm512_maskz_loadu_ps(live, f + k), gv);
    __m512i c = _mm512_setzero_si512();
    for (unsigned i = 0; i < T; ++i) c = _mm512_mask_add_epi32(c, _mm512_cmp_ps_mask(t[i], x, _CMP_LT_OQ), c, one);
    _mm512_mask_storeu_epi32(p + k, live, c);
  }
#elif defined(__AVX2__)
  __m256 t[T];
  for (unsigned i = 0; i < T; ++i) t[i] = _mm256_set1_ps(th[i]);
  const __m256 gv = _mm256_set1_ps(g);
  for (; k + 8 <= n; k += 8) {
    const __m256 x = _mm256_mul_ps(_mm256_loadu_ps(f + k), gv);
    __m256i c = _mm256_setzero_si256();
    for (unsigned i = 0; i < T; ++i) c = _mm256_sub_epi32(c, _mm256_castps_si256(_mm256_cmp_ps(t[i], x, _CMP_LT_OQ)));
    _mm256_storeu_si256(reinterpret_cast<__m256i*>(p + k), c);
  }
#elif defined(__SSE2__)
  __m128 t[T];
  for (unsigned i = 0; i < T; ++i) t[i] = _mm_set1_ps(th[i]);
  const __m128 gv = _mm_set1_ps(g);
  for (; k + 4 <= n; k += 4) {
    const __m128 x = _mm_mul_ps(_mm_loadu_ps(f + k), gv);
    __m128i c = _mm_setzero_si128();
    for (unsigned i = 0; i < T; ++i) c = _mm_sub_epi32(c, _mm_castps_si128(_mm_cmplt_ps(t[i], x)));
    _mm_storeu_si128(reinterpret_cast<__m128i*>(p + k), c);
  }
#endif
  for (; k < n; ++k) {
    const float x = f[k] * g;
    std::int32_t c = 0;
    for (unsigned i = 0; i < T; ++i) c += th[i] < x;
    p[k] = c;
  }
}

/// For the level positions (pI, pQ) of a symbol, at [pI * L + pQ]: the bits
/// of both Gray codes, most significant first, one per byte, I then Q, ready
/// to be copied to the output in one piece.
template <unsigned b>
constexpr std::array<std::array<std::uint8_t, 8>, 256> gray_symbol_bytes() noexcept {
  std::array<std::array<std::uint8_t, 8>, 256> t{};
  constexpr unsigned l = 1u << b;
  for (unsigned pi = 0; pi < l; ++pi) {
    for (unsigned pq = 0; pq < l; ++pq) {
      const unsigned gi = pi ^ (pi >> 1);
      const unsigned gq = pq ^ (pq >> 1);
      for (unsigned m = 0; m < b; ++m) {
        t[pi * l + pq][m] = static_cast<std::uint8_t>((gi >> (b - 1 - m)) & 1u);
        t[pi * l + pq][b + m] = static_cast<std::uint8_t>((gq >> (b - 1 - m)) & 1u);
      }
    }
  }
  return t;
}

template <unsigned b>
constexpr auto kGrayBytes = gray_symbol_bytes<b>();

template <unsigned b>
TARSK_INLINE void qam_slice(const float* thresholds, float gain, const Cf32* iq, std::size_t n,
                            std::uint8_t* out) noexcept {
  constexpr std::size_t kChunk = 128;  // symbols per pass, so positions stay in L1
  alignas(64) std::int32_t p[2 * kChunk];
  const float* f = reinterpret_cast<const float*>(iq);
  for (std::size_t k0 = 0; k0 < n; k0 += kChunk) {
    const std::size_t m = std::min(kChunk, n - k0);
    count_above<(1u << b) - 1>(thresholds, gain, f + 2 * k0, 2 * m, p);
    std::uint8_t* y = out + 2 * b * k0;
    for (std::size_t k = 0; k < m; ++k) {
      const std::uint8_t* s = kGrayBytes<b>[(p[2 * k] << b) + p[2 * k + 1]].data();
      if (b == 3 && k0 + k + 1 < n) {
        std::memcpy(y + 2 * b * k, s, 8);  // the two bytes past the symbol are rewritten by the next one
      } else {
        std::memcpy(y + 2 * b * k, s, 2 * b);
      }
    }
  }
}

}  // namespace

void bpsk_decide(const Cf32* iq, float gain, std::uint8_t* out, std::size_t n) noexcept {
  decide_negative<2>(reinterpret_cast<const float*>(iq), gain, out, n);
}

void qpsk_decide(const Cf32* iq, float gain, std::uint8_t* out, std::size_t n) noexcept {
  // The output order I, Q, I, Q ... is the input's float order: one decision per float.
  decide_negative<1>(reinterpret_cast<const float*>(iq), gain, out, 2 * n);
}

void qam_decide(unsigned bits_per_axis, const float* thresholds, float gain, const Cf32* iq, std::size_t n,
                std::uint8_t* out) noexcept {
  switch (bits_per_axis) {
    case 2: qam_slice<2>(thresholds, gain, iq, n, out); break;
    case 3: qam_slice<3>(thresholds, gain, iq, n, out); break;
    case 4: qam_slice<4>(thresholds, gain, iq, n, out); break;
    default: break;
  }
}

}  // namespace tarsk::TARSK_ISA_NS
