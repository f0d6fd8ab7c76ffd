// FT8 codec and the codeword steps that FT4 shares.
#include "codec/ft8.hpp"

namespace tarsk {

FtCodeword ft_encode_codeword(const FtPayload& payload) noexcept { return ldpc_encode(crc14_block(payload)); }

std::optional<FtPayload> ft_decode_codeword(std::span<const float, kLdpcN> llr) noexcept {
  std::array<std::uint8_t, kLdpcN> bits;
  if (ldpc_decode_soft(llr, bits) != 0) return std::nullopt;
  unsigned any = 0;
  for (std::uint8_t b : bits) any |= b;
  if (any == 0) return std::nullopt;

  FtBlock91 a91{};
  for (std::size_t n = 0; n < kLdpcK; ++n)
    a91[n / 8] = static_cast<std::uint8_t>(a91[n / 8] | (bits[n] << (7 - n % 8)));
  const std::uint16_t received = static_cast<std::uint16_t>(((a91[9] & 0x07u) << 11) | (a91[10] << 3) | (a91[11] >> 5));
  FtBlock91 message = a91;
  message[9] &= 0xF8u;
  message[10] = 0;
  message[11] = 0;
  if (crc14(message) != received) return std::nullopt;

  FtPayload payload{};
  for (std::size_t i = 0; i < payload.size(); ++i) payload[i] = message[i];
  return payload;
}

void ft_tone_llrs(const std::uint8_t* tones, std::size_t n_tones, const std::uint8_t* gray_inverse,
                  unsigned bits_per_tone, std::span<float, kLdpcN> llr) noexcept {
  const unsigned mask = (1u << bits_per_tone) - 1u;
  for (std::size_t k = 0; k < n_tones; ++k) {
    const unsigned v = gray_inverse[tones[k] & mask];
    for (unsigned b = 0; b < bits_per_tone; ++b)
      llr[k * bits_per_tone + b] = ((v >> (bits_per_tone - 1 - b)) & 1u) ? -kHardLlr : kHardLlr;
  }
}

std::array<std::uint8_t, kFt8DataTones> Ft8Codec::encode(const FtPayload& payload) noexcept {
  const FtCodeword cw = ft_encode_codeword(payload);
  std::array<std::uint8_t, kFt8DataTones> tones;
  for (std::size_t k = 0; k < kFt8DataTones; ++k) {
    const unsigned v = (codeword_bit(cw, 3 * k) << 2) | (codeword_bit(cw, 3 * k + 1) << 1) | codeword_bit(cw, 3 * k + 2);
    tones[k] = kFt8GrayMap[v];
  }
  return tones;
}

std::optional<FtPayload> Ft8Codec::decode_llr(std::span<const float, kLdpcN> llr) noexcept {
  return ft_decode_codeword(llr);
}

std::optional<FtPayload> Ft8Codec::decode_hard(std::span<const std::uint8_t, kFt8DataTones> tones) noexcept {
  std::array<float, kLdpcN> llr;
  ft_tone_llrs(tones.data(), tones.size(), kFt8GrayInverse.data(), 3, llr);
  return decode_llr(llr);
}

}  // namespace tarsk
