// Python classes of the demodulators: linear (BpskDemod, QpskDemod, QamDemod)
// and analog (CwEnvelopeDemod, AmEnvelopeDemod, SsbProductDemod,
// FmQuadratureDemod, PmQuadratureDemod).
#pragma once

#include "demodulate/am.hpp"
#include "demodulate/bpsk.hpp"
#include "demodulate/cw_envelope.hpp"
#include "demodulate/fm_pm.hpp"
#include "demodulate/qam.hpp"
#include "demodulate/qpsk.hpp"
#include "demodulate/ssb.hpp"
#include "python/binding.hpp"

namespace tarsk::py {

// Both arguments are converted before the order is judged.
inline QamDemod make_qam_demod(std::uint32_t order, float gain) {
  std::optional<QamDemod> demod = QamDemod::make(order, gain);
  if (!demod) raise_value_error("QamDemod: order must be 16, 64, or 256");
  return *demod;
}

using BpskDemodClass = Class<
    "BpskDemod(gain)\n--\n\n"
    "Combined BPSK soft-demod + hard decider.\n"
    "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
    "Output: uint8 array of bits (0 or 1), one per input symbol.",
    &BpskDemod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &BpskDemod::gain>,
    Process<"process($self, iq)\n--\n\n", &BpskDemod::process>>;

using QpskDemodClass = Class<
    "QpskDemod(gain)\n--\n\n"
    "Combined QPSK soft-demod + hard decider.\n"
    "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
    "Output: uint8 array of bits (0 or 1); two bits per input symbol,\n"
    "        interleaved as [b0_I, b0_Q, b1_I, b1_Q, \u2026].",
    &QpskDemod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &QpskDemod::gain>,
    Process<"process($self, iq)\n--\n\n", &QpskDemod::process>>;

using QamDemodClass = Class<
    "QamDemod(order, gain)\n--\n\n"
    "Combined QAM soft-demod + hard decider.\n\n"
    "*order* must be 16, 64, or 256.\n"
    "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
    "Output: uint8 array of bits (0 or 1); log2(order) bits per input symbol.",
    &make_qam_demod,
    SetFloat<"set_gain($self, g)\n--\n\n", &QamDemod::gain>,
    Process<"process($self, iq)\n--\n\n", &QamDemod::process>>;

using CwEnvelopeDemodClass = Class<
    "CwEnvelopeDemod(sample_rate, tone_hz, env_bw_hz)\n--\n\n",
    &CwEnvelopeDemod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &CwEnvelopeDemod::gain>,
    Process<"process($self, iq)\n--\n\n", &CwEnvelopeDemod::process>>;

using AmEnvelopeDemodClass = Class<
    "AmEnvelopeDemod(fs, audio_bw_hz, abs_approx=False)\n--\n\n",
    &AmEnvelopeDemod::make,
    Process<"process($self, iq)\n--\n\n", &AmEnvelopeDemod::process>>;

using SsbProductDemodClass = Class<
    "SsbProductDemod(fs, bfo_hz, audio_bw_hz)\n--\n\n",
    &SsbProductDemod::make,
    Process<"process($self, iq)\n--\n\n", &SsbProductDemod::process>>;

using FmQuadratureDemodClass = Class<
    "FmQuadratureDemod(fs, dev_hz, audio_bw_hz)\n--\n\n",
    &FmQuadratureDemod::make,
    Process<"process($self, iq)\n--\n\n", &FmQuadratureDemod::process>>;

using PmQuadratureDemodClass = Class<
    "PmQuadratureDemod(fs, k, audio_bw_hz)\n--\n\n",
    &PmQuadratureDemod::make,
    Process<"process($self, iq)\n--\n\n", &PmQuadratureDemod::process>>;

}  // namespace tarsk::py
