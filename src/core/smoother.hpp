// One-pole smoother v <- (1 - a) x + a v; the owning block chooses a.
#pragma once

namespace tarsk {

struct OnePoleSmoother {
  float a = 0.0f;  ///< pole, 0 < a < 1 for sane parameters
  float v = 0.0f;

  OnePoleSmoother() = default;
  explicit OnePoleSmoother(float coefficient) noexcept : a(coefficient) {}

  /// Blocks pass 1 - a, computed once per call from the stored coefficient.
  float step(float x, float one_minus_a) noexcept {
    v = (one_minus_a * x) + (a * v);
    return v;
  }

  float step(float x) noexcept { return step(x, 1.0f - a); }
};

}  // namespace tarsk
