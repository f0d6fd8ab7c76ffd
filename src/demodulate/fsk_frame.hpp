// Per-symbol tone decisions over an aligned multi-tone FSK frame, the
// detector of the FT8 and FT4 demodulators.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cf32.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

/// Most symbols a frame may have.
inline constexpr std::size_t kFskMaxSymbols = 128;

/// For each of n_symbols symbols of symbol_samples samples (iq must hold all of them),
/// correlates with the tones base_hz + offsets_hz[t] (t = 0..7, resp. 0..3) and
/// writes the tone of largest power: the lowest among equal powers, 0 if all are NaN.
TARSK_DISPATCH(void, fsk_decide_8,
               (const Cf32* iq, std::size_t n_symbols, std::size_t symbol_samples, const float* offsets_hz,
                float base_hz, float fs, std::uint8_t* decisions),
               (iq, n_symbols, symbol_samples, offsets_hz, base_hz, fs, decisions))
TARSK_DISPATCH(void, fsk_decide_4,
               (const Cf32* iq, std::size_t n_symbols, std::size_t symbol_samples, const float* offsets_hz,
                float base_hz, float fs, std::uint8_t* decisions),
               (iq, n_symbols, symbol_samples, offsets_hz, base_hz, fs, decisions))

}  // namespace tarsk
