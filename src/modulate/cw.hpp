// CW keyed modulator: the keying signal, limited to [0, 1], drives a one-pole
// envelope with separate rise and fall time constants; the envelope times the
// gain rides on a carrier at tone_hz.
#pragma once

#include <cstddef>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"
#include "core/smoother.hpp"

namespace tarsk {

struct CwKeyedMod {
  Oscillator carrier;
  float envelope = 0.0f;
  float a_rise = 0.0f;  ///< smoother pole while the envelope rises or holds
  float a_fall = 0.0f;  ///< smoother pole while it falls
  float gain = 1.0f;

  /// rise_ms and fall_ms are raised to at least 0.1 ms (NaN becomes 0.1).
  static CwKeyedMod make(float sample_rate, float tone_hz, float rise_ms, float fall_ms) noexcept;

  std::size_t process(std::span<const float> keying, std::span<Cf32> out) noexcept;
};

static_assert(Block<CwKeyedMod, float, Cf32>);

TARSK_DISPATCH(void, cw_keyed_modulate, (CwKeyedMod & mod, const float* x, Cf32* y, std::size_t n),
               (mod, x, y, n))

}  // namespace tarsk
