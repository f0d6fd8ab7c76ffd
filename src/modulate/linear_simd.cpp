// Per-sample loops of the BPSK, QPSK and QAM modulators, compiled once per
// CPU target (see core/dispatch.hpp); the carrier recursion is the only serial
// dependency.
#include <bit>
#include <cstring>

#include "modulate/bpsk.hpp"
#include "modulate/qam.hpp"
#include "modulate/qpsk.hpp"

namespace tarsk::TARSK_ISA_NS {

void bpsk_modulate(Oscillator& carrier, float gain, const std::uint8_t* bits,
                   std::span<Cf32> out) noexcept {
  // A table rather than a branch: random bits would mispredict half the time.
  static constexpr float kLevel[2] = {1.0f, -1.0f};
  linear_waveform(carrier, gain, out, [bits](std::size_t k) { return Cf32{kLevel[bits[k] & 1u], 0.0f}; });
}

void qpsk_modulate(Oscillator& carrier, float gain, const std::uint8_t* bits,
                   std::span<Cf32> out) noexcept {
  // A table rather than a branch: random bits would mispredict half the time.
  static constexpr float kLevel[2] = {kQpskLevel, -kQpskLevel};
  linear_waveform(carrier, gain, out, [bits](std::size_t k) {
    return Cf32{kLevel[bits[2 * k] & 1u], kLevel[bits[2 * k + 1] & 1u]};
  });
}

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
TARSK_INLINE unsigned axis_index(const std::uint8_t* s) noexcept {
  std::uint32_t w = 0;
  if constexpr (std::endian::native == std::endian::little && (b == 2 || b == 4)) {
    std::memcpy(&w, s, b);  // one load; the byte loop is not always merged into one
  } else {
    for (unsigned j = 0; j < b; ++j) w |= static_cast<std::uint32_t>(s[j]) << (8 * j);
  }
  return gather_axis<b>(w);
}

template <unsigned B>
TARSK_INLINE void qam_waveform(Oscillator& carrier, float gain, const float* levels,
                                                const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  constexpr unsigned b = B / 2;
  linear_waveform(carrier, gain, out, [levels, bits](std::size_t k) {
    const std::uint8_t* s = bits + k * B;
    return Cf32{levels[axis_index<b>(s)], levels[axis_index<b>(s + b)]};
  });
}

void qam_modulate(unsigned bits_per_symbol, Oscillator& carrier, float gain, const float* levels,
                  const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  switch (bits_per_symbol) {
    case 4: qam_waveform<4>(carrier, gain, levels, bits, out); break;
    case 6: qam_waveform<6>(carrier, gain, levels, bits, out); break;
    case 8: qam_waveform<8>(carrier, gain, levels, bits, out); break;
    default: break;
  }
}


}  // namespace tarsk::TARSK_ISA_NS
