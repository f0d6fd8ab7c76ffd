// PSK31 demodulators: construction, symbol completion and phase tracking of
// the shared front end, the BPSK31 and QPSK31 decisions, and the QPSK31
// buffer that flush decodes. The per-sample integration is in psk31_simd.cpp.
#include "demodulate/psk31.hpp"

#include <cmath>
#include <memory>
#include <new>

#include "codec/psk31_conv.hpp"
#include "core/constants.hpp"
#include "core/fmath.hpp"
#include "modulate/psk31.hpp"
#include "sync/psk31_sync.hpp"

namespace tarsk {
namespace {

constexpr float kMinTrackPower = 1e-6f;

}  // namespace

std::optional<Psk31Front> Psk31Front::make(float fs, float rf_hz, float loop_gain) {
  const std::size_t sps = psk31_sps(fs);
  if (sps == 0) return std::nullopt;
  Psk31Front f;
  f.ramp = make_hann(sps);
  f.mixing = rf_hz != 0.0f;
  if (f.mixing) cr_sincosf((rf_hz * -kTwoPi) / fs, f.osc.step.im, f.osc.step.re);
  f.sps = sps;
  float energy = 0.0f;
  for (const float v : f.ramp) energy = energy + (v * v);
  f.energy = energy;
  f.loop_gain = loop_gain;
  return f;
}

void Psk31Front::reset() noexcept {
  pos = 0;
  acc = {0.0f, 0.0f};
  prev = {1.0f, 0.0f};
  r = 0.0f;
  if (mixing) {
    osc.phasor = {1.0f, 0.0f};
    osc.count = 0;
  }
}

Cf32 Psk31Front::finish_symbol(float gain) noexcept {
  const float scale = gain / energy;
  const Cf32 y = {acc.re * scale, acc.im * scale};
  pos = 0;
  acc = {0.0f, 0.0f};
  float s, c;
  cr_sincosf(r, s, c);
  // y (cos r - j sin r)
  return {(y.re * c) + (y.im * s), (y.im * c) - (y.re * s)};
}

void Psk31Front::track(float e) noexcept {
  float v = r + (loop_gain * e);
  if (v > kPi) v = v - kTwoPi;
  if (v < -kPi) v = v + kTwoPi;
  r = v;
}

float Psk31Front::bpsk_symbol(Cf32 z) noexcept {
  const float s = (z.re * prev.re) + (z.im * prev.im);
  const float q = (z.im * prev.re) - (z.re * prev.im);
  const float p = (s * s) + (q * q);
  float e = 0.0f;
  // Towards the nearer of +prev and -prev; a NaN s counts as negative.
  if (p > kMinTrackPower) e = (s >= 0.0f ? q : -q) / std::sqrt(p);
  track(e);
  prev = z;
  return s;
}

void Psk31Front::qpsk_symbol(Cf32 z) noexcept {
  // Nearest axis point; a tie goes to the real axis and -0 counts as non-negative.
  Cf32 d;
  if (std::fabs(z.re) >= std::fabs(z.im)) d = {z.re >= 0.0f ? 1.0f : -1.0f, 0.0f};
  else d = {0.0f, z.im >= 0.0f ? 1.0f : -1.0f};
  const float p = (z.re * z.re) + (z.im * z.im);
  float e = 0.0f;
  if (p > kMinTrackPower) e = ((z.im * d.re) - (z.re * d.im)) / std::sqrt(p);
  track(e);
  prev = z;
}

// ---------------------------------------------------------------- Bpsk31Demod

std::optional<Bpsk31Demod> Bpsk31Demod::make(float fs, float rf_hz, float gain) {
  std::optional<Psk31Front> f = Psk31Front::make(fs, rf_hz, 0.1f);
  if (!f) return std::nullopt;
  return Bpsk31Demod{std::move(*f), gain};
}

std::size_t Bpsk31Demod::process(std::span<const Cf32> iq, std::span<float> out) noexcept {
  if (iq.empty() || out.empty()) return 0;
  float* y = out.data();
  return front.run(iq, out.size(), gain, [&](Cf32 z) { *y++ = front.bpsk_symbol(z); });
}

// ---------------------------------------------------------------- Qpsk31Demod

std::optional<Qpsk31Demod> Qpsk31Demod::make(float fs, float rf_hz, float gain) {
  std::optional<Psk31Front> f = Psk31Front::make(fs, rf_hz, 0.1f);
  if (!f) return std::nullopt;
  return Qpsk31Demod{std::move(*f), gain, {}};
}

std::size_t Qpsk31Demod::process(std::span<const Cf32> iq, std::span<float> out) {
  if (iq.empty() || out.size() < 2) return 0;
  const std::size_t max_symbols = out.size() / 2;
  const std::size_t room = 2 * std::min(max_symbols, front.symbols_in(iq.size()));
  const std::size_t size = dibits.size();
  if (room > dibits.max_size() - size) throw std::bad_alloc();
  // Room first, so appending below cannot fail half-way; doubling keeps many small calls linear.
  if (size + room > dibits.capacity()) dibits.reserve(std::max(size + room, 2 * dibits.capacity()));
  float* y = out.data();
  const std::size_t made = front.run(iq, max_symbols, gain, [&](Cf32 z) {
    *y++ = z.re;
    *y++ = z.im;
    front.qpsk_symbol(z);
  });
  dibits.insert(dibits.end(), out.data(), out.data() + 2 * made);
  return 2 * made;
}

std::size_t Qpsk31Demod::flush(std::span<std::uint8_t> out) {
  const std::size_t n = buffered_symbols();
  if (n == 0 || out.size() < n) return 0;
  if (n > static_cast<std::size_t>(-1) / 16) throw std::bad_alloc();
  const std::unique_ptr<std::uint8_t[]> survivors(new std::uint8_t[16 * n]);
  psk31_viterbi_decode(dibits, {survivors.get(), 16 * n}, out.first(n));
  dibits.clear();
  return n;
}

void Qpsk31Demod::reset() noexcept {
  front.reset();
  std::vector<float>().swap(dibits);
}

// ---------------------------------------------------------------- carrier search

void record_candidate(std::vector<Psk31SyncResult>& results, std::size_t start_row, std::size_t bin,
                      std::span<const Cf32> samples, std::size_t n_bits, float base_hz, float score, float fs) {
  const float carrier_hz = base_hz + static_cast<float>(bin) * 31.25f;
  std::optional<Psk31Front> front = Psk31Front::make(fs, carrier_hz, 0.05f);
  if (!front) return;  // the search never asks without a whole symbol
  const std::size_t o = start_row * front->sps;
  if (o > samples.size()) return;
  const std::span<const Cf32> tail = samples.subspan(o);
  // Never more room than the buffer can fill, however large n_bits is.
  const std::size_t n = std::min(n_bits, tail.size() / front->sps);
  Psk31SyncResult r;
  r.soft_bits.resize(n);
  float* y = r.soft_bits.data();
  // A gain of 1 makes the symbol scale 1 / energy.
  const std::size_t made = front->run(tail, n, 1.0f, [&](Cf32 z) { *y++ = front->bpsk_symbol(z); });
  r.soft_bits.resize(made);
  r.time_sym = start_row;
  r.freq_bin = bin;
  r.carrier_hz = carrier_hz;
  r.score = score;
  results.push_back(std::move(r));
}

}  // namespace tarsk
