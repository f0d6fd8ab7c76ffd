// Python classes of the modulators: linear (BpskMod, QpskMod, QamMod) and
// analog (AmDsbMod, CwKeyedMod, SsbPhasingMod, FmPhaseAccumMod, PmDirectPhaseMod).
#pragma once

#include "modulate/am.hpp"
#include "modulate/bpsk.hpp"
#include "modulate/cw.hpp"
#include "modulate/fm_pm.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"
#include "modulate/ssb.hpp"
#include "python/binding.hpp"

namespace tarsk::py {

// All four arguments are converted before the order is judged.
inline QamMod make_qam_mod(std::uint32_t order, float fs, float rf_hz, float gain) {
  std::optional<QamMod> mod = QamMod::make(order, fs, rf_hz, gain);
  if (!mod) raise_value_error("QamMod: order must be 16, 64, or 256");
  return *mod;
}

using BpskModClass = Class<
    "BpskMod(fs, rf_hz, gain)\n--\n\n"
    "Combined BPSK mapper + waveform stage.\n"
    "Input: uint8 array of bits (LSB of each byte used).\n"
    "Output: complex64 IQ array (one symbol per input bit).",
    &BpskMod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &BpskMod::gain>,
    Process<"process($self, bits)\n--\n\n", &BpskMod::process>>;

using QpskModClass = Class<
    "QpskMod(fs, rf_hz, gain)\n--\n\n"
    "Combined QPSK mapper + waveform stage.\n"
    "Input: uint8 array of bits (LSB of each byte); consumed in pairs.\n"
    "Output: complex64 IQ array (one symbol per two input bits).",
    &QpskMod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &QpskMod::gain>,
    Process<"process($self, bits)\n--\n\n", &QpskMod::process>>;

using QamModClass = Class<
    "QamMod(order, fs, rf_hz, gain)\n--\n\n"
    "Combined QAM mapper + waveform stage.\n\n"
    "*order* must be 16, 64, or 256.\n"
    "Input: uint8 array of bits (LSB of each byte); consumed log2(order) bytes per symbol.\n"
    "Output: complex64 IQ array (one symbol per log2(order) input bits).",
    &make_qam_mod,
    SetFloat<"set_gain($self, g)\n--\n\n", &QamMod::gain>,
    Process<"process($self, bits)\n--\n\n", &QamMod::process>>;

using AmDsbModClass = Class<
    "AmDsbMod(fs, rf_hz, carrier_level, modulation_index)\n--\n\n",
    &AmDsbMod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &AmDsbMod::gain>,
    SetFlag<"set_clamp($self, on)\n--\n\n", &AmDsbMod::clamp>,
    Process<"process($self, audio)\n--\n\n", &AmDsbMod::process>>;

using CwKeyedModClass = Class<
    "CwKeyedMod(sample_rate, tone_hz, rise_ms, fall_ms)\n--\n\n",
    &CwKeyedMod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &CwKeyedMod::gain>,
    Process<"process($self, audio)\n--\n\nInput: keying envelope 0..1 as float32 array.", &CwKeyedMod::process>>;

using FmPhaseAccumModClass = Class<
    "FmPhaseAccumMod(sample_rate, deviation_hz, rf_hz)\n--\n\n",
    &FmPhaseAccumMod::make,
    SetFloat<"set_deviation($self, hz)\n--\n\n", &FmPhaseAccumMod::deviation_hz>,
    SetFloat<"set_gain($self, g)\n--\n\n", &FmPhaseAccumMod::gain>,
    Process<"process($self, audio)\n--\n\n", &FmPhaseAccumMod::process>>;

using PmDirectPhaseModClass = Class<
    "PmDirectPhaseMod(sample_rate, kp_rad_per_unit, rf_hz)\n--\n\n",
    &PmDirectPhaseMod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &PmDirectPhaseMod::gain>,
    SetFloat<"set_sensitivity($self, kp)\n--\n\n", &PmDirectPhaseMod::kp>,
    Process<"process($self, audio)\n--\n\n", &PmDirectPhaseMod::process>>;

using SsbPhasingModClass = Class<
    "SsbPhasingMod(fs, audio_bw_hz, audio_if_hz, rf_hz, usb)\n--\n\n",
    &SsbPhasingMod::make,
    Process<"process($self, audio)\n--\n\n", &SsbPhasingMod::process>>;

}  // namespace tarsk::py
