// FT4 tone demodulator.
#include "demodulate/ft4.hpp"

#include "demodulate/fsk_frame.hpp"

namespace tarsk {

static_assert(kFt4Symbols <= kFskMaxSymbols);

void Ft4Demod::demodulate(std::span<const Cf32, kFt4FrameSamples> iq,
                           std::span<std::uint8_t, kFt4DataSymbols> tones) const noexcept {
  std::array<std::uint8_t, kFt4Symbols> decisions;
  fsk_decide_4(iq.data(), kFt4Symbols, kFt4SymbolSamples, kFt4ToneOffsetsHz.data(), base_hz, fs, decisions.data());
  for (std::size_t m = 0; m < kFt4DataSymbols; ++m) tones[m] = decisions[ft4_data_position(m)];
}

}  // namespace tarsk
