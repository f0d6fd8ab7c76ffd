// The one streaming-block shape: process(input, output) -> items written.
#pragma once

#include <concepts>
#include <cstddef>
#include <span>

namespace tarsk {

template <class B, class In, class Out>
concept Block = requires(B b, std::span<const In> in, std::span<Out> out) {
  { b.process(in, out) } -> std::same_as<std::size_t>;
};

}  // namespace tarsk
