// FT4 tone demodulator: one aligned frame of 60480 complex samples -> the
// 87 data tones, one hard decision per symbol.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/cf32.hpp"
#include "sync/costas.hpp"

namespace tarsk {

/// Tone offsets from base_hz, Hz.
inline constexpr std::array<float, kFt4ToneCount> kFt4ToneOffsetsHz = {0.0f, 20.833334f, 41.666668f, 62.5f};

struct Ft4Demod {
  float fs = 12000.0f;   ///< Hz
  float base_hz = 0.0f;  ///< frequency of tone 0

  static Ft4Demod make(float fs, float base_hz) noexcept { return {fs, base_hz}; }

  /// Decides every symbol of the frame at the start of iq, then keeps the data positions.
  void demodulate(std::span<const Cf32, kFt4FrameSamples> iq, std::span<std::uint8_t, kFt4DataSymbols> tones) const noexcept;
};

}  // namespace tarsk
