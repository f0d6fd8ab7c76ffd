// PSK31 modulators at 31.25 symbols per second: differential BPSK31 and
// convolutionally coded QPSK31, each symbol change shaped by a half-cosine
// ramp, optionally moved onto a carrier. Also the samples-per-symbol rule and
// the ramp shared with the PSK31 demodulators.
#pragma once

#include <cstddef>
#include <cstdint>
#include <limits>
#include <optional>
#include <span>
#include <vector>

#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

inline constexpr float kPsk31SymbolRate = 31.25f;

/// Most samples one output array can hold (its byte count must fit a signed size).
inline constexpr std::size_t kPsk31MaxSamples =
    static_cast<std::size_t>(std::numeric_limits<std::ptrdiff_t>::max()) / sizeof(Cf32);

/// fs / 31.25 in single precision, rounded half away from zero; 0 for a
/// negative or NaN quotient, the largest size beyond it.
std::size_t psk31_sps(float fs) noexcept;

/// The 0-to-1 half-cosine ramp of n values: 0.5 - 0.5 cos(pi i / (n - 1)),
/// [1] for n = 1. Throws std::bad_alloc when n values do not fit in memory.
std::vector<float> make_hann(std::size_t n);

/// Bits of modulate_text's stream: preamble zeros, the Varicode of text, a
/// separator when text is not empty, postamble ones. Nothing when the count
/// overflows a size.
std::optional<std::size_t> psk31_text_bit_count(std::span<const std::uint8_t> text, std::size_t preamble_bits,
                                                std::size_t postamble_bits) noexcept;
std::vector<std::uint8_t> psk31_text_bits(std::span<const std::uint8_t> text, std::size_t preamble_bits,
                                          std::size_t postamble_bits);

/// n_bits * sps samples, or nothing when they would not fit in one array.
std::optional<std::size_t> psk31_output_size(std::size_t sps, std::size_t n_bits) noexcept;

/// Carrier step (cos w, sin w), w = (rf_hz * 2pi) / fs; (1, 0) when rf_hz is exactly 0.
Cf32 psk31_carrier_step(float fs, float rf_hz) noexcept;

struct Bpsk31Mod {
  std::vector<float> ramp;  ///< make_hann(sps), built on first use so that a huge sps still constructs
  std::size_t sps = 0;
  float fs = 0.0f;
  float rf_hz = 0.0f;
  float gain = 1.0f;
  float amplitude = 1.0f;  ///< signed level of the last symbol
  Cf32 carrier_step{1.0f, 0.0f};

  static Bpsk31Mod make(float fs, float rf_hz, float gain) noexcept;

  std::optional<std::size_t> output_size(std::size_t n_bits) const noexcept { return psk31_output_size(sps, n_bits); }

  /// A 0 bit reverses the level, any other value keeps it. out.size() must be
  /// *output_size(bits.size()); may throw std::bad_alloc, before any state moves.
  void modulate(std::span<const std::uint8_t> bits, std::span<Cf32> out);
  void reset() noexcept { amplitude = 1.0f; }
};

struct Qpsk31Mod {
  std::vector<float> ramp;  ///< as in Bpsk31Mod
  std::size_t sps = 0;
  Cf32 phase{1.0f, 0.0f};  ///< phasor of the last symbol
  float fs = 0.0f;
  float rf_hz = 0.0f;
  float gain = 1.0f;
  std::uint8_t encoder = 0;  ///< last four input bits, bit 3 the newest
  Cf32 carrier_step{1.0f, 0.0f};

  static Qpsk31Mod make(float fs, float rf_hz, float gain) noexcept;

  std::optional<std::size_t> output_size(std::size_t n_bits) const noexcept { return psk31_output_size(sps, n_bits); }

  /// Uses the lowest bit of each element; otherwise as Bpsk31Mod::modulate.
  void modulate(std::span<const std::uint8_t> bits, std::span<Cf32> out);
  void reset() noexcept {
    phase = {1.0f, 0.0f};
    encoder = 0;
  }
};

/// An Oscillator's phasor advanced in registers with its exact arithmetic
/// (two fused multiply-adds, unit magnitude again on every 1024th advance),
/// for the PSK31 sample loops. The sine is negated once up front: im * (-s) is
/// exactly (-im) * s, and the negation no longer sits on the serial chain.
struct Psk31Carrier {
  Cf32 p;
  std::uint32_t count;
  float c, s, minus_s;

  TARSK_INLINE explicit Psk31Carrier(const Oscillator& o) noexcept
      : p(o.phasor), count(o.count), c(o.step.re), s(o.step.im), minus_s(-o.step.im) {}

  TARSK_INLINE Cf32 advance() noexcept {
    p = {std::fma(p.re, c, p.im * minus_s), std::fma(p.im, c, p.re * s)};
    if ((++count & 1023u) == 0) {
      const float m = std::sqrt((p.im * p.im) + (p.re * p.re));
      const float g = 1.0f / m;
      p = {p.re * g, p.im * g};
    }
    return p;
  }

  TARSK_INLINE void store(Oscillator& o) const noexcept {
    o.phasor = p;
    o.count = count;
  }
};

// Per-target loops: out holds n_bits * sps samples; carrier is the step of
// the carrier, null for none.
TARSK_DISPATCH(void, bpsk31_modulate,
               (const float* ramp, std::size_t sps, float gain, const Cf32* carrier, float& amplitude,
                const std::uint8_t* bits, std::size_t n_bits, Cf32* out),
               (ramp, sps, gain, carrier, amplitude, bits, n_bits, out))
TARSK_DISPATCH(void, qpsk31_modulate,
               (const float* ramp, std::size_t sps, float gain, const Cf32* carrier, Cf32& phase,
                std::uint8_t& encoder, const std::uint8_t* bits, std::size_t n_bits, Cf32* out),
               (ramp, sps, gain, carrier, phase, encoder, bits, n_bits, out))

}  // namespace tarsk
