// Belief-propagation decoder of the LDPC (174,91) code, compiled once per CPU
// target. Every message keeps the scalar order of operations; the vectors only
// run many checks (or many variables) side by side.
//
// The variable side stores tanh(v2c / 2) per edge in variable-major order; the
// check side gathers those, forms each edge's product over the other edges of
// its check and stores c2v in check-major order; the variable side gathers
// that back. Hard decisions travel as a 174-bit mask, so counting unsatisfied
// checks is an AND and a parity per check.
#include <cstring>

#include "codec/ldpc.hpp"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace tarsk::TARSK_ISA_NS {
namespace {

using namespace ldpc_layout;

#if defined(__AVX512F__)
constexpr std::size_t W = 16;
#elif defined(__AVX2__)
constexpr std::size_t W = 8;
#else
constexpr std::size_t W = 4;
#endif

typedef float vf __attribute__((vector_size(W * 4)));
typedef std::int32_t vi __attribute__((vector_size(W * 4)));

static_assert(kChecksPadded % W == 0 && kVarsPadded % W == 0 && 64 % W == 0);

using Mask174 = std::array<std::uint64_t, 3>;

/// Pad variables: far enough on the 0 side that their tanh is exactly 1 whatever they receive.
constexpr float kPadLlr = 1e30f;

TARSK_INLINE vf load(const float* p) noexcept {
  vf v;
  std::memcpy(&v, p, sizeof v);
  return v;
}

TARSK_INLINE void store(float* p, vf v) noexcept { std::memcpy(p, &v, sizeof v); }

TARSK_INLINE vf select(vi m, vf a, vf b) noexcept { return (vf)((m & (vi)a) | (~m & (vi)b)); }

TARSK_INLINE vf gather(const float* base, const std::int32_t* idx) noexcept {
#if defined(__AVX512F__)
  // the masked form: the plain one trips a false uninitialised-use warning in g++ 12
  return (vf)_mm512_mask_i32gather_ps(_mm512_setzero_ps(), 0xFFFF, _mm512_loadu_si512(idx), base, 4);
#elif defined(__AVX2__)
  return (vf)_mm256_i32gather_ps(base, _mm256_loadu_si256(reinterpret_cast<const __m256i*>(idx)), 4);
#else
  vf v;
  for (std::size_t j = 0; j < W; ++j) v[j] = base[idx[j]];
  return v;
#endif
}

/// Bit j set where v[j] <= 0 (a NaN gives 0).
TARSK_INLINE std::uint64_t nonpositive_bits(vf v) noexcept {
#if defined(__AVX512F__)
  return _mm512_cmp_ps_mask((__m512)v, _mm512_setzero_ps(), _CMP_LE_OQ);
#elif defined(__AVX2__)
  return static_cast<unsigned>(_mm256_movemask_ps(_mm256_cmp_ps((__m256)v, _mm256_setzero_ps(), _CMP_LE_OQ)));
#elif defined(__SSE2__)
  return static_cast<unsigned>(_mm_movemask_ps(_mm_cmple_ps((__m128)v, _mm_setzero_ps())));
#else
  std::uint64_t b = 0;
  for (std::size_t j = 0; j < W; ++j) b |= static_cast<std::uint64_t>(v[j] <= 0.0f) << j;
  return b;
#endif
}

/// -1 below -4.97, +1 above 4.97, else x (x^2 (x^2 + 105) + 945) / (x^2 (15 x^2 + 420) + 945).
TARSK_INLINE vf fast_tanh(vf x) noexcept {
  const vf x2 = x * x;
  const vf r = (x * (x2 * (x2 + 105.0f) + 945.0f)) / (x2 * (15.0f * x2 + 420.0f) + 945.0f);
  const vf one = vf{} + 1.0f;
  return select(x < -4.97f, -one, select(x > 4.97f, one, r));
}

/// y ((64 y^2 - 735) y^2 + 945) / ((225 y^2 - 1050) y^2 + 945).
TARSK_INLINE vf fast_atanh(vf y) noexcept {
  const vf y2 = y * y;
  return (y * ((y2 * 64.0f - 735.0f) * y2 + 945.0f)) / ((y2 * 225.0f - 1050.0f) * y2 + 945.0f);
}

unsigned count_errors(const Mask174& bits) noexcept {
  unsigned errors = 0;
  for (const auto& m : kLayout.check_masks)
    errors += static_cast<unsigned>(__builtin_parityll((bits[0] & m[0]) ^ (bits[1] & m[1]) ^ (bits[2] & m[2])));
  return errors;
}

void unpack_bits(const Mask174& bits, std::span<std::uint8_t, kLdpcN> out) noexcept {
  for (std::size_t n = 0; n < kLdpcN; ++n) out[n] = static_cast<std::uint8_t>((bits[n / 64] >> (n % 64)) & 1u);
}

}  // namespace

unsigned ldpc_decode_soft(std::span<const float, kLdpcN> llr, std::span<std::uint8_t, kLdpcN> out) noexcept {
  alignas(64) float l[kVarsPadded];
  std::memcpy(l, llr.data(), kLdpcN * sizeof(float));
  for (std::size_t n = kLdpcN; n < kVarsPadded; ++n) l[n] = kPadLlr;

  Mask174 bits{};
  for (std::size_t n0 = 0; n0 < kVarsPadded; n0 += W) bits[n0 / 64] |= nonpositive_bits(load(l + n0)) << (n0 % 64);
  unsigned best = count_errors(bits);
  Mask174 best_bits = bits;
  if (best == 0) {
    unpack_bits(best_bits, out);
    return 0;
  }

  alignas(64) float t_var[kVarEdges];  // tanh(v2c / 2), variable-major
  alignas(64) float c2v[kEdges];       // check-major
  for (std::size_t n0 = 0; n0 < kVarsPadded; n0 += W) {
    const vf t = fast_tanh(0.5f * load(l + n0));
    for (std::size_t i = 0; i < 3; ++i) store(t_var + i * kVarsPadded + n0, t);
  }
  const std::int32_t* check_reads = kLayout.check_reads.data();
  const std::int32_t* var_reads = kLayout.var_reads.data();

  for (unsigned iter = 0; iter < kLdpcMaxIterations; ++iter) {
    // Check nodes: the product over the other edges in table order (an unused
    // slot multiplies by exactly 1), then 2 atanh.
    for (std::size_t m0 = 0; m0 < kChecksPadded; m0 += W) {
      vf t[kSlots];
#pragma GCC unroll 7
      for (std::size_t k = 0; k < kSlots; ++k) t[k] = gather(t_var, check_reads + k * kChecksPadded + m0);
      // Unrolled, so that the seven values stay in registers and the skip costs no branch.
#pragma GCC unroll 7
      for (std::size_t k = 0; k < kSlots; ++k) {
        const std::size_t first = k == 0 ? 1 : 0;
        vf p = t[first];
#pragma GCC unroll 7
        for (std::size_t j = first + 1; j < kSlots; ++j)
          if (j != k) p = p * t[j];
        store(c2v + k * kChecksPadded + m0, 2.0f * fast_atanh(p));
      }
    }
    // Variable nodes: the hard decision, and already the next v2c (unused if this decision is final).
    bits = {};
    for (std::size_t n0 = 0; n0 < kVarsPadded; n0 += W) {
      const vf c0 = gather(c2v, var_reads + n0);
      const vf c1 = gather(c2v, var_reads + kVarsPadded + n0);
      const vf c2 = gather(c2v, var_reads + 2 * kVarsPadded + n0);
      const vf x = load(l + n0);
      const vf a = x + c0;
      const vf b = a + c1;
      bits[n0 / 64] |= nonpositive_bits(b + c2) << (n0 % 64);
      store(t_var + n0, fast_tanh(0.5f * ((x + c1) + c2)));
      store(t_var + kVarsPadded + n0, fast_tanh(0.5f * (c2 + a)));
      store(t_var + 2 * kVarsPadded + n0, fast_tanh(0.5f * b));
    }
    const unsigned errors = count_errors(bits);
    if (errors < best) {
      best = errors;
      best_bits = bits;
    }
    if (errors == 0) break;
  }
  unpack_bits(best_bits, out);
  return best;
}

}  // namespace tarsk::TARSK_ISA_NS
