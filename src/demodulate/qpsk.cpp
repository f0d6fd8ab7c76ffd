// QPSK demodulator: sign of each scaled component.
#include "demodulate/qpsk.hpp"

#include <algorithm>

#include "demodulate/sign_decider.hpp"

namespace tarsk {

std::size_t QpskDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  // The output order I, Q, I, Q ... is the input's float order: one decision per float.
  const std::size_t n = 2 * std::min(iq.size(), out.size() / 2);
  detail::decide_negative<1>(reinterpret_cast<const float*>(iq.data()), gain, out.data(), n);
  return n;
}

}  // namespace tarsk
