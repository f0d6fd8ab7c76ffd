// BPSK demodulator: sign of the scaled real part.
#include "demodulate/bpsk.hpp"

#include <algorithm>

namespace tarsk {

std::size_t BpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t n = std::min(output_size(iq.size()), out.size());
  bpsk_decide(iq.data(), gain, out.data(), n);
  return n;
}

}  // namespace tarsk
