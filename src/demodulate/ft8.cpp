// FT8 tone demodulator.
#include "demodulate/ft8.hpp"

#include "demodulate/fsk_frame.hpp"

namespace tarsk {

static_assert(kFt8Symbols <= kFskMaxSymbols);

void Ft8Demod::demodulate(std::span<const Cf32, kFt8FrameSamples> iq,
                           std::span<std::uint8_t, kFt8DataSymbols> tones) const noexcept {
  std::array<std::uint8_t, kFt8Symbols> decisions;
  fsk_decide_8(iq.data(), kFt8Symbols, kFt8SymbolSamples, kFt8ToneOffsetsHz.data(), base_hz, fs, decisions.data());
  for (std::size_t m = 0; m < kFt8DataSymbols; ++m) tones[m] = decisions[ft8_data_position(m)];
}

}  // namespace tarsk
