// SSB phasing modulator: construction and the span entry point.
#include "modulate/ssb.hpp"

#include <algorithm>

namespace tarsk {

SsbPhasingMod SsbPhasingMod::make(float fs, float audio_bw_hz, float audio_if_hz, float rf_hz,
                                  bool usb) noexcept {
  const BiquadLowpassPair lowpass(audio_bw_hz, fs);
  return {lowpass, lowpass, Oscillator(audio_if_hz, fs), Oscillator(rf_hz, fs), usb};
}

std::size_t SsbPhasingMod::process(std::span<const float> audio, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(audio.size(), out.size());
  ssb_phasing_modulate(*this, audio.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
