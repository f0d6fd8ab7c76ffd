// Forward pass of the QPSK31 Viterbi decoder, compiled once per CPU target.
//
// A surviving path's reference phasor is always a power of j (products of the
// rotations from 1+0j), so it is kept as that power q: phasor j^q. The four
// possible expected symbols then give four distances per received symbol.
#include <array>

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

unsigned psk31_viterbi_forward(const float* z, std::size_t n, std::uint8_t* survivors) noexcept {
  alignas(64) std::array<float, 16> metric;
  alignas(64) std::array<std::uint32_t, 16> phase{};  // power of j of each state's reference phasor
  metric.fill(kPsk31Unreachable);
  metric[0] = 0.0f;

  for (std::size_t t = 0; t < n; ++t) {
    const float zr = z[2 * t], zi = z[2 * t + 1];
    std::array<float, 4> dist;
    for (unsigned q = 0; q < 4; ++q) {
      const float a = zi - kPhasor[q].im;
      const float b = zr - kPhasor[q].re;
      dist[q] = (a * a) + (b * b);
    }
    alignas(64) std::array<float, 16> next;
    alignas(64) std::array<std::uint32_t, 16> next_phase;
    std::uint8_t* surv = survivors + 16 * t;
    for (unsigned g = 0; g < 16; ++g) {
      const unsigned j = kBranches.from0[g];
      const std::uint32_t q0 = (phase[j] + kBranches.turn0[g]) & 3u;
      const std::uint32_t q1 = (phase[j + 1] + kBranches.turn1[g]) & 3u;
      const float m0 = metric[j] + dist[q0];
      const float m1 = metric[j + 1] + dist[q1];
      // Strict tests in predecessor order: a tie keeps the lower predecessor. An unreachable
      // predecessor (metric at the cap) never passes them, so it needs no test of its own.
      const bool take0 = kPsk31Unreachable > m0;
      const float best0 = take0 ? m0 : kPsk31Unreachable;
      const bool take1 = best0 > m1;
      next[g] = take1 ? m1 : best0;
      next_phase[g] = take1 ? q1 : q0;
      surv[g] = static_cast<std::uint8_t>(take1 ? j + 1 : take0 ? j : 0u);
    }
    metric = next;
    phase = next_phase;
  }

  unsigned best = 0;
  for (unsigned s = 1; s < 16; ++s)
    if (metric[s] < metric[best]) best = s;
  return best;
}

}  // namespace tarsk::TARSK_ISA_NS
