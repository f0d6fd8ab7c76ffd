// FM and PM quadrature detectors: the phase step between consecutive samples
// times a scale (FM: 1 / max(dev_hz, 1); PM: k), through a fourth-order
// low-pass. Neither integrates; the output is in radians per sample, scaled.
#pragma once

#include <cstddef>
#include <span>

#include "core/biquad.hpp"
#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/discriminator.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct FmQuadratureDemod {
  float scale = 1.0f;  ///< 1 / max(dev_hz, 1)
  PhaseDiscriminator discriminator;
  BiquadLowpassPair lowpass;

  static FmQuadratureDemod make(float fs, float dev_hz, float audio_bw_hz) noexcept;

  std::size_t process(std::span<const Cf32> iq, std::span<float> out) noexcept;
};

static_assert(Block<FmQuadratureDemod, Cf32, float>);

struct PmQuadratureDemod {
  BiquadLowpassPair lowpass;
  PhaseDiscriminator discriminator;
  float k = 0.0f;  ///< output scale, not clamped

  static PmQuadratureDemod make(float fs, float k, float audio_bw_hz) noexcept;

  std::size_t process(std::span<const Cf32> iq, std::span<float> out) noexcept;
};

static_assert(Block<PmQuadratureDemod, Cf32, float>);

/// The loop both detectors run: discriminate, multiply by factor, low-pass.
TARSK_DISPATCH(void, quadrature_demodulate,
               (PhaseDiscriminator & discriminator, BiquadLowpassPair& lowpass, float factor, const Cf32* x,
                float* y, std::size_t n),
               (discriminator, lowpass, factor, x, y, n))

}  // namespace tarsk
