// Python classes of the linear digital modulators: BpskMod, QpskMod, QamMod.
#pragma once

#include "modulate/bpsk.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"
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

}  // namespace tarsk::py
