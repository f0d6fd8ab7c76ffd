// LDPC (174,91) code of FT8/FT4: the systematic encoder, the parity-check
// count and the belief-propagation soft decoder, plus the edge layout the
// decoder's vector loops work on (derived from the published tables at
// compile time).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <span>

#include "codec/crc.hpp"
#include "codec/ldpc_tables.hpp"
#include "core/dispatch.hpp"

namespace tarsk {

/// 174 codeword bits in 22 bytes, most significant bit first: bits 0..90 are a91,
/// bit 91 + i is parity bit i.
using FtCodeword = std::array<std::uint8_t, 22>;

/// Codeword bit n (0..173) of a packed codeword.
constexpr unsigned codeword_bit(const FtCodeword& cw, std::size_t n) noexcept {
  return (cw[n / 8] >> (7 - n % 8)) & 1u;
}

/// Systematic encoding: a91 followed by the 83 parity bits of the generator rows.
constexpr FtCodeword ldpc_encode(const FtBlock91& a91) noexcept {
  FtCodeword cw{};
  for (std::size_t i = 0; i < 12; ++i) cw[i] = a91[i];
  cw[11] &= 0xE0u;  // bits 91..95 belong to the parity part
  for (std::size_t i = 0; i < kLdpcM; ++i) {
    // The parity of the AND is the parity of the XOR of its bytes.
    unsigned x = 0;
    for (std::size_t j = 0; j < 12; ++j) x ^= kLdpcGenerator[i][j] & a91[j];
    x ^= x >> 4;
    if ((0x6996u >> (x & 15u)) & 1u) {
      const std::size_t n = kLdpcK + i;
      cw[n / 8] = static_cast<std::uint8_t>(cw[n / 8] | (0x80u >> (n % 8)));
    }
  }
  return cw;
}

/// Number of unsatisfied parity checks (0..83) of 174 hard bits (one per byte, 0 or 1).
unsigned ldpc_count_errors(std::span<const std::uint8_t, kLdpcN> bits) noexcept;

/// Belief propagation over 174 LLRs (positive favours 0), at most 20 iterations.
/// Returns the fewest unsatisfied checks seen and writes the hard decision that
/// first reached it (0 means a valid codeword). A clean input returns at once.
TARSK_DISPATCH(unsigned, ldpc_decode_soft, (std::span<const float, kLdpcN> llr, std::span<std::uint8_t, kLdpcN> out),
               (llr, out))

inline constexpr unsigned kLdpcMaxIterations = 20;

// ---------------------------------------------------------------- decoder layout

namespace ldpc_layout {

/// Checks padded to a whole number of 16-lane vectors.
inline constexpr std::size_t kChecksPadded = 96;
/// Variables padded likewise; the two pad variables never touch a real check.
inline constexpr std::size_t kVarsPadded = 176;
inline constexpr std::size_t kSlots = 7;

/// Check-side edges live at slot * kChecksPadded + check; rows of weight 6 and
/// the pad checks leave their slots unused.
inline constexpr std::size_t kEdges = kSlots * kChecksPadded;
/// Variable-side edges live at i * kVarsPadded + n, i the position of the check
/// in the variable's row of kLdpcVarToChecks.
inline constexpr std::size_t kVarEdges = 3 * kVarsPadded;
/// An unused check-side edge reads this variable-side entry (of a pad variable),
/// whose tanh value stays 1, so it leaves every product unchanged. The pad
/// variables read the unused check-side edge kNullEdge and carry a huge LLR.
inline constexpr std::size_t kOneEntry = kVarsPadded - 1;
inline constexpr std::size_t kNullEdge = (kSlots - 1) * kChecksPadded + kChecksPadded - 1;

struct Layout {
  /// Per check-side edge: the variable-side entry it reads.
  std::array<std::int32_t, kEdges> check_reads{};
  /// Per variable-side edge: the check-side edge it reads.
  std::array<std::int32_t, kVarEdges> var_reads{};
  /// Per check, its variables as a 174-bit mask (3 words).
  std::array<std::array<std::uint64_t, 3>, kLdpcM> check_masks{};
};

constexpr Layout make_layout() noexcept {
  Layout l{};
  for (auto& r : l.check_reads) r = static_cast<std::int32_t>(kOneEntry);
  for (auto& r : l.var_reads) r = static_cast<std::int32_t>(kNullEdge);
  for (std::size_t n = 0; n < kLdpcN; ++n) {
    for (std::size_t i = 0; i < 3; ++i) {
      const std::size_t m = kLdpcVarToChecks[n][i] - 1u;
      for (std::size_t k = 0; k < kLdpcCheckWeights[m]; ++k) {
        if (kLdpcCheckToVars[m][k] == n + 1) {
          const std::size_t e = k * kChecksPadded + m;
          l.check_reads[e] = static_cast<std::int32_t>(i * kVarsPadded + n);
          l.var_reads[i * kVarsPadded + n] = static_cast<std::int32_t>(e);
        }
      }
    }
  }
  for (std::size_t m = 0; m < kLdpcM; ++m)
    for (std::size_t k = 0; k < kLdpcCheckWeights[m]; ++k) {
      const std::size_t n = kLdpcCheckToVars[m][k] - 1u;
      l.check_masks[m][n / 64] |= std::uint64_t{1} << (n % 64);
    }
  return l;
}

inline constexpr Layout kLayout = make_layout();

}  // namespace ldpc_layout

// ---------------------------------------------------------------- table invariants

namespace detail {

constexpr bool ldpc_tables_consistent() noexcept {
  std::size_t sevens = 0, sixes = 0;
  std::array<int, kLdpcN> uses{};
  for (std::size_t m = 0; m < kLdpcM; ++m) {
    const std::size_t w = kLdpcCheckWeights[m];
    if (w == 7) ++sevens;
    else if (w == 6) ++sixes;
    else return false;
    for (std::size_t k = 0; k < 7; ++k) {
      const unsigned v = kLdpcCheckToVars[m][k];
      if (k < w ? (v < 1 || v > kLdpcN) : v != 0) return false;
      if (k < w) ++uses[v - 1];
    }
  }
  if (sevens != 24 || sixes != 59) return false;
  for (std::size_t n = 0; n < kLdpcN; ++n) {
    if (uses[n] != 3) return false;  // column weight 3
    for (std::size_t i = 0; i < 3; ++i) {
      const unsigned m = kLdpcVarToChecks[n][i];
      if (m < 1 || m > kLdpcM) return false;
      bool found = false;
      for (std::size_t k = 0; k < kLdpcCheckWeights[m - 1]; ++k) found = found || kLdpcCheckToVars[m - 1][k] == n + 1;
      if (!found) return false;
    }
  }
  for (const auto& row : kLdpcGenerator)
    if (row[11] & 0x1Fu) return false;  // 91 bits used
  return true;
}

/// Generator and checks describe one code: check m holds for every codeword exactly
/// when the XOR, over its bits, of what each bit depends on (a message bit itself,
/// or a parity bit's generator row) is zero.
constexpr bool ldpc_generator_matches_checks() noexcept {
  for (std::size_t m = 0; m < kLdpcM; ++m) {
    std::array<unsigned, 12> x{};
    for (std::size_t k = 0; k < kLdpcCheckWeights[m]; ++k) {
      const std::size_t v = kLdpcCheckToVars[m][k] - 1u;
      if (v < kLdpcK) {
        x[v / 8] ^= 0x80u >> (v % 8);
      } else {
        for (std::size_t b = 0; b < 12; ++b) x[b] ^= kLdpcGenerator[v - kLdpcK][b];
      }
    }
    for (unsigned b : x)
      if (b) return false;
  }
  return true;
}

}  // namespace detail

static_assert(kLdpcGenerator.size() == kLdpcM && kLdpcCheckToVars.size() == kLdpcM &&
              kLdpcCheckWeights.size() == kLdpcM && kLdpcVarToChecks.size() == kLdpcN);
static_assert(kLdpcN == kLdpcK + kLdpcM);
static_assert(detail::ldpc_tables_consistent(), "check rows: 24 of weight 7, 59 of 6; every column of weight 3");
static_assert(detail::ldpc_generator_matches_checks(), "generator and parity checks describe one code");
static_assert(ldpc_layout::kLayout.check_reads[ldpc_layout::kNullEdge] ==
              static_cast<std::int32_t>(ldpc_layout::kOneEntry), "the null edge is unused");

}  // namespace tarsk
