// Forward pass of the QPSK31 Viterbi decoder, compiled once per CPU target.
//
// A surviving path's reference phasor is always a power of j (products of the
// rotations from 1+0j), so it is kept as that power q: phasor j^q. The four
// possible expected symbols then give four distances per received symbol.
#include <array>
#include <cstring>
#include <utility>

#include "codec/psk31_conv.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

constexpr unsigned power_of_j(Cf32 p) noexcept {
  return p.re > 0.0f ? 0u : p.im > 0.0f ? 1u : p.re < 0.0f ? 2u : 3u;
}

// Expected symbol j^q.
constexpr std::array<Cf32, 4> kPhasor = {{{1.0f, 0.0f}, {0.0f, 1.0f}, {-1.0f, 0.0f}, {0.0f, -1.0f}}};

struct Branches {
  std::array<std::uint8_t, 16> from0{};  // the lower predecessor of each new state; the other is from0 + 1
  std::array<std::uint8_t, 16> turn0{};  // rotation, as a power of j, on the branch from from0
  std::array<std::uint8_t, 16> turn1{};  // ... and from from0 + 1
};

// New state g is reached from j = 2 (g & 7) and j + 1, with input bit g >> 3.
constexpr Branches make_branches() noexcept {
  Branches b;
  for (unsigned g = 0; g < 16; ++g) {
    const unsigned j = 2u * (g & 7u);
    std::uint8_t s0 = static_cast<std::uint8_t>(j), s1 = static_cast<std::uint8_t>(j + 1);
    b.from0[g] = static_cast<std::uint8_t>(j);
    b.turn0[g] = static_cast<std::uint8_t>(power_of_j(kPsk31Rotation[psk31_conv_encode(s0, g >> 3)]));
    b.turn1[g] = static_cast<std::uint8_t>(power_of_j(kPsk31Rotation[psk31_conv_encode(s1, g >> 3)]));
  }
  return b;
}
constexpr Branches kBranches = make_branches();

constexpr bool branches_reach_their_states() noexcept {
  for (unsigned g = 0; g < 16; ++g) {
    for (unsigned k = 0; k < 2; ++k) {
      std::uint8_t s = static_cast<std::uint8_t>(kBranches.from0[g] + k);
      psk31_conv_encode(s, g >> 3);
      if (s != g) return false;
    }
  }
  for (unsigned i = 0; i < 4; ++i)
    if (kPhasor[power_of_j(kPsk31Rotation[i])].re != kPsk31Rotation[i].re ||
        kPhasor[power_of_j(kPsk31Rotation[i])].im != kPsk31Rotation[i].im)
      return false;
  return true;
}
static_assert(branches_reach_their_states());

}  // namespace

// Branch-free (with noisy input the survivor choices are close to random),
// in vectors of the target's width. New states g and g + 8 both come from old
// states 2g and 2g + 1, so with the old metrics split into even and odd states
// every new state reads its predecessors from its own lane; only the split of
// the new metrics for the next symbol moves lanes.
#if defined(__AVX2__)
constexpr unsigned kLanes = 8;
#else
constexpr unsigned kLanes = 4;
#endif
constexpr unsigned kChunks = 8 / kLanes;  // vectors per eight states
using Fv = float __attribute__((vector_size(4 * kLanes)));
using Iv = std::int32_t __attribute__((vector_size(4 * kLanes)));
using Bv = std::uint8_t __attribute__((vector_size(kLanes)));

namespace {

// Lanes 0, 2, 4, ... (even) or 1, 3, 5, ... (odd) of a followed by b.
template <unsigned First, class V, std::size_t... I>
TARSK_INLINE V alternate(V a, V b, std::index_sequence<I...>) noexcept {
  return __builtin_shufflevector(a, b, (First + 2 * I)...);
}

}  // namespace

unsigned psk31_viterbi_forward(const float* z, std::size_t n, std::uint8_t* survivors) noexcept {
  constexpr auto kIdx = std::make_index_sequence<kLanes>{};
  Iv turn0[2][kChunks], turn1[2][kChunks], lower[kChunks];  // constants, folded by the compiler
  for (unsigned h = 0; h < 2; ++h)
    for (unsigned c = 0; c < kChunks; ++c)
      for (unsigned i = 0; i < kLanes; ++i) {
        const unsigned g = 8 * h + kLanes * c + i;
        turn0[h][c][i] = kBranches.turn0[g];
        turn1[h][c][i] = kBranches.turn1[g];
        lower[c][i] = kBranches.from0[g & 7u];
      }
  const Fv cap = Fv{} + kPsk31Unreachable;
  Fv even[kChunks], odd[kChunks];  // metrics of states 0, 2, ..., 14 and 1, 3, ..., 15
  Iv even_phase[kChunks], odd_phase[kChunks];  // powers of j of their reference phasors
  for (unsigned c = 0; c < kChunks; ++c) {
    even[c] = odd[c] = cap;
    even_phase[c] = odd_phase[c] = Iv{};
  }
  even[0][0] = 0.0f;

  for (std::size_t t = 0; t < n; ++t) {
    const float zr = z[2 * t], zi = z[2 * t + 1];
    Fv dist[4];
    for (unsigned q = 0; q < 4; ++q) {
      const float a = zi - kPhasor[q].im;
      const float b = zr - kPhasor[q].re;
      dist[q] = Fv{} + ((a * a) + (b * b));
    }
    Fv metric[2 * kChunks];  // new states in order, kLanes per vector
    Iv phase[2 * kChunks];
    std::uint8_t* surv = survivors + 16 * t;
    for (unsigned h = 0; h < 2; ++h) {  // new states 0-7 (input bit 0), then 8-15 (input bit 1)
      for (unsigned c = 0; c < kChunks; ++c) {
        const Iv q0 = (even_phase[c] + turn0[h][c]) & 3;
        const Iv q1 = (odd_phase[c] + turn1[h][c]) & 3;
        const Fv d0 = (q0 & 2) != 0 ? ((q0 & 1) != 0 ? dist[3] : dist[2]) : ((q0 & 1) != 0 ? dist[1] : dist[0]);
        const Fv d1 = (q1 & 2) != 0 ? ((q1 & 1) != 0 ? dist[3] : dist[2]) : ((q1 & 1) != 0 ? dist[1] : dist[0]);
        const Fv c0 = even[c] + d0;
        const Fv c1 = odd[c] + d1;
        // Strict tests in predecessor order: a tie keeps the lower predecessor. An unreachable
        // predecessor (metric at the cap) never passes them, so it needs no test of its own.
        const Iv take0 = cap > c0;
        const Fv best0 = take0 ? c0 : cap;
        const Iv take1 = best0 > c1;
        metric[kChunks * h + c] = take1 ? c1 : best0;
        phase[kChunks * h + c] = take1 ? q1 : q0;
        const Iv from = take1 ? lower[c] + 1 : (take0 & lower[c]);  // 0 where neither branch was taken
        const Bv bytes = __builtin_convertvector(from, Bv);
        std::memcpy(surv + 8 * h + kLanes * c, &bytes, kLanes);
      }
    }
    for (unsigned c = 0; c < kChunks; ++c) {
      even[c] = alternate<0>(metric[2 * c], metric[2 * c + 1], kIdx);
      odd[c] = alternate<1>(metric[2 * c], metric[2 * c + 1], kIdx);
      even_phase[c] = alternate<0>(phase[2 * c], phase[2 * c + 1], kIdx);
      odd_phase[c] = alternate<1>(phase[2 * c], phase[2 * c + 1], kIdx);
    }
  }

  unsigned best = 0;
  float best_metric = even[0][0];
  for (unsigned s = 1; s < 16; ++s) {
    const unsigned k = s / 2;
    const float m = s & 1u ? odd[k / kLanes][k % kLanes] : even[k / kLanes][k % kLanes];
    if (m < best_metric) best = s, best_metric = m;
  }
  return best;
}

}  // namespace tarsk::TARSK_ISA_NS
