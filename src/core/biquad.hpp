// Second-order low-pass section (Q = 1/sqrt 2, corner at 0.9 x bandwidth),
// transposed direct form II with fused steps; blocks cascade two of them.
#pragma once

#include <cmath>

#include "core/constants.hpp"
#include "core/dispatch.hpp"
#include "core/fmath.hpp"
#include "core/lanes.hpp"

namespace tarsk {

/// One fused transposed-form step, for a float or lane by lane.
template <class V>
TARSK_INLINE V lowpass_step(V x, V b0, V b1, V b2, V a1, V a2, V& s1, V& s2) noexcept {
  const V y = fused(x, b0, s1);
  s1 = fused(x, b1, s2) - a1 * y;
  s2 = x * b2 - a2 * y;
  return y;
}

struct BiquadLowpass {
  float b0 = 0.0f, b1 = 0.0f, b2 = 0.0f, a1 = 0.0f, a2 = 0.0f;  ///< a0 normalised to 1
  float s1 = 0.0f, s2 = 0.0f;

  BiquadLowpass() = default;

  /// No clamp: a bandwidth at or above fs/1.8 gives an ill-formed filter.
  BiquadLowpass(float bandwidth_hz, float fs) noexcept {
    const float w0 = ((bandwidth_hz * 0.9f) * kTwoPi) / fs;
    float s = 0.0f, c = 0.0f;
    cr_sincosf(w0, s, c);
    const float alpha = s / 1.4142135f;
    const float k = 1.0f / (alpha + 1.0f);
    b0 = (0.5f * (1.0f - c)) * k;
    b1 = (1.0f - c) * k;
    b2 = b0;
    a1 = (c * -2.0f) * k;
    a2 = (1.0f - alpha) * k;
  }

  TARSK_INLINE float step(float x) noexcept { return lowpass_step(x, b0, b1, b2, a1, a2, s1, s2); }
};

/// Two sections with identical coefficients in cascade: the fourth-order
/// low-pass every filtering block uses.
struct BiquadLowpassPair {
  BiquadLowpass first;
  BiquadLowpass second;

  BiquadLowpassPair() = default;
  BiquadLowpassPair(float bandwidth_hz, float fs) noexcept
      : first(bandwidth_hz, fs), second(first) {}

  TARSK_INLINE float step(float x) noexcept { return second.step(first.step(x)); }
};

}  // namespace tarsk
