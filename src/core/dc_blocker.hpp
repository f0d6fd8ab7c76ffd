// First-order DC blocker with its pole set for a corner near 2 Hz.
#pragma once

#include "core/constants.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct DcBlocker {
  float r = 0.0f;  ///< pole, clamped to [0, 0.9999]; NaN stays NaN
  float x1 = 0.0f;
  float y1 = 0.0f;

  DcBlocker() = default;

  explicit DcBlocker(float fs) noexcept {
    const float v = ((-2.0f / fs) * kTwoPi) + 1.0f;
    // Written as two comparisons so that a NaN pole passes through unchanged.
    r = v < 0.0f ? 0.0f : (v > 0.9999f ? 0.9999f : v);
  }

  TARSK_INLINE float step(float x) noexcept {
    const float y = (r * y1) + (x - x1);
    x1 = x;
    y1 = y;
    return y;
  }
};

}  // namespace tarsk
