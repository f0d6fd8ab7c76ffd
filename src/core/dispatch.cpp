// Picks the kernel target once per process from the CPU's feature bits.
#include "core/dispatch.hpp"

#include <cstdlib>
#include <cstring>

#if TARSK_X86_64 && defined(_MSC_VER) && !defined(__clang__)
#include <intrin.h>
#endif

namespace tarsk {
namespace {

#if TARSK_X86_64
#if defined(_MSC_VER) && !defined(__clang__)
bool os_saves(unsigned long long mask) noexcept { return (_xgetbv(0) & mask) == mask; }

Isa detect() noexcept {
  int r[4];
  __cpuid(r, 0);
  if (r[0] < 7) return Isa::kBaseline;
  __cpuid(r, 1);
  const bool fma = (r[2] >> 12) & 1, osxsave = (r[2] >> 27) & 1, avx = (r[2] >> 28) & 1;
  if (!(fma && osxsave && avx && os_saves(0x6))) return Isa::kBaseline;
  __cpuidex(r, 7, 0);
  const unsigned b = static_cast<unsigned>(r[1]);
  if (!((b >> 5) & 1)) return Isa::kBaseline;  // AVX2
  const bool avx512 = ((b >> 16) & 1) && ((b >> 17) & 1) && ((b >> 30) & 1) && ((b >> 31) & 1);
  return avx512 && os_saves(0xE6) ? Isa::kAvx512 : Isa::kAvx2;
}
#else
Isa detect() noexcept {
  __builtin_cpu_init();
  if (!(__builtin_cpu_supports("avx2") && __builtin_cpu_supports("fma"))) return Isa::kBaseline;
  if (__builtin_cpu_supports("avx512f") && __builtin_cpu_supports("avx512bw") &&
      __builtin_cpu_supports("avx512dq") && __builtin_cpu_supports("avx512vl"))
    return Isa::kAvx512;
  return Isa::kAvx2;
}
#endif
#else
Isa detect() noexcept { return Isa::kBaseline; }
#endif

Isa choose() noexcept {
  Isa isa = detect();
  // Forcing a narrower path lets the tests compare every path this CPU runs.
  if (const char* forced = std::getenv("TARSK_ISA")) {
    Isa want = isa;
    if (std::strcmp(forced, "baseline") == 0) want = Isa::kBaseline;
    else if (std::strcmp(forced, "avx2") == 0) want = Isa::kAvx2;
    else if (std::strcmp(forced, "avx512") == 0) want = Isa::kAvx512;
    if (static_cast<int>(want) < static_cast<int>(isa)) isa = want;
  }
  return isa;
}

}  // namespace

Isa selected_isa() noexcept {
  static const Isa isa = choose();
  return isa;
}

const char* isa_name(Isa isa) noexcept {
  switch (isa) {
    case Isa::kAvx512: return "avx512";
    case Isa::kAvx2: return "avx2";
    case Isa::kBaseline: break;
  }
  return "baseline";
}

}  // namespace tarsk
