// FT8 codec: payload -> CRC-14 -> LDPC (174,91) codeword -> 58 Gray-coded
// 8-FSK tones, and back from tones or LLRs. Also the Gray maps and the LLR
// layout that the tone demodulator and the synchroniser share.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "codec/crc.hpp"
#include "codec/ldpc.hpp"

namespace tarsk {

/// 3 codeword bits (first most significant) -> FT8 tone.
inline constexpr std::array<std::uint8_t, 8> kFt8GrayMap = {0, 1, 3, 2, 5, 6, 4, 7};
/// FT8 tone -> 3 codeword bits.
inline constexpr std::array<std::uint8_t, 8> kFt8GrayInverse = {0, 1, 3, 2, 6, 4, 5, 7};

inline constexpr std::size_t kFt8DataTones = 58;
/// Magnitude of the LLRs that decode_hard feeds the decoder.
inline constexpr float kHardLlr = 10.0f;

/// CRC and LDPC shared by both modes: payload (bits 77..79 ignored) -> codeword.
FtCodeword ft_encode_codeword(const FtPayload& payload) noexcept;

/// 174 LLRs (codeword bit order, positive favours 0) -> payload with the CRC
/// checked, or nothing. The all-zero codeword is refused: it satisfies every
/// check with a zero CRC, but it is also what silence or a dead channel gives.
std::optional<FtPayload> ft_decode_codeword(std::span<const float, kLdpcN> llr) noexcept;

struct Ft8Codec {
  static std::array<std::uint8_t, kFt8DataTones> encode(const FtPayload& payload) noexcept;
  static std::optional<FtPayload> decode_llr(std::span<const float, kLdpcN> llr) noexcept;
  /// Tone values are masked to their low 3 bits.
  static std::optional<FtPayload> decode_hard(std::span<const std::uint8_t, kFt8DataTones> tones) noexcept;
};

/// The hard-decision LLRs of tones: each tone's inverse-Gray bits, most significant
/// first, as +kHardLlr (bit 0) or -kHardLlr (bit 1). bits_per_tone is 3 or 2.
void ft_tone_llrs(const std::uint8_t* tones, std::size_t n_tones, const std::uint8_t* gray_inverse,
                  unsigned bits_per_tone, std::span<float, kLdpcN> llr) noexcept;

}  // namespace tarsk
