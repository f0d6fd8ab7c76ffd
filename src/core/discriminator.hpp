// Fast phase-difference discriminator: angle of x * conj(previous x) from a
// small odd polynomial. At |Im| = |Re| it jumps between 0.607 and 0.964; the
// frequency and phase detectors are defined by exactly this function.
#pragma once

#include <cmath>

#include "core/cf32.hpp"
#include "core/constants.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

/// Angle of x * conj(p) in radians, in (-pi, pi]. Written without branches:
/// each sample depends only on its predecessor, so runs of them vectorise.
TARSK_INLINE float phase_difference(Cf32 x, Cf32 p) noexcept {
  constexpr float kEps = 1.1920929e-07f;
  const float re = (p.im * x.im) + (p.re * x.re);
  const float im = (x.im * p.re) - (x.re * p.im);
  const float are = std::fabs(re);
  const float aim = std::fabs(im);
  // The smaller magnitude over the larger; a tie (and NaN) takes |Im| / |Re|.
  const bool steep = aim > are;
  const float t = (steep ? are : aim) / ((steep ? aim : are) + kEps);
  const float u = t * t;
  const float pt = (((u * 0.0663f) + -0.2447f) * u + kQuarterPi) * t;
  const float complement = kHalfPi - pt;
  float a = steep ? complement : pt;
  const float mirrored = kPi - a;
  a = re < 0.0f ? mirrored : a;  // -0 counts as not below zero
  const float negated = -a;
  return im < 0.0f ? negated : a;
}

struct PhaseDiscriminator {
  Cf32 prev{1.0f, 0.0f};

  TARSK_INLINE float step(Cf32 x) noexcept {
    const float a = phase_difference(x, prev);
    prev = x;
    return a;
  }
};

}  // namespace tarsk
