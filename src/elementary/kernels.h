// The elementary functions' bodies, written over L independent arguments evaluated in
// lock step (L = 1 is the scalar function). Included by each instruction-set tier's file;
// everything here has internal linkage, so every tier keeps its own compiled copy.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "elementary/q61.h"

#if defined(__SSE2__)
#include <emmintrin.h>
#endif

#define KALDRO_INLINE __attribute__((always_inline))
// A loop over the lanes, always unrolled so that each lane's values stay in registers.
#define KALDRO_LANES(l) _Pragma("GCC unroll 16") for (int l = 0; l < L; ++l)

namespace kaldro {
namespace {

constexpr double kLn2High = std::bit_cast<double>(uint64_t(0x3FE62E42FEE00000));
constexpr double kLn2Low = std::bit_cast<double>(uint64_t(0x3DEA39EF35793C76));
constexpr double kLog2e = std::bit_cast<double>(uint64_t(0x3FF71547652B82FE));
constexpr double kSqrt2 = std::bit_cast<double>(uint64_t(0x3FF6A09E667F3BCD));
// the logarithm's interval switch compares significands with this one
static_assert((std::bit_cast<uint64_t>(kSqrt2) & ((uint64_t(1) << 52) - 1)) == 0x6A09E667F3BCDull);
constexpr double kExpOverflow = std::bit_cast<double>(uint64_t(0x40862E42FEFA39EF));
constexpr double kExpUnderflow = std::bit_cast<double>(uint64_t(0xC08749999999999A));
constexpr double kInf = std::bit_cast<double>(uint64_t(0x7FF0000000000000));
constexpr double kQuietNaN = std::bit_cast<double>(uint64_t(0x7FF8000000000000));

constexpr uint64_t kTwoOverPi64 = 0xA2F9836E4E44152Aull;  // 2/pi * 2^64, nearest
constexpr uint64_t kPiOver2Q61 = 0x3243F6A8885A308Dull;   // pi/2 in Q61, truncated
constexpr double kTanPiOver8 = std::bit_cast<double>(uint64_t(0x3FDA827999FCEF34));
constexpr double kTan3PiOver8 = std::bit_cast<double>(uint64_t(0x4003504F333F9DE6));
constexpr double kPiOver4 = std::bit_cast<double>(uint64_t(0x3FE921FB54442D18));
constexpr double kPiOver2 = std::bit_cast<double>(uint64_t(0x3FF921FB54442D18));
constexpr double kPi = std::bit_cast<double>(uint64_t(0x400921FB54442D18));

constexpr uint64_t kOne = uint64_t(1) << 61;
constexpr uint64_t kFracMask = (uint64_t(1) << 52) - 1;

// Calls f(std::integral_constant<size_t, 0>) ... f(<N - 1>), so that loop indices (and the
// divisors built from them) are compile-time constants.
template <typename F, size_t... I>
KALDRO_INLINE inline void unroll_impl(F &&f, std::index_sequence<I...>) {
  (f(std::integral_constant<size_t, I>{}), ...);
}
template <size_t N, typename F>
KALDRO_INLINE inline void unroll(F &&f) {
  unroll_impl(f, std::make_index_sequence<N>{});
}

KALDRO_INLINE inline uint64_t sign_mask(bool negative) { return 0 - uint64_t(negative); }
KALDRO_INLINE inline uint64_t sign_mask_of(int64_t v) { return uint64_t(v >> 63); }

// c ? a : b on doubles. With several lanes it is done without a branch, so that the
// whole kernel is one straight block whose lanes interleave; a single lane keeps the
// (well predicted) branch, which costs nothing on the dependency chain.
template <int L>
KALDRO_INLINE inline double select(bool c, double a, double b) {
  if constexpr (L == 1) {
    return c ? a : b;
  } else {
    const uint64_t m = sign_mask(c);
    return bits_double((double_bits(a) & m) | (double_bits(b) & ~m));
  }
}

// Q61 of a series argument, in the form that suits the number of lanes.
template <int L>
KALDRO_INLINE inline int64_t q61_of_argument(double d) {
  if constexpr (L == 1)
    return q61_from_small(d);
  else
    return q61_from_small_branchless(d);
}

// Exponential. The series runs on magnitudes: every term of the signed series is
// sign(c)^i times the magnitude computed here, truncations included. With |r| at most
// ln 2 / 2 (0.3466), the term r^15 / 15! is below 2^-61 (0.3466^15 / 15! < 2^-63), so it
// and the three after it truncate to zero for every argument: the sum is complete after
// r^14 / 14!. The odd terms are summed apart and signed once (the sum is taken modulo
// 2^64, so the order of the additions does not matter). The sign is that of r, which
// differs from the sign of c only where c is 0 and every term with it.
//
// The numerator of step i (the term before it times c) is at most |c|^i / (i - 1)! in
// Q61, |c| < 0.35: the bits it can take, which let the late divisions use short products.
constexpr int exp_numerator_bits(int i) {
  double bound = 2305843009213693952.0;  // 2^61
  for (int j = 1; j <= i; ++j) bound *= 0.35;
  for (int j = 2; j < i; ++j) bound /= j;
  int bits = 0;
  while (double(uint64_t(1) << bits) <= bound) ++bits;
  return bits;
}
static_assert(exp_numerator_bits(2) == 58 && exp_numerator_bits(10) <= 30, "bounds");

template <int L>
KALDRO_INLINE inline void exp_series_long(const uint64_t *cm, const uint64_t *negative,
                                          uint64_t *sum) {
  uint64_t c8[L], term[L], even[L], odd[L];
  KALDRO_LANES(l) {
    c8[l] = cm[l] << 3;
    term[l] = cm[l];  // r / 1!
    even[l] = kOne;
    odd[l] = cm[l];
  }
  unroll<13>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t i = I + 2;
    KALDRO_LANES(l) {
      term[l] = q61_div_small<i, exp_numerator_bits(i)>(q61_mul_high8(term[l], c8[l]));
      if constexpr (i & 1)
        odd[l] += term[l];
      else
        even[l] += term[l];
    }
  });
  KALDRO_LANES(l) sum[l] = even[l] + apply_sign(odd[l], negative[l]);
}

// The same sum with one multiplication per term on the chain: each step multiplies by
// floor(8c / i), formed apart from the chain (q61_mul_div_by_quotient). A lane with a
// step that could not be settled that way (rare: the product's low word must come within
// the term of 2^64, about 0.3% of arguments) is summed again the long way. Returns
// whether any lane was.
template <int L>
KALDRO_INLINE inline bool exp_series(const uint64_t *cm, const uint64_t *negative,
                                     uint64_t *sum) {
  uint64_t term[L], even[L], odd[L], unsure[L];
  KALDRO_LANES(l) {
    term[l] = cm[l];  // r / 1!
    even[l] = kOne;
    odd[l] = cm[l];
    unsure[l] = 0;
  }
  unroll<13>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t i = I + 2;
    KALDRO_LANES(l) {
      // the quotient does not depend on the term, so it is ready before the term is
      const uint64_t cd = q61_quotient_of_8c<i>(cm[l]);
      term[l] = q61_mul_div_by_quotient<i>(term[l], cd, unsure[l]);
      if constexpr (i & 1)
        odd[l] += term[l];
      else
        even[l] += term[l];
    }
  });
  bool any = false;
  KALDRO_LANES(l) {
    sum[l] = even[l] + apply_sign(odd[l], negative[l]);
    if (__builtin_expect(unsure[l] != 0, 0)) {
      exp_series_long<1>(&cm[l], &negative[l], &sum[l]);
      any = true;
    }
  }
  return any;
}

// k = round half away from zero of t = x log2(e); t has the sign of x (zeros included),
// so the half is taken from x and does not wait for the product.
KALDRO_INLINE inline double exp_rounded_k(double x) {
  return x * kLog2e + __builtin_copysign(0.5, x);
}
KALDRO_INLINE inline double truncated(double v, int32_t as_int) {
#if defined(__SSE4_1__)
  (void)as_int;
  return __builtin_trunc(v);  // the integer as a double without the round trip
#else
  (void)v;
  return double(as_int);
#endif
}

// The result (sum 2^-61) 2^h 2^(k - h), h = k / 2 truncated, multiplied in that order.
// The first product is exact (it stays normal), so whenever 2^(k - 61) is itself a
// normal double (k >= -961) one multiplication by it rounds the same exact value once
// and gives the same double.
KALDRO_INLINE inline double exp_scale_two_step(uint64_t sum, int32_t k) {
  const int32_t h = k / 2;
  const double s1_q61 = bits_double(uint64_t((h - 61 + 1023) & 0x7FF) << 52);
  const double s2 = bits_double(uint64_t((k - h + 1023) & 0x7FF) << 52);
  return (double(int64_t(sum)) * s1_q61) * s2;
}

// One argument: the special values leave first, and the usual range takes the single
// scaling.
KALDRO_INLINE inline double exp_scalar(double x) {
  if (__builtin_expect(!(x <= kExpOverflow && x >= kExpUnderflow), 0))  // NaN too
    return x != x ? x : x > 0 ? kInf : 0.0;
  const double rounded = exp_rounded_k(x);
  const int32_t k = int32_t(rounded);
  const double kd = truncated(rounded, k);
  double r = fused(kd, -kLn2High, x);
  r = fused(kd, -kLn2Low, r);
  const uint64_t cm = q61_magnitude_from_finite_small_bits(r);
  const uint64_t negative = sign_mask_of(int64_t(double_bits(r)));
  uint64_t sum;
  exp_series<1>(&cm, &negative, &sum);
  if (__builtin_expect(k >= -961, 1))
    return double(int64_t(sum)) * bits_double(uint64_t(k - 61 + 1023) << 52);
  return exp_scale_two_step(sum, k);
}

// L arguments without a branch: out-of-range arguments run the series on 0 and take
// their special value at the end. With several lanes in flight the long way of the
// series keeps more arguments in the processor at once than the up-front quotients.
template <int L>
KALDRO_INLINE inline void exp_lanes(const double *x, double *out) {
  if constexpr (L == 1) {
    out[0] = exp_scalar(x[0]);
    return;
  }
  int32_t k[L];
  uint64_t cm[L], negative[L], sum[L];
  KALDRO_LANES(l) {
    const double v = x[l];
    const bool in_range = v <= kExpOverflow && v >= kExpUnderflow;  // false for NaN
    const double xs = select<L>(in_range, v, 0.0);
    const double rounded = exp_rounded_k(xs);
    k[l] = int32_t(rounded);
    const double kd = truncated(rounded, k[l]);
    double r = fused(kd, -kLn2High, xs);
    r = fused(kd, -kLn2Low, r);
    cm[l] = q61_magnitude_from_finite_small(r);
    negative[l] = sign_mask_of(int64_t(double_bits(r)));
  }
  exp_series_long<L>(cm, negative, sum);
  KALDRO_LANES(l) {
    const double y = exp_scale_two_step(sum[l], k[l]);
    const double v = x[l];
    out[l] = select<L>(v != v, v, select<L>(v > kExpOverflow, kInf, select<L>(v < kExpUnderflow, 0.0, y)));
  }
}

// Natural logarithm: ln f by the atanh series of s = (f - 1)/(f + 1), on magnitudes
// (q = c^2 is never negative, so every term carries the sign of c). |s| is at most
// 0.17158 and every truncation only lowers a term, so the term s^i in Q61 is below
// 0.17158^i 2^61: s^25 is below 2^-63, so the terms for i = 25 and 27 truncate to zero,
// and s^23 is below 5.8 units, so its quotient by 23 is zero too, for every argument.
// The sum is complete after s^21 / 21. Returns the magnitude of the sum; 8q comes as
// the high word of (8|c|)^2 with its low three bits cleared.
constexpr int log_term_bits(int i) {
  double bound = 2305843009213693952.0;  // 2^61
  for (int j = 0; j < i; ++j) bound *= 0.17158;
  int bits = 0;
  while (double(uint64_t(1) << bits) <= bound) ++bits;
  return bits;  // the term is below 2^bits
}
static_assert(log_term_bits(23) == 3 && log_term_bits(25) == 0, "the series' last terms");

template <int L>
KALDRO_INLINE inline void log_series(const uint64_t *cm, uint64_t *acc) {
  uint64_t q8[L], term[L];
  KALDRO_LANES(l) {
    const uint64_t c8 = cm[l] << 3;  // |c| < 2^59
    q8[l] = mul_high64(c8, c8) & ~uint64_t(7);
    term[l] = cm[l];
    acc[l] = cm[l];
  }
  unroll<10>([&](auto I) KALDRO_INLINE {
    constexpr int i = 2 * I + 3;
    KALDRO_LANES(l) {
      const uint64_t t = q61_mul_high8(term[l], q8[l]);
      if constexpr (I > 0) {
        // the previous term's quotient after the next product: the chain of products goes
        // first, and the terms are not all held to the end
        acc[l] += q61_div_small<i - 2, log_term_bits(i - 2)>(term[l]);
        __asm__("" : "+r"(acc[l]));
      }
      term[l] = t;
    }
  });
  KALDRO_LANES(l) acc[l] += q61_div_small<21, log_term_bits(21)>(term[l]);
}

// ln x = n ln 2 + 2 atanh(s) from the sum's magnitude and s: the doubled signed sum
// converted from Q61 is exactly the magnitude converted and scaled by 2^-60 with the
// sign of s.
KALDRO_INLINE inline double log_compose(uint64_t acc, double s, int32_t n) {
  const double ln_f = double(int64_t(acc)) * __builtin_copysign(0x1p-60, s);
  const double dn = double(n);
  return fused(dn, kLn2High, fused(dn, kLn2Low, ln_f));
}

// For a normal x: s = (f - K)/(f + K), where f is the significand of x with the exponent
// of 1, in [1, 2), and K = 2 when f >= sqrt(2), else 1. When f is halved,
// (f/2 - 1)/(f/2 + 1) is exactly (f - 2)/(f + 2) in double arithmetic (halving commutes
// with each rounding), so only the constant depends on the test. Done with vector logic
// where x already is.
KALDRO_INLINE inline double log_quotient(double x) {
#if defined(__SSE2__)
  const __m128d vx = _mm_set_sd(x);
  const __m128d mask = _mm_castsi128_pd(_mm_set1_epi64x(int64_t(kFracMask)));
  const __m128d f = _mm_or_pd(_mm_and_pd(vx, mask), _mm_set_sd(1.0));
  const __m128d ge = _mm_cmpge_sd(f, _mm_set_sd(kSqrt2));
  const __m128d k = _mm_or_pd(_mm_and_pd(ge, _mm_set_sd(2.0)), _mm_andnot_pd(ge, _mm_set_sd(1.0)));
  return _mm_cvtsd_f64(_mm_div_sd(_mm_sub_sd(f, k), _mm_add_sd(f, k)));
#else
  const double f = bits_double((double_bits(x) & kFracMask) | double_bits(1.0));
  const double k = f >= kSqrt2 ? 2.0 : 1.0;
  return (f - k) / (f + k);
#endif
}

// A positive normal x (x = (m / 2^52) 2^n), with the exponent's bias given: 1023, or
// 1023 + 52 for a subnormal argument scaled by 2^52 (exactly), which gives the same
// significand as shifting it up bit by bit.
KALDRO_INLINE inline double log_normal(double x, int32_t bias) {
  const double s = log_quotient(x);
  // n, with the halving's increment from the significand test m >= 0x16A09E667F3BCD
  const uint64_t bits = double_bits(x);
  const int32_t n =
      int32_t(bits >> 52) - bias + int32_t((bits & kFracMask) >= 0x6A09E667F3BCDull);
  const uint64_t cm = q61_magnitude_from_finite_small_bits(s);
  uint64_t acc;
  log_series<1>(&cm, &acc);
  return log_compose(acc, s, n);
}

// One argument; `status` is set to KALDRO_ERR_INVALID for a negative or zero x and left
// alone otherwise. Positive normal numbers take the first branch.
KALDRO_INLINE inline double log_scalar(double x, kaldro_status &status) {
  if (__builtin_expect(x >= 0x1p-1022 && x < kInf, 1)) return log_normal(x, 1023);
  if (x != x) return x;
  if (!(x > 0)) {
    status = KALDRO_ERR_INVALID;
    return x < 0 ? kQuietNaN : -kInf;
  }
  if (x == kInf) return kInf;
  return log_normal(x * 0x1p52, 1023 + 52);  // subnormal
}
KALDRO_INLINE inline double log_scalar(double x) {
  kaldro_status unused = KALDRO_OK;
  return log_scalar(x, unused);
}

// Argument reduction for sine and cosine: x = (q + 4j) pi/2 + r with |r| <= pi/4, by the
// 64-bit 2/pi. Gives the quadrant, |r| in Q61 and the sign of r as a mask; fail is set
// for infinities, NaN and |x| >= 2^55.
struct Reduced {
  uint64_t r_magnitude, quadrant, r_sign;
  bool fail;
};

KALDRO_INLINE inline Reduced reduce_quadrant(double x) {
  const uint64_t bits = double_bits(x);
  const uint32_t e = uint32_t(bits >> 52) & 0x7FF;
  const uint64_t frac = bits & kFracMask;
  const bool negative = (bits >> 63) != 0;
  const uint64_t m = e ? frac | (uint64_t(1) << 52) : frac;
  const int32_t c = e ? int32_t(e) - 1075 : -1074;
  Reduced out;
  out.fail = e == 0x7FF || c > 2;
  const bool tiny = c <= -125;  // |x| < 2^-72, zeros included
  // Y = (M * K) >> (3 - c): |x| * 2/pi with 61 fractional bits; its low 64 bits hold
  // the fraction and the low bits of the integer part, all that matters here.
  const unsigned shift = unsigned(tiny || out.fail ? 1 : 3 - c);  // 1 ... 127
#if defined(__SIZEOF_INT128__)
  const unsigned __int128 p = static_cast<unsigned __int128>(m) * kTwoOverPi64;
  const uint64_t y = uint64_t(p >> shift);
#else
  uint64_t p_hi, p_lo;
  {
    const uint64_t al = m & 0xFFFFFFFFu, ah = m >> 32;
    const uint64_t bl = kTwoOverPi64 & 0xFFFFFFFFu, bh = kTwoOverPi64 >> 32;
    const uint64_t ll = al * bl, lh = al * bh, hl = ah * bl, hh = ah * bh;
    const uint64_t mid = (ll >> 32) + (lh & 0xFFFFFFFFu) + (hl & 0xFFFFFFFFu);
    p_lo = (mid << 32) | (ll & 0xFFFFFFFFu);
    p_hi = hh + (lh >> 32) + (hl >> 32) + (mid >> 32);
  }
  const uint64_t y = shift >= 64 ? p_hi >> (shift - 64) : (p_lo >> shift) | (p_hi << (64 - shift));
#endif
  // integer part n and fraction f in [-1/2, 1/2), the tie at one half going up
  const uint64_t frac61 = y & (kOne - 1);
  const bool half = (y >> 60) & 1;
  const uint64_t nq = (y >> 61) + (half ? 1 : 0);
  const uint64_t f_mag = half ? kOne - frac61 : frac61;
  out.quadrant = tiny ? 0 : (negative ? 0 - nq : nq) & 3;
  out.r_magnitude = tiny ? 0 : q61_mul_magnitude(f_mag, kPiOver2Q61);
  // r < 0: for x > 0 when the fraction was taken negative, for x < 0 when it was
  // positive (a zero remainder has no sign to carry).
  out.r_sign = sign_mask(half != negative);
  return out;
}

// The Taylor kernels Ps(r) = r - r^3/3! + ... and Pc(r) = 1 - r^2/2! + ... on |r|, each
// term divided (truncating) before it is carried on. |r| is at most pi/4, so r^19 / 19!
// and r^20 / 20! are below 2^-61: the sine series is complete after r^17 / 17! and the
// cosine series after r^18 / 18!, every later term truncating to zero. Step k divides by
// (2k + 1) 2k for the sine and 2k (2k - 1) for the cosine; its numerator (the previous
// term times r^2) is at most (pi/4)^(2k+1) / (2k - 1)!, or (pi/4)^(2k) / (2k - 2)!, in
// Q61, which bounds its bits as below; with these bounds every division is one
// multiplication giving the quotient in the high word.
constexpr int kSineNumeratorBits[10] = {0, 61, 58, 53, 47, 40, 33, 25, 16, 8};
constexpr int kCosineNumeratorBits[10] = {0, 62, 60, 56, 50, 44, 37, 29, 21, 12};

constexpr uint64_t sine_divisor(uint64_t k) { return (2 * k + 1) * (2 * k); }
constexpr uint64_t cosine_divisor(uint64_t k) { return (2 * k) * (2 * k - 1); }

#if defined(__SIZEOF_INT128__)
template <uint64_t K>
constexpr DivisionMagic sine_magic = division_magic(sine_divisor(K), kSineNumeratorBits[K]);
template <uint64_t K>
constexpr DivisionMagic cosine_magic = division_magic(cosine_divisor(K), kCosineNumeratorBits[K]);
#endif

// Sine and cosine of the same arguments (either pointer may be null): both kernels, the
// quadrant picks and signs the result.
template <int L>
KALDRO_INLINE inline void sincos_lanes(const double *x, double *sin_out, double *cos_out) {
  uint64_t w[L], ps[L], pc[L], ts[L], tc[L], quadrant[L], r_sign[L];
  bool fail[L];
  KALDRO_LANES(l) {
    const Reduced red = reduce_quadrant(x[l]);
    quadrant[l] = red.quadrant;
    r_sign[l] = red.r_sign;
    fail[l] = red.fail;
    const uint64_t w1 = q61_mul_magnitude(red.r_magnitude, red.r_magnitude);
    w[l] = w1 << 3;
    ps[l] = ts[l] = red.r_magnitude;
    tc[l] = w1 >> 1;  // r^2 / 2!
    pc[l] = kOne - tc[l];
  }
  unroll<8>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t k = I + 1;
    KALDRO_LANES(l) {
      ts[l] = q61_div_small<sine_divisor(k), kSineNumeratorBits[k]>(q61_mul_high8(ts[l], w[l]));
      if constexpr (k & 1)
        ps[l] -= ts[l];
      else
        ps[l] += ts[l];
    }
  });
  unroll<8>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t k = I + 2;
    KALDRO_LANES(l) {
      tc[l] = q61_div_small<cosine_divisor(k), kCosineNumeratorBits[k]>(
          q61_mul_high8(tc[l], w[l]));
      if constexpr (k & 1)
        pc[l] -= tc[l];
      else
        pc[l] += tc[l];
    }
  });
  KALDRO_LANES(l) {
    const uint64_t s = apply_sign(ps[l], r_sign[l]);  // Ps(r)
    const uint64_t c = pc[l];                         // Pc(r)
    const uint64_t q = quadrant[l];
    const double bad = x[l] - x[l];
    if (sin_out) {
      // q: 0 -> Ps, 1 -> Pc, 2 -> -Ps, 3 -> -Pc
      const uint64_t v = apply_sign(q & 1 ? c : s, sign_mask(q >= 2));
      sin_out[l] = select<L>(fail[l], bad, q61_to_double(int64_t(v)));
    }
    if (cos_out) {
      // q: 0 -> Pc, 1 -> -Ps, 2 -> -Pc, 3 -> Ps
      const uint64_t v = apply_sign(q & 1 ? s : c, sign_mask(q == 1 || q == 2));
      cos_out[l] = select<L>(fail[l], bad, q61_to_double(int64_t(v)));
    }
  }
}

// Sine or cosine alone: the quadrant decides before the series which of the two kernels
// the result needs, so each argument runs one of them, nine steps (the sine's ninth term
// is zero) whose divisions differ only in the multiplier chosen per argument. The same
// operations on the same values as in sincos_lanes, so the same bits.
template <int L, bool kCosine>
KALDRO_INLINE inline void sin_or_cos_lanes(const double *x, double *out) {
  uint64_t w[L], term[L], sum[L], quadrant[L], r_sign[L];
  bool cosine_kernel[L], fail[L];
  KALDRO_LANES(l) {
    const Reduced red = reduce_quadrant(x[l]);
    quadrant[l] = red.quadrant;
    r_sign[l] = red.r_sign;
    fail[l] = red.fail;
    cosine_kernel[l] = ((red.quadrant & 1) != 0) != kCosine;
    w[l] = q61_mul_magnitude(red.r_magnitude, red.r_magnitude) << 3;
    term[l] = sum[l] = cosine_kernel[l] ? kOne : red.r_magnitude;
  }
  unroll<9>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t k = I + 1;
#if defined(__SIZEOF_INT128__)
    constexpr DivisionMagic ms = sine_magic<k>, mc = cosine_magic<k>;
    static_assert(ms.shift == 0 && mc.shift == 0, "quotients in the high word");
#endif
    KALDRO_LANES(l) {
#if defined(__SIZEOF_INT128__)
      const uint64_t m = cosine_kernel[l] ? mc.multiplier : ms.multiplier;
      term[l] = q61_mul_high8(q61_mul_high8(term[l], w[l]), m);
#else
      const uint64_t d = cosine_kernel[l] ? cosine_divisor(k) : sine_divisor(k);
      term[l] = q61_mul_high8(term[l], w[l]) / d;
#endif
      if constexpr (k & 1)
        sum[l] -= term[l];
      else
        sum[l] += term[l];
    }
  });
  KALDRO_LANES(l) {
    const uint64_t q = quadrant[l];
    // Ps carries the sign of r; then the quadrant's sign: for the sine negative when
    // q >= 2, for the cosine when q is 1 or 2
    const uint64_t kernel = cosine_kernel[l] ? sum[l] : apply_sign(sum[l], r_sign[l]);
    const bool negate = kCosine ? (q == 1 || q == 2) : q >= 2;
    const uint64_t v = apply_sign(kernel, sign_mask(negate));
    out[l] = select<L>(fail[l], x[l] - x[l], q61_to_double(int64_t(v)));
  }
}

// Arctangent. The argument of the series kernel lies in [0, tan(pi/8)]: |x| itself, its
// reciprocal, or |(|x| - 1)/(|x| + 1)|; one double division serves the latter two. As
// a^49 is below 2^-62 for a <= 0.41421356237309515, the terms from a^49 / 49 on
// truncate to zero for every argument: the sum is complete after a^47 / 47.
template <int L>
KALDRO_INLINE inline void atan_lanes(const double *x, double *out) {
  uint64_t w[L], term[L], sum[L];
  bool lower[L], upper[L], t_negative[L];
  KALDRO_LANES(l) {
    const double a = __builtin_fabs(x[l]);
    lower[l] = a <= kTanPiOver8;
    upper[l] = a >= kTan3PiOver8;
    const double t = select<L>(upper[l], 1.0, a - 1.0) / select<L>(upper[l], a, a + 1.0);
    t_negative[l] = t < 0;
    // never negative: the +0.5 of the conversion applies; NaN stays NaN and gives 0
    const double arg = select<L>(lower[l], a, __builtin_fabs(t));
    const uint64_t am = uint64_t(q61_of_argument<L>(arg));
    w[l] = q61_mul_magnitude(am, am) << 3;
    term[l] = am;
    sum[l] = am;
  }
  unroll<23>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t k = I + 1;
    KALDRO_LANES(l) {
      term[l] = q61_mul_high8(term[l], w[l]);
      if constexpr (k & 1)
        sum[l] -= q61_div_small<2 * k + 1, 58>(term[l]);  // term <= a^3 < 2^-3
      else
        sum[l] += q61_div_small<2 * k + 1, 58>(term[l]);
    }
  });
  KALDRO_LANES(l) {
    const double av = q61_to_double(int64_t(sum[l]));
    const double v = select<L>(lower[l], av,
                            select<L>(upper[l], kPiOver2 + -av,
                                   kPiOver4 + select<L>(t_negative[l], -av, av)));
    out[l] = select<L>(x[l] < 0, -v, v);
  }
}

// Applies a lane kernel over n arguments, L at a time, the tail one by one.
template <int L, typename Kernel>
KALDRO_INLINE inline void over_array(const double *x, double *out, size_t n, Kernel kernel) {
  size_t i = 0;
  for (; i + L <= n; i += L) kernel.template operator()<L>(x + i, out + i);
  for (; i < n; ++i) kernel.template operator()<1>(x + i, out + i);
}

// Circular autocorrelation rows i0 .. i0 + R - 1, each its own chain of fused
// multiply-adds in increasing j.
template <int R>
KALDRO_INLINE inline void autocorrelation_rows(const double *x, uint64_t n, uint64_t i0,
                                               double *out) {
  double acc[R];
  uint64_t idx[R];
  for (int r = 0; r < R; ++r) {
    acc[r] = 0.0;
    idx[r] = i0 + uint64_t(r);
    if (idx[r] >= n) idx[r] -= n;
  }
  for (uint64_t j = 0; j < n; ++j) {
    const double xj = x[j];
    for (int r = 0; r < R; ++r) {
      acc[r] = fused(xj, x[idx[r]], acc[r]);
      idx[r] = idx[r] + 1 == n ? 0 : idx[r] + 1;
    }
  }
  for (int r = 0; r < R; ++r) out[r] = acc[r];
}

}  // namespace
}  // namespace kaldro
