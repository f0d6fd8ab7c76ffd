// SSB product detector: the input turned back by a beat oscillator, its real
// part low-passed to the audio bandwidth and freed of its mean.
#pragma once

#include <cstddef>
#include <span>

#include "core/biquad.hpp"
#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dc_blocker.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

struct SsbProductDemod {
  BiquadLowpassPair lowpass;
  DcBlocker dc;
  Oscillator bfo;

  static SsbProductDemod make(float fs, float bfo_hz, float audio_bw_hz) noexcept;

  std::size_t process(std::span<const Cf32> iq, std::span<float> out) noexcept;
};

static_assert(Block<SsbProductDemod, Cf32, float>);

TARSK_DISPATCH(void, ssb_product_demodulate, (SsbProductDemod & demod, const Cf32* x, float* y, std::size_t n),
               (demod, x, y, n))

}  // namespace tarsk
