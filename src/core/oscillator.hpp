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

/// x turned by r with two fused multiply-adds: the carrier step, the FM phase
/// update and the SSB up-conversion are all this one product.
TARSK_INLINE Cf32 rotate_fused(Cf32 x, Cf32 r) noexcept {
  return {std::fma(x.re, r.re, (-x.im) * r.im), std::fma(x.im, r.re, x.re * r.im)};
}

/// Turns p by r and counts the turn; every 1024th turn brings p back to unit
/// magnitude. The count lives with p, so call boundaries change nothing.
TARSK_INLINE Cf32 advance_phasor(Cf32& p, std::uint32_t& count, Cf32 r) noexcept {
  Cf32 q = rotate_fused(p, r);
  if ((++count & 1023u) == 0) {
    const float m = std::sqrt((q.im * q.im) + (q.re * q.re));
    const float g = 1.0f / m;
    q = {q.re * g, q.im * g};
  }
  p = q;
  return q;
}

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
  TARSK_INLINE Cf32 advance() noexcept { return advance_phasor(phasor, count, step); }
};

}  // namespace tarsk
