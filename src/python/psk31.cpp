// Python classes of the PSK31 family.
#include <algorithm>

#include "codec/varicode.hpp"
#include "python/binding.hpp"
#include "python/exports.hpp"

namespace tarsk::py {
namespace {

// ---------------------------------------------------------------- VaricodeEncoder

inline constexpr char kEncoderDoc[] = "VaricodeEncoder()\n--\n\n";
inline constexpr char kPushByteDoc[] = "push_byte($self, b)\n--\n\n";
inline constexpr char kPushPreambleDoc[] = "push_preamble($self, n)\n--\n\n";
inline constexpr char kPushPostambleDoc[] = "push_postamble($self, n)\n--\n\n";
inline constexpr char kDrainBitsDoc[] = "drain_bits($self)\n--\n\nDrain all pending bits into a uint8 numpy array.";
inline constexpr char kIsEmptyDoc[] = "is_empty($self)\n--\n\n";

constexpr Signature kEncoderNew = constructor_signature(kEncoderDoc);
constexpr Signature kPushByte = method_signature("VaricodeEncoder", kPushByteDoc);
constexpr Signature kPushPreamble = method_signature("VaricodeEncoder", kPushPreambleDoc);
constexpr Signature kPushPostamble = method_signature("VaricodeEncoder", kPushPostambleDoc);

VaricodeEncoder make_encoder() { return {}; }

PyObject* push_byte(VaricodeEncoder& e, std::uint8_t b) {
  e.push_byte(b);
  Py_RETURN_NONE;
}

PyObject* push_preamble(VaricodeEncoder& e, std::uint64_t n) {
  e.push_preamble(n);
  Py_RETURN_NONE;
}

PyObject* push_postamble(VaricodeEncoder& e, std::uint64_t n) {
  e.push_postamble(n);
  Py_RETURN_NONE;
}

PyObject* drain_bits(VaricodeEncoder& e) {
  ArrayOut<std::uint8_t> out(e.pending());
  e.drain_into(out.span());
  return out.release();
}

PyObject* is_empty(VaricodeEncoder& e) { return PyBool_FromLong(e.is_empty()); }

PyMethodDef kEncoderMethods[] = {
    {"push_preamble", as_cfunction(&method<kPushPreamble, &push_preamble>), kFastKeywords, kPushPreambleDoc},
    {"push_byte", as_cfunction(&method<kPushByte, &push_byte>), kFastKeywords, kPushByteDoc},
    {"push_postamble", as_cfunction(&method<kPushPostamble, &push_postamble>), kFastKeywords, kPushPostambleDoc},
    {"drain_bits", as_cfunction(&noargs<&drain_bits>), METH_NOARGS, kDrainBitsDoc},
    {"is_empty", as_cfunction(&noargs<&is_empty>), METH_NOARGS, kIsEmptyDoc},
    {nullptr, nullptr, 0, nullptr},
};

// ---------------------------------------------------------------- VaricodeDecoder

inline constexpr char kDecoderDoc[] = "VaricodeDecoder()\n--\n\n";
inline constexpr char kPushBitsDoc[] =
    "push_bits($self, bits)\n--\n\nFeed a uint8 numpy array of bits (0/1) into the decoder.";
inline constexpr char kPopBytesDoc[] =
    "pop_bytes($self)\n--\n\nDrain all decoded bytes as a Python `bytes` object.";

constexpr Signature kDecoderNew = constructor_signature(kDecoderDoc);
constexpr Signature kPushBits = method_signature("VaricodeDecoder", kPushBitsDoc);

VaricodeDecoder make_decoder() { return {}; }

PyObject* push_bits(VaricodeDecoder& d, const ArrayIn<std::uint8_t>& bits) {
  d.push_bits(bits.samples());
  Py_RETURN_NONE;
}

PyObject* pop_bytes(VaricodeDecoder& d) {
  const auto bytes = d.decoded();
  PyObject* out = PyBytes_FromStringAndSize(reinterpret_cast<const char*>(bytes.data()),
                                            static_cast<Py_ssize_t>(bytes.size()));
  if (out) d.clear_decoded();
  return out;
}

PyMethodDef kDecoderMethods[] = {
    {"push_bits", as_cfunction(&method<kPushBits, &push_bits>), kFastKeywords, kPushBitsDoc},
    {"pop_bytes", as_cfunction(&noargs<&pop_bytes>), METH_NOARGS, kPopBytesDoc},
    {nullptr, nullptr, 0, nullptr},
};

}  // namespace

PyObject* export_varicode_encoder(PyObject*) {
  return class_object<VaricodeEncoder>(
      {"builtins.VaricodeEncoder", kEncoderDoc, &construct<kEncoderNew, &make_encoder>, kEncoderMethods});
}

PyObject* export_varicode_decoder(PyObject*) {
  return class_object<VaricodeDecoder>(
      {"builtins.VaricodeDecoder", kDecoderDoc, &construct<kDecoderNew, &make_decoder>, kDecoderMethods});
}

}  // namespace tarsk::py
