// Log-power waterfall: one row per block of samples, one column per bin on a
// uniform frequency grid. The common first step of the FT8/FT4 and PSK31
// searches.
#pragma once

#include <cstddef>
#include <span>
#include <vector>

#include "core/cf32.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

struct Waterfall {
  std::vector<float> values;  ///< rows x bins, row-major
  std::size_t rows = 0;
  std::size_t bins = 0;

  float at(std::size_t r, std::size_t b) const noexcept { return values[r * bins + b]; }
  const float* row(std::size_t r) const noexcept { return values.data() + r * bins; }
};

/// False when rows x bins values could not even be addressed; checked before anything is allocated.
bool waterfall_fits(std::size_t rows, std::size_t bins) noexcept;

/// Row r is the window of `block` samples from start + r * block (shorter where the buffer
/// ends, all 0.0 past its end); bin b holds ln(|DFT at base_hz + b * bin_hz|^2 + 1e-12).
/// Throws std::length_error when !waterfall_fits(rows, bins), std::bad_alloc when out of memory.
Waterfall compute_waterfall(std::span<const Cf32> samples, std::size_t block, std::size_t rows,
                            std::size_t bins, float fs, float base_hz, float bin_hz, std::size_t start);

// Per-target kernel: `rows` windows of n samples, window r at x + r * stride; writes the log
// power of every bin (rotation step cos_step[b] + j sin_step[b]) to out + r * bins.
TARSK_DISPATCH(void, waterfall_rows,
               (const Cf32* x, std::size_t n, std::size_t stride, std::size_t rows, const float* cos_step,
                const float* sin_step, std::size_t bins, float* out),
               (x, n, stride, rows, cos_step, sin_step, bins, out))

}  // namespace tarsk
