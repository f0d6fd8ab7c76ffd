// PSK31 demodulators. One front end (carrier mixer, ramp-matched integrator,
// phase tracker, symbol timing counted from the start) serves BPSK31, QPSK31
// and the carrier search; they differ only in what they make of each symbol.
#pragma once

#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

struct Psk31Front {
  std::vector<float> ramp;  ///< make_hann(sps): the modulator's transition shape
  bool mixing = false;      ///< rf_hz is not exactly 0
  Oscillator osc;           ///< step (cos t, sin t), t = (rf_hz * -2pi) / fs: down to 0 Hz
  std::size_t sps = 0;
  std::size_t pos = 0;  ///< samples of the current symbol seen so far
  Cf32 acc{0.0f, 0.0f};
  Cf32 prev{1.0f, 0.0f};  ///< the last symbol, phase-corrected
  float energy = 0.0f;    ///< sum of ramp[i]^2 in index order
  float r = 0.0f;         ///< phase correction, radians in [-pi, pi]
  float loop_gain = 0.1f;

  /// Nothing when fs gives no sample per symbol (below 15.625 Hz, NaN);
  /// throws std::bad_alloc when the ramp does not fit in memory.
  static std::optional<Psk31Front> make(float fs, float rf_hz, float loop_gain);

  void reset() noexcept;

  /// Symbols completed by the next n samples.
  std::size_t symbols_in(std::size_t n) const noexcept {
    return n / sps + (n % sps >= sps - pos ? 1 : 0);
  }

  /// Integrates samples until the input ends or max_symbols symbols are
  /// complete (samples after the last of them are left untouched); hands each
  /// symbol, scaled by gain / energy and derotated by r, to on_symbol(z),
  /// which must update r and prev. Returns the symbols made.
  template <class OnSymbol>
  std::size_t run(std::span<const Cf32> in, std::size_t max_symbols, float gain, OnSymbol&& on_symbol) noexcept;

  /// Differential BPSK decision on z: the soft value Re(z conj(prev)); tracks
  /// the phase towards the nearer of +-prev and moves prev to z.
  float bpsk_symbol(Cf32 z) noexcept;

  /// QPSK: tracks the phase towards the nearest axis point and moves prev to z.
  void qpsk_symbol(Cf32 z) noexcept;

 private:
  Cf32 finish_symbol(float gain) noexcept;
  void track(float e) noexcept;
};

/// Integrates n samples, all inside the current symbol (n <= sps - pos).
TARSK_DISPATCH(void, psk31_integrate, (Psk31Front & f, const Cf32* x, std::size_t n), (f, x, n))

template <class OnSymbol>
std::size_t Psk31Front::run(std::span<const Cf32> in, std::size_t max_symbols, float gain,
                            OnSymbol&& on_symbol) noexcept {
  std::size_t made = 0;
  if (max_symbols == 0) return 0;  // no room: not even a partial symbol is taken in
  for (std::size_t i = 0; i < in.size();) {
    const std::size_t n = std::min(sps - pos, in.size() - i);
    psk31_integrate(*this, in.data() + i, n);
    i += n;
    if (pos == sps) {
      on_symbol(finish_symbol(gain));
      if (++made == max_symbols) break;
    }
  }
  return made;
}

struct Bpsk31Demod {
  Psk31Front front;
  float gain = 1.0f;  ///< scale of the soft values, read as each symbol completes

  /// Nothing when fs gives no sample per symbol; throws std::bad_alloc for a ramp beyond memory.
  static std::optional<Bpsk31Demod> make(float fs, float rf_hz, float gain);

  /// Room for one value more than n samples can complete: the output never
  /// fills, so every sample is taken in.
  std::size_t output_size(std::size_t n_samples) const noexcept { return front.symbols_in(n_samples) + 1; }

  /// One soft value per completed symbol: positive for a kept phase (bit 1).
  /// Stops when the input ends or out is full; returns the values written.
  std::size_t process(std::span<const Cf32> iq, std::span<float> out) noexcept;

  void reset() noexcept { front.reset(); }
};

static_assert(Block<Bpsk31Demod, Cf32, float>);

struct Qpsk31Demod {
  Psk31Front front;
  float gain = 1.0f;  ///< as in Bpsk31Demod
  std::vector<float> dibits;  ///< symbols since the last flush, re then im

  /// Nothing when fs gives no sample per symbol; throws std::bad_alloc for a ramp beyond memory.
  static std::optional<Qpsk31Demod> make(float fs, float rf_hz, float gain);

  /// Room for one symbol more than n samples can complete (see Bpsk31Demod).
  std::size_t output_size(std::size_t n_samples) const noexcept { return 2 * (front.symbols_in(n_samples) + 1); }

  /// Two values (re, im) per completed symbol, written to out and kept for
  /// flush; stops when the input ends or out has no room for a symbol;
  /// returns the values written. Makes room in the buffer first, so a
  /// std::bad_alloc leaves every state as it was.
  std::size_t process(std::span<const Cf32> iq, std::span<float> out);

  std::size_t buffered_symbols() const noexcept { return dibits.size() / 2; }

  /// Viterbi-decodes the buffered symbols into out (room for
  /// buffered_symbols() bits, else nothing happens), empties the buffer and
  /// returns the bits written. The scratch is allocated first: a
  /// std::bad_alloc leaves the buffer as it was.
  std::size_t flush(std::span<std::uint8_t> out);

  void reset() noexcept;
};

static_assert(Block<Qpsk31Demod, Cf32, float>);

struct Psk31SyncResult;

/// Carrier search (sync/psk31_sync.hpp): appends the BPSK31 soft bits of a run
/// that starts on waterfall row start_row in bin `bin`, demodulated by a fresh
/// front end (loop gain 0.05, no gain factor) from sample start_row * sps, with
/// the carrier at base_hz + bin * 31.25: min(n_bits, whole symbols left) values.
void record_candidate(std::vector<Psk31SyncResult>& results, std::size_t start_row, std::size_t bin,
                      std::span<const Cf32> samples, std::size_t n_bits, float base_hz, float score, float fs);

}  // namespace tarsk
