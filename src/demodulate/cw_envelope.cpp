// CW envelope detector: the smoother pole and the span entry point.
#include "demodulate/cw_envelope.hpp"

#include <algorithm>

#include "core/constants.hpp"
#include "core/fmath.hpp"

namespace tarsk {

CwEnvelopeDemod CwEnvelopeDemod::make(float sample_rate, float /*tone_hz*/, float env_bw_hz) noexcept {
  const float bw = env_bw_hz > 1.0f ? env_bw_hz : 1.0f;  // NaN fails the test and takes the floor
  return {OnePoleSmoother(cr_expf((bw * -kTwoPi) / sample_rate)), 1.0f};
}

std::size_t CwEnvelopeDemod::process(std::span<const Cf32> iq, std::span<float> out) noexcept {
  const std::size_t n = std::min(iq.size(), out.size());
  cw_envelope_demodulate(*this, iq.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
