// CRC-14 of FT8/FT4.
#include "codec/crc.hpp"

namespace tarsk {

std::uint16_t crc14(const FtBlock91& a91) noexcept {
  std::uint32_t c = 0;
  for (unsigned s = 0; s < 82; ++s) {
    if (s % 8 == 0) c ^= static_cast<std::uint32_t>(a91[s / 8]) << 6;
    c = (c & 0x2000u) ? ((c << 1) ^ kCrc14Poly) : (c << 1);
  }
  // Bits above 13 never flow back down, so a wider register gives the same CRC.
  return static_cast<std::uint16_t>(c & 0x3FFFu);
}

FtBlock91 crc14_block(const FtPayload& payload) noexcept {
  FtBlock91 a91{};
  for (unsigned i = 0; i < 9; ++i) a91[i] = payload[i];
  a91[9] = static_cast<std::uint8_t>(payload[9] & 0xF8u);
  const std::uint16_t crc = crc14(a91);
  a91[9] = static_cast<std::uint8_t>(a91[9] | (crc >> 11));
  a91[10] = static_cast<std::uint8_t>(crc >> 3);
  a91[11] = static_cast<std::uint8_t>(crc << 5);
  return a91;
}

}  // namespace tarsk
