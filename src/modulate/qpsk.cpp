// QPSK modulator: pair mapper feeding the shared waveform stage.
#include "modulate/qpsk.hpp"

#include <algorithm>

#include "modulate/bpsk.hpp"

namespace tarsk {

std::size_t QpskMod::process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(output_size(bits.size()), out.size());
  qpsk_modulate(carrier, gain, bits.data(), out.first(n));
  return n;
}

}  // namespace tarsk
