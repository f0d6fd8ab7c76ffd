// Fast phase-difference discriminator: angle of x * conj(previous x) from a
// small odd polynomial. At |Im| = |Re| it jumps between 0.607 and 0.964; the
// frequency and phase detectors are defined by exactly this function.
#pragma once

#include <cmath>

#include "core/cf32.hpp"
#include "core/constants.hpp"
#include "core/dispatch.hpp"

namespace tarsk {
namespace detail {

TARSK_INLINE float magnitude(float v) noexcept { return std::fabs(v); }
TARSK_INLINE float pick(bool m, float a, float b) noexcept { return m ? a : b; }

// Lane-wise forms for compiler vector types (vector_size), whose comparisons
// give all-ones or all-zeros integer lanes.
template <class V>
TARSK_INLINE V magnitude(V v) noexcept {
  using M = decltype(v < v);
  return (V)((M)v & 0x7FFFFFFF);
}
template <class M, class V>
TARSK_INLINE V pick(M m, V a, V b) noexcept {
  return (V)(((M)a & m) | ((M)b & ~m));
}

}  // namespace detail

/// Angle of x * conj(p) in radians, in (-pi, pi], for one sample (V = float)
/// or lane by lane (V a vector type): one definition serves both, so a
/// vectorised run and the scalar edges give the same bits.
template <class V>
TARSK_INLINE V phase_difference(V xr, V xi, V pr, V pi) noexcept {
  using detail::magnitude;
  using detail::pick;
  constexpr float kEps = 1.1920929e-07f;
  const V re = (pi * xi) + (pr * xr);
  const V im = (xi * pr) - (xr * pi);
  const V are = magnitude(re);
  const V aim = magnitude(im);
  // The smaller magnitude over the larger; a tie (and NaN) takes |Im| / |Re|.
  const auto steep = aim > are;
  const V t = pick(steep, are, aim) / (pick(steep, aim, are) + kEps);
  const V u = t * t;
  const V pt = (((u * 0.0663f) + -0.2447f) * u + kQuarterPi) * t;
  V a = pick(steep, kHalfPi - pt, pt);
  a = pick(re < 0.0f, kPi - a, a);  // -0 counts as not below zero
  return pick(im < 0.0f, -a, a);
}

struct PhaseDiscriminator {
  Cf32 prev{1.0f, 0.0f};

  /// Phase step from the previous sample to x.
  TARSK_INLINE float step(Cf32 x) noexcept {
    const float a = phase_difference(x.re, x.im, prev.re, prev.im);
    prev = x;
    return a;
  }
};

}  // namespace tarsk
