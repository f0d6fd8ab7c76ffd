// AM double-sideband modulator: construction and the span entry point.
#include "modulate/am.hpp"

#include <algorithm>

namespace tarsk {

AmDsbMod AmDsbMod::make(float fs, float rf_hz, float carrier_level, float modulation_index) noexcept {
  return {1.0f, carrier_level, modulation_index, Oscillator(rf_hz, fs), false};
}

std::size_t AmDsbMod::process(std::span<const float> audio, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(audio.size(), out.size());
  am_dsb_modulate(*this, audio.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
