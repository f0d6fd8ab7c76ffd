#include "sync/waterfall.hpp"

#include <algorithm>
#include <limits>
#include <stdexcept>

#include "core/constants.hpp"
#include "core/fmath.hpp"

namespace tarsk {

bool waterfall_fits(std::size_t rows, std::size_t bins) noexcept {
  constexpr std::size_t kMax = std::numeric_limits<std::ptrdiff_t>::max() / sizeof(float);
  return bins == 0 || rows <= kMax / bins;
}

Waterfall compute_waterfall(std::span<const Cf32> samples, std::size_t block, std::size_t rows,
                            std::size_t bins, float fs, float base_hz, float bin_hz, std::size_t start) {
  if (!waterfall_fits(rows, bins)) throw std::length_error("waterfall too large");
  Waterfall w;
  w.rows = rows;
  w.bins = bins;
  w.values.assign(rows * bins, 0.0f);
  const std::size_t len = samples.size();
  if (rows == 0 || bins == 0 || start >= len) return w;

  std::vector<float> step(2 * bins);  // cos steps, then sin steps
  float* const cos_step = step.data();
  float* const sin_step = step.data() + bins;
  for (std::size_t b = 0; b < bins; ++b) {
    const float phi = ((static_cast<float>(b) * bin_hz + base_hz) * -kTwoPi) / fs;
    cr_sincosf(phi, sin_step[b], cos_step[b]);
  }

  const Cf32* const x = samples.data() + start;
  if (block == 0) {  // every window is empty and starts inside the buffer
    waterfall_rows(x, 0, 0, rows, cos_step, sin_step, bins, w.values.data());
    return w;
  }
  // Whole windows first, then at most one cut short by the end of the buffer;
  // rows starting past the end keep 0.0.
  const std::size_t avail = len - start;
  const std::size_t full = std::min(rows, avail / block);
  waterfall_rows(x, block, block, full, cos_step, sin_step, bins, w.values.data());
  if (full < rows && avail % block != 0) {
    waterfall_rows(x + full * block, avail % block, block, 1, cos_step, sin_step, bins, w.values.data() + full * bins);
  }
  return w;
}

}  // namespace tarsk
