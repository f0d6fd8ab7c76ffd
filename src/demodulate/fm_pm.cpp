// FM and PM quadrature detectors: construction and the span entry points.
#include "demodulate/fm_pm.hpp"

#include <algorithm>

namespace tarsk {

FmQuadratureDemod FmQuadratureDemod::make(float fs, float dev_hz, float audio_bw_hz) noexcept {
  const float dev = dev_hz > 1.0f ? dev_hz : 1.0f;  // NaN fails the test and takes the floor
  return {1.0f / dev, PhaseDiscriminator{}, BiquadLowpassPair(audio_bw_hz, fs)};
}

std::size_t FmQuadratureDemod::process(std::span<const Cf32> iq, std::span<float> out) noexcept {
  const std::size_t n = std::min(iq.size(), out.size());
  quadrature_demodulate(discriminator, lowpass, scale, iq.data(), out.data(), n);
  return n;
}

PmQuadratureDemod PmQuadratureDemod::make(float fs, float k, float audio_bw_hz) noexcept {
  return {BiquadLowpassPair(audio_bw_hz, fs), PhaseDiscriminator{}, k};
}

std::size_t PmQuadratureDemod::process(std::span<const Cf32> iq, std::span<float> out) noexcept {
  const std::size_t n = std::min(iq.size(), out.size());
  quadrature_demodulate(discriminator, lowpass, k, iq.data(), out.data(), n);
  return n;
}

}  // namespace tarsk
