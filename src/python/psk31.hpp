// Python classes of the PSK31 family.
#pragma once

#include "codec/varicode.hpp"
#include "python/binding.hpp"

namespace tarsk::py {

inline PyObject* varicode_drain_bits(VaricodeEncoder& e) {
  ArrayOut<std::uint8_t> out(e.pending());
  e.drain_into(out.span());  // fills exactly pending() bits
  return out.finish(out.size());
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

}  // namespace tarsk::py
