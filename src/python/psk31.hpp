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

}  // namespace tarsk::py
