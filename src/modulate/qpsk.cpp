// QPSK modulator: pair mapper feeding the shared waveform stage.
#include "modulate/qpsk.hpp"

#include <algorithm>

#include "modulate/bpsk.hpp"

namespace tarsk {
namespace detail {

TARSK_FMA_CLONES void qpsk_modulate(Oscillator& carrier, float gain, const std::uint8_t* bits,
                                    std::span<Cf32> out) noexcept {
  // A table rather than a branch: random bits would mispredict half the time.
  static constexpr float kLevel[2] = {kQpskLevel, -kQpskLevel};
  linear_waveform(carrier, gain, out, [bits](std::size_t k) {
    return Cf32{kLevel[bits[2 * k] & 1u], kLevel[bits[2 * k + 1] & 1u]};
  });
}

}  // namespace detail

std::size_t QpskMod::process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(output_size(bits.size()), out.size());
  detail::qpsk_modulate(carrier, gain, bits.data(), out.first(n));
  return n;
}

}  // namespace tarsk
