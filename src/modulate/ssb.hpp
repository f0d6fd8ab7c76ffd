// SSB modulator by the two-stage quadrature method: the audio is mixed with a
// complex oscillator at audio_if_hz, I and Q are low-passed to keep one
// sideband, and (I + j q), q = +-Q by the sideband, is carried to rf_hz.
#pragma once

#include <cstddef>
#include <span>

#include "core/biquad.hpp"
#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

struct SsbPhasingMod {
  BiquadLowpassPair i_lowpass;
  BiquadLowpassPair q_lowpass;  ///< same coefficients as i_lowpass
  Oscillator audio_osc;
  Oscillator carrier;  ///< advances with audio_osc, so both renormalise on the same samples
  bool usb = true;

  static SsbPhasingMod make(float fs, float audio_bw_hz, float audio_if_hz, float rf_hz, bool usb) noexcept;

  std::size_t process(std::span<const float> audio, std::span<Cf32> out) noexcept;
};

static_assert(Block<SsbPhasingMod, float, Cf32>);

TARSK_DISPATCH(void, ssb_phasing_modulate, (SsbPhasingMod & mod, const float* x, Cf32* y, std::size_t n),
               (mod, x, y, n))

}  // namespace tarsk
