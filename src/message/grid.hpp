// The third item of a standard FT8/FT4 message: locator, report, token or
// nothing, its 16-bit packed form (R flag + 15-bit field) and its text form.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <variant>

namespace tarsk {

/// Values of the 15-bit field.
inline constexpr std::uint16_t kGridLocatorMax = 32400;  // 32400 itself reads as AA00
inline constexpr std::uint16_t kGridBlank = 32401;
inline constexpr std::uint16_t kGridRrr = 32402;
inline constexpr std::uint16_t kGridRr73 = 32403;
inline constexpr std::uint16_t kGrid73 = 32404;
inline constexpr std::uint16_t kGridReportZero = 32435;  // report r packs to this + r
inline constexpr std::uint16_t kGridRFlag = 0x8000;

struct GridField {
  struct Grid {
    std::string text;
  };
  struct Report {
    std::int8_t db;
  };
  struct RogerReport {
    std::int8_t db;
  };
  struct RRR {};
  struct RR73 {};
  struct SeventyThree {};
  struct Blank {};

  std::variant<Grid, Report, RogerReport, RRR, RR73, SeventyThree, Blank> value;
};

/// The caller's `extra` text as a field (case-sensitive, no trimming).
GridField classify_extra(std::string_view text);

/// True when `text` packs into a field that reads back with the same meaning:
/// "", "RRR", "RR73", "73", a locator AA00..RR99, a report -30..+127 (signed or
/// unsigned), or R followed by such a report or by one space and a locator.
bool extra_fits_payload(std::string_view text) noexcept;

/// Text -> R flag (bit 15) and 15-bit field; never fails.
std::uint16_t packgrid(std::string_view text) noexcept;

/// Field -> R flag and 15-bit field, through its text form.
std::uint16_t pack_gridfield(const GridField& field);

/// 15-bit field and R flag -> field.
GridField decode_gridfield(std::uint16_t g15, std::uint8_t ir);

std::string gridfield_to_str(const GridField& field);

}  // namespace tarsk
