// Complex sample with the complex64 memory layout; arithmetic is written out
// at each use so the operation order stays visible and exact.
#pragma once

namespace tarsk {

struct Cf32 {
  float re;
  float im;
};

static_assert(sizeof(Cf32) == 8 && alignof(Cf32) == 4, "Cf32 must match complex64");

}  // namespace tarsk
