// Per-sample loops of the analog demodulators, compiled once per CPU target
// (see core/dispatch.hpp). Each loop is bound by the latency of its
// recursion (low-pass section, DC blocker, smoother, beat oscillator); work
// off that chain either hides under it or, for the phase steps, is done a
// block at a time in vector lanes.
// The lane type below never crosses a call boundary (everything taking it is
// always inlined), so the ABI note about passing it without AVX is moot.
#pragma GCC diagnostic ignored "-Wpsabi"

#include <cmath>
#include <cstddef>
#include <cstring>

#include "demodulate/am.hpp"
#include "demodulate/cw_envelope.hpp"
#include "demodulate/fm_pm.hpp"
#include "demodulate/ssb.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

constexpr std::size_t kBlock = 256;

// Eight floats: one AVX register, two SSE registers on the baseline target.
constexpr std::size_t kLanes = 8;
typedef float Lanes __attribute__((vector_size(kLanes * sizeof(float))));

/// kLanes complex samples from p, split into real and imaginary lanes.
TARSK_INLINE void deinterleave(const Cf32* p, Lanes& re, Lanes& im) noexcept {
  Lanes lo, hi;
  std::memcpy(&lo, p, sizeof lo);
  std::memcpy(&hi, p + kLanes / 2, sizeof hi);
  re = __builtin_shufflevector(lo, hi, 0, 2, 4, 6, 8, 10, 12, 14);
  im = __builtin_shufflevector(lo, hi, 1, 3, 5, 7, 9, 11, 13, 15);
}

template <bool Approx>
TARSK_INLINE void am_envelope_loop(AmEnvelopeDemod& d, const Cf32* x, float* y, std::size_t n) noexcept {
  BiquadLowpassPair lp = d.lowpass;
  DcBlocker dc = d.dc;
  const float alpha = d.alpha, beta = d.beta;
  for (std::size_t k = 0; k < n; ++k) {
    const float re = x[k].re, im = x[k].im;
    float v;
    if constexpr (Approx) {
      v = lp.step(std::fma(alpha, std::fabs(re), beta * std::fabs(im)));
    } else {
      const float power = lp.step(std::fma(re, re, im * im));
      // The low-pass undershoots after an abrupt drop; a negative power would
      // give a NaN that the DC blocker then keeps for ever.
      v = std::sqrt(power < 0.0f ? 0.0f : power);
    }
    y[k] = dc.step(v);
  }
  d.lowpass = lp;
  d.dc = dc;
}

}  // namespace

void am_envelope_demodulate(AmEnvelopeDemod& d, const Cf32* x, float* y, std::size_t n) noexcept {
  if (d.abs_approx)
    am_envelope_loop<true>(d, x, y, n);
  else
    am_envelope_loop<false>(d, x, y, n);
}

void cw_envelope_demodulate(CwEnvelopeDemod& d, const Cf32* x, float* y, std::size_t n) noexcept {
  OnePoleSmoother env = d.envelope;
  const float b = 1.0f - env.a, gain = d.gain;
  // One loop: the square root is off the smoother's chain and hides under it.
  for (std::size_t k = 0; k < n; ++k) {
    const float m = std::sqrt((x[k].re * x[k].re) + (x[k].im * x[k].im));
    y[k] = gain * env.step(m, b);
  }
  d.envelope = env;
}

void ssb_product_demodulate(SsbProductDemod& d, const Cf32* x, float* y, std::size_t n) noexcept {
  BiquadLowpassPair lp = d.lowpass;
  DcBlocker dc = d.dc;
  Oscillator bfo = d.bfo;
  for (std::size_t k = 0; k < n; ++k) {
    const Cf32 o = bfo.advance();
    const float m = std::fma(x[k].re, o.re, x[k].im * o.im);
    y[k] = dc.step(lp.step(m));
  }
  d.lowpass = lp;
  d.dc = dc;
  d.bfo = bfo;
}

void quadrature_demodulate(PhaseDiscriminator& disc, BiquadLowpassPair& lowpass, float factor, const Cf32* x,
                           float* y, std::size_t n) noexcept {
  BiquadLowpassPair lp = lowpass;
  Cf32 prev = disc.prev;
  alignas(64) float v[kBlock];
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t m = n - start < kBlock ? n - start : kBlock;
    const Cf32* in = x + start;
    v[0] = phase_difference(in[0].re, in[0].im, prev.re, prev.im) * factor;
    std::size_t j = 1;
    // Each phase step needs only its predecessor: kLanes at a time.
    for (; j + kLanes <= m; j += kLanes) {
      Lanes xr, xi, pr, pi;
      deinterleave(in + j, xr, xi);
      deinterleave(in + j - 1, pr, pi);
      const Lanes a = phase_difference(xr, xi, pr, pi) * factor;
      std::memcpy(v + j, &a, sizeof a);
    }
    for (; j < m; ++j) v[j] = phase_difference(in[j].re, in[j].im, in[j - 1].re, in[j - 1].im) * factor;
    prev = in[m - 1];
    float* out = y + start;
    for (std::size_t i = 0; i < m; ++i) out[i] = lp.step(v[i]);
  }
  disc.prev = prev;
  lowpass = lp;
}

}  // namespace tarsk::TARSK_ISA_NS
