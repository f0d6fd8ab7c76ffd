// Four-lane float vectors for running identical recursions side by side (the
// SSB modulator's I and Q low-passes and its two oscillators) with exactly the
// arithmetic of the scalar primitives: every lane op is the same IEEE single
// operation, fused where the scalar form is fused.
#pragma once

#include <cmath>

#include "core/dispatch.hpp"

#if defined(__SSE2__)
#include <immintrin.h>
#endif

namespace tarsk {

// A rare path kept out of line. Static, so each per-target translation unit
// has its own copy; a real call also keeps the compiler from turning the rare
// branch into masked vector code that runs on every sample.
#if defined(_MSC_VER) && !defined(__clang__)
#define TARSK_COLD static __declspec(noinline)
#else
#define TARSK_COLD [[gnu::cold, gnu::noinline]] static
#endif

typedef float Float4 __attribute__((vector_size(16)));

/// v in every lane, bit for bit (an arithmetic broadcast would turn -0 into +0).
TARSK_INLINE Float4 splat(float v) noexcept { return Float4{v, v, v, v}; }

TARSK_INLINE float fused(float a, float b, float c) noexcept { return std::fma(a, b, c); }

TARSK_INLINE Float4 fused(Float4 a, Float4 b, Float4 c) noexcept {
#if defined(__FMA__)
  return (Float4)_mm_fmadd_ps((__m128)a, (__m128)b, (__m128)c);
#else
  return Float4{std::fma(a[0], b[0], c[0]), std::fma(a[1], b[1], c[1]), std::fma(a[2], b[2], c[2]),
                std::fma(a[3], b[3], c[3])};
#endif
}

TARSK_INLINE float root(float v) noexcept { return std::sqrt(v); }

TARSK_INLINE Float4 root(Float4 v) noexcept {
#if defined(__SSE2__)
  return (Float4)_mm_sqrt_ps((__m128)v);
#else
  return Float4{std::sqrt(v[0]), std::sqrt(v[1]), std::sqrt(v[2]), std::sqrt(v[3])};
#endif
}

}  // namespace tarsk
