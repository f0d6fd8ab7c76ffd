// FT4 codec.
#include "codec/ft4.hpp"

namespace tarsk {
namespace {

FtPayload scramble(FtPayload p) noexcept {
  p[9] &= 0xF8u;
  for (std::size_t i = 0; i < p.size(); ++i) p[i] ^= kFt4Scramble[i];
  return p;
}

}  // namespace

std::array<std::uint8_t, kFt4DataTones> Ft4Codec::encode(const FtPayload& payload) noexcept {
  const FtCodeword cw = ft_encode_codeword(scramble(payload));
  std::array<std::uint8_t, kFt4DataTones> tones;
  for (std::size_t k = 0; k < kFt4DataTones; ++k)
    tones[k] = kFt4GrayMap[(codeword_bit(cw, 2 * k) << 1) | codeword_bit(cw, 2 * k + 1)];
  return tones;
}

std::optional<FtPayload> Ft4Codec::decode_llr(std::span<const float, kLdpcN> llr) noexcept {
  const auto payload = ft_decode_codeword(llr);
  if (!payload) return std::nullopt;
  return scramble(*payload);
}

std::optional<FtPayload> Ft4Codec::decode_hard(std::span<const std::uint8_t, kFt4DataTones> tones) noexcept {
  std::array<float, kLdpcN> llr;
  ft_tone_llrs(tones.data(), tones.size(), kFt4GrayInverse.data(), 2, llr);
  return decode_llr(llr);
}

}  // namespace tarsk
