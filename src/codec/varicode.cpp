#include "codec/varicode.hpp"

#include <algorithm>
#include <array>
#include <cstdint>
#include <new>

#include "codec/varicode_table.hpp"

namespace tarsk {
namespace {

constexpr VaricodeEntry kHighByteWord = {0b1010101011, 10};  // sent for bytes 128-255

constexpr bool has_double_zero(unsigned code, unsigned length) {
  for (unsigned i = 0; i + 1 < length; ++i)
    if (((code >> i) & 3u) == 0) return true;
  return false;
}

constexpr bool table_is_sound() {
  for (std::size_t i = 0; i < kVaricode.size(); ++i) {
    const auto [code, length] = kVaricode[i];
    if (length < 1 || length > 10) return false;
    if ((code >> (length - 1)) != 1u) return false;  // starts with 1, nothing above the word
    if ((code & 1u) == 0) return false;              // ends with 1
    if (has_double_zero(code, length)) return false;
    for (std::size_t j = 0; j < i; ++j)
      if (kVaricode[j].code == code) return false;
  }
  return true;
}
static_assert(table_is_sound(), "Varicode words must be distinct, 1-10 bits, 1...1, free of 00");

// Every word starts with a 1, so its value fixes its length: index the table by value.
constexpr std::array<std::int16_t, 1024> make_reverse() {
  std::array<std::int16_t, 1024> r{};
  r.fill(-1);
  for (std::size_t i = 0; i < kVaricode.size(); ++i) r[kVaricode[i].code] = static_cast<std::int16_t>(i);
  return r;
}
constexpr std::array<std::int16_t, 1024> kReverse = make_reverse();

constexpr unsigned bit_width(unsigned v) {
  unsigned w = 0;
  for (; v; v >>= 1) ++w;
  return w;
}

// Room for `extra` more items in one allocation, so a later append cannot fail half-way
// and a hopeless request fails at once, before anything changes.
void reserve_more(std::vector<std::uint8_t>& v, std::size_t extra) {
  const std::size_t size = v.size();
  if (extra > v.max_size() - size) throw std::bad_alloc();
  if (size + extra <= v.capacity()) return;
  const std::size_t cap = v.capacity();
  const std::size_t grown = cap > v.max_size() / 2 ? v.max_size() : 2 * cap;
  v.reserve(std::max(size + extra, grown));
}

// Empties a queue. A burst would otherwise pin its largest buffer for the object's whole
// life: storage above 1 MiB and more than four times what the queue held is given back.
void clear_and_trim(std::vector<std::uint8_t>& v) noexcept {
  constexpr std::size_t kKeep = std::size_t{1} << 20;
  const std::size_t used = v.size();
  v.clear();
  if (v.capacity() > kKeep && v.capacity() / 4 > used) std::vector<std::uint8_t>().swap(v);
}

}  // namespace

void VaricodeEncoder::push_byte(std::uint8_t b) {
  const VaricodeEntry word = b >= 128 ? kHighByteWord : kVaricode[b];
  reserve_more(bits_, 2u + word.length);
  if (!at_boundary_) bits_.insert(bits_.end(), 2, 0);
  at_boundary_ = false;
  for (unsigned i = word.length; i-- > 0;) bits_.push_back(static_cast<std::uint8_t>((word.code >> i) & 1u));
}

void VaricodeEncoder::push_preamble(std::size_t n) {
  // Fewer than two zeros after a character do not end it: they would merge with the next one.
  if (!at_boundary_) n = std::max<std::size_t>(n, 2);
  reserve_more(bits_, n);
  bits_.insert(bits_.end(), n, 0);
  at_boundary_ = true;
}

void VaricodeEncoder::push_postamble(std::size_t n) {
  const std::size_t separator = at_boundary_ ? 0 : 2;
  if (n > SIZE_MAX - separator) throw std::bad_alloc();
  reserve_more(bits_, separator + n);
  bits_.insert(bits_.end(), separator, 0);
  bits_.insert(bits_.end(), n, 1);
}

void VaricodeEncoder::drain_into(std::span<std::uint8_t> out) noexcept {
  std::copy_n(bits_.begin(), std::min(out.size(), bits_.size()), out.begin());
  clear_and_trim(bits_);
}

std::vector<std::uint8_t> VaricodeEncoder::drain() {
  std::vector<std::uint8_t> out;
  out.swap(bits_);
  return out;
}

void VaricodeDecoder::clear_decoded() noexcept { clear_and_trim(bytes_); }

void VaricodeDecoder::push_bits(std::span<const std::uint8_t> bits) {
  // At most one byte per three bits (plus one completing an earlier word): reserve it up front.
  reserve_more(bytes_, bits.size() / 3 + 1);
  for (const std::uint8_t v : bits) {
    if (v == 0 && prev_zero_) {
      // Second zero of a separator: the register holds the word and the separator's first zero.
      const unsigned c = static_cast<unsigned>(reg_ >> 1);
      if (count_ > 1 && c < kReverse.size() && kReverse[c] >= 0 && bit_width(c) == count_ - 1u)
        bytes_.push_back(static_cast<std::uint8_t>(kReverse[c]));
      reg_ = 0;
      count_ = 0;
      prev_zero_ = false;
      continue;
    }
    if (v == 0 && count_ == 0) {
      // A zero before any word bit is idle, not part of the word: every word starts with a 1.
      prev_zero_ = true;
      continue;
    }
    reg_ = static_cast<std::uint16_t>((reg_ << 1) | (v & 1u));
    if (count_ < 11) ++count_;
    prev_zero_ = (v == 0);
  }
}

}  // namespace tarsk
