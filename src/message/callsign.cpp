// Callsign packing to the 28-bit call field, its inverse, and callsign hashing.
#include "message/callsign.hpp"

#include <array>

namespace tarsk {

namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_letter(char c) noexcept { return c >= 'A' && c <= 'Z'; }

// Index in the 38-symbol hash alphabet: space, 0-9, A-Z, '/'; anything else counts as a space.
constexpr std::uint64_t hash_index(char32_t c) noexcept {
  if (c >= U'0' && c <= U'9') return 1 + static_cast<std::uint64_t>(c - U'0');
  if (c >= U'A' && c <= U'Z') return 11 + static_cast<std::uint64_t>(c - U'A');
  if (c == U'/') return 37;
  return 0;
}

// Alphabet of each of the six positions of the standard form; -1 when outside it.
int index37(char c) noexcept {
  if (c == ' ') return 0;
  if (is_digit(c)) return 1 + (c - '0');
  if (is_letter(c)) return 11 + (c - 'A');
  return -1;
}
int index36(char c) noexcept {
  if (is_digit(c)) return c - '0';
  if (is_letter(c)) return 10 + (c - 'A');
  return -1;
}
int index10(char c) noexcept { return is_digit(c) ? c - '0' : -1; }
int index27(char c) noexcept {
  if (c == ' ') return 0;
  if (is_letter(c)) return 1 + (c - 'A');
  return -1;
}

constexpr std::string_view kAlphabet37 = " 0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kAlphabet36 = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
constexpr std::string_view kAlphabet27 = " ABCDEFGHIJKLMNOPQRSTUVWXYZ";

bool ends_with_suffix(std::string_view text) noexcept {
  return text.size() >= 2 && (text.ends_with("/R") || text.ends_with("/P"));
}

// "CQ nnn" / "CQ xxxx" for texts of 3 to 7 bytes starting "CQ ".
std::optional<std::uint32_t> pack_directed_cq(std::string_view text) noexcept {
  const std::string_view rest = text.substr(3);
  std::size_t n = 0;
  int digits = 0;
  int letters = 0;
  std::uint32_t m = 0;
  for (; n < rest.size() && rest[n] != ' '; ++n) {
    const char c = rest[n];
    if (is_digit(c)) {
      ++digits;
    } else if (is_letter(c)) {
      ++letters;
      m = m * 27 + static_cast<std::uint32_t>(c - 'A' + 1);
    } else {
      return std::nullopt;
    }
  }
  // Anything after the word would be lost on the air, so such a text is refused.
  for (std::size_t k = n; k < rest.size(); ++k) {
    if (rest[k] != ' ') return std::nullopt;
  }
  if (digits == 3 && letters == 0) {
    const auto k = static_cast<std::uint32_t>((rest[0] - '0') * 100 + (rest[1] - '0') * 10 +
                                              (rest[2] - '0'));
    return kCallCqNumber + k;
  }
  if (digits == 0 && letters >= 1 && letters <= 4) return kCallCqLetters + m;
  return std::nullopt;
}

// The hashed form: 3 to 11 bytes of space, '/', digits and A-Z.
std::optional<std::uint32_t> pack_hashed(std::string_view text, CallsignHashTable& table,
                                         std::uint8_t& ip) {
  if (text.size() < 3 || text.size() > 11) return std::nullopt;
  for (const char c : text) {
    if (!(c == ' ' || c == '/' || is_digit(c) || is_letter(c))) return std::nullopt;
  }
  ip = 0;
  return kCallHashed + table.save(text).h22;
}

}  // namespace

CallsignHashes callsign_hashes(std::string_view text) noexcept {
  // Characters are Unicode code points of the UTF-8 text: only lead bytes start one.
  std::uint64_t n = 0;
  int count = 0;
  for (const char b : text) {
    if (count == 11) break;
    const auto u = static_cast<unsigned char>(b);
    if ((u & 0xC0u) == 0x80u) continue;
    n = n * 38 + hash_index(u < 0x80u ? static_cast<char32_t>(u) : U'\0');
    ++count;
  }
  for (; count < 11; ++count) n *= 38;
  const std::uint64_t p = n * 47055833459ull;  // wraps modulo 2^64 on purpose
  return {static_cast<std::uint32_t>(p >> 42), static_cast<std::uint16_t>(p >> 52)};
}

CallsignHashes CallsignHashTable::save(std::string_view text) {
  const CallsignHashes h = callsign_hashes(text);
  entries.insert_or_assign(h.h22, std::string(text));
  return h;
}

const std::string* CallsignHashTable::lookup(std::uint32_t h22) const {
  const auto it = entries.find(h22);
  return it == entries.end() ? nullptr : &it->second;
}

std::optional<std::uint32_t> pack28(std::string_view text, CallsignHashTable& table,
                                    std::uint8_t& ip) {
  ip = 0;
  if (text == "DE") return kCallDe;
  if (text == "QRZ") return kCallQrz;
  if (text == "CQ") return kCallCq;
  if (text.size() <= 1) return std::nullopt;

  if (text.size() >= 3 && text.size() <= 7 && text.starts_with("CQ ")) {
    if (text.size() == 3) return std::nullopt;
    return pack_directed_cq(text);
  }

  std::string_view base = text;
  if (ends_with_suffix(text)) {
    ip = 1;
    base = text.substr(0, text.size() - 2);
  }
  if (base.size() < 3) return pack_hashed(text, table, ip);

  std::array<char, 6> c6;
  c6.fill(' ');
  const std::size_t len = base.size();
  // A space after 3DA0 would hide the prefix from the receiver's 3D0 rule.
  if (len >= 5 && len <= 7 && base.starts_with("3DA0") && base[4] != ' ') {
    c6[0] = '3';
    c6[1] = 'D';
    c6[2] = '0';
    base.substr(4).copy(c6.data() + 3, 3);
  } else if (base.starts_with("3X") && is_letter(base[2]) && len <= 7) {
    c6[0] = 'Q';
    base.substr(2).copy(c6.data() + 1, 5);
  } else if (is_digit(base[2]) && len <= 6) {
    // The receiver reads a leading Q+letter as 3X and a leading 3D0+x as 3DA0,
    // so such a base only travels intact in the hashed form.
    if ((base[0] == 'Q' && is_letter(base[1])) || (base.starts_with("3D0") && len > 3 &&
                                                   base[3] != ' ')) {
      return pack_hashed(text, table, ip);
    }
    base.copy(c6.data(), 6);
  } else if (is_digit(base[1]) && len <= 5) {
    base.copy(c6.data() + 1, 5);
  } else {
    return pack_hashed(text, table, ip);
  }

  const int x0 = index37(c6[0]);
  const int x1 = index36(c6[1]);
  const int x2 = index10(c6[2]);
  const int x3 = index27(c6[3]);
  const int x4 = index27(c6[4]);
  const int x5 = index27(c6[5]);
  if (x0 < 0 || x1 < 0 || x2 < 0 || x3 < 0 || x4 < 0 || x5 < 0) {
    return pack_hashed(text, table, ip);
  }
  table.save(text);
  const auto n = static_cast<std::uint32_t>(((((x0 * 36 + x1) * 10 + x2) * 27 + x3) * 27 + x4) *
                                                27 + x5);
  return kCallStandard + n;
}

std::optional<std::string> unpack28(std::uint32_t value, std::uint8_t ip, std::uint8_t i3,
                                    const CallsignHashTable& table) {
  if (value == kCallDe) return std::string("DE");
  if (value == kCallQrz) return std::string("QRZ");
  if (value == kCallCq) return std::string("CQ");
  if (value < kCallCqLetters) {
    const std::uint32_t k = value - kCallCqNumber;
    std::string out = "CQ 000";
    out[3] = static_cast<char>('0' + k / 100);
    out[4] = static_cast<char>('0' + (k / 10) % 10);
    out[5] = static_cast<char>('0' + k % 10);
    return out;
  }
  if (value < kCallUnassigned) {
    const std::uint32_t m = value - kCallCqLetters;
    const std::uint32_t idx[4] = {m / 19683, (m / 729) % 27, (m / 27) % 27, m % 27};
    std::string letters;
    for (const std::uint32_t k : idx) letters += kAlphabet27[k];
    const std::size_t first = letters.find_first_not_of(' ');
    if (first == std::string::npos) return std::string("CQ ");
    const std::size_t last = letters.find_last_not_of(' ');
    return "CQ " + letters.substr(first, last - first + 1);
  }
  if (value < kCallHashed) return std::nullopt;
  if (value < kCallStandard) {
    const std::string* known = table.lookup(value - kCallHashed);
    if (known == nullptr) return std::string("<...>");
    return "<" + *known + ">";
  }

  const std::uint32_t n = value - kCallStandard;
  std::string c6;
  c6 += kAlphabet37[n / 7085880 % 37];
  c6 += kAlphabet36[(n / 196830) % 36];
  c6 += static_cast<char>('0' + (n / 19683) % 10);
  c6 += kAlphabet27[(n / 729) % 27];
  c6 += kAlphabet27[(n / 27) % 27];
  c6 += kAlphabet27[n % 27];
  const std::size_t first = c6.find_first_not_of(' ');
  if (first == std::string::npos) return std::nullopt;
  const std::size_t last = c6.find_last_not_of(' ');
  std::string call = c6.substr(first, last - first + 1);

  if (call.size() > 3 && call.starts_with("3D0") && call[3] != ' ') {
    call = "3DA0" + call.substr(3);
  } else if (call.size() >= 2 && call[0] == 'Q' && is_letter(call[1])) {
    call = "3X" + call.substr(1);
  } else if (call.size() < 3) {
    return std::nullopt;
  }
  if (ip != 0) {
    if (i3 == 1) {
      call += "/R";
    } else if (i3 == 2) {
      call += "/P";
    } else {
      return std::nullopt;
    }
  }
  return call;
}

}  // namespace tarsk
