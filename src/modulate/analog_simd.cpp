// Per-sample loops of the analog modulators, compiled once per CPU target
// (see core/dispatch.hpp). Each loop works on a local copy of the record so
// the state stays in registers, and writes it back once at the end.
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/fmath.hpp"
#include "core/lanes.hpp"
#include "modulate/am.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm_pm.hpp"
#include "modulate/ssb.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

// Samples per sine-cosine block: small enough for the stack and the L1 cache.
constexpr std::size_t kBlock = 256;

/// Calls body(k, sin(x[k] * scale), cos(x[k] * scale)) for k = 0..n-1 in order,
/// the sines and cosines a block at a time in vector lanes.
template <class Body>
TARSK_INLINE void with_sincos(const float* x, float scale, std::size_t n, Body body) noexcept {
  alignas(64) float phi[kBlock], s[kBlock], c[kBlock];
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t m = n - start < kBlock ? n - start : kBlock;
    for (std::size_t j = 0; j < m; ++j) phi[j] = x[start + j] * scale;
    cr_sincosf_n(phi, s, c, m);
    for (std::size_t j = 0; j < m; ++j) body(start + j, s[j], c[j]);
  }
}

// Branch-free selections: a keying or audio signal that crosses its limits at
// random would otherwise mispredict a branch on every crossing.

/// v limited to [lo, hi]; NaN passes through.
TARSK_INLINE float limit(float v, float lo, float hi) noexcept {
#if defined(__SSE2__)
  // minss/maxss return their second operand when the comparison fails, so in
  // this order a NaN v comes through unchanged.
  return _mm_cvtss_f32(_mm_max_ss(_mm_set_ss(lo), _mm_min_ss(_mm_set_ss(hi), _mm_set_ss(v))));
#else
  return v < lo ? lo : (v > hi ? hi : v);
#endif
}

/// Lane by lane a >= b ? if_ge : otherwise, where NaN on either side takes otherwise.
TARSK_INLINE Float4 pick_ge(Float4 a, Float4 b, Float4 if_ge, Float4 otherwise) noexcept {
#if defined(__SSE4_1__)
  return (Float4)_mm_blendv_ps((__m128)otherwise, (__m128)if_ge, _mm_cmpge_ps((__m128)a, (__m128)b));
#else
  auto m = a >= b;  // ordered: false for NaN
  return (Float4)(((decltype(m))if_ge & m) | ((decltype(m))otherwise & ~m));
#endif
}

template <bool Clamp>
TARSK_INLINE void am_dsb_loop(AmDsbMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  Oscillator osc = mod.carrier;
  const float level = mod.carrier_level, index = mod.modulation_index, gain = mod.gain;
  for (std::size_t k = 0; k < n; ++k) {
    const float m = x[k] * index;
    const Cf32 o = osc.advance();
    float e = m + level;
    if constexpr (Clamp) e = limit(e, -1.0f, 1.0f);
    e = e * gain;
    y[k] = {e * o.re, e * o.im};
  }
  mod.carrier = osc;
}

}  // namespace

void am_dsb_modulate(AmDsbMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  if (mod.clamp)
    am_dsb_loop<true>(mod, x, y, n);
  else
    am_dsb_loop<false>(mod, x, y, n);
}

void cw_keyed_modulate(CwKeyedMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  Oscillator osc = mod.carrier;
  const float gain = mod.gain;
  // The envelope's recursion runs in the low lane of a vector (all lanes
  // alike), so choosing between the rise and fall results is one blend
  // rather than a branch or a round trip through integer registers.
  const Float4 a_rise = splat(mod.a_rise), a_fall = splat(mod.a_fall);
  const Float4 b_rise = 1.0f - a_rise, b_fall = 1.0f - a_fall;
  Float4 env = splat(mod.envelope);
  for (std::size_t k = 0; k < n; ++k) {
    const Float4 t = splat(limit(x[k], 0.0f, 1.0f));
    const Cf32 o = osc.advance();
    const Float4 up = smooth(env, t, a_rise, b_rise);
    const Float4 down = smooth(env, t, a_fall, b_fall);
    env = pick_ge(t, env, up, down);  // NaN (t or envelope) takes the fall result
    const float e = gain * env[0];
    // The full complex product of (e, 0) and o, so inf and NaN carry as written.
    y[k] = {e * o.re - o.im * 0.0f, o.re * 0.0f + e * o.im};
  }
  mod.carrier = osc;
  mod.envelope = env[0];
}

void ssb_phasing_modulate(SsbPhasingMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  // The I and Q low-passes share their coefficients and the two oscillators
  // advance together, so each pair runs in the lanes of one vector: lane 0 is
  // I (or the audio oscillator), lane 1 Q (or the carrier). Lanes 2 and 3 idle.
  const BiquadLowpass& f1 = mod.i_lowpass.first;
  const Float4 b0 = {f1.b0, f1.b0, 0, 0}, b1 = {f1.b1, f1.b1, 0, 0}, b2 = {f1.b2, f1.b2, 0, 0};
  const Float4 a1 = {f1.a1, f1.a1, 0, 0}, a2 = {f1.a2, f1.a2, 0, 0};
  BiquadLowpassPair& lp_i = mod.i_lowpass;
  BiquadLowpassPair& lp_q = mod.q_lowpass;
  Float4 s11 = {lp_i.first.s1, lp_q.first.s1, 0, 0}, s12 = {lp_i.first.s2, lp_q.first.s2, 0, 0};
  Float4 s21 = {lp_i.second.s1, lp_q.second.s1, 0, 0}, s22 = {lp_i.second.s2, lp_q.second.s2, 0, 0};
  Oscillator& audio = mod.audio_osc;
  Oscillator& carrier = mod.carrier;
  Float4 p_re = {audio.phasor.re, carrier.phasor.re, 1, 1}, p_im = {audio.phasor.im, carrier.phasor.im, 0, 0};
  const Float4 r_re = {audio.step.re, carrier.step.re, 1, 1}, r_im = {audio.step.im, carrier.step.im, 0, 0};
  std::uint32_t count = audio.count;  // equal to the carrier's: they only ever advance together
  const Float4 sign = {1.0f, mod.usb ? 1.0f : -1.0f, 1, 1};
  for (std::size_t k = 0; k < n; ++k) {
    turn_phasor(p_re, p_im, count, r_re, r_im);
    // (A.re * x, x * A.im): the products commute exactly.
    const Float4 u = __builtin_shufflevector(p_re, p_im, 0, 4, 1, 5) * x[k];
    const Float4 iq = lowpass_step(lowpass_step(u, b0, b1, b2, a1, a2, s11, s12), b0, b1, b2, a1, a2, s21, s22);
    const Float4 iq_signed = iq * sign;  // (I, q): I * 1 is I exactly
    y[k] = rotate_fused(Cf32{iq_signed[0], iq_signed[1]}, Cf32{p_re[1], p_im[1]});  // (I + j q) * C
  }
  lp_i.first.s1 = s11[0], lp_q.first.s1 = s11[1], lp_i.first.s2 = s12[0], lp_q.first.s2 = s12[1];
  lp_i.second.s1 = s21[0], lp_q.second.s1 = s21[1], lp_i.second.s2 = s22[0], lp_q.second.s2 = s22[1];
  audio.phasor = {p_re[0], p_im[0]};
  carrier.phasor = {p_re[1], p_im[1]};
  audio.count = carrier.count = count;
}

void fm_phase_accum_modulate(FmPhaseAccumMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  const float k_rad = (mod.deviation_hz * kTwoPi) / mod.sample_rate;
  const float gain = mod.gain;
  Cf32 phase = mod.phase;
  std::uint32_t count = mod.phase_count;
  Oscillator osc = mod.carrier;
  with_sincos(x, k_rad, n, [&](std::size_t k, float s, float c) {
    const Cf32 p = advance_phasor(phase, count, {c, s});
    const Cf32 o = osc.advance();
    y[k] = mix_plain(gain * p.re, gain * p.im, o);
  });
  mod.phase = phase;
  mod.phase_count = count;
  mod.carrier = osc;
}

void pm_direct_phase_modulate(PmDirectPhaseMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  const float kp = mod.kp, gain = mod.gain;
  Oscillator osc = mod.carrier;
  with_sincos(x, kp, n, [&](std::size_t k, float s, float c) {
    const Cf32 o = osc.advance();
    y[k] = mix_plain(c * gain, s * gain, o);
  });
  mod.carrier = osc;
}

}  // namespace tarsk::TARSK_ISA_NS
