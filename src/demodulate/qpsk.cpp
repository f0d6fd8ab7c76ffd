// QPSK demodulator: sign of each scaled component.
#include "demodulate/qpsk.hpp"

#include <algorithm>

namespace tarsk {

std::size_t QpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t n = std::min(iq.size(), out.size() / 2);
  const Cf32* x = iq.data();
  std::uint8_t* y = out.data();
  const float g = gain;
  for (std::size_t k = 0; k < n; ++k) {
    y[2 * k] = (x[k].re * g) < 0.0f;
    y[2 * k + 1] = (x[k].im * g) < 0.0f;
  }
  return 2 * n;
}

}  // namespace tarsk
