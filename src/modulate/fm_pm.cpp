// FM and PM modulators: construction and the span entry points.
#include "modulate/fm_pm.hpp"

#include <algorithm>

namespace tarsk {

FmPhaseAccumMod FmPhaseAccumMod::make(float sample_rate, float deviation_hz, float rf_hz) noexcept {
  return {{1.0f, 0.0f}, 0, sample_rate, deviation_hz, Oscillator(rf_hz, sample_rate), 1.0f};
}

std::size_t FmPhaseAccumMod::process(std::span<const float> audio, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(audio.size(), out.size());
  fm_phase_accum_modulate(*this, audio.data(), out.data(), n);
  return n;
}

PmDirectPhaseMod PmDirectPhaseMod::make(float sample_rate, float kp_rad_per_unit, float rf_hz) noexcept {
  return {kp_rad_per_unit, Oscillator(rf_hz, sample_rate), 1.0f};
}

std::size_t PmDirectPhaseMod::process(std::span<const float> audio, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(audio.size(), out.size());
  pm_direct_phase_modulate(*this, audio.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
