// FM and PM modulators: the message turns a phasor (FM: accumulated, PM: set
// directly), which is scaled by the gain and carried to rf_hz. Both take one
// sine-cosine per sample, computed a block of samples at a time.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

/// (a + j b) times the carrier phasor o, with plain multiplies (no fusion).
TARSK_INLINE Cf32 mix_plain(float a, float b, Cf32 o) noexcept {
  return {a * o.re - b * o.im, b * o.re + a * o.im};
}

struct FmPhaseAccumMod {
  Cf32 phase{1.0f, 0.0f};  ///< accumulated message phase as a unit phasor
  std::uint32_t phase_count = 0;  ///< updates of phase, for its renormalisation
  float sample_rate = 0.0f;
  float deviation_hz = 0.0f;  ///< frequency offset for message value 1.0
  Oscillator carrier;
  float gain = 1.0f;

  static FmPhaseAccumMod make(float sample_rate, float deviation_hz, float rf_hz) noexcept;

  std::size_t process(std::span<const float> audio, std::span<Cf32> out) noexcept;
};

static_assert(Block<FmPhaseAccumMod, float, Cf32>);

struct PmDirectPhaseMod {
  float kp = 0.0f;  ///< radians per unit of message
  Oscillator carrier;
  float gain = 1.0f;

  static PmDirectPhaseMod make(float sample_rate, float kp_rad_per_unit, float rf_hz) noexcept;

  std::size_t process(std::span<const float> audio, std::span<Cf32> out) noexcept;
};

static_assert(Block<PmDirectPhaseMod, float, Cf32>);

TARSK_DISPATCH(void, fm_phase_accum_modulate, (FmPhaseAccumMod & mod, const float* x, Cf32* y, std::size_t n),
               (mod, x, y, n))
TARSK_DISPATCH(void, pm_direct_phase_modulate, (PmDirectPhaseMod & mod, const float* x, Cf32* y, std::size_t n),
               (mod, x, y, n))

}  // namespace tarsk
