// The elementary functions' bodies, written over L independent arguments evaluated in
// lock step (L = 1 is the scalar function). Included by each instruction-set tier's file;
// everything here has internal linkage, so every tier keeps its own compiled copy.
#pragma once

#include <bit>
#include <cstddef>
#include <cstdint>
#include <utility>

#include "elementary/q61.h"

#define KALDRO_INLINE __attribute__((always_inline))

namespace kaldro {
namespace {

constexpr double kLn2High = std::bit_cast<double>(uint64_t(0x3FE62E42FEE00000));
constexpr double kLn2Low = std::bit_cast<double>(uint64_t(0x3DEA39EF35793C76));
constexpr double kLog2e = std::bit_cast<double>(uint64_t(0x3FF71547652B82FE));
constexpr double kSqrt2 = std::bit_cast<double>(uint64_t(0x3FF6A09E667F3BCD));
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

// Exponential. The series runs on magnitudes: every term of the signed series is
// sign(c)^i times the magnitude computed here, truncations included.
template <int L>
KALDRO_INLINE inline void exp_lanes(const double *x, double *out) {
  int32_t k[L];
  uint64_t cm[L], odd_sign[L], term[L], sum[L];
  for (int l = 0; l < L; ++l) {
    const double v = x[l];
    const bool in_range = v <= kExpOverflow && v >= kExpUnderflow;  // false for NaN
    const double xs = in_range ? v : 0.0;
    const double t = xs * kLog2e;
    k[l] = int32_t(t + (t >= 0 ? 0.5 : -0.5));
    double r = fused(double(k[l]), -kLn2High, xs);
    r = fused(double(k[l]), -kLn2Low, r);
    const int64_t c = q61_from_double(r);
    cm[l] = magnitude(c);
    odd_sign[l] = sign_mask(c < 0);
    term[l] = kOne;
    sum[l] = kOne;
  }
  unroll<18>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t i = I + 1;
    for (int l = 0; l < L; ++l) {
      term[l] = q61_mul_magnitude(term[l], cm[l]) / i;
      sum[l] += (i & 1) ? apply_sign(term[l], odd_sign[l]) : term[l];
    }
  });
  for (int l = 0; l < L; ++l) {
    const int32_t h = k[l] / 2;
    const double s1 = bits_double(uint64_t((h + 1023) & 0x7FF) << 52);
    const double s2 = bits_double(uint64_t((k[l] - h + 1023) & 0x7FF) << 52);
    const double y = (q61_to_double(int64_t(sum[l])) * s1) * s2;
    const double v = x[l];
    out[l] = v != v ? v : v > kExpOverflow ? kInf : v < kExpUnderflow ? 0.0 : y;
  }
}

// Natural logarithm: ln f by the atanh series of s = (f - 1)/(f + 1), on magnitudes
// (q = c^2 is never negative, so every term carries the sign of c).
template <int L>
KALDRO_INLINE inline void log_lanes(const double *x, double *out) {
  int32_t n[L];
  uint64_t term[L], acc[L], q[L], sgn[L];
  for (int l = 0; l < L; ++l) {
    const double v = x[l];
    const bool special = !(v > 0) || v == kInf;  // NaN, zero, negative, +inf
    const uint64_t bits = double_bits(special ? 1.0 : v);
    const int32_t e = int32_t(bits >> 52);
    const uint64_t frac = bits & kFracMask;
    uint64_t m;
    if (e == 0) {  // subnormal: normalise the significand
      const int s = __builtin_clzll(frac | 1) - 11;
      m = frac << s;
      n[l] = -1022 - s;
    } else {
      m = frac | (uint64_t(1) << 52);
      n[l] = e - 1023;
    }
    double f = double(int64_t(m)) * 0x1p-52;
    if (f >= kSqrt2) {
      f = f * 0.5;
      n[l] += 1;
    }
    const double s = (f - 1.0) / (f + 1.0);
    const int64_t c = q61_from_double(s);
    const uint64_t cm = magnitude(c);
    sgn[l] = sign_mask(c < 0);
    q[l] = q61_mul_magnitude(cm, cm);
    term[l] = cm;
    acc[l] = cm;
  }
  unroll<13>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t i = 2 * I + 3;
    for (int l = 0; l < L; ++l) {
      term[l] = q61_mul_magnitude(term[l], q[l]);
      acc[l] += term[l] / i;
    }
  });
  for (int l = 0; l < L; ++l) {
    const int64_t a = int64_t(apply_sign(acc[l], sgn[l]));
    const double ln_f = q61_to_double(a * 2);
    const double dn = double(n[l]);
    const double y = fused(dn, kLn2High, fused(dn, kLn2Low, ln_f));
    const double v = x[l];
    out[l] = v != v ? v : v < 0 ? kQuietNaN : v == 0 ? -kInf : v == kInf ? kInf : y;
  }
}

// Sine and cosine of the same arguments (either pointer may be null). Reduction by the
// 64-bit 2/pi, then both Taylor kernels on |r|; the quadrant picks and signs the result.
template <int L>
KALDRO_INLINE inline void sincos_lanes(const double *x, double *sin_out, double *cos_out) {
  uint64_t rm[L], w[L], ps[L], pc[L], ts[L], tc[L], quadrant[L], r_sign[L];
  bool fail[L];
  for (int l = 0; l < L; ++l) {
    const uint64_t bits = double_bits(x[l]);
    const uint32_t e = uint32_t(bits >> 52) & 0x7FF;
    const uint64_t frac = bits & kFracMask;
    const bool negative = (bits >> 63) != 0;
    const uint64_t m = e ? frac | (uint64_t(1) << 52) : frac;
    const int32_t c = e ? int32_t(e) - 1075 : -1074;
    fail[l] = e == 0x7FF || c > 2;
    const bool tiny = c <= -125;  // |x| < 2^-72, zeros included
    // Y = (M * K) >> (3 - c): |x| * 2/pi with 61 fractional bits; its low 64 bits hold
    // the fraction and the low bits of the integer part, all that matters here.
    const unsigned shift = unsigned(tiny || fail[l] ? 1 : 3 - c);  // 1 ... 127
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
    const uint64_t frac61 = y & (kOne - 1);
    const bool half = (y >> 60) & 1;
    const uint64_t nq = (y >> 61) + (half ? 1 : 0);
    const uint64_t f_mag = half ? kOne - frac61 : frac61;
    quadrant[l] = tiny ? 0 : (negative ? 0 - nq : nq) & 3;
    rm[l] = tiny ? 0 : q61_mul_magnitude(f_mag, kPiOver2Q61);
    // r < 0: for x > 0 when the fraction was taken negative, for x < 0 when it was
    // positive (a zero remainder has no sign to carry).
    r_sign[l] = sign_mask(half != negative);
    w[l] = q61_mul_magnitude(rm[l], rm[l]);
    ps[l] = ts[l] = rm[l];
    pc[l] = tc[l] = kOne;
  }
  unroll<10>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t k = I + 1;
    constexpr uint64_t ds = (2 * k + 1) * (2 * k), dc = (2 * k) * (2 * k - 1);
    for (int l = 0; l < L; ++l) {
      ts[l] = q61_mul_magnitude(ts[l], w[l]) / ds;
      tc[l] = q61_mul_magnitude(tc[l], w[l]) / dc;
      if constexpr (k & 1) {
        ps[l] -= ts[l];
        pc[l] -= tc[l];
      } else {
        ps[l] += ts[l];
        pc[l] += tc[l];
      }
    }
  });
  for (int l = 0; l < L; ++l) {
    const uint64_t s = apply_sign(ps[l], r_sign[l]);  // Ps(r)
    const uint64_t c = pc[l];                         // Pc(r)
    const uint64_t q = quadrant[l];
    const double bad = x[l] - x[l];
    if (sin_out) {
      // q: 0 -> Ps, 1 -> Pc, 2 -> -Ps, 3 -> -Pc
      const uint64_t v = apply_sign(q & 1 ? c : s, sign_mask(q >= 2));
      sin_out[l] = fail[l] ? bad : q61_to_double(int64_t(v));
    }
    if (cos_out) {
      // q: 0 -> Pc, 1 -> -Ps, 2 -> -Pc, 3 -> Ps
      const uint64_t v = apply_sign(q & 1 ? s : c, sign_mask(q == 1 || q == 2));
      cos_out[l] = fail[l] ? bad : q61_to_double(int64_t(v));
    }
  }
}

// Arctangent. The argument of the series kernel lies in [0, tan(pi/8)]: |x| itself, its
// reciprocal, or |(|x| - 1)/(|x| + 1)|; one double division serves the latter two.
template <int L>
KALDRO_INLINE inline void atan_lanes(const double *x, double *out) {
  uint64_t w[L], term[L], sum[L];
  bool lower[L], upper[L], t_negative[L];
  for (int l = 0; l < L; ++l) {
    const double a = __builtin_fabs(x[l]);
    lower[l] = a <= kTanPiOver8;
    upper[l] = a >= kTan3PiOver8;
    const double t = upper[l] ? 1.0 / a : (a - 1.0) / (a + 1.0);
    t_negative[l] = t < 0;
    const double arg = lower[l] ? a : __builtin_fabs(t);  // NaN stays NaN and gives 0
    const uint64_t am = uint64_t(q61_from_nonnegative(arg));
    w[l] = q61_mul_magnitude(am, am);
    term[l] = am;
    sum[l] = am;
  }
  unroll<40>([&](auto I) KALDRO_INLINE {
    constexpr uint64_t k = I + 1;
    for (int l = 0; l < L; ++l) {
      term[l] = q61_mul_magnitude(term[l], w[l]);
      if constexpr (k & 1)
        sum[l] -= term[l] / (2 * k + 1);
      else
        sum[l] += term[l] / (2 * k + 1);
    }
  });
  for (int l = 0; l < L; ++l) {
    const double av = q61_to_double(int64_t(sum[l]));
    const double v = lower[l] ? av
                     : upper[l] ? kPiOver2 + -av
                                : kPiOver4 + (t_negative[l] ? -av : av);
    out[l] = x[l] < 0 ? -v : v;
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
