// BPSK soft stage + hard decider on carrier-removed baseband, one sample per
// symbol: bit 1 where the scaled real part is below zero.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct BpskDemod {
  float gain = 1.0f;

  static BpskDemod make(float gain) noexcept { return {gain}; }

  static std::size_t output_size(std::size_t n_samples) noexcept { return n_samples; }

  /// Ties (+0, -0) and NaN decide 0.
  std::size_t process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept;
};

static_assert(Block<BpskDemod, Cf32, std::uint8_t>);

/// out[k] = (iq[k].re * gain) < 0 for k < n.
TARSK_DISPATCH(void, bpsk_decide, (const Cf32* iq, float gain, std::uint8_t* out, std::size_t n),
               (iq, gain, out, n))

}  // namespace tarsk
