// Recursive phasor oscillator: one complex rotation per sample instead of a
// sine and cosine, renormalised to unit magnitude on every 1024th advance.
#pragma once

#include <cmath>
#include <cstdint>

#include "core/cf32.hpp"
#include "core/constants.hpp"
#include "core/fmath.hpp"
#include "core/dispatch.hpp"
#include "core/lanes.hpp"

namespace tarsk {

/// x turned by r with two fused multiply-adds, for floats or lane by lane: the
/// carrier step, the FM phase update and the SSB up-conversion are all this product.
template <class V>
TARSK_INLINE void rotate_fused(V xr, V xi, V rr, V ri, V& zr, V& zi) noexcept {
  zr = fused(xr, rr, (-xi) * ri);
  zi = fused(xi, rr, xr * ri);
}

TARSK_INLINE Cf32 rotate_fused(Cf32 x, Cf32 r) noexcept {
  Cf32 z;
  rotate_fused(x.re, x.im, r.re, r.im, z.re, z.im);
  return z;
}

template <class V>
struct PhasorParts {
  V re, im;
};

/// (re, im) brought back to unit magnitude. Arguments by value keep the
/// phasor in registers on the common path.
template <class V>
TARSK_COLD PhasorParts<V> renormalised(V re, V im) noexcept {
  const V m = root((im * im) + (re * re));
  const V g = 1.0f / m;
  return {re * g, im * g};
}

/// Turns (re, im) by r and counts the turn; every 1024th turn brings it back to
/// unit magnitude. The count lives with the phasor, so call boundaries change nothing.
template <class V>
TARSK_INLINE void turn_phasor(V& re, V& im, std::uint32_t& count, V rr, V ri) noexcept {
  V zr, zi;
  rotate_fused(re, im, rr, ri, zr, zi);
  if ((++count & 1023u) == 0) [[unlikely]] {
    const PhasorParts<V> unit = renormalised(zr, zi);
    zr = unit.re;
    zi = unit.im;
  }
  re = zr;
  im = zi;
}

TARSK_INLINE Cf32 advance_phasor(Cf32& p, std::uint32_t& count, Cf32 r) noexcept {
  turn_phasor(p.re, p.im, count, r.re, r.im);
  return p;
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
