// QAM modulator: per-axis table lookup feeding the shared waveform stage.
#include "modulate/qam.hpp"

#include <algorithm>

#include "modulate/bpsk.hpp"

namespace tarsk {
namespace detail {

template <unsigned B>
[[gnu::always_inline]] inline void qam_waveform(Oscillator& carrier, float gain, const float* levels,
                                                const std::uint8_t* bits, std::span<Cf32> out) noexcept {
  constexpr unsigned b = B / 2;
  linear_waveform(carrier, gain, out, [levels, bits](std::size_t k) {
    const std::uint8_t* s = bits + k * B;
    unsigned i = 0, q = 0;
    for (unsigned j = 0; j < b; ++j) {  // most significant bit first
      i = (i << 1) | (s[j] & 1u);
      q = (q << 1) | (s[b + j] & 1u);
    }
    return Cf32{levels[i], levels[q]};
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
