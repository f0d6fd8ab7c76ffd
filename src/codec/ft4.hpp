// FT4 codec: the FT8 codeword with the message bits scrambled first, mapped
// to 87 Gray-coded 4-FSK tones.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "codec/ft8.hpp"

namespace tarsk {

/// 2 codeword bits (first most significant) -> FT4 tone; the map is its own inverse.
inline constexpr std::array<std::uint8_t, 4> kFt4GrayMap = {0, 1, 3, 2};
inline constexpr std::array<std::uint8_t, 4> kFt4GrayInverse = {0, 1, 3, 2};

/// XORed onto the payload before encoding and after decoding; covers the 77 message bits.
inline constexpr FtPayload kFt4Scramble = {0x4A, 0x5E, 0x89, 0xB4, 0xB0, 0x8A, 0x79, 0x55, 0xBE, 0x28};

inline constexpr std::size_t kFt4DataTones = 87;

struct Ft4Codec {
  static std::array<std::uint8_t, kFt4DataTones> encode(const FtPayload& payload) noexcept;
  static std::optional<FtPayload> decode_llr(std::span<const float, kLdpcN> llr) noexcept;
  /// Tone values are masked to their low 2 bits.
  static std::optional<FtPayload> decode_hard(std::span<const std::uint8_t, kFt4DataTones> tones) noexcept;
};

static_assert((kFt4Scramble[9] & 0x07u) == 0, "bits 77..79 are not scrambled");
static_assert(kFt4DataTones * 2 == kLdpcN && kFt8DataTones * 3 == kLdpcN);

}  // namespace tarsk
