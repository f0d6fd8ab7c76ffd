// A whole FT8/FT4 message and its 10-byte payload: 77 message bits, most
// significant bit of byte 0 first, the last three bits zero.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <variant>

#include "message/callsign.hpp"
#include "message/grid.hpp"

namespace tarsk {

using MessagePayload = std::array<std::uint8_t, 10>;

/// Report codes of a non-standard-call message.
inline constexpr std::uint8_t kNonStdRrr = 0;
inline constexpr std::uint8_t kNonStdRr73 = 1;
inline constexpr std::uint8_t kNonStd73 = 2;
inline constexpr std::uint8_t kNonStdNone = 3;

struct Ft8Message {
  /// i3 = 1, or 2 when a callsign ends in "/P"; "/R" and "/P" together do not pack.
  struct Standard {
    std::string call_to;
    std::string call_de;
    GridField extra;
  };
  /// i3 = 0, subtype 0: up to 13 characters of the 42-symbol alphabet.
  struct FreeText {
    std::string text;
  };
  /// i3 = 4: one hashed side (or CQ) and one full callsign of up to 11 characters.
  struct NonStd {
    std::string call_to;
    std::string call_de;
    std::uint8_t rpt;  ///< kNonStdRrr, kNonStdRr73, kNonStd73 or kNonStdNone
  };
  /// i3 = 0, subtype 5: the low 71 bits of 9 bytes.
  struct Telemetry {
    std::array<std::uint8_t, 9> data;
  };
  /// Any other type, kept as received.
  struct Unknown {
    MessagePayload payload;
  };

  std::variant<Standard, FreeText, NonStd, Telemetry, Unknown> value;
};

/// True when one call ends in "/R" and the other in "/P": a standard message has one
/// suffix kind for both calls, so one of them would read back changed.
bool mixes_rover_and_portable(std::string_view call_to, std::string_view call_de) noexcept;

/// Message -> payload; callsigns packed on the way are saved in `table`.
std::optional<MessagePayload> pack77(const Ft8Message& message, CallsignHashTable& table);

/// Payload -> message; every payload reads as one of the alternatives.
/// Call fields that cannot be shown read "<?>", hashed ones look up `table`.
Ft8Message unpack77(const MessagePayload& payload, const CallsignHashTable& table);

}  // namespace tarsk
