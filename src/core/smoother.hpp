// One-pole smoother v <- (1 - a) x + a v; the owning block chooses a.
#pragma once

#include "core/dispatch.hpp"

namespace tarsk {

/// One smoothing step, for a float or lane by lane; one_minus_a is 1 - a,
/// computed once per call by the caller. The keyed modulator switches a per
/// sample, so this is the shared form.
template <class V>
TARSK_INLINE V smooth(V v, V x, V a, V one_minus_a) noexcept {
  return (one_minus_a * x) + (a * v);
}

struct OnePoleSmoother {
  float a = 0.0f;  ///< pole, 0 < a < 1 for sane parameters
  float v = 0.0f;

  OnePoleSmoother() = default;
  explicit OnePoleSmoother(float coefficient) noexcept : a(coefficient) {}

  TARSK_INLINE float step(float x, float one_minus_a) noexcept {
    v = smooth(v, x, a, one_minus_a);
    return v;
  }
};

}  // namespace tarsk
