// QPSK mapper + waveform stage: element pairs drive I then Q, Gray-coded.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

inline constexpr float kQpskLevel = 0.70710677f;  // nearest float to 1/sqrt 2

struct QpskMod {
  float gain = 1.0f;
  Oscillator carrier;

  static QpskMod make(float fs, float rf_hz, float gain) noexcept { return {gain, Oscillator(rf_hz, fs)}; }

  /// A trailing odd element is dropped, not carried into the next call.
  static std::size_t output_size(std::size_t n_bits) noexcept { return n_bits / 2; }

  std::size_t process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept;
};

static_assert(Block<QpskMod, std::uint8_t, Cf32>);

}  // namespace tarsk
