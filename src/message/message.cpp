// 77-bit message packing and unpacking.
#include "message/message.hpp"

#include <string_view>

namespace tarsk {

namespace {

constexpr std::string_view kFreeTextAlphabet = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ+-./?";
constexpr std::string_view kCallAlphabet = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ/";
constexpr std::size_t kFreeTextChars = 13;
constexpr std::size_t kNonStdChars = 11;

// The 71-bit free-text number in three 32-bit limbs, least significant first: plain
// integer arithmetic that every target compiler has.
struct FreeTextNumber {
  std::uint64_t limb[3] = {0, 0, 0};

  void mul_add(std::uint32_t m, std::uint32_t a) noexcept {
    std::uint64_t carry = a;
    for (std::uint64_t& l : limb) {
      const std::uint64_t t = l * m + carry;
      l = t & 0xFFFFFFFFu;
      carry = t >> 32;
    }
  }
  std::uint32_t divmod(std::uint32_t d) noexcept {
    std::uint64_t rem = 0;
    for (int k = 2; k >= 0; --k) {
      const std::uint64_t t = (rem << 32) | limb[k];
      limb[k] = t / d;
      rem = t % d;
    }
    return static_cast<std::uint32_t>(rem);
  }
  bool bit(int i) const noexcept { return ((limb[i / 32] >> (i % 32)) & 1u) != 0; }
  void set_bit(int i) noexcept { limb[i / 32] |= std::uint64_t{1} << (i % 32); }
};

// Message bit k is bit 7 - k % 8 of byte k / 8; fields go most significant bit first.
struct BitWriter {
  MessagePayload bytes{};
  std::size_t pos = 0;

  void put(std::uint64_t value, int bits) noexcept {
    for (int i = bits - 1; i >= 0; --i, ++pos) {
      if ((value >> i) & 1u) bytes[pos / 8] |= static_cast<std::uint8_t>(0x80u >> (pos % 8));
    }
  }
  void put_wide(const FreeTextNumber& value, int bits) noexcept {
    for (int i = bits - 1; i >= 0; --i, ++pos) {
      if (value.bit(i)) bytes[pos / 8] |= static_cast<std::uint8_t>(0x80u >> (pos % 8));
    }
  }
};

std::uint64_t get_bits(const MessagePayload& p, std::size_t pos, int bits) noexcept {
  std::uint64_t v = 0;
  for (int i = 0; i < bits; ++i, ++pos) v = (v << 1) | ((p[pos / 8] >> (7 - pos % 8)) & 1u);
  return v;
}

FreeTextNumber get_wide(const MessagePayload& p, std::size_t pos, int bits) noexcept {
  FreeTextNumber v;
  for (int i = bits - 1; i >= 0; --i, ++pos) {
    if ((p[pos / 8] >> (7 - pos % 8)) & 1u) v.set_bit(i);
  }
  return v;
}

bool ends_with_suffix(std::string_view text) noexcept {
  return text.size() >= 2 && (text.ends_with("/R") || text.ends_with("/P"));
}

std::optional<MessagePayload> pack_standard(const Ft8Message::Standard& m,
                                            CallsignHashTable& table) {
  if (mixes_rover_and_portable(m.call_to, m.call_de)) return std::nullopt;
  std::uint8_t ip_to = 0;
  std::uint8_t ip_de = 0;
  const auto n_to = pack28(m.call_to, table, ip_to);
  if (!n_to) return std::nullopt;
  const auto n_de = pack28(m.call_de, table, ip_de);
  if (!n_de) return std::nullopt;
  const std::string_view to = m.call_to;
  const std::string_view de = m.call_de;
  const std::uint8_t i3 =
      ((to.size() >= 2 && to.ends_with("/P")) || (de.size() >= 2 && de.ends_with("/P"))) ? 2 : 1;
  if (ends_with_suffix(to)) ip_to = 1;
  const std::uint16_t g16 = pack_gridfield(m.extra);

  BitWriter w;
  w.put(*n_to, 28);
  w.put(ip_to, 1);
  w.put(*n_de, 28);
  w.put(ip_de, 1);
  w.put(g16 >> 15, 1);
  w.put(g16 & 0x7FFFu, 15);
  w.put(i3, 3);
  return w.bytes;
}

std::optional<MessagePayload> pack_free_text(const Ft8Message::FreeText& m) {
  if (m.text.size() > kFreeTextChars) return std::nullopt;
  FreeTextNumber value;
  for (std::size_t i = 0; i < kFreeTextChars; ++i) {
    const char c = i < m.text.size() ? m.text[i] : ' ';
    const std::size_t k = kFreeTextAlphabet.find(c);
    if (k == std::string_view::npos) return std::nullopt;
    value.mul_add(42, static_cast<std::uint32_t>(k));
  }
  BitWriter w;
  w.put_wide(value, 71);
  w.put(0, 3);
  w.put(0, 3);
  return w.bytes;
}

MessagePayload pack_telemetry(const Ft8Message::Telemetry& m) {
  BitWriter w;
  w.put(m.data[0] & 0x7Fu, 7);  // 72 bits of data, 71 bits of room: the top bit goes
  for (std::size_t k = 1; k < m.data.size(); ++k) w.put(m.data[k], 8);
  w.put(5, 3);
  w.put(0, 3);
  return w.bytes;
}

std::optional<MessagePayload> pack_nonstd(const Ft8Message::NonStd& m, CallsignHashTable& table) {
  const std::string_view to = m.call_to;
  std::uint32_t h12 = 0;
  std::uint8_t cq = 0;
  std::uint8_t code = 0;
  if (to == "CQ" || (to.size() >= 3 && to.starts_with("CQ "))) {
    cq = 1;
  } else {
    if (m.rpt > kNonStdNone) return std::nullopt;
    h12 = table.save(to).h12;
    static constexpr std::uint8_t kCode[4] = {1, 2, 3, 0};
    code = kCode[m.rpt];
  }
  std::string_view de = m.call_de;
  if (de.size() >= 2 && de.starts_with('<') && de.ends_with('>')) {
    de = de.substr(1, de.size() - 2);
  }
  std::uint64_t n58 = 0;
  for (const char c : de) {
    const std::size_t k = kCallAlphabet.find(c);
    if (k == std::string_view::npos) return std::nullopt;
    n58 = n58 * 38 + k;  // longer texts keep only their low 58 bits
  }
  n58 &= (std::uint64_t{1} << 58) - 1;
  table.save(de);

  BitWriter w;
  w.put(h12, 12);
  w.put(n58, 58);
  w.put(0, 1);
  w.put(code, 2);
  w.put(cq, 1);
  w.put(4, 3);
  return w.bytes;
}

std::string unpack_call(std::uint32_t value, std::uint8_t ip, std::uint8_t i3,
                        const CallsignHashTable& table) {
  auto text = unpack28(value, ip, i3, table);
  return text ? std::move(*text) : std::string("<?>");
}

std::string trim_spaces(std::string_view s) {
  const std::size_t first = s.find_first_not_of(' ');
  if (first == std::string_view::npos) return {};
  const std::size_t last = s.find_last_not_of(' ');
  return std::string(s.substr(first, last - first + 1));
}

Ft8Message unpack_standard(const MessagePayload& p, std::uint8_t i3,
                           const CallsignHashTable& table) {
  const auto n_to = static_cast<std::uint32_t>(get_bits(p, 0, 28));
  const auto ip_to = static_cast<std::uint8_t>(get_bits(p, 28, 1));
  const auto n_de = static_cast<std::uint32_t>(get_bits(p, 29, 28));
  const auto ip_de = static_cast<std::uint8_t>(get_bits(p, 57, 1));
  const auto ir = static_cast<std::uint8_t>(get_bits(p, 58, 1));
  const auto g15 = static_cast<std::uint16_t>(get_bits(p, 59, 15));
  return {Ft8Message::Standard{unpack_call(n_to, ip_to, i3, table),
                               unpack_call(n_de, ip_de, i3, table),
                               decode_gridfield(g15, ir)}};
}

Ft8Message unpack_nonstd(const MessagePayload& p) {
  std::uint64_t n58 = get_bits(p, 12, 58);
  std::string chars(kNonStdChars, ' ');
  for (std::size_t i = kNonStdChars; i-- > 0;) {
    chars[i] = kCallAlphabet[n58 % 38];
    n58 /= 38;
  }
  std::string call = trim_spaces(chars);
  const bool flip = get_bits(p, 70, 1) != 0;
  const bool cq = get_bits(p, 73, 1) != 0;
  Ft8Message::NonStd m;
  m.call_to = flip ? call : std::string("<...>");
  m.call_de = flip ? std::string("<...>") : call;
  if (cq) {
    m.call_to = "CQ";
    m.rpt = kNonStdNone;
  } else {
    static constexpr std::uint8_t kRpt[4] = {kNonStdNone, kNonStdRrr, kNonStdRr73, kNonStd73};
    m.rpt = kRpt[get_bits(p, 71, 2)];
  }
  return {std::move(m)};
}

Ft8Message unpack_free_text(const MessagePayload& p) {
  FreeTextNumber value = get_wide(p, 0, 71);
  std::string text(kFreeTextChars, ' ');
  for (std::size_t i = kFreeTextChars; i-- > 0;) text[i] = kFreeTextAlphabet[value.divmod(42)];
  // Senders may right-justify the text in its 13 places: padding on either side is not text.
  return {Ft8Message::FreeText{trim_spaces(text)}};
}

Ft8Message unpack_telemetry(const MessagePayload& p) {
  Ft8Message::Telemetry m;
  m.data[0] = static_cast<std::uint8_t>(p[0] >> 1);
  for (std::size_t k = 1; k < m.data.size(); ++k) {
    m.data[k] = static_cast<std::uint8_t>(((p[k - 1] << 7) | (p[k] >> 1)) & 0xFF);
  }
  return {m};
}

}  // namespace

bool mixes_rover_and_portable(std::string_view call_to, std::string_view call_de) noexcept {
  return (call_to.ends_with("/R") && call_de.ends_with("/P")) ||
         (call_to.ends_with("/P") && call_de.ends_with("/R"));
}

std::optional<MessagePayload> pack77(const Ft8Message& message, CallsignHashTable& table) {
  struct Visitor {
    CallsignHashTable& table;
    std::optional<MessagePayload> operator()(const Ft8Message::Standard& m) const {
      return pack_standard(m, table);
    }
    std::optional<MessagePayload> operator()(const Ft8Message::FreeText& m) const {
      return pack_free_text(m);
    }
    std::optional<MessagePayload> operator()(const Ft8Message::NonStd& m) const {
      return pack_nonstd(m, table);
    }
    std::optional<MessagePayload> operator()(const Ft8Message::Telemetry& m) const {
      return pack_telemetry(m);
    }
    std::optional<MessagePayload> operator()(const Ft8Message::Unknown& m) const {
      return m.payload;
    }
  };
  return std::visit(Visitor{table}, message.value);
}

Ft8Message unpack77(const MessagePayload& payload, const CallsignHashTable& table) {
  const auto i3 = static_cast<std::uint8_t>(get_bits(payload, 74, 3));
  if (i3 == 1 || i3 == 2) return unpack_standard(payload, i3, table);
  if (i3 == 4) return unpack_nonstd(payload);
  if (i3 == 0) {
    const auto subtype = get_bits(payload, 71, 3);
    if (subtype == 0) return unpack_free_text(payload);
    if (subtype == 5) return unpack_telemetry(payload);
  }
  return {Ft8Message::Unknown{payload}};
}

}  // namespace tarsk
