// Locator / report / token field of a standard message.
#include "message/grid.hpp"

#include <cstdio>
#include <optional>

namespace tarsk {

namespace {

constexpr bool is_digit(char c) noexcept { return c >= '0' && c <= '9'; }
constexpr bool is_locator_letter(char c) noexcept { return c >= 'A' && c <= 'R'; }

bool is_locator(std::string_view t) noexcept {
  return t.size() == 4 && is_locator_letter(t[0]) && is_locator_letter(t[1]) && is_digit(t[2]) &&
         is_digit(t[3]);
}

std::uint16_t locator_number(std::string_view t) noexcept {
  return static_cast<std::uint16_t>((t[0] - 'A') * 1800 + (t[1] - 'A') * 100 + (t[2] - '0') * 10 +
                                    (t[3] - '0'));
}

// Optional sign, then one or more digits and nothing else; the value is clamped
// far outside any range a caller checks, so long digit runs cannot overflow.
std::optional<int> parse_decimal(std::string_view t) noexcept {
  std::size_t p = 0;
  bool negative = false;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) {
    negative = t[p] == '-';
    ++p;
  }
  if (p == t.size()) return std::nullopt;
  int v = 0;
  for (; p < t.size(); ++p) {
    if (!is_digit(t[p])) return std::nullopt;
    v = v * 10 + (t[p] - '0');
    if (v > 100000) v = 100000;
  }
  return negative ? -v : v;
}

std::optional<std::int8_t> parse_int8(std::string_view t) noexcept {
  const std::optional<int> v = parse_decimal(t);
  if (!v || *v < -128 || *v > 127) return std::nullopt;
  return static_cast<std::int8_t>(*v);
}

// Digits from p on, accumulated modulo 256 after an optional sign, read as a signed byte.
int wrapped_report(std::string_view t, std::size_t p) noexcept {
  bool negative = false;
  if (p < t.size() && (t[p] == '+' || t[p] == '-')) {
    negative = t[p] == '-';
    ++p;
  }
  std::uint8_t v = 0;
  for (; p < t.size() && is_digit(t[p]); ++p) {
    v = static_cast<std::uint8_t>(v * 10 + (t[p] - '0'));
  }
  if (negative) v = static_cast<std::uint8_t>(-v);
  return static_cast<std::int8_t>(v);
}

std::string report_text(std::int8_t db) {
  char buf[8];
  std::snprintf(buf, sizeof buf, "%+03d", static_cast<int>(db));
  return buf;
}

}  // namespace

GridField classify_extra(std::string_view text) {
  if (text.empty()) return {GridField::Blank{}};
  if (text == "73") return {GridField::SeventyThree{}};
  if (text == "RRR") return {GridField::RRR{}};
  if (text == "RR73") return {GridField::RR73{}};
  if (text[0] == 'R' && text.size() >= 2) {
    if (const auto r = parse_int8(text.substr(1))) return {GridField::RogerReport{*r}};
    return {GridField::Grid{std::string(text)}};
  }
  if (text[0] == '+' || text[0] == '-') {
    if (const auto r = parse_int8(text)) return {GridField::Report{*r}};
  }
  return {GridField::Grid{std::string(text)}};
}

bool extra_fits_payload(std::string_view text) noexcept {
  if (text.empty() || text == "RRR" || text == "RR73" || text == "73") return true;
  if (is_locator(text)) return true;
  if (text.starts_with("R ")) return is_locator(text.substr(2));
  const std::optional<int> r = parse_decimal(text.starts_with('R') ? text.substr(1) : text);
  // Below -30 the field runs into the tokens and locators; above +127 the byte wraps.
  return r && *r >= -30 && *r <= 127;
}

std::uint16_t packgrid(std::string_view text) noexcept {
  const std::size_t n = text.size();
  if (n == 0) return kGridBlank;
  if (n == 2 && text == "73") return kGrid73;
  if (n == 3 && text == "RRR") return kGridRrr;
  if (n == 4 && text == "RR73") return kGridRr73;
  if (n == 4 && is_locator(text)) return locator_number(text);
  // The receiver shows a locator with the R flag as "R " + locator: accept that form back.
  if (n == 6 && text.starts_with("R ") && is_locator(text.substr(2))) {
    return static_cast<std::uint16_t>(locator_number(text.substr(2)) | kGridRFlag);
  }
  if (text[0] == 'R' && n != 1) {
    return static_cast<std::uint16_t>((kGridReportZero + wrapped_report(text, 1)) | kGridRFlag);
  }
  return static_cast<std::uint16_t>(kGridReportZero + wrapped_report(text, 0));
}

std::uint16_t pack_gridfield(const GridField& field) {
  struct Visitor {
    std::uint16_t operator()(const GridField::Grid& g) const { return packgrid(g.text); }
    std::uint16_t operator()(const GridField::Report& r) const {
      return packgrid(report_text(r.db));
    }
    std::uint16_t operator()(const GridField::RogerReport& r) const {
      return packgrid("R" + report_text(r.db));
    }
    std::uint16_t operator()(const GridField::RRR&) const { return packgrid("RRR"); }
    std::uint16_t operator()(const GridField::RR73&) const { return packgrid("RR73"); }
    std::uint16_t operator()(const GridField::SeventyThree&) const { return packgrid("73"); }
    std::uint16_t operator()(const GridField::Blank&) const { return kGridBlank; }
  };
  return std::visit(Visitor{}, field.value);
}

GridField decode_gridfield(std::uint16_t g15, std::uint8_t ir) {
  g15 &= 0x7FFFu;
  if (g15 <= kGridLocatorMax) {
    std::string loc(4, ' ');
    loc[0] = static_cast<char>('A' + (g15 / 1800) % 18);
    loc[1] = static_cast<char>('A' + (g15 / 100) % 18);
    loc[2] = static_cast<char>('0' + (g15 / 10) % 10);
    loc[3] = static_cast<char>('0' + g15 % 10);
    return {GridField::Grid{ir != 0 ? "R " + loc : loc}};
  }
  switch (g15) {
    case kGridBlank: return {GridField::Blank{}};
    case kGridRrr: return {GridField::RRR{}};
    case kGridRr73: return {GridField::RR73{}};
    case kGrid73: return {GridField::SeventyThree{}};
    default: break;
  }
  // Reports travel as one byte: the field is read back modulo 256.
  const auto r = static_cast<std::int8_t>(static_cast<std::uint8_t>(g15 - kGridReportZero));
  if (ir != 0) return {GridField::RogerReport{r}};
  return {GridField::Report{r}};
}

std::string gridfield_to_str(const GridField& field) {
  struct Visitor {
    std::string operator()(const GridField::Grid& g) const { return g.text; }
    std::string operator()(const GridField::Report& r) const { return report_text(r.db); }
    std::string operator()(const GridField::RogerReport& r) const {
      return "R" + report_text(r.db);
    }
    std::string operator()(const GridField::RRR&) const { return "RRR"; }
    std::string operator()(const GridField::RR73&) const { return "RR73"; }
    std::string operator()(const GridField::SeventyThree&) const { return "73"; }
    std::string operator()(const GridField::Blank&) const { return ""; }
  };
  return std::visit(Visitor{}, field.value);
}

}  // namespace tarsk
