// BPSK modulator: sign mapper feeding the shared waveform stage.
#include "modulate/bpsk.hpp"

#include <algorithm>

namespace tarsk {

std::size_t BpskMod::process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(output_size(bits.size()), out.size());
  bpsk_modulate(carrier, gain, bits.data(), out.first(n));
  return n;
}

}  // namespace tarsk
