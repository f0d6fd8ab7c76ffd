// CW envelope detector: magnitude of each IQ sample through a one-pole
// low-pass with its corner at env_bw_hz. It does not tune to the tone.
#pragma once

#include <cstddef>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/smoother.hpp"

namespace tarsk {

struct CwEnvelopeDemod {
  OnePoleSmoother envelope;  ///< never scaled by the gain
  float gain = 1.0f;

  /// tone_hz is accepted only to mirror the keyed modulator; it changes nothing.
  static CwEnvelopeDemod make(float sample_rate, float tone_hz, float env_bw_hz) noexcept;

  std::size_t process(std::span<const Cf32> iq, std::span<float> out) noexcept;
};

static_assert(Block<CwEnvelopeDemod, Cf32, float>);

TARSK_DISPATCH(void, cw_envelope_demodulate, (CwEnvelopeDemod & demod, const Cf32* x, float* y, std::size_t n),
               (demod, x, y, n))

}  // namespace tarsk
