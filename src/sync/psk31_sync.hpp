// PSK31 carrier search: runs of symbols in which a 31.25 Hz bin stands out as
// a spectral peak clearly above the bin's median, each demodulated into BPSK31
// soft bits from the start of its run.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

#include "core/cf32.hpp"

namespace tarsk {

struct Psk31SyncResult {
  std::vector<float> soft_bits;
  std::size_t time_sym = 0;  ///< waterfall row (symbol from the buffer start) where the run begins
  std::size_t freq_bin = 0;
  float carrier_hz = 0.0f;   ///< base_hz + freq_bin * 31.25
  float score = 0.0f;        ///< mean log power over the run
};

/// Sizes of one search, checked before anything is allocated.
struct Psk31SyncPlan {
  bool too_large = false;
  std::size_t sps = 0;
  std::size_t rows = 0;  ///< 0: nothing to search (empty buffer, or shorter than one symbol)
  std::size_t bins = 0;
};

Psk31SyncPlan psk31_sync_plan(std::size_t n_samples, float fs, float base_hz, float max_hz) noexcept;

/// The best max_cand runs, best first (equal scores in discovery order: by bin, then row),
/// each with min(n_bits, symbols left in the buffer) soft bits. Throws std::bad_alloc.
std::vector<Psk31SyncResult> psk31_sync(const Psk31SyncPlan& plan, std::span<const Cf32> iq, float fs,
                                        float base_hz, std::uint32_t min_carrier_syms, float peak_margin_db,
                                        std::size_t n_bits, std::size_t max_cand);

}  // namespace tarsk
