// QAM soft stage + hard decider: each scaled coordinate is sliced against the
// midpoints of its axis and its level position turned back into Gray bits.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

#include "core/block.hpp"
#include "core/cf32.hpp"
#include "core/dispatch.hpp"
#include "modulate/qam.hpp"

namespace tarsk {

inline constexpr std::array<std::array<float, 15>, 3> kQamThresholds = {
    qam_threshold_table(QamOrder::k16), qam_threshold_table(QamOrder::k64),
    qam_threshold_table(QamOrder::k256)};

static_assert(kQamThresholds[0][0] == -0.6324555f && kQamThresholds[0][1] == 0.0f &&
              kQamThresholds[0][2] == 0.6324555f);
static_assert(kQamThresholds[1][0] == -0.9258201f && kQamThresholds[1][4] == 0.3086067f);
static_assert(kQamThresholds[2][0] == -1.073751f && kQamThresholds[2][3] == -0.613572f &&
              kQamThresholds[2][12] == 0.76696503f && kQamThresholds[2][14] == 1.073751f);

struct QamDemod {
  QamOrder kind = QamOrder::k16;
  std::array<float, 15> thresholds{};
  float gain = 1.0f;

  /// Empty for an order other than 16, 64 or 256.
  static std::optional<QamDemod> make(std::uint32_t order, float gain) noexcept {
    const std::optional<QamOrder> kind = qam_order(order);
    if (!kind) return std::nullopt;
    return QamDemod{*kind, kQamThresholds[static_cast<unsigned>(*kind)], gain};
  }

  std::size_t output_size(std::size_t n_samples) const noexcept { return qam_bits_per_symbol(kind) * n_samples; }

  /// log2(order) bits per sample: the I bits, then the Q bits, MSB first.
  /// A value on a threshold takes the lower level; NaN takes the lowest.
  std::size_t process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept;
};

static_assert(Block<QamDemod, Cf32, std::uint8_t>);

/// 2 * bits_per_axis bits per sample for n samples, against the order's
/// first 2^bits_per_axis - 1 thresholds.
TARSK_DISPATCH(void, qam_decide,
               (unsigned bits_per_axis, const float* thresholds, float gain, const Cf32* iq, std::size_t n,
                std::uint8_t* out),
               (bits_per_axis, thresholds, gain, iq, n, out))

}  // namespace tarsk
