// BPSK mapper + waveform stage, and the waveform stage itself, which the
// QPSK and QAM modulators share: one sample per symbol, rotated onto the
// carrier by the object's Oscillator and scaled by the gain.
#pragma once

#include <cmath>
#include <cstddef>
#include <cstdint>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

/// Writes out.size() samples; map(k) yields symbol k. The carrier recursion
/// is the only serial dependency, everything else per sample is independent.
/// Used only inside the per-target kernels of linear_simd.cpp.
template <class Map>
TARSK_INLINE void linear_waveform(Oscillator& carrier, float gain, std::span<Cf32> out,
                                                   Map map) noexcept {
  Oscillator osc = carrier;  // a local copy stays in registers; stores to out cannot alias it
  Cf32* y = out.data();
  const std::size_t n = out.size();
  for (std::size_t k = 0; k < n; ++k) {
    const Cf32 x = map(k);
    const Cf32 p = osc.advance();
    const float zr = std::fma(x.re, p.re, -(x.im * p.im));
    const float zi = std::fma(x.im, p.re, x.re * p.im);
    y[k] = {zr * gain, zi * gain};
  }
  carrier = osc;
}

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
