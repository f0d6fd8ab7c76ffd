// Fast phase-difference discriminator: angle of x * conj(previous x) from a
// small odd polynomial. At |Im| = |Re| it jumps between 0.607 and 0.964; the
// frequency and phase detectors are defined by exactly this function.
#pragma once

#include <cmath>

#include "core/cf32.hpp"
#include "core/constants.hpp"

namespace tarsk {

struct PhaseDiscriminator {
  Cf32 prev{1.0f, 0.0f};

  /// Returns the phase step in radians, in (-pi, pi].
  float step(Cf32 x) noexcept {
    const float re = (prev.im * x.im) + (prev.re * x.re);
    const float im = (x.im * prev.re) - (x.re * prev.im);
    prev = x;
    constexpr float kEps = 1.1920929e-07f;
    const float are = std::fabs(re);
    const float aim = std::fabs(im);
    float a;
    if (aim > are) {
      a = kHalfPi - poly(are / (aim + kEps));
    } else {
      a = poly(aim / (are + kEps));
    }
    if (re < 0.0f) a = kPi - a;
    if (im < 0.0f) a = -a;
    return a;
  }

 private:
  static float poly(float t) noexcept {
    const float u = t * t;
    return (((u * 0.0663f) + -0.2447f) * u + kQuarterPi) * t;
  }
};

}  // namespace tarsk
