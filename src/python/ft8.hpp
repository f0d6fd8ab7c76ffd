// Python surface of the FT8/FT4 family.
#pragma once

#include <algorithm>
#include <optional>
#include <string>
#include <string_view>

#include "codec/ft4.hpp"
#include "codec/ft8.hpp"
#include "demodulate/ft4.hpp"
#include "demodulate/ft8.hpp"
#include "message/message.hpp"
#include "modulate/ft4.hpp"
#include "modulate/ft8.hpp"
#include "sync/ft4_sync.hpp"
#include "sync/ft8_sync.hpp"
#include "python/binding.hpp"

namespace tarsk::py {

// ---------------------------------------------------------------- message packing

inline PyObject* ft8_payload_bytes(const MessagePayload& p) { return new_bytes(p.data(), p.size()); }

inline PyObject* ft8_pack_standard(const std::string& call_to, const std::string& call_de,
                        const std::string& extra) {
  // Refuse what the field cannot carry rather than send something that reads back otherwise.
  if (!extra_fits_payload(extra)) {
    raise_value_error("ft8_pack_standard: cannot carry extra '" + extra +
                      "' (grid AA00..RR99, report -30..+127, R and a report or grid, "
                      "RRR, RR73, 73 or empty)");
  }
  if (mixes_rover_and_portable(call_to, call_de)) {
    raise_value_error("ft8_pack_standard: cannot carry /R and /P in one message");
  }
  CallsignHashTable table;
  const Ft8Message message{Ft8Message::Standard{call_to, call_de, classify_extra(extra)}};
  const auto payload = pack77(message, table);
  if (!payload) raise_value_error("ft8_pack_standard: failed to pack message (invalid callsign?)");
  return ft8_payload_bytes(*payload);
}

inline PyObject* ft8_pack_free_text(const std::string& text) {
  CallsignHashTable table;
  const auto payload = pack77(Ft8Message{Ft8Message::FreeText{text}}, table);
  if (!payload) {
    raise_value_error(
        "ft8_pack_free_text: failed to pack message (text too long or invalid chars?)");
  }
  return ft8_payload_bytes(*payload);
}

inline PyObject* ft8_pack_telemetry(const Bytes& data) {
  const std::string_view v = data.view();
  if (v.size() != 9) {
    raise_value_error("ft8_pack_telemetry: expected 9 bytes, got " + std::to_string(v.size()));
  }
  // The message has room for 71 of the 72 bits: a set top bit would be lost.
  if ((static_cast<unsigned char>(v[0]) & 0x80u) != 0) {
    raise_value_error("ft8_pack_telemetry: data holds 71 bits, the top bit of byte 0 must be 0");
  }
  Ft8Message::Telemetry telemetry{};
  for (std::size_t k = 0; k < telemetry.data.size(); ++k) {
    telemetry.data[k] = static_cast<std::uint8_t>(v[k]);
  }
  CallsignHashTable table;
  const auto payload = pack77(Ft8Message{telemetry}, table);
  if (!payload) raise_value_error("ft8_pack_telemetry: pack failed");
  return ft8_payload_bytes(*payload);
}

// ---------------------------------------------------------------- message unpacking

inline const char* ft8_nonstd_report_text(std::uint8_t rpt) {
  switch (rpt) {
    case kNonStdRrr: return "RRR";
    case kNonStdRr73: return "RR73";
    case kNonStd73: return "73";
    default: return "";
  }
}

inline PyObject* ft8_message_dict(const Ft8Message& message) {
  PyRef dict(PyDict_New());
  if (!dict) throw PythonError{};
  PyObject* d = dict.get();
  if (const auto* m = std::get_if<Ft8Message::Standard>(&message.value)) {
    set_item(d, "type", new_str("standard"));
    set_item(d, "call_to", new_str(m->call_to));
    set_item(d, "call_de", new_str(m->call_de));
    set_item(d, "extra", new_str(gridfield_to_str(m->extra)));
  } else if (const auto* m = std::get_if<Ft8Message::NonStd>(&message.value)) {
    set_item(d, "type", new_str("nonstd"));
    set_item(d, "call_to", new_str(m->call_to));
    set_item(d, "call_de", new_str(m->call_de));
    set_item(d, "extra", new_str(ft8_nonstd_report_text(m->rpt)));
  } else if (const auto* m = std::get_if<Ft8Message::FreeText>(&message.value)) {
    set_item(d, "type", new_str("free_text"));
    set_item(d, "text", new_str(m->text));
  } else if (const auto* m = std::get_if<Ft8Message::Telemetry>(&message.value)) {
    set_item(d, "type", new_str("telemetry"));
    set_item(d, "data", PyRef(new_bytes(m->data.data(), m->data.size())));
  } else {
    set_item(d, "type", new_str("unknown"));
    const auto& u = std::get<Ft8Message::Unknown>(message.value);
    set_item(d, "payload", PyRef(new_bytes(u.payload.data(), u.payload.size())));
  }
  return dict.release();
}

inline PyObject* ft8_unpack(const Bytes& payload) {
  const std::string_view v = payload.view();
  if (v.size() != 10) {
    raise_value_error("ft8_unpack: expected 10 bytes, got " + std::to_string(v.size()));
  }
  MessagePayload p{};
  for (std::size_t k = 0; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(v[k]);
  const CallsignHashTable table;  // fresh per call: hashed callsigns read "<...>"
  return ft8_message_dict(unpack77(p, table));
}

// ---------------------------------------------------------------- definitions

using Ft8PackStandardFunction = Function<
    "ft8_pack_standard(call_to, call_de, extra)\n--\n\n"
    "Pack a standard FT8 message (two callsigns + extra) \u2192 bytes[10].\n\n"
    "`extra` may be a Maidenhead grid (\"FN31\"), signal report (\"+07\", \"-12\"),\n"
    "R-prefixed report (\"R+05\"), or token (\"RRR\", \"RR73\", \"73\").",
    &ft8_pack_standard>;

using Ft8PackFreeTextFunction = Function<
    "ft8_pack_free_text(text)\n--\n\n"
    "Pack a free-text FT8 message (up to 13 chars, base-42) \u2192 bytes[10].",
    &ft8_pack_free_text>;

using Ft8PackTelemetryFunction = Function<
    "ft8_pack_telemetry(data)\n--\n\n"
    "Pack a telemetry FT8 message (9 bytes of arbitrary data) \u2192 bytes[10].",
    &ft8_pack_telemetry>;

using Ft8UnpackFunction = Function<
    "ft8_unpack(payload)\n--\n\n"
    "Unpack a 10-byte FT8/FT4 payload \u2192 dict.\n\n"
    "Standard:   {\"type\": \"standard\", \"call_to\": str, \"call_de\": str, \"extra\": str}\n"
    "FreeText:   {\"type\": \"free_text\", \"text\": str}\n"
    "Telemetry:  {\"type\": \"telemetry\", \"data\": bytes}\n"
    "Unknown:    {\"type\": \"unknown\", \"payload\": bytes}",
    &ft8_unpack>;

// ---------------------------------------------------------------- codecs and tone modems

/// The codec and modem entry points of one mode, with its messages.
template <class Codec, class Mod, class Demod, std::size_t kTones, std::size_t kFrame>
struct FtSurface {
  static FtPayload payload_of(const Bytes& payload, const char* what) {
    const std::string_view v = payload.view();
    if (v.size() != 10) raise_value_error(std::string(what) + ": expected 10-byte payload, got " + std::to_string(v.size()));
    FtPayload p{};
    for (std::size_t k = 0; k < p.size(); ++k) p[k] = static_cast<std::uint8_t>(v[k]);
    return p;
  }

  static PyObject* payload_or_none(const std::optional<FtPayload>& p) {
    if (!p) return Py_NewRef(Py_None);
    return new_bytes(p->data(), p->size());
  }

  static PyObject* encode(const Bytes& payload, const char* what) {
    const auto tones = Codec::encode(payload_of(payload, what));
    ArrayOut<std::uint8_t> out(tones.size());
    std::copy(tones.begin(), tones.end(), out.span().begin());
    return out.finish(tones.size());
  }

  static PyObject* decode_hard(const ArrayIn<std::uint8_t>& tones, const char* what) {
    if (tones.size() != kTones) {
      raise_value_error(std::string(what) + ": expected " + std::to_string(kTones) + " tones, got " +
                        std::to_string(tones.size()));
    }
    const std::span<const std::uint8_t> t = tones.samples();
    return payload_or_none(Codec::decode_hard(std::span<const std::uint8_t, kTones>(t.data(), kTones)));
  }

  static PyObject* decode_soft(const ArrayIn<float>& llr, const char* what) {
    if (llr.size() != kLdpcN) {
      raise_value_error(std::string(what) + ": expected " + std::to_string(kLdpcN) + " LLRs, got " +
                        std::to_string(llr.size()));
    }
    const std::span<const float> l = llr.samples();
    return payload_or_none(Codec::decode_llr(std::span<const float, kLdpcN>(l.data(), kLdpcN)));
  }

  static PyObject* modulate(const Mod& mod, const ArrayIn<std::uint8_t>& tones, const char* what) {
    if (tones.size() != kTones) {
      raise_value_error(std::string(what) + ": expected " + std::to_string(kTones) + " tone indices, got " +
                        std::to_string(tones.size()));
    }
    const std::span<const std::uint8_t> t = tones.samples();
    ArrayOut<Cf32> out(kFrame);
    const std::span<Cf32, kFrame> y(out.span().data(), kFrame);
    run_kernel(kFrame, [&] { mod.modulate(std::span<const std::uint8_t, kTones>(t.data(), kTones), y); });
    return out.finish(kFrame);
  }

  static PyObject* demodulate(const Demod& demod, const ArrayIn<Cf32>& iq, const char* what) {
    if (iq.size() < kFrame) {
      raise_value_error(std::string(what) + ": input too short (" + std::to_string(iq.size()) + " < " +
                        std::to_string(kFrame) + ")");
    }
    const std::span<const Cf32> x = iq.samples();
    ArrayOut<std::uint8_t> out(kTones);
    const std::span<std::uint8_t, kTones> y(out.span().data(), kTones);
    run_kernel(kFrame, [&] { demod.demodulate(std::span<const Cf32, kFrame>(x.data(), kFrame), y); });
    return out.finish(kTones);
  }
};

using Ft8Surface = FtSurface<Ft8Codec, Ft8Mod, Ft8Demod, kFt8DataTones, kFt8FrameSamples>;
using Ft4Surface = FtSurface<Ft4Codec, Ft4Mod, Ft4Demod, kFt4DataTones, kFt4FrameSamples>;

inline PyObject* ft8_codec_encode(const Bytes& payload) { return Ft8Surface::encode(payload, "Ft8Codec.encode"); }
inline PyObject* ft8_codec_decode_hard(const ArrayIn<std::uint8_t>& tones) {
  return Ft8Surface::decode_hard(tones, "Ft8Codec.decode_hard");
}
inline PyObject* ft8_codec_decode_soft(const ArrayIn<float>& llr) {
  return Ft8Surface::decode_soft(llr, "Ft8Codec.decode_soft");
}
inline PyObject* ft8_mod_modulate(Ft8Mod& mod, const ArrayIn<std::uint8_t>& tones) {
  return Ft8Surface::modulate(mod, tones, "Ft8Mod.modulate");
}
inline PyObject* ft8_demod_demodulate(Ft8Demod& demod, const ArrayIn<Cf32>& iq) {
  return Ft8Surface::demodulate(demod, iq, "Ft8Demod.demodulate");
}

inline PyObject* ft4_codec_encode(const Bytes& payload) { return Ft4Surface::encode(payload, "Ft4Codec.encode"); }
inline PyObject* ft4_codec_decode_hard(const ArrayIn<std::uint8_t>& tones) {
  return Ft4Surface::decode_hard(tones, "Ft4Codec.decode_hard");
}
inline PyObject* ft4_codec_decode_soft(const ArrayIn<float>& llr) {
  return Ft4Surface::decode_soft(llr, "Ft4Codec.decode_soft");
}
inline PyObject* ft4_mod_modulate(Ft4Mod& mod, const ArrayIn<std::uint8_t>& tones) {
  return Ft4Surface::modulate(mod, tones, "Ft4Mod.modulate");
}
inline PyObject* ft4_demod_demodulate(Ft4Demod& demod, const ArrayIn<Cf32>& iq) {
  return Ft4Surface::demodulate(demod, iq, "Ft4Demod.demodulate");
}

using Ft8ModClass = Class<
    "Ft8Mod(fs, base_hz, rf_hz, gain)\n--\n\n", &Ft8Mod::make,
    Method<"modulate($self, tones)\n--\n\n"
           "Modulate 58 tone indices into a 151 680-sample complex64 IQ waveform.",
           &ft8_mod_modulate>>;

using Ft8DemodClass = Class<
    "Ft8Demod(fs, base_hz)\n--\n\n", &Ft8Demod::make,
    Method<"demodulate($self, iq)\n--\n\n"
           "Demodulate a 151 680-sample IQ block into 58 tone indices (uint8).",
           &ft8_demod_demodulate>>;

using Ft8CodecClass = Class<
    "Ft8Codec()\n--\n\n", &make_default<Ft8Codec>,
    Static<"encode(payload)\n--\n\n"
           "Encode a 10-byte payload into 58 Gray-coded tone indices (uint8).",
           &ft8_codec_encode>,
    Static<"decode_hard(tones)\n--\n\n"
           "Hard-decision decode 58 tone indices \u2192 bytes[10] or None.",
           &ft8_codec_decode_hard>,
    Static<"decode_soft(llr)\n--\n\n"
           "Soft-decision decode float32[174] LLRs \u2192 bytes[10] or None.",
           &ft8_codec_decode_soft>>;

using Ft4ModClass = Class<
    "Ft4Mod(fs, base_hz, rf_hz, gain)\n--\n\n", &Ft4Mod::make,
    Method<"modulate($self, tones)\n--\n\n"
           "Modulate 87 tone indices into a 60 480-sample complex64 IQ waveform.",
           &ft4_mod_modulate>>;

using Ft4DemodClass = Class<
    "Ft4Demod(fs, base_hz)\n--\n\n", &Ft4Demod::make,
    Method<"demodulate($self, iq)\n--\n\n"
           "Demodulate a 60 480-sample IQ block into 87 tone indices (uint8).",
           &ft4_demod_demodulate>>;

using Ft4CodecClass = Class<
    "Ft4Codec()\n--\n\n", &make_default<Ft4Codec>,
    Static<"encode(payload)\n--\n\n"
           "Encode a 10-byte payload into 87 Gray-coded tone indices (uint8).",
           &ft4_codec_encode>,
    Static<"decode_hard(tones)\n--\n\n"
           "Hard-decision decode 87 tone indices \u2192 bytes[10] or None.",
           &ft4_codec_decode_hard>,
    Static<"decode_soft(llr)\n--\n\n"
           "Soft-decision decode float32[174] LLRs \u2192 bytes[10] or None.",
           &ft4_codec_decode_soft>>;

// ---------------------------------------------------------------- Costas synchronisation

/// One search, name being the Python function's name for the messages.
inline PyObject* ft_sync_call(const char* name, const FtMode& mode, const ArrayIn<Cf32>& iq, float fs,
                              float base_hz, float max_hz, std::int32_t t_min, std::int32_t t_max,
                              std::uint64_t max_cand) {
  const std::span<const Cf32> samples = iq.samples();
  const FtSyncPlan plan = ft_sync_plan(mode, samples.size(), base_hz, max_hz, t_min, t_max,
                                       static_cast<std::size_t>(max_cand));
  const std::string fn = name;
  const std::string shape = std::to_string(plan.rows) + " rows x " + std::to_string(plan.bins) + " bins";
  if (plan.error == FtSyncPlan::Error::kTimeRange) {
    raise_value_error(fn + ": t_max - t_min = " +
                      std::to_string(static_cast<std::int64_t>(t_max) - t_min) +
                      " is out of range (symbol counts must fit 32 bits)");
  }
  if (plan.error == FtSyncPlan::Error::kTooLarge) {
    raise(PyExc_MemoryError, (fn + (plan.bins == 0 ? std::string(": max_hz - base_hz is too wide for a waterfall")
                                                  : ": a waterfall of " + shape + " is too large"))
                                 .c_str());
  }
  std::vector<FtSyncResult> found;
  try {
    found = run_kernel(std::max(samples.size(), plan.rows * plan.bins),
                       [&] { return ft_sync(mode, plan, samples, fs, base_hz); });
  } catch (const std::bad_alloc&) {
    raise(PyExc_MemoryError, (fn + ": out of memory for a waterfall of " + shape + " and " +
                              std::to_string(plan.keep) + " candidates")
                                 .c_str());
  }
  PyRef list(PyList_New(static_cast<Py_ssize_t>(found.size())));
  if (!list) throw PythonError{};
  for (std::size_t i = 0; i < found.size(); ++i) {
    const FtSyncResult& r = found[i];
    PyRef dict(PyDict_New());
    if (!dict) throw PythonError{};
    PyRef time_sym(PyLong_FromLong(r.time_sym));
    if (!time_sym) throw PythonError{};
    set_item(dict.get(), "time_sym", std::move(time_sym));
    PyRef freq_bin(PyLong_FromSize_t(r.freq_bin));
    if (!freq_bin) throw PythonError{};
    set_item(dict.get(), "freq_bin", std::move(freq_bin));
    PyRef score(PyFloat_FromDouble(static_cast<double>(r.score)));
    if (!score) throw PythonError{};
    set_item(dict.get(), "score", std::move(score));
    ArrayOut<float> llr(r.llr.size());
    std::copy(r.llr.begin(), r.llr.end(), llr.span().begin());
    set_item(dict.get(), "llr", PyRef(llr.finish(r.llr.size())));
    PyList_SetItem(list.get(), static_cast<Py_ssize_t>(i), dict.release());  // steals
  }
  return list.release();
}

inline PyObject* ft8_sync(const ArrayIn<Cf32>& iq, float fs, float base_hz, float max_hz, std::int32_t t_min,
                          std::int32_t t_max, std::uint64_t max_cand) {
  return ft_sync_call("ft8_sync", kFt8Mode, iq, fs, base_hz, max_hz, t_min, t_max, max_cand);
}

inline PyObject* ft4_sync(const ArrayIn<Cf32>& iq, float fs, float base_hz, float max_hz, std::int32_t t_min,
                          std::int32_t t_max, std::uint64_t max_cand) {
  return ft_sync_call("ft4_sync", kFt4Mode, iq, fs, base_hz, max_hz, t_min, t_max, max_cand);
}

using Ft8SyncFunction = Function<
    "ft8_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand)\n--\n\n"
    "Synchronise an FT8 IQ buffer and return up to `max_cand` candidates.\n\n"
    "Returns a list of dicts:\n"
    "  {\"time_sym\": int, \"freq_bin\": int, \"score\": float, \"llr\": float32[174]}",
    &ft8_sync>;

using Ft4SyncFunction = Function<
    "ft4_sync(iq, fs, base_hz, max_hz, t_min, t_max, max_cand)\n--\n\n"
    "Synchronise an FT4 IQ buffer and return up to `max_cand` candidates.\n\n"
    "Returns a list of dicts:\n"
    "  {\"time_sym\": int, \"freq_bin\": int, \"score\": float, \"llr\": float32[174]}",
    &ft4_sync>;

}  // namespace tarsk::py
