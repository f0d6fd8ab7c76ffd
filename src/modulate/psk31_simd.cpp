// Sample loops of the PSK31 modulators, compiled once per CPU target (see
// core/dispatch.hpp). A symbol's baseband is a ramp between two levels,
// independent per sample; the carrier recursion is the only serial chain, so
// shaping and mixing run in one pass and the shaping hides behind the chain.
#include "codec/psk31_conv.hpp"
#include "core/oscillator.hpp"
#include "modulate/psk31.hpp"

// Pairing the carrier's re and im updates into one vector puts lane moves on
// the serial chain (about 10 cycles a sample instead of 7): keep them scalar.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-slp-vectorize")
#endif

namespace tarsk::TARSK_ISA_NS {
namespace {

struct Transition {
  Cf32 from;   ///< the previous symbol's level
  Cf32 delta;  ///< new level - previous level
};

/// Writes n_sym symbols of sps samples: sample k of a symbol is
/// ((ramp[k] * delta) + from) * gain, the imaginary part exactly 0 when Real,
/// then (with a carrier) rotated by a carrier phasor that starts at 1+0j and
/// advances before each sample. next() yields each symbol's transition.
template <bool Real, class Next>
TARSK_INLINE void shape(const float* ramp, std::size_t sps, std::size_t n_sym, float gain, const Cf32* carrier,
                        Cf32* out, Next next) noexcept {
  if (!carrier) {
    for (std::size_t m = 0; m < n_sym; ++m, out += sps) {
      const Transition s = next();
      for (std::size_t k = 0; k < sps; ++k)
        out[k] = {((ramp[k] * s.delta.re) + s.from.re) * gain,
                  Real ? 0.0f : ((ramp[k] * s.delta.im) + s.from.im) * gain};
    }
    return;
  }
  Oscillator start;  // 1+0j with count 0: the carrier restarts in every call
  start.step = *carrier;
  Psk31Carrier osc(start);
  for (std::size_t m = 0; m < n_sym; ++m, out += sps) {
    const Transition s = next();
    for (std::size_t k = 0; k < sps; ++k) {
      const float xr = ((ramp[k] * s.delta.re) + s.from.re) * gain;
      const float xi = Real ? 0.0f : ((ramp[k] * s.delta.im) + s.from.im) * gain;
      const Cf32 p = osc.advance();
      out[k] = {std::fma(xr, p.re, -(xi * p.im)), std::fma(xi, p.re, xr * p.im)};
    }
  }
}

}  // namespace

void bpsk31_modulate(const float* ramp, std::size_t sps, float gain, const Cf32* carrier, float& amplitude,
                     const std::uint8_t* bits, std::size_t n_bits, Cf32* out) noexcept {
  float o = amplitude;
  std::size_t m = 0;
  // With sps 0 nothing is written, but the level still follows every bit.
  shape<true>(ramp, sps, n_bits, gain, carrier, out, [&] {
    const float t = bits[m++] == 0 ? -o : o;
    const Transition s = {{o, 0.0f}, {t - o, 0.0f}};
    o = t;
    return s;
  });
  amplitude = o;
}

void qpsk31_modulate(const float* ramp, std::size_t sps, float gain, const Cf32* carrier, Cf32& phase,
                     std::uint8_t& encoder, const std::uint8_t* bits, std::size_t n_bits, Cf32* out) noexcept {
  Cf32 h = phase;
  std::uint8_t state = encoder;
  std::size_t m = 0;
  shape<false>(ramp, sps, n_bits, gain, carrier, out, [&] {
    const Cf32 rot = kPsk31Rotation[psk31_conv_encode(state, bits[m++])];
    const Cf32 e = {(h.re * rot.re) - (h.im * rot.im), (h.re * rot.im) + (h.im * rot.re)};
    const Transition s = {h, {e.re - h.re, e.im - h.im}};
    h = e;
    return s;
  });
  phase = h;
  encoder = state;
}

}  // namespace tarsk::TARSK_ISA_NS
