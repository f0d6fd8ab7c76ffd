// Square QAM constellations (16, 64, 256 points; Gray-coded levels per axis,
// unit mean energy) and the QAM mapper + waveform stage.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/oscillator.hpp"

namespace tarsk {

enum class QamOrder : std::uint32_t { k16 = 0, k64 = 1, k256 = 2 };

/// 16, 64 or 256; anything else has no constellation.
inline std::optional<QamOrder> qam_order(std::uint32_t order) noexcept {
  switch (order) {
    case 16: return QamOrder::k16;
    case 64: return QamOrder::k64;
    case 256: return QamOrder::k256;
    default: return std::nullopt;
  }
}

constexpr unsigned qam_bits_per_axis(QamOrder kind) noexcept { return static_cast<unsigned>(kind) + 2u; }
constexpr unsigned qam_bits_per_symbol(QamOrder kind) noexcept { return 2u * qam_bits_per_axis(kind); }
constexpr unsigned qam_levels_per_axis(QamOrder kind) noexcept { return 1u << qam_bits_per_axis(kind); }

/// Nearest floats to 1/sqrt(2 (order - 1) / 3), by order kind.
inline constexpr std::array<float, 3> kQamScale = {0.31622776f, 0.15430336f, 0.0766965f};

/// level[i] = k(i) * s, k(i) the odd integer at Gray position p(i) of i;
/// slots past L hold 0 and are never read.
constexpr std::array<float, 16> qam_level_table(QamOrder kind) noexcept {
  std::array<float, 16> t{};
  const unsigned l = qam_levels_per_axis(kind);
  const float s = kQamScale[static_cast<unsigned>(kind)];
  for (unsigned i = 0; i < l; ++i) {
    unsigned p = 0;
    for (unsigned v = i; v != 0; v >>= 1) p ^= v;  // Gray to binary
    const int k = 2 * static_cast<int>(p) - static_cast<int>(l - 1);
    t[i] = static_cast<float>(k) * s;
  }
  return t;
}

/// Midpoints between neighbouring levels, ascending: (2i - (L - 2)) * s.
constexpr std::array<float, 15> qam_threshold_table(QamOrder kind) noexcept {
  std::array<float, 15> t{};
  const unsigned l = qam_levels_per_axis(kind);
  const float s = kQamScale[static_cast<unsigned>(kind)];
  for (unsigned i = 0; i + 1 < l; ++i) {
    t[i] = static_cast<float>(2 * static_cast<int>(i) - static_cast<int>(l - 2)) * s;
  }
  return t;
}

inline constexpr std::array<std::array<float, 16>, 3> kQamLevels = {
    qam_level_table(QamOrder::k16), qam_level_table(QamOrder::k64), qam_level_table(QamOrder::k256)};

static_assert(kQamLevels[0][0] == -0.94868326f && kQamLevels[0][1] == -0.31622776f &&
              kQamLevels[0][2] == 0.94868326f && kQamLevels[0][3] == 0.31622776f);
static_assert(kQamLevels[1][0] == -1.0801235f && kQamLevels[1][3] == -0.46291006f &&
              kQamLevels[1][6] == 0.15430336f && kQamLevels[1][5] == 0.7715168f);
static_assert(kQamLevels[2][0] == -1.1504475f && kQamLevels[2][7] == -0.38348252f &&
              kQamLevels[2][10] == 0.6902685f && kQamLevels[2][15] == 0.38348252f);

struct QamMod {
  QamOrder kind = QamOrder::k16;
  std::array<float, 16> levels{};
  float gain = 1.0f;
  Oscillator carrier;

  /// Empty for an order other than 16, 64 or 256.
  static std::optional<QamMod> make(std::uint32_t order, float fs, float rf_hz, float gain) noexcept {
    const std::optional<QamOrder> kind = qam_order(order);
    if (!kind) return std::nullopt;
    return QamMod{*kind, kQamLevels[static_cast<unsigned>(*kind)], gain, Oscillator(rf_hz, fs)};
  }

  /// Trailing elements short of a whole symbol are dropped, not carried over.
  std::size_t output_size(std::size_t n_bits) const noexcept { return n_bits / qam_bits_per_symbol(kind); }

  std::size_t process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept;
};

static_assert(Block<QamMod, std::uint8_t, Cf32>);

}  // namespace tarsk
