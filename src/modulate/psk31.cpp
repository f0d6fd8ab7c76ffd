// PSK31 modulators: symbol length, ramp, text framing and the per-call flow;
// the sample loops are in psk31_simd.cpp.
#include "modulate/psk31.hpp"

#include <cmath>
#include <new>

#include "codec/varicode.hpp"
#include "core/constants.hpp"
#include "core/fmath.hpp"

namespace tarsk {
namespace {

static_assert(sizeof(std::size_t) == 8, "samples per symbol saturate at the largest 64-bit value");

// Each modulator builds its ramp the first time it has samples to shape.
void prepare_ramp(std::vector<float>& ramp, std::size_t sps, std::size_t n_out) {
  if (n_out != 0 && ramp.size() != sps) ramp = make_hann(sps);
}

// The carrier's step, or null when rf_hz is exactly 0 (a NaN rf_hz still mixes).
const Cf32* carrier(const float& rf_hz, const Cf32& step) noexcept { return rf_hz != 0.0f ? &step : nullptr; }

}  // namespace

std::size_t psk31_sps(float fs) noexcept {
  const float q = std::round(fs / kPsk31SymbolRate);
  if (!(q > 0.0f)) return 0;                              // negative, zero or NaN
  if (q >= 0x1p64f) return static_cast<std::size_t>(-1);  // beyond the largest size
  return static_cast<std::size_t>(q);
}

std::vector<float> make_hann(std::size_t n) {
  std::vector<float> w;
  if (n > w.max_size()) throw std::bad_alloc();
  w.resize(n);
  if (n == 1) w[0] = 1.0f;
  if (n < 2) return w;
  const float last = static_cast<float>(n - 1);
  for (std::size_t i = 0; i < n; ++i) {
    const float x = (static_cast<float>(i) * kPi) / last;
    w[i] = 0.5f - (0.5f * cr_cosf(x));
  }
  return w;
}

std::optional<std::size_t> psk31_output_size(std::size_t sps, std::size_t n_bits) noexcept {
  if (sps != 0 && n_bits > kPsk31MaxSamples / sps) return std::nullopt;
  return n_bits * sps;
}

Cf32 psk31_carrier_step(float fs, float rf_hz) noexcept {
  Cf32 step{1.0f, 0.0f};
  if (rf_hz != 0.0f) cr_sincosf((rf_hz * kTwoPi) / fs, step.im, step.re);
  return step;
}

std::optional<std::size_t> psk31_text_bit_count(std::span<const std::uint8_t> text, std::size_t preamble_bits,
                                                std::size_t postamble_bits) noexcept {
  // The text's own bits, separators and the closing separator included, counted by the
  // encoder itself on a few bytes at a time: at most 12 bits per byte.
  std::size_t body = 0;
  VaricodeEncoder enc;
  try {
    for (const std::uint8_t b : text) {
      enc.push_byte(b);
      body += enc.pending();
      enc.drain_into({});
    }
    enc.push_postamble(0);
    body += enc.pending();
  } catch (const std::bad_alloc&) {
    return std::nullopt;
  }
  constexpr std::size_t kMax = static_cast<std::size_t>(-1);
  if (preamble_bits > kMax - body || postamble_bits > kMax - body - preamble_bits) return std::nullopt;
  return preamble_bits + body + postamble_bits;
}

std::vector<std::uint8_t> psk31_text_bits(std::span<const std::uint8_t> text, std::size_t preamble_bits,
                                          std::size_t postamble_bits) {
  VaricodeEncoder enc;
  enc.push_preamble(preamble_bits);
  for (const std::uint8_t b : text) enc.push_byte(b);
  enc.push_postamble(postamble_bits);
  return enc.drain();
}

Bpsk31Mod Bpsk31Mod::make(float fs, float rf_hz, float gain) noexcept {
  Bpsk31Mod m;
  m.sps = psk31_sps(fs);
  m.fs = fs;
  m.rf_hz = rf_hz;
  m.gain = gain;
  m.carrier_step = psk31_carrier_step(fs, rf_hz);
  return m;
}

void Bpsk31Mod::modulate(std::span<const std::uint8_t> bits, std::span<Cf32> out) {
  if (output_size(bits.size()) != out.size()) return;
  prepare_ramp(ramp, sps, out.size());
  bpsk31_modulate(ramp.data(), sps, gain, carrier(rf_hz, carrier_step), amplitude, bits.data(), bits.size(),
                  out.data());
}

Qpsk31Mod Qpsk31Mod::make(float fs, float rf_hz, float gain) noexcept {
  Qpsk31Mod m;
  m.sps = psk31_sps(fs);
  m.fs = fs;
  m.rf_hz = rf_hz;
  m.gain = gain;
  m.carrier_step = psk31_carrier_step(fs, rf_hz);
  return m;
}

void Qpsk31Mod::modulate(std::span<const std::uint8_t> bits, std::span<Cf32> out) {
  if (output_size(bits.size()) != out.size()) return;
  prepare_ramp(ramp, sps, out.size());
  qpsk31_modulate(ramp.data(), sps, gain, carrier(rf_hz, carrier_step), phase, encoder, bits.data(),
                  bits.size(), out.data());
}

}  // namespace tarsk
