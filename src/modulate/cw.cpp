// CW keyed modulator: the rise and fall poles and the span entry point.
#include "modulate/cw.hpp"

#include <algorithm>

#include "core/fmath.hpp"

namespace tarsk {
namespace {

/// Pole of a one-pole smoother with time constant ms milliseconds.
float keying_pole(float ms, float sample_rate) noexcept {
  const float floored = ms > 0.1f ? ms : 0.1f;  // NaN fails the test and takes the floor
  return cr_expf(-1.0f / ((floored * 0.001f) * sample_rate));
}

}  // namespace

CwKeyedMod CwKeyedMod::make(float sample_rate, float tone_hz, float rise_ms, float fall_ms) noexcept {
  return {Oscillator(tone_hz, sample_rate), 0.0f, keying_pole(rise_ms, sample_rate),
          keying_pole(fall_ms, sample_rate), 1.0f};
}

std::size_t CwKeyedMod::process(std::span<const float> keying, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(keying.size(), out.size());
  cw_keyed_modulate(*this, keying.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
