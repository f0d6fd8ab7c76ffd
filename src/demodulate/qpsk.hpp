// QPSK soft stage + hard decider: two bits per sample, I then Q, each 1 where
// the scaled component is below zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct QpskDemod {
  float gain = 1.0f;

  static QpskDemod make(float gain) noexcept { return {gain}; }

  static std::size_t output_size(std::size_t n_samples) noexcept { return 2 * n_samples; }

  /// Writes [b0_I, b0_Q, b1_I, b1_Q, ...]; ties and NaN decide 0.
  std::size_t process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept;
};

static_assert(Block<QpskDemod, Cf32, std::uint8_t>);

/// out[2k] = (iq[k].re * gain) < 0, out[2k + 1] = (iq[k].im * gain) < 0 for k < n.
TARSK_DISPATCH(void, qpsk_decide, (const Cf32* iq, float gain, std::uint8_t* out, std::size_t n),
               (iq, gain, out, n))

}  // namespace tarsk
