// Phase-continuous multi-tone FSK frame, the waveform of the FT8 and FT4
// modulators: one tone per symbol, the phase running on across symbols.
#pragma once

#include <cstddef>
#include <cstdint>

#include "core/cf32.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

/// Writes n_symbols * symbol_samples samples of gain * exp(j phase), the frequency of
/// symbol s being symbols[s] * spacing_hz + base_hz; then, unless rf_hz is 0, shifts
/// the whole frame up by rf_hz. Both phasors start at (1, 0) and are advanced before
/// their first use, so the frame does not depend on anything but its arguments.
TARSK_DISPATCH(void, fsk_frame_modulate,
               (const std::uint8_t* symbols, std::size_t n_symbols, std::size_t symbol_samples, float spacing_hz,
                float base_hz, float rf_hz, float fs, float gain, Cf32* out),
               (symbols, n_symbols, symbol_samples, spacing_hz, base_hz, rf_hz, fs, gain, out))

}  // namespace tarsk
