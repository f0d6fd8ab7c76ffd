// QAM modulator: the per-axis table lookup runs in linear_simd.cpp.
#include "modulate/qam.hpp"

#include <algorithm>

#include "modulate/bpsk.hpp"

namespace tarsk {

std::size_t QamMod::process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(output_size(bits.size()), out.size());
  qam_modulate(qam_bits_per_symbol(kind), carrier, gain, levels.data(), bits.data(), out.first(n));
  return n;
}

}  // namespace tarsk
