// FSK frame waveform, compiled once per CPU target (core/dispatch.hpp): the
// phasor recursions are serial, but the AVX2 and AVX-512 copies run their
// fused multiply-adds as instructions instead of library calls.
#include <cmath>

#include "core/constants.hpp"
#include "core/fmath.hpp"
#include "modulate/fsk_frame.hpp"

namespace tarsk::TARSK_ISA_NS {
namespace {

TARSK_INLINE void rotate(float& re, float& im, float cs, float sn) noexcept {
  const float r = std::fma(re, cs, -(im * sn));
  const float i = std::fma(im, cs, re * sn);
  re = r;
  im = i;
}

TARSK_INLINE void renormalise(float& re, float& im) noexcept {
  const float g = 1.0f / std::sqrt((re * re) + (im * im));
  re = re * g;
  im = im * g;
}

/// One loop for both phasors when shifting: the two recursions are independent,
/// so their latencies overlap.
template <bool kShift>
TARSK_INLINE void frame(const std::uint8_t* symbols, std::size_t n_symbols, std::size_t symbol_samples,
                        float spacing_hz, float base_hz, float fs, float gain, float q_cs, float q_sn,
                        Cf32* out) noexcept {
  float re = 1.0f, im = 0.0f;
  float qr = 1.0f, qi = 0.0f;
  std::uint32_t n = 0;  // samples produced so far
  for (std::size_t s = 0; s < n_symbols; ++s) {
    const float f = static_cast<float>(symbols[s]) * spacing_hz + base_hz;
    float sn, cs;
    cr_sincosf((f * kTwoPi) / fs, sn, cs);
    for (std::size_t k = 0; k < symbol_samples; ++k) {
      rotate(re, im, cs, sn);
      float x = re * gain, y = im * gain;
      ++n;
      // The tone phasor is written before it is renormalised, the shift phasor after.
      if ((n & 1023u) == 0) renormalise(re, im);
      if constexpr (kShift) {
        rotate(qr, qi, q_cs, q_sn);
        if ((n & 1023u) == 0) renormalise(qr, qi);
        const float sx = std::fma(x, qr, -(y * qi));
        const float sy = std::fma(y, qr, x * qi);
        x = sx;
        y = sy;
      }
      *out++ = {x, y};
    }
  }
}

}  // namespace

// Pairing the re and im halves of a step into one vector puts shuffles into the
// serial chain; scalar code keeps it at one multiply and one fused multiply-add.
#if defined(__GNUC__) && !defined(__clang__)
__attribute__((optimize("no-tree-slp-vectorize")))
#endif
void fsk_frame_modulate(const std::uint8_t* symbols, std::size_t n_symbols, std::size_t symbol_samples,
                        float spacing_hz, float base_hz, float rf_hz, float fs, float gain, Cf32* out) noexcept {
  if (rf_hz == 0.0f) {
    frame<false>(symbols, n_symbols, symbol_samples, spacing_hz, base_hz, fs, gain, 1.0f, 0.0f, out);
  } else {  // a NaN shift is applied too
    float sn, cs;
    cr_sincosf((rf_hz * kTwoPi) / fs, sn, cs);
    frame<true>(symbols, n_symbols, symbol_samples, spacing_hz, base_hz, fs, gain, cs, sn, out);
  }
}

}  // namespace tarsk::TARSK_ISA_NS
