// Q61 fixed point, shared by every elementary function: a signed 64-bit v stands for
// v / 2^61 (one is 2^61, range just under (-4, 4)). Conversions, the truncating product
// and the truncating division are defined here once, so that all callers agree bit for bit.
#pragma once

#include <cstdint>
#include <cstring>

#include "frame/internal.h"

namespace kaldro {

constexpr int64_t kQ61One = int64_t(1) << 61;
constexpr double kTwoTo61 = 2305843009213693952.0;   // 2^61
constexpr double kTwoToMinus61 = 0x1p-61;            // bits 0x3C20000000000000

[[gnu::always_inline]] inline uint64_t double_bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, sizeof u);
  return u;
}
[[gnu::always_inline]] inline double bits_double(uint64_t u) {
  double d;
  std::memcpy(&d, &u, sizeof d);
  return d;
}

// Truncation of a double toward zero into a signed 64-bit integer, defined everywhere:
// NaN gives 0 and values beyond the range saturate (never reached by the elementary
// functions, whose arguments stay well inside (-4, 4) in Q61 terms).
[[gnu::always_inline]] inline int64_t truncate_to_i64(double y) {
  if (y != y) return 0;
  if (y >= 9223372036854775808.0) return INT64_MAX;
  if (y < -9223372036854775808.0) return INT64_MIN;
  return int64_t(y);
}

// Double to Q61: truncate(fma(d, 2^61, +-0.5)), half signed like d (-0.0 counts as
// non-negative). One fused operation, one rounding: rounds to nearest, ties away from zero.
[[gnu::always_inline]] inline int64_t q61_from_double(double d) {
  return truncate_to_i64(fused(d, kTwoTo61, d >= 0 ? 0.5 : -0.5));
}

// The same for arguments known to be non-negative (or NaN, which gives 0): always +0.5.
[[gnu::always_inline]] inline int64_t q61_from_nonnegative(double d) {
  return truncate_to_i64(fused(d, kTwoTo61, 0.5));
}

// The same for the arguments of the series kernels: |d| < 1, or NaN (which gives 0).
// Without the range tests; the half takes the sign bit of d, which differs from the rule
// "+0.5 when d >= 0" only at -0.0, where both give 0. The branch-free form suits code
// that interleaves several arguments; the other keeps a well-predicted branch off the
// dependency chain.
[[gnu::always_inline]] inline int64_t q61_from_small(double d) {
  const double y = fused(d, kTwoTo61, __builtin_copysign(0.5, d));
  return int64_t(y == y ? y : 0.0);
}
// |Q61 of d| for |d| < 1, not NaN: the conversion rounds symmetrically about zero, so
// the magnitude comes from |d| with the half always positive, and the sign of d (or of
// the Q61 value, which differs only where the value is 0) is applied by the caller.
[[gnu::always_inline]] inline uint64_t q61_magnitude_from_finite_small(double d) {
  return static_cast<uint64_t>(int64_t(fused(__builtin_fabs(d), kTwoTo61, 0.5)));
}
// The same magnitude taken from the bits of d, for 2^-8 <= |d| < 1: then |d| 2^61 is an
// integer of at least 2^53 whose unit is 2 or more, so adding the half changes nothing
// and the result is the significand shifted into place (by 1 to 8 bits). It spares the
// conversion instructions where the bits are at hand.
constexpr uint64_t kQ61BitsFloor = 0x3F70000000000000ull;  // 2^-8
[[gnu::always_inline]] inline uint64_t q61_magnitude_from_bits(uint64_t bits) {
  const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
  // the exponent field is 1015 ... 1022; the sign bit above it adds 2048, a multiple of
  // 64, so the shift count needs no mask
  return m << (((bits >> 52) - 1014) & 63);
}
[[gnu::always_inline]] inline uint64_t q61_magnitude_from_finite_small_bits(double d) {
  const uint64_t bits = double_bits(d);
  if (__builtin_expect((bits << 1) >= (kQ61BitsFloor << 1), 1))  // |d| >= 2^-8
    return q61_magnitude_from_bits(bits);
  return q61_magnitude_from_finite_small(d);
}
[[gnu::always_inline]] inline int64_t q61_from_small_branchless(double d) {
  const double y = fused(d, kTwoTo61, __builtin_copysign(0.5, d));
  const uint64_t keep = 0 - static_cast<uint64_t>(y == y);  // NaN -> +0.0
  return int64_t(bits_double(double_bits(y) & keep));
}

// Q61 to double: integer conversion (nearest, ties to even), then an exact scaling.
[[gnu::always_inline]] inline double q61_to_double(int64_t v) {
  return double(v) * kTwoToMinus61;
}

// floor(a * b / 2^61) for magnitudes, low 64 bits kept.
[[gnu::always_inline]] inline uint64_t q61_mul_magnitude(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(a) * b;
  return static_cast<uint64_t>(p >> 61);
#else
  // Four products of 32-bit halves.
  const uint64_t al = a & 0xFFFFFFFFu, ah = a >> 32, bl = b & 0xFFFFFFFFu, bh = b >> 32;
  const uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
  const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  const uint64_t lo = (mid << 32) | (ll & 0xFFFFFFFFu);
  const uint64_t hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
  return (hi << 3) | (lo >> 61);
#endif
}

// |v| as an unsigned word (2^63 for INT64_MIN), without a branch on the sign.
[[gnu::always_inline]] inline uint64_t magnitude(int64_t v) {
  const uint64_t s = static_cast<uint64_t>(v >> 63);
  return (static_cast<uint64_t>(v) ^ s) - s;
}

// Q61 product: the exact product of the magnitudes shifted right by 61 (truncated toward
// zero), negated when the signs differ. No overflow test: callers keep |a*b| below 4.
[[gnu::always_inline]] inline int64_t q61_mul(int64_t a, int64_t b) {
  const uint64_t m = q61_mul_magnitude(magnitude(a), magnitude(b));
  return static_cast<int64_t>((a ^ b) < 0 ? 0 - m : m);
}

// The high 64 bits of the 128-bit product a * b: one MUL or MULX on x86-64, as the
// compiler chooses (MULX forced on every product measured slower on AMD Zen 3).
[[gnu::always_inline]] inline uint64_t mul_high64(uint64_t a, uint64_t b) {
#if defined(__SIZEOF_INT128__)
  return static_cast<uint64_t>((static_cast<unsigned __int128>(a) * b) >> 64);
#else
  const uint64_t al = a & 0xFFFFFFFFu, ah = a >> 32, bl = b & 0xFFFFFFFFu, bh = b >> 32;
  const uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
  const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
  return hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
#endif
}

// The Q61 product of magnitudes t and c given 8c (which fits 64 bits when c is below
// one): floor(t * c / 2^61) is exactly the high word of t * 8c, with no shift of the
// 128-bit product. The series kernels pass 8c, formed once per argument.
[[gnu::always_inline]] inline uint64_t q61_mul_high8(uint64_t t, uint64_t c8) {
  return mul_high64(t, c8);
}

// Q61 divided by a small positive integer, truncating toward zero.
[[gnu::always_inline]] inline int64_t q61_div(int64_t v, int64_t d) { return v / d; }

constexpr int ceil_log2(uint64_t d) {
  int k = 0;
  while ((uint64_t(1) << k) < d) ++k;
  return k;
}

// Multiplier and shift for floor(n / D) = (n * m) >> k over every n < 2^nbits: with
// m = ceil(2^k / D) and e = m D - 2^k, n m / 2^k = n / D + n e / (D 2^k), and the excess
// stays below 1/D (so never reaches the next integer) when n e < 2^k, which holds for
// all such n once 2^nbits e <= 2^k. The smallest k >= 64 with m < 2^64 is chosen; for
// nbits <= 63, k = nbits + ceil(log2 D) qualifies (e < D <= 2^ceil(log2 D)) whenever
// that k is at least 64 (and then m < 2^64).
struct DivisionMagic {
  uint64_t multiplier;
  int shift;  // k - 64
};
#if defined(__SIZEOF_INT128__)
constexpr DivisionMagic division_magic(uint64_t d, int nbits) {
  for (int k = 64; k < 128; ++k) {
    const unsigned __int128 p = static_cast<unsigned __int128>(1) << k;
    const unsigned __int128 m = (p + d - 1) / d;
    if (m >> 64) break;
    const unsigned __int128 e = m * d - p;
    if ((e << nbits) <= p) return {static_cast<uint64_t>(m), k - 64};
  }
  return {0, -1};
}
#endif

// Q61 magnitude n < 2^nbits divided by a constant D, truncating, as one multiplication
// (a shift for powers of two). For numerators of at most 30 bits the product fits in 64
// bits: m = ceil(2^k / D) with k = nbits + ceil(log2 D) has the excess e = m D - 2^k below
// D, so n e < 2^k as above, and n m < 2^61.
template <uint64_t D, int NBITS = 62>
[[gnu::always_inline]] inline uint64_t q61_div_small(uint64_t n) {
  static_assert(D >= 1 && NBITS <= 63, "divisor must be positive, numerator below 2^63");
  if constexpr ((D & (D - 1)) == 0) {
    return n >> ceil_log2(D);
  } else if constexpr (NBITS <= 30) {
    constexpr int k = NBITS + ceil_log2(D);
    constexpr uint64_t m = ((uint64_t(1) << k) + D - 1) / D;
    static_assert(m * D - (uint64_t(1) << k) < D && (m >> 31) <= 1, "exact small multiplier");
    return (n * m) >> k;
  } else {
#if defined(__SIZEOF_INT128__)
    constexpr DivisionMagic magic = division_magic(D, NBITS);
    static_assert(magic.shift >= 0, "no exact multiplier");
    const uint64_t high = mul_high64(n, magic.multiplier);
    if constexpr (magic.shift == 0)
      return high;
    else
      return high >> magic.shift;
#else
    return n / D;
#endif
  }
}

// The Q61 product of magnitudes t and c divided by a constant D, both steps truncating:
// floor(floor(t c / 2^61) / D), which equals floor(t 8c / (2^64 D)). It takes one
// multiplication by cd = floor(8c / D) (formed once per argument, off the chain of
// terms): with 8c = D cd + rho, rho < D, the exact quotient is (t cd + t rho / D) / 2^64
// and 0 <= t rho / D < t, so the high word of t cd is the quotient whenever its low word
// plus t does not carry. When it would, `unsure` is increased and the caller must take
// the long way (q61_div_small of q61_mul_high8). For D = 2, 4 or 8, rho = 0 (8c is a
// multiple of 8) and the high word is always the quotient.
template <uint64_t D>
[[gnu::always_inline]] inline uint64_t q61_quotient_of_8c(uint64_t c) {
  static_assert(D >= 2 && D <= 64, "small divisor");
  if constexpr (D == 2 || D == 4 || D == 8)
    return c << (3 - ceil_log2(D));
  else
    return q61_div_small<D, 63>(c << 3);  // c < 2^60, so 8c < 2^63
}
template <uint64_t D>
[[gnu::always_inline]] inline uint64_t q61_mul_div_by_quotient(uint64_t t, uint64_t cd,
                                                                uint64_t &unsure) {
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(t) * cd;
  const uint64_t lo = static_cast<uint64_t>(p), hi = static_cast<uint64_t>(p >> 64);
#else
  const uint64_t lo = t * cd, hi = mul_high64(t, cd);
#endif
  if constexpr (!(D == 2 || D == 4 || D == 8)) {
    unsure += uint64_t(lo + t < lo);  // add, adc
    // settle the test here, so that the low word is not held in a register (or spilled)
    // until the end of the series
    __asm__("" : "+r"(unsure));
  }
  return hi;
}

// Applies a sign mask (0 or all ones) to a magnitude: two's complement negation when set.
[[gnu::always_inline]] inline uint64_t apply_sign(uint64_t m, uint64_t sign_mask) {
  return (m ^ sign_mask) - sign_mask;
}

}  // namespace kaldro
