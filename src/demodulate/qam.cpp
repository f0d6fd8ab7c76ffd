// QAM demodulator: threshold counting per coordinate, then Gray bits
// (demodulate/linear_simd.cpp).
#include "demodulate/qam.hpp"

#include <algorithm>

namespace tarsk {

std::size_t QamDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t per = qam_bits_per_symbol(kind);
  const std::size_t n = std::min(iq.size(), out.size() / per);
  qam_decide(qam_bits_per_axis(kind), thresholds.data(), gain, iq.data(), n, out.data());
  return per * n;
}

}  // namespace tarsk
