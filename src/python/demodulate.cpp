// Python classes of the linear digital demodulators: BpskDemod, QpskDemod, QamDemod.
#include "demodulate/bpsk.hpp"
#include "demodulate/qam.hpp"
#include "demodulate/qpsk.hpp"
#include "python/binding.hpp"
#include "python/exports.hpp"

namespace tarsk::py {
namespace {

inline constexpr char kProcessDoc[] = "process($self, iq)\n--\n\n";

template <class Demod>
PyObject* demodulate(Demod& demod, const ArrayIn<Cf32>& iq) {
  const std::span<const Cf32> in = iq.samples();
  ArrayOut<std::uint8_t> out(demod.output_size(in.size()));
  demod.process(in, out.span());
  return out.release();
}

// ---------------------------------------------------------------- BpskDemod

inline constexpr char kBpskDoc[] =
    "BpskDemod(gain)\n--\n\n"
    "Combined BPSK soft-demod + hard decider.\n"
    "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
    "Output: uint8 array of bits (0 or 1), one per input symbol.";

constexpr Signature kBpskNew = constructor_signature(kBpskDoc);
inline constexpr char kBpskName[] = "BpskDemod";

BpskDemod make_bpsk(float gain) { return BpskDemod::make(gain); }

using BpskMethods = GainProcessMethods<kBpskName, kProcessDoc, &demodulate<BpskDemod>, BpskDemod, &BpskDemod::gain>;

// ---------------------------------------------------------------- QpskDemod

inline constexpr char kQpskDoc[] =
    "QpskDemod(gain)\n--\n\n"
    "Combined QPSK soft-demod + hard decider.\n"
    "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
    "Output: uint8 array of bits (0 or 1); two bits per input symbol,\n"
    "        interleaved as [b0_I, b0_Q, b1_I, b1_Q, \u2026].";

constexpr Signature kQpskNew = constructor_signature(kQpskDoc);
inline constexpr char kQpskName[] = "QpskDemod";

QpskDemod make_qpsk(float gain) { return QpskDemod::make(gain); }

using QpskMethods = GainProcessMethods<kQpskName, kProcessDoc, &demodulate<QpskDemod>, QpskDemod, &QpskDemod::gain>;

// ---------------------------------------------------------------- QamDemod

inline constexpr char kQamDoc[] =
    "QamDemod(order, gain)\n--\n\n"
    "Combined QAM soft-demod + hard decider.\n\n"
    "*order* must be 16, 64, or 256.\n"
    "Input: complex64 IQ array (carrier-removed baseband, 1 sample per symbol).\n"
    "Output: uint8 array of bits (0 or 1); log2(order) bits per input symbol.";

constexpr Signature kQamNew = constructor_signature(kQamDoc);
inline constexpr char kQamName[] = "QamDemod";

// Both arguments are converted before the order is judged.
QamDemod make_qam(std::uint32_t order, float gain) {
  std::optional<QamDemod> demod = QamDemod::make(order, gain);
  if (!demod) raise_value_error("QamDemod: order must be 16, 64, or 256");
  return *demod;
}

using QamMethods = GainProcessMethods<kQamName, kProcessDoc, &demodulate<QamDemod>, QamDemod, &QamDemod::gain>;

}  // namespace

PyObject* export_bpsk_demod(PyObject*) {
  return class_object<BpskDemod>(
      {"builtins.BpskDemod", kBpskDoc, &construct<kBpskNew, &make_bpsk>, BpskMethods::table});
}

PyObject* export_qpsk_demod(PyObject*) {
  return class_object<QpskDemod>(
      {"builtins.QpskDemod", kQpskDoc, &construct<kQpskNew, &make_qpsk>, QpskMethods::table});
}

PyObject* export_qam_demod(PyObject*) {
  return class_object<QamDemod>({"builtins.QamDemod", kQamDoc, &construct<kQamNew, &make_qam>, QamMethods::table});
}

}  // namespace tarsk::py
