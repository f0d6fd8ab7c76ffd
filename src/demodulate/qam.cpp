// QAM demodulator: threshold counting per coordinate, then Gray bits.
#include "demodulate/qam.hpp"

#include <algorithm>
#include <cstring>

namespace tarsk {
namespace {

/// For the level positions (pI, pQ) of a symbol, at [pI * L + pQ]: the bits
/// of both Gray codes, most significant first, one per byte, I then Q, ready
/// to be copied to the output in one piece.
template <unsigned b>
constexpr std::array<std::array<std::uint8_t, 8>, 256> gray_symbol_bytes() noexcept {
  std::array<std::array<std::uint8_t, 8>, 256> t{};
  constexpr unsigned l = 1u << b;
  for (unsigned pi = 0; pi < l; ++pi) {
    for (unsigned pq = 0; pq < l; ++pq) {
      const unsigned gi = pi ^ (pi >> 1);
      const unsigned gq = pq ^ (pq >> 1);
      for (unsigned m = 0; m < b; ++m) {
        t[pi * l + pq][m] = static_cast<std::uint8_t>((gi >> (b - 1 - m)) & 1u);
        t[pi * l + pq][b + m] = static_cast<std::uint8_t>((gq >> (b - 1 - m)) & 1u);
      }
    }
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
  static constexpr auto kBytes = gray_symbol_bytes<b>();
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
    for (std::size_t k = 0; k < m; ++k) {
      std::memcpy(y + 2 * b * k, kBytes[(p[2 * k] << b) + p[2 * k + 1]].data(), 2 * b);
    }
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
