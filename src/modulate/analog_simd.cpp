// Per-sample loops of the analog modulators, compiled once per CPU target
// (see core/dispatch.hpp). Each loop works on a local copy of the record so
// the state stays in registers, and writes it back once at the end.
#include <cstddef>

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#include "core/fmath.hpp"
#include "modulate/am.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm_pm.hpp"
#include "modulate/ssb.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

// Samples per sine-cosine block: small enough for the stack and the L1 cache.
constexpr std::size_t kBlock = 256;

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

/// a >= b ? if_ge : otherwise, where NaN on either side takes otherwise.
TARSK_INLINE float select_ge(float a, float b, float if_ge, float otherwise) noexcept {
#if defined(__SSE2__)
  const __m128 m = _mm_cmpge_ss(_mm_set_ss(a), _mm_set_ss(b));
  return _mm_cvtss_f32(_mm_or_ps(_mm_and_ps(m, _mm_set_ss(if_ge)), _mm_andnot_ps(m, _mm_set_ss(otherwise))));
#else
  return a >= b ? if_ge : otherwise;
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
  float env = mod.envelope;
  const float a_rise = mod.a_rise, a_fall = mod.a_fall, gain = mod.gain;
  const float b_rise = 1.0f - a_rise, b_fall = 1.0f - a_fall;
  for (std::size_t k = 0; k < n; ++k) {
    const float t = limit(x[k], 0.0f, 1.0f);
    const Cf32 o = osc.advance();
    // Both candidates, then the choice: the comparison leaves the envelope's
    // recursion. A NaN t (or envelope) fails t >= env and takes the fall pole.
    const float up = smooth(env, t, a_rise, b_rise);
    const float down = smooth(env, t, a_fall, b_fall);
    env = select_ge(t, env, up, down);
    const float e = gain * env;
    // The full complex product of (e, 0) and o, so inf and NaN carry as written.
    y[k] = {e * o.re - o.im * 0.0f, o.re * 0.0f + e * o.im};
  }
  mod.carrier = osc;
  mod.envelope = env;
}

void ssb_phasing_modulate(SsbPhasingMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  BiquadLowpassPair lp_i = mod.i_lowpass, lp_q = mod.q_lowpass;
  Oscillator audio = mod.audio_osc, carrier = mod.carrier;
  const float sign = mod.usb ? 1.0f : -1.0f;
  for (std::size_t k = 0; k < n; ++k) {
    const float v = x[k];
    const Cf32 a = audio.advance();
    const float u_i = a.re * v;
    const float u_q = v * a.im;
    const float i = lp_i.step(u_i);
    const float q_raw = lp_q.step(u_q);
    const Cf32 c = carrier.advance();
    const float q = sign * q_raw;
    y[k] = rotate_fused({i, q}, c);
  }
  mod.i_lowpass = lp_i;
  mod.q_lowpass = lp_q;
  mod.audio_osc = audio;
  mod.carrier = carrier;
}

void fm_phase_accum_modulate(FmPhaseAccumMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  const float k_rad = (mod.deviation_hz * kTwoPi) / mod.sample_rate;
  const float gain = mod.gain;
  Cf32 phase = mod.phase;
  std::uint32_t count = mod.phase_count;
  Oscillator osc = mod.carrier;
  alignas(64) float phi[kBlock], s[kBlock], c[kBlock];
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t m = n - start < kBlock ? n - start : kBlock;
    for (std::size_t j = 0; j < m; ++j) phi[j] = x[start + j] * k_rad;
    cr_sincosf_n(phi, s, c, m);
    Cf32* out = y + start;
    for (std::size_t j = 0; j < m; ++j) {
      const Cf32 p = advance_phasor(phase, count, {c[j], s[j]});
      const Cf32 o = osc.advance();
      out[j] = mix_plain(gain * p.re, gain * p.im, o);
    }
  }
  mod.phase = phase;
  mod.phase_count = count;
  mod.carrier = osc;
}

void pm_direct_phase_modulate(PmDirectPhaseMod& mod, const float* x, Cf32* y, std::size_t n) noexcept {
  const float kp = mod.kp, gain = mod.gain;
  Oscillator osc = mod.carrier;
  alignas(64) float phi[kBlock], s[kBlock], c[kBlock];
  for (std::size_t start = 0; start < n; start += kBlock) {
    const std::size_t m = n - start < kBlock ? n - start : kBlock;
    for (std::size_t j = 0; j < m; ++j) phi[j] = x[start + j] * kp;
    cr_sincosf_n(phi, s, c, m);
    Cf32* out = y + start;
    for (std::size_t j = 0; j < m; ++j) {
      const Cf32 o = osc.advance();
      out[j] = mix_plain(c[j] * gain, s[j] * gain, o);
    }
  }
  mod.carrier = osc;
}

}  // namespace tarsk::TARSK_ISA_NS
