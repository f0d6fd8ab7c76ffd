// Python classes of the linear digital modulators: BpskMod, QpskMod, QamMod.
#include "modulate/bpsk.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"
#include "python/binding.hpp"
#include "python/exports.hpp"

namespace tarsk::py {
namespace {

inline constexpr char kProcessDoc[] = "process($self, bits)\n--\n\n";
inline constexpr char kSetGainDoc[] = "set_gain($self, g)\n--\n\n";

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
constexpr Signature kBpskProcess = method_signature("BpskMod", kProcessDoc);
constexpr Signature kBpskSetGain = method_signature("BpskMod", kSetGainDoc);

BpskMod make_bpsk(float fs, float rf_hz, float gain) { return BpskMod::make(fs, rf_hz, gain); }

PyMethodDef kBpskMethods[] = {
    {"set_gain", as_cfunction(&method<kBpskSetGain, &set_float<BpskMod, &BpskMod::gain>>), kFastKeywords,
     kSetGainDoc},
    {"process", as_cfunction(&method<kBpskProcess, &modulate<BpskMod>>), kFastKeywords, kProcessDoc},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- QpskMod

inline constexpr char kQpskDoc[] =
    "QpskMod(fs, rf_hz, gain)\n--\n\n"
    "Combined QPSK mapper + waveform stage.\n"
    "Input: uint8 array of bits (LSB of each byte); consumed in pairs.\n"
    "Output: complex64 IQ array (one symbol per two input bits).";

constexpr Signature kQpskNew = constructor_signature(kQpskDoc);
constexpr Signature kQpskProcess = method_signature("QpskMod", kProcessDoc);
constexpr Signature kQpskSetGain = method_signature("QpskMod", kSetGainDoc);

QpskMod make_qpsk(float fs, float rf_hz, float gain) { return QpskMod::make(fs, rf_hz, gain); }

PyMethodDef kQpskMethods[] = {
    {"set_gain", as_cfunction(&method<kQpskSetGain, &set_float<QpskMod, &QpskMod::gain>>), kFastKeywords,
     kSetGainDoc},
    {"process", as_cfunction(&method<kQpskProcess, &modulate<QpskMod>>), kFastKeywords, kProcessDoc},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- QamMod

inline constexpr char kQamDoc[] =
    "QamMod(order, fs, rf_hz, gain)\n--\n\n"
    "Combined QAM mapper + waveform stage.\n\n"
    "*order* must be 16, 64, or 256.\n"
    "Input: uint8 array of bits (LSB of each byte); consumed log2(order) bytes per symbol.\n"
    "Output: complex64 IQ array (one symbol per log2(order) input bits).";

constexpr Signature kQamNew = constructor_signature(kQamDoc);
constexpr Signature kQamProcess = method_signature("QamMod", kProcessDoc);
constexpr Signature kQamSetGain = method_signature("QamMod", kSetGainDoc);

// All four arguments are converted before the order is judged.
QamMod make_qam(std::uint32_t order, float fs, float rf_hz, float gain) {
  std::optional<QamMod> mod = QamMod::make(order, fs, rf_hz, gain);
  if (!mod) raise_value_error("QamMod: order must be 16, 64, or 256");
  return *mod;
}

PyMethodDef kQamMethods[] = {
    {"set_gain", as_cfunction(&method<kQamSetGain, &set_float<QamMod, &QamMod::gain>>), kFastKeywords,
     kSetGainDoc},
    {"process", as_cfunction(&method<kQamProcess, &modulate<QamMod>>), kFastKeywords, kProcessDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* export_bpsk_mod(PyObject*) {
  return class_object<BpskMod>({"builtins.BpskMod", kBpskDoc, &construct<kBpskNew, &make_bpsk>, kBpskMethods});
}

PyObject* export_qpsk_mod(PyObject*) {
  return class_object<QpskMod>({"builtins.QpskMod", kQpskDoc, &construct<kQpskNew, &make_qpsk>, kQpskMethods});
}

PyObject* export_qam_mod(PyObject*) {
  return class_object<QamMod>({"builtins.QamMod", kQamDoc, &construct<kQamNew, &make_qam>, kQamMethods});
}

}  // namespace tarsk::py
