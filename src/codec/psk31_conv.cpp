// QPSK31 Viterbi decoder: the forward pass runs per CPU target, the traceback here.
#include "codec/psk31_conv.hpp"

namespace tarsk {

void psk31_viterbi_decode(std::span<const float> dibits, std::span<std::uint8_t> survivors,
                          std::span<std::uint8_t> out) noexcept {
  const std::size_t n = dibits.size() / 2;
  if (n == 0 || out.size() < n || survivors.size() / 16 < n) return;
  unsigned state = psk31_viterbi_forward(dibits.data(), n, survivors.data());
  // No tail bits: the path is traced back from the best final state.
  for (std::size_t t = n; t-- > 0;) {
    out[t] = static_cast<std::uint8_t>(state >> 3);
    state = survivors[16 * t + state];
  }
}

}  // namespace tarsk
