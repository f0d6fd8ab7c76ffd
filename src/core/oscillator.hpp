// Recursive phasor oscillator: one complex rotation per sample instead of a
// sine and cosine, renormalised to unit magnitude on every 1024th advance.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/cf32.hpp"
#include "core/constants.hpp"
#include "core/fmath.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct Oscillator {
  Cf32 phasor{1.0f, 0.0f};
  Cf32 step{1.0f, 0.0f};  ///< (cos w, sin w), w = (f * 2pi) / fs
  std::uint32_t count = 0;  ///< advances so far, wrapping at 2^32

  Oscillator() = default;

  /// Carrier of f_hz at sample rate fs; no range check (fs = 0 gives a NaN step).
  Oscillator(float f_hz, float fs) noexcept {
    const float w = (f_hz * kTwoPi) / fs;
    cr_sincosf(w, step.im, step.re);
  }

  /// Rotates the phasor by one step and returns it; callers use the advanced
  /// value, so the first sample of a fresh oscillator carries the phase w.
  TARSK_INLINE Cf32 advance() noexcept {
    const float re = std::fma(phasor.re, step.re, -(phasor.im * step.im));
    const float im = std::fma(phasor.im, step.re, phasor.re * step.im);
    phasor = {re, im};
    // The count lives in the record, so renormalisation ignores call boundaries.
    if ((++count & 1023u) == 0) renormalise();
    return phasor;
  }

 private:
  TARSK_INLINE void renormalise() noexcept {
    const float m = ::sqrtf((phasor.im * phasor.im) + (phasor.re * phasor.re));
    const float g = 1.0f / m;
    phasor = {phasor.re * g, phasor.im * g};
  }
};

}  // namespace tarsk
