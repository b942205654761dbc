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

// Q61 divided by a small positive integer, truncating toward zero.
[[gnu::always_inline]] inline int64_t q61_div(int64_t v, int64_t d) { return v / d; }

// Applies a sign mask (0 or all ones) to a magnitude: two's complement negation when set.
[[gnu::always_inline]] inline uint64_t apply_sign(uint64_t m, uint64_t sign_mask) {
  return (m ^ sign_mask) - sign_mask;
}

}  // namespace kaldro
