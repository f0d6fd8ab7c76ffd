// QAM modulator: per-axis table lookup feeding the shared waveform stage.
#include "modulate/qam.hpp"

#include <algorithm>
#include <bit>
#include <cstring>

#include "modulate/bpsk.hpp"

namespace tarsk {
namespace detail {

/// Element j of a symbol's axis sits in byte j of w; its lowest bit, at bit
/// 8j, is moved by one multiply to bit 24 + (b - 1 - j), first element most
/// significant. The other partial products fall on distinct bits below 24 or
/// above 31, so nothing carries into the field.
template <unsigned b>
constexpr unsigned gather_axis(std::uint32_t w) noexcept {
  constexpr std::uint32_t kGather = [] {
    std::uint32_t m = 0;
    for (unsigned j = 0; j < b; ++j) m |= 1u << (24 + (b - 1 - j) - 8 * j);
    return m;
  }();
  return (((w & 0x01010101u) * kGather) >> 24) & ((1u << b) - 1);
}

template <unsigned b>
constexpr bool gather_axis_is_exact() noexcept {
  for (std::uint32_t v = 0; v < (1u << b); ++v) {
    for (std::uint32_t junk : {0x00u, 0xFEu}) {  // the upper bits of an element never count
      std::uint32_t w = 0;
      for (unsigned j = 0; j < b; ++j) w |= (((v >> (b - 1 - j)) & 1u) | junk) << (8 * j);
      if (gather_axis<b>(w) != v) return false;
    }
  }
  return true;
}
static_assert(gather_axis_is_exact<2>() && gather_axis_is_exact<3>() && gather_axis_is_exact<4>());

template <unsigned b>
[[gnu::always_inline]] inline unsigned axis_index(const std::uint8_t* s) noexcept {
  std::uint32_t w = 0;
  if constexpr (std::endian::native == std::endian::little && (b == 2 || b == 4)) {
    std::memcpy(&w, s, b);  // one load; the byte loop is not always merged into one
  } else {
    for (unsigned j = 0; j < b; ++j) w |= static_cast<std::uint32_t>(s[j]) << (8 * j);
  }
  return gather_axis<b>(w);
}

template <unsigned B>
[[gnu::always_inline]] inline void qam_waveform(Oscillator& carrier, float gain, const float* levels,
                                                const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  constexpr unsigned b = B / 2;
  linear_waveform(carrier, gain, out, [levels, bits](std::size_t k) {
    const std::uint8_t* s = bits + k * B;
    return Cf32{levels[axis_index<b>(s)], levels[axis_index<b>(s + b)]};
  });
}

TARSK_FMA_CLONES void qam_modulate(QamOrder kind, Oscillator& carrier, float gain, const float* levels,
                                   const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  switch (kind) {
    case QamOrder::k16: qam_waveform<4>(carrier, gain, levels, bits, out); break;
    case QamOrder::k64: qam_waveform<6>(carrier, gain, levels, bits, out); break;
    case QamOrder::k256: qam_waveform<8>(carrier, gain, levels, bits, out); break;
  }
}

}  // namespace detail

std::size_t QamMod::process(std::span<const std::uint8_t> bits, std::span<Cf32> out) noexcept {
  const std::size_t n = std::min(output_size(bits.size()), out.size());
  detail::qam_modulate(kind, carrier, gain, levels.data(), bits.data(), out.first(n));
  return n;
}

}  // namespace tarsk
