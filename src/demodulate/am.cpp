// AM envelope demodulator: construction and the span entry point.
#include "demodulate/am.hpp"

#include <algorithm>

namespace tarsk {

AmEnvelopeDemod AmEnvelopeDemod::make(float fs, float audio_bw_hz, bool abs_approx) noexcept {
  AmEnvelopeDemod d;
  d.abs_approx = abs_approx;
  d.lowpass = BiquadLowpassPair(audio_bw_hz, fs);
  d.dc = DcBlocker(fs);
  return d;
}

std::size_t AmEnvelopeDemod::process(std::span<const Cf32> iq, std::span<float> out) noexcept {
  const std::size_t n = std::min(iq.size(), out.size());
  am_envelope_demodulate(*this, iq.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
