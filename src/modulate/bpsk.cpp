// BPSK modulator: sign mapper feeding the shared waveform stage.
#include "modulate/bpsk.hpp"

#include <algorithm>

namespace tarsk {
namespace detail {

TARSK_FMA_CLONES void bpsk_modulate(Oscillator& carrier, float gain, const std::uint8_t* bits,
                                    std::span<Cf32> out) noexcept {
  // A table rather than a branch: random bits would mispredict half the time.
  static constexpr float kLevel[2] = {1.0f, -1.0f};
  linear_waveform(carrier, gain, out, [bits](std::size_t k) { return Cf32{kLevel[bits[k] & 1u], 0.0f}; });
}

}  // namespace detail

std::size_t BpskMod::process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(output_size(bits.size()), out.size());
  detail::bpsk_modulate(carrier, gain, bits.data(), out.first(n));
  return n;
}

}  // namespace tarsk
