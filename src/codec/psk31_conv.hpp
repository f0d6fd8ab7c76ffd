// QPSK31 channel code: the rate-1/2, constraint-length-5 convolutional
// encoder with its differential phase mapping, and the 16-state Viterbi
// decoder that undoes both in one trellis.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/cf32.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

/// Phase rotation per coded pair, indexed by 2 * c0 + c1: 0, -90, +90, 180 degrees.
inline constexpr std::array<Cf32, 4> kPsk31Rotation = {{{1.0f, 0.0f}, {0.0f, -1.0f}, {0.0f, 1.0f}, {-1.0f, 0.0f}}};

/// Encodes the lowest bit of u from state s (bit 3 the newest input, bit 0 the
/// oldest): returns the rotation index 2 * c0 + c1 and shifts u into s.
/// Generators 1 + D^2 + D^4 (c0) and 1 + D^3 + D^4 (c1).
TARSK_INLINE constexpr unsigned psk31_conv_encode(std::uint8_t& s, unsigned u) noexcept {
  u &= 1u;
  const unsigned c0 = u ^ (s & 1u) ^ ((s >> 2) & 1u);
  const unsigned c1 = u ^ (s & 1u) ^ ((s >> 1) & 1u);
  s = static_cast<std::uint8_t>((s >> 1) | (u << 3));
  return 2u * c0 + c1;
}

/// Metric of a state no path reaches: half the largest finite float.
inline constexpr float kPsk31Unreachable = 1.7014117e38f;

/// Forward pass over n symbols z (interleaved re, im): fills survivors (16
/// predecessor states per symbol) and returns the state with the smallest
/// final metric (the lowest on a tie).
TARSK_DISPATCH(unsigned, psk31_viterbi_forward, (const float* z, std::size_t n, std::uint8_t* survivors),
               (z, n, survivors))

/// Decodes dibits.size() / 2 symbols into out (one bit each); survivors is
/// scratch of 16 bytes per symbol. The path starts in state 0 at phase 1+0j.
void psk31_viterbi_decode(std::span<const float> dibits, std::span<std::uint8_t> survivors,
                          std::span<std::uint8_t> out) noexcept;

}  // namespace tarsk
