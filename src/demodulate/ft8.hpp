// FT8 tone demodulator: one aligned frame of 151680 complex samples -> the
// 58 data tones, one hard decision per symbol.
#pragma once

#include <array>
#include <cstdint>
#include <span>

#include "core/cf32.hpp"
#include "sync/costas.hpp"

namespace tarsk {

/// Tone offsets from base_hz, Hz.
inline constexpr std::array<float, kFt8ToneCount> kFt8ToneOffsetsHz = {0.0f, 6.25f, 12.5f, 18.75f, 25.0f, 31.25f, 37.5f, 43.75f};

struct Ft8Demod {
  float fs = 12000.0f;   ///< Hz
  float base_hz = 0.0f;  ///< frequency of tone 0

  static Ft8Demod make(float fs, float base_hz) noexcept { return {fs, base_hz}; }

  /// Decides every symbol of the frame at the start of iq, then keeps the data positions.
  void demodulate(std::span<const Cf32, kFt8FrameSamples> iq, std::span<std::uint8_t, kFt8DataSymbols> tones) const noexcept;
};

}  // namespace tarsk
