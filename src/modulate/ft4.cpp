// FT4 tone modulator.
#include "modulate/ft4.hpp"

#include "modulate/fsk_frame.hpp"

namespace tarsk {

void Ft4Mod::modulate(std::span<const std::uint8_t, kFt4DataSymbols> tones,
                       std::span<Cf32, kFt4FrameSamples> out) const noexcept {
  const auto symbols = ft4_frame_tones(tones.data());
  fsk_frame_modulate(symbols.data(), symbols.size(), kFt4SymbolSamples, kFt4ToneSpacingHz, base_hz, rf_hz, fs,
                     gain, out.data());
}

}  // namespace tarsk
