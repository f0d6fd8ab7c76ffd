// FT8/FT4 frame layout: symbol counts, samples per symbol, tone spacing, the
// Costas synchronisation blocks and where the data tones sit. Defined once
// here for the tone modulators, the tone demodulators and the synchroniser.
// Positions count from 0 at the first symbol of a frame.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace tarsk {

// ---------------------------------------------------------------- FT8

inline constexpr std::size_t kFt8Symbols = 79;
inline constexpr std::size_t kFt8DataSymbols = 58;
inline constexpr std::size_t kFt8ToneCount = 8;  ///< tones per symbol (3 codeword bits)
/// Fixed counts, not derived from the sample rate: fs only scales the tone frequencies.
inline constexpr std::size_t kFt8SymbolSamples = 1920;
inline constexpr std::size_t kFt8FrameSamples = kFt8Symbols * kFt8SymbolSamples;
inline constexpr float kFt8ToneSpacingHz = 6.25f;

/// The same 7-symbol Costas array opens each of the three blocks.
inline constexpr std::array<std::uint8_t, 7> kFt8Costas = {3, 1, 4, 0, 6, 5, 2};
inline constexpr std::array<std::size_t, 3> kFt8CostasStarts = {0, 36, 72};
/// Data symbols as (first, one past last) position pairs.
inline constexpr std::array<std::array<std::size_t, 2>, 2> kFt8DataRanges = {{{7, 36}, {43, 72}}};

/// Frame position of data tone m (0..57).
constexpr std::size_t ft8_data_position(std::size_t m) noexcept { return m < 29 ? m + 7 : m + 14; }

// ---------------------------------------------------------------- FT4

inline constexpr std::size_t kFt4Symbols = 105;
inline constexpr std::size_t kFt4DataSymbols = 87;
inline constexpr std::size_t kFt4ToneCount = 4;  ///< tones per symbol (2 codeword bits)
inline constexpr std::size_t kFt4SymbolSamples = 576;
inline constexpr std::size_t kFt4FrameSamples = kFt4Symbols * kFt4SymbolSamples;
inline constexpr float kFt4ToneSpacingHz = 20.833334f;  ///< 62.5 / 3

/// Four different 4-symbol Costas arrays, block by block.
inline constexpr std::array<std::array<std::uint8_t, 4>, 4> kFt4Costas = {{
    {0, 1, 3, 2},
    {1, 0, 2, 3},
    {2, 3, 1, 0},
    {3, 2, 0, 1},
}};
inline constexpr std::array<std::size_t, 4> kFt4CostasStarts = {1, 34, 67, 100};
/// Positions 0 and 104 ramp the frame in and out on tone 0.
inline constexpr std::array<std::size_t, 2> kFt4FixedPositions = {0, 104};
inline constexpr std::uint8_t kFt4FixedTone = 0;

/// Frame position of data tone m (0..86).
constexpr std::size_t ft4_data_position(std::size_t m) noexcept {
  return m < 29 ? m + 5 : (m < 58 ? m + 9 : m + 13);
}

// ---------------------------------------------------------------- whole frames

/// The 79 symbol tones of an FT8 frame: Costas blocks plus the 58 data tones, unchanged.
constexpr std::array<std::uint8_t, kFt8Symbols> ft8_frame_tones(const std::uint8_t* data) noexcept {
  std::array<std::uint8_t, kFt8Symbols> out{};
  for (std::size_t start : kFt8CostasStarts)
    for (std::size_t j = 0; j < kFt8Costas.size(); ++j) out[start + j] = kFt8Costas[j];
  for (std::size_t m = 0; m < kFt8DataSymbols; ++m) out[ft8_data_position(m)] = data[m];
  return out;
}

/// The 105 symbol tones of an FT4 frame: fixed and Costas symbols plus the 87 data tones, unchanged.
constexpr std::array<std::uint8_t, kFt4Symbols> ft4_frame_tones(const std::uint8_t* data) noexcept {
  std::array<std::uint8_t, kFt4Symbols> out{};
  for (std::size_t p : kFt4FixedPositions) out[p] = kFt4FixedTone;
  for (std::size_t b = 0; b < kFt4CostasStarts.size(); ++b)
    for (std::size_t j = 0; j < kFt4Costas[b].size(); ++j) out[kFt4CostasStarts[b] + j] = kFt4Costas[b][j];
  for (std::size_t m = 0; m < kFt4DataSymbols; ++m) out[ft4_data_position(m)] = data[m];
  return out;
}

namespace detail {

/// Every position is exactly one of: Costas, fixed or data.
constexpr bool ft8_layout_covers_frame() noexcept {
  std::array<int, kFt8Symbols> uses{};
  for (std::size_t start : kFt8CostasStarts)
    for (std::size_t j = 0; j < kFt8Costas.size(); ++j) ++uses[start + j];
  std::size_t m = 0;
  for (const auto& r : kFt8DataRanges)
    for (std::size_t p = r[0]; p < r[1]; ++p, ++m) {
      if (ft8_data_position(m) != p) return false;
      ++uses[p];
    }
  if (m != kFt8DataSymbols) return false;
  for (int u : uses)
    if (u != 1) return false;
  return true;
}

constexpr bool ft4_layout_covers_frame() noexcept {
  std::array<int, kFt4Symbols> uses{};
  for (std::size_t p : kFt4FixedPositions) ++uses[p];
  for (std::size_t b = 0; b < kFt4CostasStarts.size(); ++b)
    for (std::size_t j = 0; j < kFt4Costas[b].size(); ++j) ++uses[kFt4CostasStarts[b] + j];
  for (std::size_t m = 0; m < kFt4DataSymbols; ++m) ++uses[ft4_data_position(m)];
  for (int u : uses)
    if (u != 1) return false;
  return true;
}

}  // namespace detail

static_assert(kFt8FrameSamples == 151680 && kFt4FrameSamples == 60480);
static_assert(kFt8DataSymbols + 3 * kFt8Costas.size() == kFt8Symbols);
static_assert(kFt4DataSymbols + 4 * 4 + kFt4FixedPositions.size() == kFt4Symbols);
static_assert(detail::ft8_layout_covers_frame());
static_assert(detail::ft4_layout_covers_frame());

}  // namespace tarsk
