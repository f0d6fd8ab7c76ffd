// FT4 tone modulator: 87 data tones -> one frame of 60480 complex samples,
// Costas symbols inserted (frame layout in sync/costas.hpp).
#pragma once

#include <cstdint>
#include <span>

#include "core/cf32.hpp"
#include "sync/costas.hpp"

namespace tarsk {

struct Ft4Mod {
  float fs = 12000.0f;     ///< Hz; only scales the tone frequencies
  float base_hz = 0.0f;    ///< frequency of tone 0
  float rf_hz = 0.0f;      ///< further shift of the whole frame
  float gain = 1.0f;       ///< linear amplitude

  static Ft4Mod make(float fs, float base_hz, float rf_hz, float gain) noexcept { return {fs, base_hz, rf_hz, gain}; }

  /// Tone values are used unchanged: one above 3 gives a higher frequency.
  void modulate(std::span<const std::uint8_t, kFt4DataSymbols> tones,
                std::span<Cf32, kFt4FrameSamples> out) const noexcept;
};

}  // namespace tarsk
