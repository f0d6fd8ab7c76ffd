// BPSK demodulator: sign of the scaled real part.
#include "demodulate/bpsk.hpp"

#include <algorithm>

#include "demodulate/sign_decider.hpp"

namespace tarsk {

std::size_t BpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t n = std::min(output_size(iq.size()), out.size());
  detail::decide_negative<2>(reinterpret_cast<const float*>(iq.data()), gain, out.data(), n);
  return n;
}

}  // namespace tarsk
