// SSB product detector: construction and the span entry point.
#include "demodulate/ssb.hpp"

#include <algorithm>

namespace tarsk {

SsbProductDemod SsbProductDemod::make(float fs, float bfo_hz, float audio_bw_hz) noexcept {
  return {BiquadLowpassPair(audio_bw_hz, fs), DcBlocker(fs), Oscillator(bfo_hz, fs)};
}

std::size_t SsbProductDemod::process(std::span<const Cf32> iq, std::span<float> out) noexcept {
  const std::size_t n = std::min(iq.size(), out.size());
  ssb_product_demodulate(*this, iq.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
