// QAM demodulator: threshold counting per coordinate, then Gray bits.
#include "demodulate/qam.hpp"

#include <algorithm>
#include <cstring>

namespace tarsk {
namespace {

/// Per level position p: the bits of its Gray code, most significant first,
/// one per byte, ready to be copied to the output.
template <unsigned b>
constexpr std::array<std::array<std::uint8_t, 4>, 16> gray_bytes() noexcept {
  std::array<std::array<std::uint8_t, 4>, 16> t{};
  for (unsigned p = 0; p < (1u << b); ++p) {
    const unsigned g = p ^ (p >> 1);
    for (unsigned m = 0; m < b; ++m) t[p][m] = static_cast<std::uint8_t>((g >> (b - 1 - m)) & 1u);
  }
  return t;
}

// Four coordinates side by side; the vector compares are the same ordered,
// strict scalar compares, so ties go down and NaN counts as below everything.
using Float4 = float __attribute__((vector_size(16)));
using Int4 = std::int32_t __attribute__((vector_size(16)));

template <unsigned b>
void qam_slice(const float* thresholds, float gain, const Cf32* iq, std::size_t n, std::uint8_t* out) noexcept {
  constexpr unsigned kThresholds = (1u << b) - 1;
  static constexpr auto kBytes = gray_bytes<b>();
  constexpr std::size_t kChunk = 128;  // symbols per pass, so positions stay in L1
  Float4 t[kThresholds];
  for (unsigned i = 0; i < kThresholds; ++i) t[i] = Float4{} + thresholds[i];
  const Float4 g = Float4{} + gain;
  alignas(16) std::int32_t p[2 * kChunk];
  for (std::size_t k0 = 0; k0 < n; k0 += kChunk) {
    const std::size_t m = std::min(kChunk, n - k0);
    for (std::size_t k = 0; k < m; k += 2) {  // two samples, four coordinates
      Float4 x{};
      if (k + 1 < m) {
        std::memcpy(&x, iq + k0 + k, 2 * sizeof(Cf32));
      } else {
        std::memcpy(&x, iq + k0 + k, sizeof(Cf32));
      }
      x *= g;
      Int4 c{};
      for (unsigned i = 0; i < kThresholds; ++i) c -= (t[i] < x);  // true is -1
      std::memcpy(p + 2 * k, &c, sizeof c);
    }
    std::uint8_t* y = out + 2 * b * k0;
    for (std::size_t j = 0; j < 2 * m; ++j) std::memcpy(y + b * j, kBytes[p[j]].data(), b);
  }
}

}  // namespace

std::size_t QamDemod::process(std::span<const Cf32> iq, std::span<std::uint8_t> out) const noexcept {
  const std::size_t per = qam_bits_per_symbol(kind);
  const std::size_t n = std::min(iq.size(), out.size() / per);
  switch (kind) {
    case QamOrder::k16: qam_slice<2>(thresholds.data(), gain, iq.data(), n, out.data()); break;
    case QamOrder::k64: qam_slice<3>(thresholds.data(), gain, iq.data(), n, out.data()); break;
    case QamOrder::k256: qam_slice<4>(thresholds.data(), gain, iq.data(), n, out.data()); break;
  }
  return per * n;
}

}  // namespace tarsk
