// Sample loops of the PSK31 modulators, compiled once per CPU target (see
// core/dispatch.hpp). The baseband of a symbol is a ramp between two levels,
// independent per sample; the carrier recursion is the only serial chain.
#include "codec/psk31_conv.hpp"
#include "core/oscillator.hpp"
#include "modulate/psk31.hpp"

namespace tarsk::TARSK_ISA_NS {

void bpsk31_baseband(const float* ramp, std::size_t sps, float gain, float& amplitude, const std::uint8_t* bits,
                     std::size_t n_bits, Cf32* out) noexcept {
  float o = amplitude;
  for (std::size_t m = 0; m < n_bits; ++m, out += sps) {
    const float t = bits[m] == 0 ? -o : o;
    const float d = t - o;
    for (std::size_t k = 0; k < sps; ++k) out[k] = {((ramp[k] * d) + o) * gain, 0.0f};
    o = t;
  }
  amplitude = o;
}

void qpsk31_baseband(const float* ramp, std::size_t sps, float gain, Cf32& phase, std::uint8_t& encoder,
                     const std::uint8_t* bits, std::size_t n_bits, Cf32* out) noexcept {
  Cf32 h = phase;
  std::uint8_t s = encoder;
  for (std::size_t m = 0; m < n_bits; ++m, out += sps) {
    const Cf32 rot = kPsk31Rotation[psk31_conv_encode(s, bits[m])];
    const Cf32 e = {(h.re * rot.re) - (h.im * rot.im), (h.re * rot.im) + (h.im * rot.re)};
    const Cf32 d = {e.re - h.re, e.im - h.im};
    for (std::size_t k = 0; k < sps; ++k) out[k] = {((ramp[k] * d.re) + h.re) * gain, ((ramp[k] * d.im) + h.im) * gain};
    h = e;
  }
  phase = h;
  encoder = s;
}

void psk31_mix(Cf32 step, Cf32* io, std::size_t n) noexcept {
  Oscillator osc;  // 1+0j with count 0: the carrier restarts in every call
  osc.step = step;
  for (std::size_t k = 0; k < n; ++k) {
    const Cf32 p = osc.advance();
    const Cf32 x = io[k];
    io[k] = {std::fma(x.re, p.re, -(x.im * p.im)), std::fma(x.im, p.re, x.re * p.im)};
  }
}

}  // namespace tarsk::TARSK_ISA_NS
