// FT8/FT4 frame search: score every start time and base bin by how far the
// Costas tones rise above their neighbours in the waterfall, keep the best,
// and read the data symbols of each as 174 normalised LLRs.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/cf32.hpp"

namespace tarsk {

struct FtSyncResult {
  std::size_t freq_bin = 0;
  std::array<float, 174> llr{};
  std::int32_t time_sym = 0;  ///< frame start, in symbols from the buffer start
  float score = 0.0f;
};

/// The sizes of one search, worked out and checked before anything is allocated.
struct FtSyncPlan {
  enum class Error { kNone, kTimeRange, kTooLarge };
  Error error = Error::kNone;
  std::size_t rows = 0;     ///< waterfall rows
  std::size_t bins = 0;     ///< waterfall bins
  std::size_t start = 0;    ///< first sample of row 0 (clamped to the buffer length)
  std::int32_t first = 0;   ///< buffer symbol of candidate 0: max(t_min, 0)
  std::size_t k_count = 0;  ///< start offsets searched
  std::size_t f_count = 0;  ///< base bins searched
  std::size_t keep = 0;     ///< candidates returned: min(max_cand, k_count * f_count)
};

/// One mode's numbers: symbol length, tone spacing, Costas cells, data positions.
struct FtMode {
  std::size_t block;       ///< samples per symbol
  float bin_hz;            ///< tone spacing
  std::size_t symbols;     ///< per frame
  std::size_t extra_bins;  ///< waterfall bins beyond the search range
  std::size_t tones;       ///< per symbol (8 or 4)
  std::span<const std::array<std::uint8_t, 2>> costas;  ///< (frame position, tone) in scoring order
  std::span<const std::uint8_t> data;                   ///< frame positions of the data symbols
  std::span<const std::uint8_t> value_of;               ///< tone -> the codeword bits it carries (inverse Gray map)
};

extern const FtMode kFt8Mode;
extern const FtMode kFt4Mode;

FtSyncPlan ft_sync_plan(const FtMode& mode, std::size_t n_samples, float base_hz, float max_hz,
                        std::int32_t t_min, std::int32_t t_max, std::size_t max_cand) noexcept;

/// Runs a plan without an error. Throws std::bad_alloc when memory runs out.
std::vector<FtSyncResult> ft_sync(const FtMode& mode, const FtSyncPlan& plan, std::span<const Cf32> iq,
                                  float fs, float base_hz);

}  // namespace tarsk
