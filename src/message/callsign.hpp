// Callsigns and call tokens <-> the 28-bit call field of a 77-bit FT8/FT4
// message, and the per-call table that maps callsign hashes back to text.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <unordered_map>

namespace tarsk {

/// Ranges of the 28-bit call value.
inline constexpr std::uint32_t kCallDe = 0;
inline constexpr std::uint32_t kCallQrz = 1;
inline constexpr std::uint32_t kCallCq = 2;
inline constexpr std::uint32_t kCallCqNumber = 3;          // 3 .. 1002: "CQ 000" .. "CQ 999"
inline constexpr std::uint32_t kCallCqLetters = 1003;      // 1003 .. 532443: "CQ A" .. "CQ ZZZZ"
inline constexpr std::uint32_t kCallUnassigned = 532444;   // 532444 .. 2063591: nothing
inline constexpr std::uint32_t kCallHashed = 2063592;      // + 22-bit hash
inline constexpr std::uint32_t kCallStandard = 6257896;    // + six-character number
inline constexpr std::uint32_t kCallMax = (1u << 28) - 1;

struct CallsignHashes {
  std::uint32_t h22;  ///< top 22 bits of the scrambled product
  std::uint16_t h12;  ///< top 12 bits of the same product
};

/// Hash -> callsign text, learned while packing; lives for one message call.
struct CallsignHashTable {
  std::unordered_map<std::uint32_t, std::string> entries;

  /// Hashes `text` and remembers it under its 22-bit hash (replacing any earlier text).
  CallsignHashes save(std::string_view text);
  const std::string* lookup(std::uint32_t h22) const;
};

/// The hashes of `text` without touching any table.
CallsignHashes callsign_hashes(std::string_view text) noexcept;

/// Text -> call value; `ip` becomes 1 when a standard callsign carried "/R" or "/P".
std::optional<std::uint32_t> pack28(std::string_view text, CallsignHashTable& table,
                                    std::uint8_t& ip);

/// Call value -> text; nothing when the value cannot be shown.
std::optional<std::string> unpack28(std::uint32_t value, std::uint8_t ip, std::uint8_t i3,
                                    const CallsignHashTable& table);

}  // namespace tarsk
