// FT8 tone modulator.
#include "modulate/ft8.hpp"

#include "modulate/fsk_frame.hpp"

namespace tarsk {

void Ft8Mod::modulate(std::span<const std::uint8_t, kFt8DataSymbols> tones,
                       std::span<Cf32, kFt8FrameSamples> out) const noexcept {
  const auto symbols = ft8_frame_tones(tones.data());
  fsk_frame_modulate(symbols.data(), symbols.size(), kFt8SymbolSamples, kFt8ToneSpacingHz, base_hz, rf_hz, fs,
                     gain, out.data());
}

}  // namespace tarsk
