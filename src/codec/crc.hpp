// CRC-14 of FT8/FT4 over the 77 message bits, as carried in codeword bits 77..90.
#pragma once

#include <array>
#include <cstdint>

namespace tarsk {

/// 10-byte payload: 77 message bits, most significant bit of byte 0 first, last 3 bits zero.
using FtPayload = std::array<std::uint8_t, 10>;
/// 91 message-and-CRC bits in 12 bytes, most significant bit first; bits 91..95 zero.
using FtBlock91 = std::array<std::uint8_t, 12>;

inline constexpr std::uint16_t kCrc14Poly = 0x2757;

/// CRC of a91 bits 0..76 followed by 5 zero bits (82 bits, most significant first,
/// initial value 0, no final inversion). Bits 77..95 of a91 must be zero.
std::uint16_t crc14(const FtBlock91& a91) noexcept;

/// a91 from a payload: the 77 message bits, then their CRC in bits 77..90.
FtBlock91 crc14_block(const FtPayload& payload) noexcept;

}  // namespace tarsk
