// BPSK demodulator: sign of the scaled real part.
#include "demodulate/bpsk.hpp"

#include <algorithm>

namespace tarsk {

std::size_t BpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t n = std::min(output_size(iq.size()), out.size());
  const Cf32* x = iq.data();
  std::uint8_t* y = out.data();
  const float g = gain;
  for (std::size_t k = 0; k < n; ++k) y[k] = (x[k].re * g) < 0.0f;
  return n;
}

}  // namespace tarsk
