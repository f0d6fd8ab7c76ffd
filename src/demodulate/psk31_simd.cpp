// Matched integration of the PSK31 front end, compiled once per CPU target.
// The accumulator (and, when mixing, the carrier recursion) is the serial
// chain; the ramp weighting around it is independent per sample.
#include "demodulate/psk31.hpp"
#include "modulate/psk31.hpp"

// Pairing the carrier's re and im updates into one vector puts lane moves on
// the serial chain (about 10 cycles a sample instead of 7): keep them scalar.
#if defined(__GNUC__) && !defined(__clang__)
#pragma GCC optimize("no-tree-slp-vectorize")
#endif

namespace tarsk::TARSK_ISA_NS {

void psk31_integrate(Psk31Front& f, const Cf32* x, std::size_t n) noexcept {
  const float* v = f.ramp.data() + f.pos;
  const Cf32 prev = f.prev;
  Cf32 acc = f.acc;
  // The modulator sends (1 - v) old + v new: take the old part away and weight by v.
  if (f.mixing) {
    Psk31Carrier osc(f.osc);
    for (std::size_t k = 0; k < n; ++k) {
      const Cf32 p = osc.advance();
      const Cf32 m = {(x[k].re * p.re) - (x[k].im * p.im), (x[k].re * p.im) + (x[k].im * p.re)};
      const float w = v[k], u = 1.0f - w;
      acc.re = acc.re + (w * (m.re - (u * prev.re)));
      acc.im = acc.im + (w * (m.im - (u * prev.im)));
    }
    osc.store(f.osc);
  } else {
    for (std::size_t k = 0; k < n; ++k) {
      const float w = v[k], u = 1.0f - w;
      acc.re = acc.re + (w * (x[k].re - (u * prev.re)));
      acc.im = acc.im + (w * (x[k].im - (u * prev.im)));
    }
  }
  f.acc = acc;
  f.pos += n;
}

}  // namespace tarsk::TARSK_ISA_NS
