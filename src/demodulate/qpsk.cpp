// QPSK demodulator: sign of each scaled component.
#include "demodulate/qpsk.hpp"

#include <algorithm>

namespace tarsk {

std::size_t QpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t n = std::min(iq.size(), out.size() / 2);
  qpsk_decide(iq.data(), gain, out.data(), n);
  return 2 * n;
}

}  // namespace tarsk
