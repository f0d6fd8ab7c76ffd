// Correctly rounded single-precision sine, cosine, exponential and logarithm.
//
// The platform's C library rounds some single-precision results differently
// from the exact value, and differently from one platform to the next. These
// functions give the float nearest to the exact result on every platform:
// each is evaluated in double precision (own reduction and polynomial, no
// double library call) to well under two double ulps, then rounded once to
// float. A double lying within kMidSlack double ulps of a float midpoint might
// round the wrong way; those rare arguments are flagged and looked up in a
// table of the few whose double rounds wrongly, found by an exhaustive sweep
// of all floats (bench/fmath_exhaustive.py).
//
// The block forms run the same double arithmetic over chunks with no branch
// in the main path, so the compiler vectorises it, and send the chunks holding
// a flagged or out-of-range argument through the scalar form: block and scalar
// results agree bit for bit. Requires IEEE double arithmetic without
// contraction of a * b + c (the build's -ffp-contract=off).
//
// Cost of the block forms over 4096 arguments (TSC cycles per value, measured
// by bench/fmath_exhaustive.py): sincos 11, exp 12, log 13 built for AVX2;
// about 6 each for AVX-512; 30 to 95 on the baseline x86-64 build, which
// the compiler leaves scalar.
#pragma once

#include <array>
#include <bit>
#include <cstddef>
#include <cstdint>

#if defined(_MSC_VER) && !defined(__clang__)
#define TARSK_FMATH_INLINE __forceinline
#define TARSK_FMATH_COLD static
#else
#define TARSK_FMATH_INLINE [[gnu::always_inline]] inline
// Out-of-line rare paths are static: each per-target translation unit keeps
// its own copy, so the linker can never hand a wider target's copy to a
// narrower one.
#define TARSK_FMATH_COLD [[gnu::cold, gnu::noinline]] static inline
#endif

namespace tarsk {
namespace fmath_detail {

using u64 = std::uint64_t;
using u32 = std::uint32_t;

TARSK_FMATH_INLINE u64 bits(double d) noexcept { return std::bit_cast<u64>(d); }
TARSK_FMATH_INLINE double from_bits(u64 u) noexcept { return std::bit_cast<double>(u); }

/// 1.5 * 2^52: adding it rounds to an integer held in the low mantissa bits.
inline constexpr double kMagic = 0x1.8p52;

/// Flag a double result lying this many double ulps or fewer from a float
/// midpoint: well above the evaluation error (under two), so an unflagged
/// result always rounds right, as the sweep confirms.
inline constexpr u64 kMidSlack = 8;

/// True when the float rounding of y (a normal float result) is in doubt.
TARSK_FMATH_INLINE u64 near_midpoint(double y) noexcept {
  const u64 low = bits(y) & 0x1FFFFFFFu;
  return static_cast<u64>((low - (0x10000000u - kMidSlack)) <= 2 * kMidSlack);
}

/// Arguments whose double result rounds to the wrong float: key is the float
/// argument's bits (|x| for sine and cosine), value the correct result's bits
/// without the sign, which the double result already has right.
struct HardCase {
  u32 x;
  u32 y;
};

template <std::size_t N>
TARSK_FMATH_INLINE bool find_hard(const std::array<HardCase, N>& table, u32 key, u32& out) noexcept {
  for (const HardCase& h : table) {
    if (h.x == key) {
      out = h.y;
      return true;
    }
  }
  return false;
}

// Tables produced by bench/fmath_exhaustive.py.
inline constexpr std::array<HardCase, 1> kSinHard{{{0x46199998u, 0x3EB1FA5Du}}};
inline constexpr std::array<HardCase, 2> kCosHard{{{0x5F18B878u, 0x3F7F14BBu}, {0x6115CB11u, 0x3F78142Fu}}};
inline constexpr std::array<HardCase, 0> kExpHard{};
inline constexpr std::array<HardCase, 5> kLogHard{{{0x3C413D3Au, 0x408E158Fu},
                                                   {0x41178FEBu, 0x400FE5E7u},
                                                   {0x4C5D65A5u, 0x418F034Bu},
                                                   {0x65D890D3u, 0x4254D1F9u},
                                                   {0x6F31A8ECu, 0x42845A89u}}};

/// Rounds y to float unless it is a listed hard case.
template <std::size_t N>
TARSK_FMATH_INLINE float round_checked(double y, const std::array<HardCase, N>& table, u32 key) noexcept {
  u32 out = 0;
  if (near_midpoint(y) && find_hard(table, key, out)) {
    const u32 sign = static_cast<u32>(bits(y) >> 32) & 0x80000000u;
    return std::bit_cast<float>(out | sign);
  }
  return static_cast<float>(y);
}

// ---------------------------------------------------------------- sin, cos

/// |x| up to here uses the three-part Cody-Waite reduction: k < 2^20 keeps
/// k * kPio2_1 and k * kPio2_2 exact.
inline constexpr double kSinCosMax = 0x1p20;
inline constexpr double kTwoOverPi = 0x1.45f306dc9c883p-1;
inline constexpr double kPio2_1 = 0x1.921fb544p+0;         // 33 bits
inline constexpr double kPio2_2 = 0x1.0b4611a6p-34;        // next 33 bits
inline constexpr double kPio2_3 = 0x1.3198a2e037073p-69;   // rest, error 2^-122
inline constexpr double kPio2Hi = 0x1.921fb54442d18p+0;
inline constexpr double kPio2Lo = 0x1.1a62633145c07p-54;

/// |x| <= kSinCosMax: x - k pi/2 = rh + rl to about 2^-100 absolute, with
/// k mod 4 in the low bits of q.
TARSK_FMATH_INLINE void sincos_reduce(double a, double& rh, double& rl, u64& q) noexcept {
  const double t = a * kTwoOverPi + kMagic;
  const double k = t - kMagic;
  q = bits(t);
  const double r1 = a - k * kPio2_1;  // exact
  const double p2 = k * kPio2_2;      // exact
  const double s = r1 - p2;
  const double bb = s - r1;
  const double e = (r1 - (s - bb)) - (p2 + bb);  // exact error of s
  rh = s;
  rl = e - k * kPio2_3;
}

/// sin and cos of x from the reduced rh + rl (|rh| <= pi/4) and quadrant q;
/// xsign (0 or the sign bit) is applied to the sine.
TARSK_FMATH_INLINE void sincos_poly(double rh, double rl, u64 q, u64 xsign, double& so, double& co) noexcept {
  const double z = rh * rh;
  // Taylor terms to r^17 and r^18: truncation below 2^-62.
  const double ps =
      rh * (z * (-0x1.5555555555555p-3 +
                 z * (0x1.1111111111111p-7 +
                      z * (-0x1.a01a01a01a01ap-13 +
                           z * (0x1.71de3a556c734p-19 +
                                z * (-0x1.ae64567f544e4p-26 +
                                     z * (0x1.6124613a86d09p-33 +
                                          z * (-0x1.ae7f3e733b81fp-41 + z * 0x1.952c77030ad4ap-49))))))));
  const double pc =
      z * (-0.5 + z * (0x1.5555555555555p-5 +
                       z * (-0x1.6c16c16c16c17p-10 +
                            z * (0x1.a01a01a01a01ap-16 +
                                 z * (-0x1.27e4fb7789f5cp-22 +
                                      z * (0x1.1eed8eff8d898p-29 +
                                           z * (-0x1.93974a8c07c9dp-37 +
                                                z * (0x1.ae7f3e733b81fp-45 + z * -0x1.6827863b97d97p-53))))))));
  // sin(rh + rl) = sin rh + rl cos rh, cos(rh + rl) = cos rh - rl sin rh.
  const double sr = rh + (rl + (ps + rl * pc));
  const double cr = 1.0 + (pc - rl * (rh + ps));
  const u64 odd = u64{0} - (q & 1);
  const u64 sb = bits(sr);
  const u64 cb = bits(cr);
  const u64 sv = ((sb & ~odd) | (cb & odd)) ^ ((q & 2) << 62) ^ xsign;
  const u64 cv = ((cb & ~odd) | (sb & odd)) ^ (((q + 1) & 2) << 62);
  so = from_bits(sv);
  co = from_bits(cv);
}

/// Main path; returns nonzero when the result needs the scalar slow path
/// (|x| beyond the Cody-Waite range, inf, NaN, or a result near a midpoint).
TARSK_FMATH_INLINE u64 sincos_main(float x, double& so, double& co) noexcept {
  const u64 xsign = static_cast<u64>(std::bit_cast<u32>(x) >> 31) << 63;
  const double a = from_bits(bits(static_cast<double>(x)) & ~(u64{1} << 63));
  double rh = 0.0, rl = 0.0;
  u64 q = 0;
  sincos_reduce(a, rh, rl, q);
  sincos_poly(rh, rl, q, xsign, so, co);
  return static_cast<u64>(!(a <= kSinCosMax)) | near_midpoint(so) | near_midpoint(co);
}

/// 2/pi in 64-bit words after one zero word: bit g of the array (from the top
/// of word 0) is the bit of weight 2^-(g-63).
inline constexpr std::array<u64, 5> kTwoOverPiBits = {
    0x0000000000000000ULL, 0xA2F9836E4E441529ULL, 0xFC2757D1F534DDC0ULL, 0xDB6295993C439041ULL,
    0xFE5163ABDEBBC561ULL};

/// Exact product a * b = p + e without a fused multiply-add (Dekker).
TARSK_FMATH_INLINE void two_prod(double a, double b, double& p, double& e) noexcept {
  constexpr double kSplit = 134217729.0;  // 2^27 + 1
  const double ca = kSplit * a;
  const double ah = ca - (ca - a);
  const double al = a - ah;
  const double cb = kSplit * b;
  const double bh = cb - (cb - b);
  const double bl = b - bh;
  p = a * b;
  e = (((ah * bh - p) + ah * bl) + al * bh) + al * bl;
}

/// Reduction for finite |x| > kSinCosMax by integer arithmetic: x = m 2^e with
/// m < 2^24 and e >= -3; m times a 128-bit window of 2/pi, taken modulo 2^128,
/// is x * 2/pi modulo 4 with 126 fraction bits, exact to 2^-102.
TARSK_FMATH_COLD void sincos_reduce_large(u32 abits, double& rh, double& rl, u64& q) noexcept {
  const int e = static_cast<int>(abits >> 23) - 150;
  const u64 m = (abits & 0x7FFFFFu) | 0x800000u;
  const unsigned g0 = static_cast<unsigned>(e - 1 + 63);  // window starts at weight 2^-(e-1)
  const unsigned w = g0 / 64;
  const unsigned sh = g0 % 64;
  const u64 w0 = kTwoOverPiBits[w], w1 = kTwoOverPiBits[w + 1], w2 = kTwoOverPiBits[w + 2];
  const u64 vh = sh ? (w0 << sh) | (w1 >> (64 - sh)) : w0;
  const u64 vl = sh ? (w1 << sh) | (w2 >> (64 - sh)) : w1;
  // (hi, lo) = m * (vh, vl) mod 2^128
  const u64 p0 = m * (vl & 0xFFFFFFFFu);
  const u64 p1 = m * (vl >> 32);
  const u64 lo = p0 + (p1 << 32);
  const u64 carry = lo < p0 ? 1u : 0u;
  const u64 hi = m * vh + (p1 >> 32) + carry;
  // Nearest quadrant, and the signed remainder in units of 2^-126 quarter turns.
  q = (hi >> 62) + ((hi >> 61) & 1);
  u64 fh = static_cast<u64>(static_cast<std::int64_t>(hi << 2) >> 2);
  u64 fl = lo;
  const bool negative = (fh >> 63) != 0;
  if (negative) {
    fl = ~fl + 1;
    fh = ~fh + (fl == 0 ? 1u : 0u);
  }
  // Normalise so the top bit is set; the remainder of any float is far above 2^-64.
  int n = 0;
  if (fh == 0) {
    fh = fl;
    fl = 0;
    n = 64;
  }
  const int lz = std::countl_zero(fh);
  if (lz != 0) {
    fh = (fh << lz) | (fl >> (64 - lz));
    fl <<= lz;
  }
  n += lz;
  // f = (fh 2^64 + fl) 2^-(126+n) = d1 2^(-51-n) + d2 2^(-83-n), 85 bits.
  const double d1 = static_cast<double>(fh >> 11);
  const double d2 = static_cast<double>(((fh & 0x7FFu) << 21) | (fl >> 43));
  const double fhi = d1 * from_bits(static_cast<u64>(1023 - 51 - n) << 52);
  const double flo = d2 * from_bits(static_cast<u64>(1023 - 83 - n) << 52);
  double p = 0.0, pe = 0.0;
  two_prod(fhi, kPio2Hi, p, pe);
  const double tail = pe + (fhi * kPio2Lo + flo * kPio2Hi);
  rh = p + tail;
  rl = tail - (rh - p);
  if (negative) {
    rh = -rh;
    rl = -rl;
  }
}

TARSK_FMATH_COLD void sincos_slow(float x, float& s, float& c) noexcept {
  const u32 xb = std::bit_cast<u32>(x);
  const u32 ab = xb & 0x7FFFFFFFu;
  if (ab >= 0x7F800000u) {  // inf or NaN
    s = x - x;
    c = s;
    return;
  }
  const u64 xsign = static_cast<u64>(xb >> 31) << 63;
  double so = 0.0, co = 0.0;
  if (static_cast<double>(std::bit_cast<float>(ab)) <= kSinCosMax) {
    sincos_main(x, so, co);
  } else {
    double rh = 0.0, rl = 0.0;
    u64 q = 0;
    sincos_reduce_large(ab, rh, rl, q);
    sincos_poly(rh, rl, q, xsign, so, co);
  }
  s = round_checked(so, kSinHard, ab);
  c = round_checked(co, kCosHard, ab);
}

// ---------------------------------------------------------------- exp

inline constexpr double kInvLn2 = 0x1.71547652b82fep+0;
inline constexpr double kLn2Hi = 0x1.62e42fefa38p-1;  // 41 bits: k * kLn2Hi exact
inline constexpr double kLn2Lo = 0x1.ef35793c7673p-45;
/// Normal float results (or overflow to inf) for x in [kExpMin, kExpMax].
inline constexpr double kExpMin = -87.3;
inline constexpr double kExpMax = 89.0;

/// exp(x) = y 2^k with y in [0.7, 1.42]; valid for |x| <= 110.
TARSK_FMATH_INLINE double exp_core(double xd, u64& k_bits) noexcept {
  const double t = xd * kInvLn2 + kMagic;
  const double k = t - kMagic;
  k_bits = bits(t) - bits(kMagic);  // k as a two's-complement integer
  const double r1 = xd - k * kLn2Hi;  // exact
  const double p = k * kLn2Lo;
  const double rh = r1 - p;
  const double bb = rh - r1;
  const double rl = (r1 - (rh - bb)) - (p + bb);
  // Taylor terms to r^14 for |r| <= ln2/2: truncation below 2^-57 relative,
  // scaled by r^2 at the top.
  const double q =
      (rh * rh) *
      (0.5 + rh * (0x1.5555555555555p-3 +
                   rh * (0x1.5555555555555p-5 +
                         rh * (0x1.1111111111111p-7 +
                               rh * (0x1.6c16c16c16c17p-10 +
                                     rh * (0x1.a01a01a01a01ap-13 +
                                           rh * (0x1.a01a01a01a01ap-16 +
                                                 rh * (0x1.71de3a556c734p-19 +
                                                       rh * (0x1.27e4fb7789f5cp-22 +
                                                             rh * (0x1.ae64567f544e4p-26 +
                                                                   rh * (0x1.1eed8eff8d898p-29 +
                                                                         rh * (0x1.6124613a86d09p-33 +
                                                                               rh * 0x1.93974a8c07c9dp-37))))))))))));
  return 1.0 + (rh + (rl + q));
}

TARSK_FMATH_INLINE double exp_scale(u64 k_bits) noexcept { return from_bits((k_bits + 1023) << 52); }

TARSK_FMATH_INLINE u64 exp_main(float x, double& out) noexcept {
  const double xd = static_cast<double>(x);
  const u64 in_range = static_cast<u64>(xd >= kExpMin) & static_cast<u64>(xd <= kExpMax);
  const double xs = from_bits(bits(xd) & (u64{0} - in_range));  // 0 when out of range
  u64 k_bits = 0;
  const double y = exp_core(xs, k_bits);
  out = y * exp_scale(k_bits);
  return (in_range ^ 1) | near_midpoint(y);
}

TARSK_FMATH_COLD float exp_slow(float x) noexcept {
  const double xd = static_cast<double>(x);
  const u32 key = std::bit_cast<u32>(x);
  if (xd != xd) return x + x;
  if (xd > kExpMax) return std::bit_cast<float>(0x7F800000u);
  if (xd <= -104.0) return 0.0f;  // below 2^-150
  u64 k_bits = 0;
  const double y = exp_core(xd, k_bits);
  const double v = y * exp_scale(k_bits);
  bool doubt = near_midpoint(y) != 0;
  if (xd < kExpMin) {
    // Subnormal result: rounds on the fixed 2^-149 grid.
    const double w = v * 0x1p149;
    const double frac = w - static_cast<double>(static_cast<std::int64_t>(w));
    const double d = frac >= 0.5 ? frac - 0.5 : 0.5 - frac;
    const double ulp = from_bits(bits(w) & 0x7FF0000000000000ULL) * 0x1p-52;
    doubt = d <= static_cast<double>(kMidSlack) * ulp;
  }
  u32 out = 0;
  if (doubt && find_hard(kExpHard, key, out)) return std::bit_cast<float>(out);
  return static_cast<float>(v);
}

// ---------------------------------------------------------------- log

inline constexpr double kSqrt2 = 0x1.6a09e667f3bcdp+0;

/// log of a positive finite x (subnormal floats are normal doubles).
TARSK_FMATH_INLINE double log_core(double xd) noexcept {
  const u64 b = bits(xd);
  // Exponent as a double without an integer conversion.
  const double ex = from_bits(0x4330000000000000ULL | (b >> 52)) - (0x1p52 + 1023.0);
  const double m0 = from_bits((b & 0x000FFFFFFFFFFFFFULL) | 0x3FF0000000000000ULL);
  const u64 big = u64{0} - static_cast<u64>(m0 > kSqrt2);
  const double m = from_bits(bits(m0) - (big & (u64{1} << 52)));  // halved when big
  const double e = ex + from_bits(bits(1.0) & big);
  // log m = 2 atanh(s), s = f / (2 + f), |s| <= 0.1716.
  const double f = m - 1.0;  // exact
  const double d = 2.0 + f;  // exact, at most 26 bits
  const double s = f / d;
  // s + sl = f / d to twice double precision: sh * d and sl0 * d are exact.
  constexpr double kSplit = 134217729.0;
  const double cs = kSplit * s;
  const double sh = cs - (cs - s);
  const double sl0 = s - sh;
  const double rho = (f - sh * d) - sl0 * d;
  const double sl = rho / d;
  const double z = s * s;
  // Odd terms 2 s^(2n+1) / (2n+1) to n = 11: truncation below 2^-65.
  const double p =
      s * (z * (0x1.5555555555555p-1 +
                z * (0x1.999999999999ap-2 +
                     z * (0x1.2492492492492p-2 +
                          z * (0x1.c71c71c71c71cp-3 +
                               z * (0x1.745d1745d1746p-3 +
                                    z * (0x1.3b13b13b13b14p-3 +
                                         z * (0x1.1111111111111p-3 +
                                              z * (0x1.e1e1e1e1e1e1ep-4 +
                                                   z * (0x1.af286bca1af28p-4 +
                                                        z * (0x1.8618618618618p-4 + z * 0x1.642c8590b2164p-4)))))))))));
  const double a = e * kLn2Hi;  // exact
  const double b2 = s + s;
  const double h = a + b2;
  const double bb = h - a;
  const double he = (a - (h - bb)) + (b2 - bb);
  return h + (he + (e * kLn2Lo + ((sl + sl) + p)));
}

TARSK_FMATH_INLINE u64 log_main(float x, double& out) noexcept {
  const double xd = static_cast<double>(x);
  const u64 in_range = static_cast<u64>(xd > 0.0) & static_cast<u64>(xd <= 0x1.fffffep127);
  const u64 keep = u64{0} - in_range;
  out = log_core(from_bits((bits(xd) & keep) | (bits(1.0) & ~keep)));  // 1 when out of range
  return (in_range ^ 1) | near_midpoint(out);
}

TARSK_FMATH_COLD float log_slow(float x) noexcept {
  const u32 xb = std::bit_cast<u32>(x);
  if (x != x) return x + x;
  if ((xb & 0x7FFFFFFFu) == 0) return -std::bit_cast<float>(0x7F800000u);
  if (xb >> 31) return std::bit_cast<float>(0x7FC00000u);
  if (xb == 0x7F800000u) return x;
  return round_checked(log_core(static_cast<double>(x)), kLogHard, xb);
}

/// Chunk of the block forms: a multiple of every vector width in use.
inline constexpr std::size_t kChunk = 16;

}  // namespace fmath_detail

/// sin x and cos x, each the float nearest the exact value.
TARSK_FMATH_INLINE void cr_sincosf(float x, float& s, float& c) noexcept {
  double so = 0.0, co = 0.0;
  if (fmath_detail::sincos_main(x, so, co) == 0) [[likely]] {
    s = static_cast<float>(so);
    c = static_cast<float>(co);
  } else {
    fmath_detail::sincos_slow(x, s, c);
  }
}

TARSK_FMATH_INLINE float cr_sinf(float x) noexcept {
  float s = 0.0f, c = 0.0f;
  cr_sincosf(x, s, c);
  return s;
}

TARSK_FMATH_INLINE float cr_cosf(float x) noexcept {
  float s = 0.0f, c = 0.0f;
  cr_sincosf(x, s, c);
  return c;
}

/// e^x, the float nearest the exact value (subnormal, 0 and inf included).
TARSK_FMATH_INLINE float cr_expf(float x) noexcept {
  double y = 0.0;
  if (fmath_detail::exp_main(x, y) == 0) [[likely]] return static_cast<float>(y);
  return fmath_detail::exp_slow(x);
}

/// Natural logarithm, the float nearest the exact value; log 0 = -inf,
/// log of a negative number is NaN.
TARSK_FMATH_INLINE float cr_logf(float x) noexcept {
  double y = 0.0;
  if (fmath_detail::log_main(x, y) == 0) [[likely]] return static_cast<float>(y);
  return fmath_detail::log_slow(x);
}

/// s[i], c[i] = cr_sincosf(x[i]); any of the arrays may be the same.
TARSK_FMATH_INLINE void cr_sincosf_n(const float* x, float* s, float* c, std::size_t n) noexcept {
  using fmath_detail::kChunk;
  const std::size_t whole = n - n % kChunk;
  std::size_t i = 0;
  for (; i < whole; i += kChunk) {
    float xin[kChunk], so[kChunk], co[kChunk];
    for (std::size_t j = 0; j < kChunk; ++j) xin[j] = x[i + j];
    fmath_detail::u64 flags = 0;
    for (std::size_t j = 0; j < kChunk; ++j) {
      double sd = 0.0, cd = 0.0;
      flags |= fmath_detail::sincos_main(xin[j], sd, cd);
      so[j] = static_cast<float>(sd);
      co[j] = static_cast<float>(cd);
    }
    if (flags != 0) [[unlikely]] {
      for (std::size_t j = 0; j < kChunk; ++j) cr_sincosf(xin[j], so[j], co[j]);
    }
    for (std::size_t j = 0; j < kChunk; ++j) {
      s[i + j] = so[j];
      c[i + j] = co[j];
    }
  }
  for (; i < n; ++i) {
    float sv = 0.0f, cv = 0.0f;
    cr_sincosf(x[i], sv, cv);
    s[i] = sv;
    c[i] = cv;
  }
}

namespace fmath_detail {

/// y[i] = Scalar(x[i]) by chunks: Main's branch-free double result, unless a
/// flag in the chunk sends the whole chunk through the scalar form.
template <u64 (*Main)(float, double&), float (*Scalar)(float)>
TARSK_FMATH_INLINE void unary_n(const float* x, float* y, std::size_t n) noexcept {
  const std::size_t whole = n - n % kChunk;
  std::size_t i = 0;
  for (; i < whole; i += kChunk) {
    float xin[kChunk], out[kChunk];
    for (std::size_t j = 0; j < kChunk; ++j) xin[j] = x[i + j];
    u64 flags = 0;
    for (std::size_t j = 0; j < kChunk; ++j) {
      double v = 0.0;
      flags |= Main(xin[j], v);
      out[j] = static_cast<float>(v);
    }
    if (flags != 0) [[unlikely]] {
      for (std::size_t j = 0; j < kChunk; ++j) out[j] = Scalar(xin[j]);
    }
    for (std::size_t j = 0; j < kChunk; ++j) y[i + j] = out[j];
  }
  for (; i < n; ++i) y[i] = Scalar(x[i]);
}

}  // namespace fmath_detail

/// y[i] = cr_expf(x[i]); x and y may be the same array.
TARSK_FMATH_INLINE void cr_expf_n(const float* x, float* y, std::size_t n) noexcept {
  fmath_detail::unary_n<&fmath_detail::exp_main, &cr_expf>(x, y, n);
}

/// y[i] = cr_logf(x[i]); x and y may be the same array.
TARSK_FMATH_INLINE void cr_logf_n(const float* x, float* y, std::size_t n) noexcept {
  fmath_detail::unary_n<&fmath_detail::log_main, &cr_logf>(x, y, n);
}

}  // namespace tarsk
