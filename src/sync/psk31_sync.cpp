#include "sync/psk31_sync.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "demodulate/psk31.hpp"
#include "modulate/psk31.hpp"
#include "sync/waterfall.hpp"

namespace tarsk {
namespace {

constexpr float kBinHz = 31.25f;
constexpr float kNegInf = -std::numeric_limits<float>::infinity();

struct Run {
  float score;
  std::size_t order;  ///< discovery order: by bin, then by row
  std::size_t row;
  std::size_t bin;
};

/// True when a ranks before b.
constexpr bool better(const Run& a, const Run& b) noexcept {
  return a.score != b.score ? a.score > b.score : a.order < b.order;
}

/// A total order for the median: NaN sorts last, so a bad sample cannot upset the sort.
constexpr bool below(float a, float b) noexcept { return a < b || (!std::isnan(a) && std::isnan(b)); }

float column_median(std::vector<float>& col) {
  const std::size_t n = col.size();
  const auto mid = col.begin() + static_cast<std::ptrdiff_t>(n / 2);
  std::nth_element(col.begin(), mid, col.end(), below);
  if (n % 2 == 1) return *mid;
  const float upper = *mid;
  const float lower = *std::max_element(col.begin(), mid, below);
  return (lower + upper) * 0.5f;
}

}  // namespace

Psk31SyncPlan psk31_sync_plan(std::size_t n_samples, float fs, float base_hz, float max_hz) noexcept {
  Psk31SyncPlan plan;
  plan.sps = psk31_sps(fs);
  if (plan.sps == 0 || n_samples < plan.sps) return plan;
  float range = max_hz - base_hz;
  if (!(range > 0.0f)) range = 0.0f;  // also a NaN
  const float q = std::ceil(range / kBinHz);
  constexpr float kLimit = 1u << 31;  // far more bins than any waterfall can hold
  if (!(q < kLimit)) {
    plan.too_large = true;
    return plan;
  }
  plan.bins = static_cast<std::size_t>(q) + 1;
  plan.rows = n_samples / plan.sps;
  plan.too_large = !waterfall_fits(plan.rows, plan.bins);
  return plan;
}

std::vector<Psk31SyncResult> psk31_sync(const Psk31SyncPlan& plan, std::span<const Cf32> iq, float fs,
                                        float base_hz, std::uint32_t min_carrier_syms, float peak_margin_db,
                                        std::size_t n_bits, std::size_t max_cand) {
  std::vector<Psk31SyncResult> out;
  if (plan.rows == 0 || plan.too_large || max_cand == 0) return out;
  const std::size_t rows = plan.rows, bins = plan.bins;
  const Waterfall w = compute_waterfall(iq, plan.sps, rows, bins, fs, base_hz, kBinHz, 0);
  const float margin = (peak_margin_db * 0.6931472f) / 3.0f;
  const std::size_t min_run = std::max<std::size_t>(min_carrier_syms, 1);

  // Runs are ranked as they are found; the worst kept one sits on top of a heap.
  std::vector<Run> heap;
  std::size_t order = 0;
  const auto offer = [&](const Run& run) {
    if (heap.size() < max_cand) {
      heap.push_back(run);
      std::push_heap(heap.begin(), heap.end(), better);
    } else if (better(run, heap.front())) {
      std::pop_heap(heap.begin(), heap.end(), better);
      heap.back() = run;
      std::push_heap(heap.begin(), heap.end(), better);
    }
  };

  std::vector<float> col(rows);
  for (std::size_t b = 0; b < bins; ++b) {
    for (std::size_t j = 0; j < rows; ++j) col[j] = w.at(j, b);
    const float threshold = column_median(col) + margin;
    std::size_t first = 0, length = 0;
    float sum = 0.0f;
    const auto close_run = [&] {
      if (length >= min_run) offer({sum / static_cast<float>(length), order++, first, b});
      length = 0;
      sum = 0.0f;
    };
    for (std::size_t j = 0; j < rows; ++j) {
      const float v = w.at(j, b);
      const float left = b > 0 ? w.at(j, b - 1) : kNegInf;
      const float right = b + 1 < bins ? w.at(j, b + 1) : kNegInf;
      if (v > threshold && v >= left && v >= right) {
        if (length == 0) first = j;
        ++length;
        sum = sum + v;
      } else if (length > 0) {
        close_run();
      }
    }
    if (length > 0) close_run();
  }
  std::sort_heap(heap.begin(), heap.end(), better);

  // Only the runs returned are demodulated.
  out.reserve(heap.size());
  for (const Run& run : heap) record_candidate(out, run.row, run.bin, iq, n_bits, base_hz, run.score, fs);
  return out;
}

}  // namespace tarsk
