#include "sync/ft4_sync.hpp"

#include "codec/ft4.hpp"
#include "sync/costas.hpp"

namespace tarsk {
namespace {

// Scoring order: block by block, symbol by symbol.
constexpr auto kFt4Cells = [] {
  std::array<std::array<std::uint8_t, 2>, 16> cells{};
  std::size_t i = 0;
  for (std::size_t b = 0; b < kFt4CostasStarts.size(); ++b)
    for (std::size_t j = 0; j < kFt4Costas[b].size(); ++j)
      cells[i++] = {static_cast<std::uint8_t>(kFt4CostasStarts[b] + j), kFt4Costas[b][j]};
  return cells;
}();

constexpr auto kFt4Data = [] {
  std::array<std::uint8_t, kFt4DataSymbols> pos{};
  for (std::size_t m = 0; m < pos.size(); ++m) pos[m] = static_cast<std::uint8_t>(ft4_data_position(m));
  return pos;
}();

}  // namespace

const FtMode kFt4Mode{kFt4SymbolSamples, kFt4ToneSpacingHz, kFt4Symbols, 5, 4, kFt4Cells, kFt4Data, kFt4GrayInverse};

}  // namespace tarsk
