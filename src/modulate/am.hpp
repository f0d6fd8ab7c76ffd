// AM double-sideband modulator: envelope carrier_level + index * x, optionally
// limited to [-1, 1], times the gain, on a carrier at rf_hz.
#pragma once

#include <cstddef>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

struct AmDsbMod {
  float gain = 1.0f;
  float carrier_level = 0.0f;  ///< 1 gives full-carrier AM, 0 suppressed-carrier DSB
  float modulation_index = 0.0f;
  Oscillator carrier;
  bool clamp = false;  ///< limit the envelope to [-1, 1] before the gain

  static AmDsbMod make(float fs, float rf_hz, float carrier_level, float modulation_index) noexcept;

  std::size_t process(std::span<const float> audio, std::span<Cf32> out) noexcept;
};

static_assert(Block<AmDsbMod, float, Cf32>);

TARSK_DISPATCH(void, am_dsb_modulate, (AmDsbMod & mod, const float* x, Cf32* y, std::size_t n), (mod, x, y, n))

}  // namespace tarsk
