// Python classes of the PSK31 family.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <utility>
#include <vector>

#include "codec/varicode.hpp"
#include "demodulate/psk31.hpp"
#include "modulate/psk31.hpp"
#include "sync/psk31_sync.hpp"
#include "python/binding.hpp"

namespace tarsk::py {

inline PyObject* varicode_drain_bits(VaricodeEncoder& e) {
  ArrayOut<std::uint8_t> out(e.pending());
  e.drain_into(out.span());  // fills exactly pending() bits
  return out.finish_exact(out.size());
}

inline void varicode_push_bits(VaricodeDecoder& d, const ArrayIn<std::uint8_t>& bits) {
  const std::span<const std::uint8_t> in = bits.samples();
  run_kernel(in.size(), [&] { d.push_bits(in); });
}

inline PyObject* varicode_pop_bytes(VaricodeDecoder& d) {
  const auto bytes = d.decoded();
  PyObject* out =
      PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()), static_cast<Py_ssize_t>(bytes.size()));
  if (out) d.clear_decoded();
  return out;
}

using VaricodeEncoderClass = Class<
    "VaricodeEncoder()\n--\n\n",
    &make_default<VaricodeEncoder>,
    Method<"push_preamble($self, n)\n--\n\n", &VaricodeEncoder::push_preamble>,
    Method<"push_byte($self, b)\n--\n\n", &VaricodeEncoder::push_byte>,
    Method<"push_postamble($self, n)\n--\n\n", &VaricodeEncoder::push_postamble>,
    Method<"drain_bits($self)\n--\n\nDrain all pending bits into a uint8 numpy array.", &varicode_drain_bits>,
    Method<"is_empty($self)\n--\n\n", &VaricodeEncoder::is_empty>>;

using VaricodeDecoderClass = Class<
    "VaricodeDecoder()\n--\n\n",
    &make_default<VaricodeDecoder>,
    Method<"push_bits($self, bits)\n--\n\nFeed a uint8 numpy array of bits (0/1) into the decoder.",
           &varicode_push_bits>,
    Method<"pop_bytes($self)\n--\n\nDrain all decoded bytes as a Python `bytes` object.", &varicode_pop_bytes>>;

// ---------------------------------------------------------------- BPSK31 and QPSK31

inline std::span<const std::uint8_t> byte_span(const Bytes& b) noexcept {
  const std::string_view v = b.view();
  return {reinterpret_cast<const std::uint8_t*>(v.data()), v.size()};
}

/// Fills all of out: its size was checked against the bits by the caller.
template <class Mod>
PyObject* psk31_modulate(Mod& mod, std::span<const std::uint8_t> bits, ArrayOut<Cf32>& out) {
  run_kernel(out.size(), [&] { mod.modulate(bits, out.span()); });
  return out.finish(out.size());
}

/// Samples of modulate_text's stream, or nothing when its bits or samples would not fit.
template <class Mod>
std::optional<std::size_t> psk31_text_samples(const Mod& mod, std::span<const std::uint8_t> text,
                                              std::uint64_t preamble_bits, std::uint64_t postamble_bits) {
  const std::optional<std::size_t> bits = psk31_text_bit_count(text, preamble_bits, postamble_bits);
  if (!bits || *bits > static_cast<std::size_t>(PTRDIFF_MAX)) return std::nullopt;
  return mod.output_size(*bits);
}

inline PyObject* bpsk31_modulate_bits(Bpsk31Mod& mod, const ArrayIn<std::uint8_t>& bits) {
  const std::span<const std::uint8_t> in = bits.samples();
  const std::optional<std::size_t> n = mod.output_size(in.size());
  if (!n) raise(PyExc_MemoryError, "Bpsk31Mod.modulate_bits: too many samples for one array");
  ArrayOut<Cf32> out(*n);
  return psk31_modulate(mod, in, out);
}

inline PyObject* bpsk31_modulate_text(Bpsk31Mod& mod, const Bytes& text, std::uint64_t preamble_bits,
                                      std::uint64_t postamble_bits) {
  const std::span<const std::uint8_t> t = byte_span(text);
  const std::optional<std::size_t> n = psk31_text_samples(mod, t, preamble_bits, postamble_bits);
  if (!n) raise(PyExc_MemoryError, "Bpsk31Mod.modulate_text: too many samples for one array");
  ArrayOut<Cf32> out(*n);  // the larger buffer first: a hopeless size fails before the bits are built
  std::vector<std::uint8_t> bits;
  try {
    bits = psk31_text_bits(t, preamble_bits, postamble_bits);
  } catch (const std::bad_alloc&) {
    raise(PyExc_MemoryError, "Bpsk31Mod.modulate_text: too many bits to hold");
  }
  return psk31_modulate(mod, bits, out);
}

inline PyObject* qpsk31_modulate_bits(Qpsk31Mod& mod, const ArrayIn<std::uint8_t>& bits) {
  const std::span<const std::uint8_t> in = bits.samples();
  const std::optional<std::size_t> n = mod.output_size(in.size());
  if (!n) raise(PyExc_MemoryError, "Qpsk31Mod.modulate_bits: too many samples for one array");
  ArrayOut<Cf32> out(*n);
  return psk31_modulate(mod, in, out);
}

inline PyObject* qpsk31_modulate_text(Qpsk31Mod& mod, const Bytes& text, std::uint64_t preamble_bits,
                                      std::uint64_t postamble_bits) {
  const std::span<const std::uint8_t> t = byte_span(text);
  const std::optional<std::size_t> n = psk31_text_samples(mod, t, preamble_bits, postamble_bits);
  if (!n) raise(PyExc_MemoryError, "Qpsk31Mod.modulate_text: too many samples for one array");
  ArrayOut<Cf32> out(*n);  // the larger buffer first: a hopeless size fails before the bits are built
  std::vector<std::uint8_t> bits;
  try {
    bits = psk31_text_bits(t, preamble_bits, postamble_bits);
  } catch (const std::bad_alloc&) {
    raise(PyExc_MemoryError, "Qpsk31Mod.modulate_text: too many bits to hold");
  }
  return psk31_modulate(mod, bits, out);
}

// A symbol of no samples cannot be integrated: such an fs is refused at once.
inline Bpsk31Demod make_bpsk31_demod(float fs, float rf_hz, float gain) {
  std::optional<Bpsk31Demod> d = Bpsk31Demod::make(fs, rf_hz, gain);
  if (!d) raise_value_error("Bpsk31Demod: fs must be at least 15.625 Hz (one sample per symbol)");
  return std::move(*d);
}

inline Qpsk31Demod make_qpsk31_demod(float fs, float rf_hz, float gain) {
  std::optional<Qpsk31Demod> d = Qpsk31Demod::make(fs, rf_hz, gain);
  if (!d) raise_value_error("Qpsk31Demod: fs must be at least 15.625 Hz (one sample per symbol)");
  return std::move(*d);
}

using Bpsk31ModClass = Class<
    "Bpsk31Mod(fs, rf_hz, gain)\n--\n\n",
    &Bpsk31Mod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &Bpsk31Mod::gain>,
    Method<"reset($self)\n--\n\n", &Bpsk31Mod::reset>,
    Method<"modulate_text($self, text, preamble_bits=..., postamble_bits=...)\n--\n\n"
           "Modulate text bytes into a complex64 IQ waveform.",
           &bpsk31_modulate_text, std::uint64_t{32}, std::uint64_t{32}>,
    Method<"modulate_bits($self, bits)\n--\n\nModulate raw differential bits into a complex64 IQ waveform.",
           &bpsk31_modulate_bits>>;

using Qpsk31ModClass = Class<
    "Qpsk31Mod(fs, rf_hz, gain)\n--\n\n",
    &Qpsk31Mod::make,
    SetFloat<"set_gain($self, g)\n--\n\n", &Qpsk31Mod::gain>,
    Method<"reset($self)\n--\n\n", &Qpsk31Mod::reset>,
    Method<"modulate_text($self, text, preamble_bits=..., postamble_bits=...)\n--\n\n", &qpsk31_modulate_text,
           std::uint64_t{32}, std::uint64_t{32}>,
    Method<"modulate_bits($self, bits)\n--\n\n", &qpsk31_modulate_bits>>;

using Bpsk31DemodClass = Class<
    "Bpsk31Demod(fs, rf_hz, gain)\n--\n\n",
    &make_bpsk31_demod,
    SetFloat<"set_gain($self, g)\n--\n\n", &Bpsk31Demod::gain>,
    Method<"reset($self)\n--\n\n", &Bpsk31Demod::reset>,
    Process<"process($self, iq)\n--\n\nProcess a complex64 IQ array and return float32 soft bits.",
            &Bpsk31Demod::process>>;

using Qpsk31DemodClass = Class<
    "Qpsk31Demod(fs, rf_hz, gain)\n--\n\n",
    &make_qpsk31_demod,
    SetFloat<"set_gain($self, g)\n--\n\n", &Qpsk31Demod::gain>,
    Method<"reset($self)\n--\n\n", &Qpsk31Demod::reset>,
    Process<"process($self, iq)\n--\n\nProcess IQ samples and buffer the resulting soft dibits.\n"
            "Returns the soft dibit float32 array (interleaved Re/Im pairs).",
            &Qpsk31Demod::process>,
    Flush<"flush($self)\n--\n\nRun Viterbi on accumulated soft dibits and return decoded bits.",
          &Qpsk31Demod::buffered_symbols, &Qpsk31Demod::flush>>;

// ---------------------------------------------------------------- carrier search

inline PyObject* psk31_sync_call(const ArrayIn<Cf32>& iq, float fs, float base_hz, float max_hz,
                                 std::uint64_t min_carrier_syms, float peak_margin_db, std::uint64_t n_bits,
                                 std::uint64_t max_cand) {
  const std::span<const Cf32> samples = iq.samples();
  const Psk31SyncPlan plan = psk31_sync_plan(samples.size(), fs, base_hz, max_hz);
  const std::string shape = std::to_string(plan.rows) + " rows x " + std::to_string(plan.bins) + " bins";
  if (plan.too_large) {
    raise(PyExc_MemoryError, plan.bins == 0 ? "psk31_sync: max_hz - base_hz is too wide for a waterfall"
                                            : ("psk31_sync: a waterfall of " + shape + " is too large").c_str());
  }
  std::vector<Psk31SyncResult> found;
  const auto min_syms = static_cast<std::uint32_t>(std::min<std::uint64_t>(min_carrier_syms, UINT32_MAX));
  try {
    found = run_kernel(std::max(samples.size(), plan.rows * plan.bins), [&] {
      return psk31_sync(plan, samples, fs, base_hz, min_syms, peak_margin_db, static_cast<std::size_t>(n_bits),
                        static_cast<std::size_t>(max_cand));
    });
  } catch (const std::bad_alloc&) {
    raise(PyExc_MemoryError, ("psk31_sync: out of memory searching a waterfall of " + shape).c_str());
  }
  PyRef list(PyList_New(static_cast<Py_ssize_t>(found.size())));
  if (!list) throw PythonError{};
  for (std::size_t i = 0; i < found.size(); ++i) {
    const Psk31SyncResult& r = found[i];
    PyRef dict(PyDict_New());
    if (!dict) throw PythonError{};
    PyRef time_sym(PyLong_FromSize_t(r.time_sym));
    if (!time_sym) throw PythonError{};
    set_item(dict.get(), "time_sym", std::move(time_sym));
    PyRef freq_bin(PyLong_FromSize_t(r.freq_bin));
    if (!freq_bin) throw PythonError{};
    set_item(dict.get(), "freq_bin", std::move(freq_bin));
    PyRef carrier(PyFloat_FromDouble(static_cast<double>(r.carrier_hz)));
    if (!carrier) throw PythonError{};
    set_item(dict.get(), "carrier_hz", std::move(carrier));
    PyRef score(PyFloat_FromDouble(static_cast<double>(r.score)));
    if (!score) throw PythonError{};
    set_item(dict.get(), "score", std::move(score));
    ArrayOut<float> soft(r.soft_bits.size());
    std::copy(r.soft_bits.begin(), r.soft_bits.end(), soft.span().begin());
    set_item(dict.get(), "soft_bits", PyRef(soft.finish(r.soft_bits.size())));
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), dict.release());  // steals
  }
  return list.release();
}

using Psk31SyncFunction = Function<
    "psk31_sync(iq, fs, base_hz, max_hz, min_carrier_syms=8, peak_margin_db=6.0, n_bits=1024, max_cand=10)\n--\n\n"
    "Scan for PSK31 carriers in an IQ buffer.\n\n"
    "Returns a list of dicts:\n"
    "  {\"time_sym\": int, \"freq_bin\": int, \"carrier_hz\": float, \"score\": float, \"soft_bits\": float32[N]}",
    &psk31_sync_call>;

}  // namespace tarsk::py
