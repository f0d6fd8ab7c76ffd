// Python classes of the linear digital modulators: BpskMod, QpskMod, QamMod.
#include "modulate/bpsk.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"
#include "python/binding.hpp"
#include "python/exports.hpp"

namespace tarsk::py {
namespace {

inline constexpr char kProcessDoc[] = "process($self, bits)\n--\n\n";

/// bits -> one complex64 array of the block's output length; a non-contiguous
/// array is refused before the carrier moves.
template <class Mod>
PyObject* modulate(Mod& mod, const ArrayIn<std::uint8_t>& bits) {
  const std::span<const std::uint8_t> in = bits.samples();
  ArrayOut<Cf32> out(mod.output_size(in.size()));
  mod.process(in, out.span());
  return out.release();
}

// ---------------------------------------------------------------- BpskMod

inline constexpr char kBpskDoc[] =
    "BpskMod(fs, rf_hz, gain)\n--\n\n"
    "Combined BPSK mapper + waveform stage.\n"
    "Input: uint8 array of bits (LSB of each byte used).\n"
    "Output: complex64 IQ array (one symbol per input bit).";

constexpr Signature kBpskNew = constructor_signature(kBpskDoc);
inline constexpr char kBpskName[] = "BpskMod";

BpskMod make_bpsk(float fs, float rf_hz, float gain) { return BpskMod::make(fs, rf_hz, gain); }

using BpskMethods = GainProcessMethods<kBpskName, kProcessDoc, &modulate<BpskMod>, BpskMod, &BpskMod::gain>;

// ---------------------------------------------------------------- QpskMod

inline constexpr char kQpskDoc[] =
    "QpskMod(fs, rf_hz, gain)\n--\n\n"
    "Combined QPSK mapper + waveform stage.\n"
    "Input: uint8 array of bits (LSB of each byte); consumed in pairs.\n"
    "Output: complex64 IQ array (one symbol per two input bits).";

constexpr Signature kQpskNew = constructor_signature(kQpskDoc);
inline constexpr char kQpskName[] = "QpskMod";

QpskMod make_qpsk(float fs, float rf_hz, float gain) { return QpskMod::make(fs, rf_hz, gain); }

using QpskMethods = GainProcessMethods<kQpskName, kProcessDoc, &modulate<QpskMod>, QpskMod, &QpskMod::gain>;

// ---------------------------------------------------------------- QamMod

inline constexpr char kQamDoc[] =
    "QamMod(order, fs, rf_hz, gain)\n--\n\n"
    "Combined QAM mapper + waveform stage.\n\n"
    "*order* must be 16, 64, or 256.\n"
    "Input: uint8 array of bits (LSB of each byte); consumed log2(order) bytes per symbol.\n"
    "Output: complex64 IQ array (one symbol per log2(order) input bits).";

constexpr Signature kQamNew = constructor_signature(kQamDoc);
inline constexpr char kQamName[] = "QamMod";

// All four arguments are converted before the order is judged.
QamMod make_qam(std::uint32_t order, float fs, float rf_hz, float gain) {
  std::optional<QamMod> mod = QamMod::make(order, fs, rf_hz, gain);
  if (!mod) raise_value_error("QamMod: order must be 16, 64, or 256");
  return *mod;
}

using QamMethods = GainProcessMethods<kQamName, kProcessDoc, &modulate<QamMod>, QamMod, &QamMod::gain>;

}  // namespace

PyObject* export_bpsk_mod(PyObject*) {
  return class_object<BpskMod>({"builtins.BpskMod", kBpskDoc, &construct<kBpskNew, &make_bpsk>, BpskMethods::table});
}

PyObject* export_qpsk_mod(PyObject*) {
  return class_object<QpskMod>({"builtins.QpskMod", kQpskDoc, &construct<kQpskNew, &make_qpsk>, QpskMethods::table});
}

PyObject* export_qam_mod(PyObject*) {
  return class_object<QamMod>({"builtins.QamMod", kQamDoc, &construct<kQamNew, &make_qam>, QamMethods::table});
}

}  // namespace tarsk::py
