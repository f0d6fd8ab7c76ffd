// Varicode text coding for PSK31: bytes to a bit queue and bits back to bytes.
#pragma once

#include <cstddef>
#include <cstdint>
#include <span>
#include <vector>

namespace tarsk {

class VaricodeEncoder {
 public:
  void push_byte(std::uint8_t b);
  /// n idle zeros, at least two after an open character; the next character
  /// needs no separator after them.
  void push_preamble(std::size_t n);
  /// n ones, after a separator if a character is still open.
  void push_postamble(std::size_t n);
  std::size_t pending() const noexcept { return bits_.size(); }
  bool is_empty() const noexcept { return bits_.empty(); }
  /// Moves every pending bit into out (out.size() == pending()) and empties the queue,
  /// giving back storage that is far larger than what it held.
  void drain_into(std::span<std::uint8_t> out) noexcept;
  std::vector<std::uint8_t> drain();

 private:
  std::vector<std::uint8_t> bits_;  // one byte per bit, 0 or 1, in transmission order
  bool at_boundary_ = true;
};

class VaricodeDecoder {
 public:
  void push_bits(std::span<const std::uint8_t> bits);
  std::span<const std::uint8_t> decoded() const noexcept { return bytes_; }
  /// Empties the decoded bytes; like a drain, gives back storage far above recent use.
  void clear_decoded() noexcept;

 private:
  std::vector<std::uint8_t> bytes_;
  std::uint16_t reg_ = 0;
  bool prev_zero_ = false;
  std::uint8_t count_ = 0;  ///< bits since the last separator, saturating at 11
};

}  // namespace tarsk
