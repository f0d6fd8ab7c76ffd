// BPSK mapper + waveform stage. The waveform stage, which the QPSK and QAM
// modulators share (one sample per symbol, rotated onto the carrier by the
// object's Oscillator and scaled by the gain), runs in linear_simd.cpp.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

struct BpskMod {
  float gain = 1.0f;
  Oscillator carrier;

  static BpskMod make(float fs, float rf_hz, float gain) noexcept { return {gain, Oscillator(rf_hz, fs)}; }

  static std::size_t output_size(std::size_t n_bits) noexcept { return n_bits; }

  /// One sample per element (lowest bit: 0 -> +1, 1 -> -1).
  std::size_t process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept;
};

static_assert(Block<BpskMod, std::uint8_t, Cf32>);

// The per-sample loops of the three linear modulators, one copy per CPU target.
TARSK_DISPATCH(void, bpsk_modulate, (Oscillator & carrier, float gain, const std::uint8_t* bits, std::span<Cf32> out),
               (carrier, gain, bits, out))
TARSK_DISPATCH(void, qpsk_modulate, (Oscillator & carrier, float gain, const std::uint8_t* bits, std::span<Cf32> out),
               (carrier, gain, bits, out))
/// levels: the order's per-axis table; bits_per_symbol selects the order.
TARSK_DISPATCH(void, qam_modulate,
               (unsigned bits_per_symbol, Oscillator& carrier, float gain, const float* levels,
                const std::uint8_t* bits, std::span<Cf32> out),
               (bits_per_symbol, carrier, gain, levels, bits, out))

}  // namespace tarsk
