#include "sync/ft8_sync.hpp"

#include <algorithm>
#include <cmath>
#include <limits>

#include "codec/ft8.hpp"
#include "sync/costas.hpp"
#include "sync/waterfall.hpp"

namespace tarsk {
namespace {

constexpr float kNegInf = -std::numeric_limits<float>::infinity();

// Scoring order: block by block, symbol by symbol.
constexpr auto kFt8Cells = [] {
  std::array<std::array<std::uint8_t, 2>, 21> cells{};
  std::size_t i = 0;
  for (std::size_t start : kFt8CostasStarts)
    for (std::size_t j = 0; j < kFt8Costas.size(); ++j)
      cells[i++] = {static_cast<std::uint8_t>(start + j), kFt8Costas[j]};
  return cells;
}();

constexpr auto kFt8Data = [] {
  std::array<std::uint8_t, kFt8DataSymbols> pos{};
  for (std::size_t m = 0; m < pos.size(); ++m) pos[m] = static_cast<std::uint8_t>(ft8_data_position(m));
  return pos;
}();

/// Candidate positions are ranked by score, then by discovery order (k, then f).
struct Candidate {
  float score;
  std::uint32_t k;
  std::size_t f;
};

/// True when a ranks before b.
constexpr bool better(const Candidate& a, const Candidate& b) noexcept {
  if (a.score != b.score) return a.score > b.score;
  return a.k != b.k ? a.k < b.k : a.f < b.f;
}

/// How far the Costas tones of a frame at row k, base bin f rise above their strongest neighbours.
float score_at(const FtMode& mode, const Waterfall& w, std::size_t k, std::size_t f) noexcept {
  float score = 0.0f;
  for (const auto& cell : mode.costas) {
    const std::size_t r = k + cell[0];
    const std::size_t b = f + cell[1];
    if (r >= w.rows || b >= w.bins) continue;
    const float c = w.at(r, b);
    const float left = b > 0 ? w.at(r, b - 1) : kNegInf;
    const float right = b + 1 < w.bins ? w.at(r, b + 1) : kNegInf;
    const float up = r > 0 ? w.at(r - 1, b) : kNegInf;
    const float down = r + 1 < w.rows ? w.at(r + 1, b) : kNegInf;
    // fmax drops a NaN operand; a NaN difference fails the test and adds nothing.
    const float m = std::fmax(std::fmax(left, right), std::fmax(up, down));
    const float d = c - m;
    score = score + (d > 0.0f ? d : 0.0f);
  }
  return score;
}

/// Largest of the tones t whose bit (mask) of the Gray-decoded value equals `one`.
float max_tones(const float* p, std::size_t tones, const std::uint8_t* value_of, unsigned mask, bool one) noexcept {
  float m = kNegInf;
  for (std::size_t t = 0; t < tones; ++t)
    if (((value_of[t] & mask) != 0) == one) m = std::fmax(m, p[t]);
  return m;
}

void read_llrs(const FtMode& mode, const Waterfall& w, std::size_t k, std::size_t f, std::array<float, 174>& llr) {
  const unsigned bits = mode.tones == 8 ? 3 : 2;
  const std::uint8_t* value_of = mode.value_of.data();
  float p[8];
  for (std::size_t m = 0; m < mode.data.size(); ++m) {
    const std::size_t r = k + mode.data[m];
    if (r >= w.rows) continue;  // stays 0
    for (std::size_t t = 0; t < mode.tones; ++t) p[t] = f + t < w.bins ? w.at(r, f + t) : kNegInf;
    for (unsigned i = 0; i < bits; ++i) {
      const unsigned mask = 1u << (bits - 1 - i);  // most significant bit first
      llr[bits * m + i] = max_tones(p, mode.tones, value_of, mask, false) - max_tones(p, mode.tones, value_of, mask, true);
    }
  }
  // Mean square 24, unless the vector is (nearly) all zero.
  float s = 0.0f;
  for (float v : llr) s = s + v * v;
  const float mean = s / 174.0f;
  if (mean > 1e-10f) {
    const float g = std::sqrt(24.0f / mean);
    for (float& v : llr) v = v * g;
  }
}

}  // namespace

const FtMode kFt8Mode{kFt8SymbolSamples, kFt8ToneSpacingHz, kFt8Symbols, 9, 8, kFt8Cells, kFt8Data, kFt8GrayInverse};

FtSyncPlan ft_sync_plan(const FtMode& mode, std::size_t n_samples, float base_hz, float max_hz,
                        std::int32_t t_min, std::int32_t t_max, std::size_t max_cand) noexcept {
  FtSyncPlan plan;
  // Rows must stay within 32-bit arithmetic: t_max - t_min + symbols.
  const std::int64_t span = static_cast<std::int64_t>(t_max) - t_min;
  if (span + static_cast<std::int64_t>(mode.symbols) > std::numeric_limits<std::int32_t>::max()) {
    plan.error = FtSyncPlan::Error::kTimeRange;
    return plan;
  }
  plan.rows = static_cast<std::size_t>(std::max<std::int64_t>(span + static_cast<std::int64_t>(mode.symbols), 1));
  plan.k_count = static_cast<std::size_t>(std::max<std::int64_t>(span, 0)) + 1;
  plan.first = std::max(t_min, 0);
  const std::uint64_t start = static_cast<std::uint64_t>(plan.first) * mode.block;
  plan.start = start < n_samples ? static_cast<std::size_t>(start) : n_samples;

  float range = max_hz - base_hz;
  if (!(range > 0.0f)) range = 0.0f;  // also a NaN
  const float q = std::ceil(range / mode.bin_hz);
  constexpr float kLimit = 1u << 31;  // far more bins than any waterfall can hold
  if (!(q < kLimit)) {
    plan.error = FtSyncPlan::Error::kTooLarge;
    return plan;
  }
  plan.bins = static_cast<std::size_t>(q) + mode.extra_bins;
  if (!waterfall_fits(plan.rows, plan.bins)) {
    plan.error = FtSyncPlan::Error::kTooLarge;
    return plan;
  }
  plan.f_count = plan.bins - mode.tones + 1;  // base bins 0 ... bins - tones
  const std::size_t positions = plan.k_count * plan.f_count;  // < rows * bins, which fits
  plan.keep = std::min(max_cand, positions);
  return plan;
}

std::vector<FtSyncResult> ft_sync(const FtMode& mode, const FtSyncPlan& plan, std::span<const Cf32> iq, float fs,
                                  float base_hz) {
  std::vector<FtSyncResult> out;
  if (plan.keep == 0) return out;
  const Waterfall w = compute_waterfall(iq, mode.block, plan.rows, plan.bins, fs, base_hz, mode.bin_hz, plan.start);

  // The best `keep` positions, the worst of them on top of a heap.
  std::vector<Candidate> heap;
  heap.reserve(plan.keep);
  for (std::size_t k = 0; k < plan.k_count; ++k) {
    for (std::size_t f = 0; f < plan.f_count; ++f) {
      const Candidate c{score_at(mode, w, k, f), static_cast<std::uint32_t>(k), f};
      if (heap.size() < plan.keep) {
        heap.push_back(c);
        std::push_heap(heap.begin(), heap.end(), better);
      } else if (c.score > heap.front().score) {  // a later equal score ranks lower
        std::pop_heap(heap.begin(), heap.end(), better);
        heap.back() = c;
        std::push_heap(heap.begin(), heap.end(), better);
      }
    }
  }
  std::sort_heap(heap.begin(), heap.end(), better);

  out.resize(heap.size());
  for (std::size_t i = 0; i < heap.size(); ++i) {
    const Candidate& c = heap[i];
    FtSyncResult& r = out[i];
    r.freq_bin = c.f;
    r.time_sym = plan.first + static_cast<std::int32_t>(c.k);
    r.score = c.score;
    read_llrs(mode, w, c.k, c.f, r.llr);
  }
  return out;
}

}  // namespace tarsk
