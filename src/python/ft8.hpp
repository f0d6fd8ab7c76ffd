// Python surface of the FT8/FT4 family.
#pragma once

#include <string>
#include <string_view>

#include "message/message.hpp"
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
