// AM envelope demodulator: per-sample envelope (filtered power and a square
// root, or a weighted sum of |I| and |Q|), fourth-order low-pass, DC blocker.
#pragma once

#include <cstddef>
#include <span>

#include "core/biquad.hpp"
#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dc_blocker.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct AmEnvelopeDemod {
  bool abs_approx = false;  ///< weighted |I|, |Q| sum instead of the exact magnitude
  float alpha = 0.9482f;  ///< weight of |I| in the approximation
  float beta = 0.392f;  ///< weight of |Q| in the approximation
  BiquadLowpassPair lowpass;
  DcBlocker dc;

  static AmEnvelopeDemod make(float fs, float audio_bw_hz, bool abs_approx) noexcept;

  std::size_t process(std::span<const Cf32> iq, std::span<float> out) noexcept;
};

static_assert(Block<AmEnvelopeDemod, Cf32, float>);

TARSK_DISPATCH(void, am_envelope_demodulate, (AmEnvelopeDemod & demod, const Cf32* x, float* y, std::size_t n),
               (demod, x, y, n))

}  // namespace tarsk
