// Run-time choice of CPU target for the hot kernels.
//
// A source file named *_simd.cpp is compiled once per target, each time with
// TARSK_ISA_NS naming that target's namespace (isa_base, and on x86-64 also
// isa_avx2 and isa_avx512) and with that target's instruction-set flags. Its
// kernels are defined inside `namespace tarsk::TARSK_ISA_NS`; a header
// declares each one with TARSK_DISPATCH, which also defines the plain
// `tarsk::name` that forwards to the copy picked once for this CPU.
//
// Every copy computes the same bits: the build never contracts a * b + c, and
// std::fma rounds once whether it is an instruction or a library call. What
// the copies share from headers must be TARSK_INLINE, so that no out-of-line
// copy built for a wider target can be picked by the linker for a narrower one.
#pragma once

#if defined(__i386__) || defined(_M_IX86)
#error "32-bit x86 is not supported: x87 arithmetic cannot give the exact single-precision results"
#endif

#if defined(_MSC_VER) && !defined(__clang__)
#define TARSK_INLINE __forceinline
#else
#define TARSK_INLINE [[gnu::always_inline]] inline
#endif

#if defined(__x86_64__) || defined(_M_X64)
#define TARSK_X86_64 1
#else
#define TARSK_X86_64 0
#endif

namespace tarsk {

enum class Isa : int { kBaseline = 0, kAvx2 = 1, kAvx512 = 2 };

/// The widest target this CPU runs, lowered by TARSK_ISA=baseline|avx2|avx512
/// when set (never raised past what the CPU has); decided once per process.
Isa selected_isa() noexcept;

/// "baseline", "avx2" or "avx512".
const char* isa_name(Isa isa) noexcept;

namespace detail {

template <class F>
F pick(F base, [[maybe_unused]] F avx2, [[maybe_unused]] F avx512) noexcept {
  switch (selected_isa()) {
    case Isa::kAvx512: return avx512;
    case Isa::kAvx2: return avx2;
    case Isa::kBaseline: break;
  }
  return base;
}

}  // namespace detail
}  // namespace tarsk

// Use inside namespace tarsk: TARSK_DISPATCH(void, name, (A a, B b), (a, b))
#if TARSK_X86_64
#define TARSK_DISPATCH(ret, name, params, args)                                                     \
  namespace isa_base {                                                                              \
  ret name params noexcept;                                                                         \
  }                                                                                                 \
  namespace isa_avx2 {                                                                              \
  ret name params noexcept;                                                                         \
  }                                                                                                 \
  namespace isa_avx512 {                                                                            \
  ret name params noexcept;                                                                         \
  }                                                                                                 \
  inline ret name params noexcept {                                                                 \
    static auto* const fn = ::tarsk::detail::pick(&isa_base::name, &isa_avx2::name, &isa_avx512::name); \
    return fn args;                                                                                 \
  }
#else
#define TARSK_DISPATCH(ret, name, params, args) \
  namespace isa_base {                          \
  ret name params noexcept;                     \
  }                                             \
  inline ret name params noexcept { return isa_base::name args; }
#endif
