// The GMP reference model of the elementary functions (see elementary_reference.h).
#include "elementary_reference.h"

#include <gmp.h>

#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>

namespace ref {
namespace {

struct Z {
  mpz_t v;
  Z() { mpz_init(v); }
  explicit Z(long x) { mpz_init_set_si(v, x); }
  Z(const Z &o) { mpz_init_set(v, o.v); }
  Z &operator=(const Z &o) {
    mpz_set(v, o.v);
    return *this;
  }
  ~Z() { mpz_clear(v); }
};

struct Q {
  mpq_t v;
  Q() { mpq_init(v); }
  explicit Q(double d) {
    mpq_init(v);
    mpq_set_d(v, d);  // exact
  }
  Q(const Q &o) {
    mpq_init(v);
    mpq_set(v, o.v);
  }
  ~Q() { mpq_clear(v); }
};

Q operator+(const Q &a, const Q &b) { Q r; mpq_add(r.v, a.v, b.v); return r; }
Q operator-(const Q &a, const Q &b) { Q r; mpq_sub(r.v, a.v, b.v); return r; }
Q operator*(const Q &a, const Q &b) { Q r; mpq_mul(r.v, a.v, b.v); return r; }
Q operator/(const Q &a, const Q &b) { Q r; mpq_div(r.v, a.v, b.v); return r; }

Z z_from_u64(uint64_t u) {
  Z z;
  mpz_import(z.v, 1, 1, sizeof u, 0, 0, &u);
  return z;
}

// The rational q rounded to the nearest double, ties to even; overflow gives infinity.
double round_q(const Q &q) {
  const int sign = mpq_sgn(q.v);
  if (sign == 0) return 0.0;
  Z num, den;
  mpz_abs(num.v, mpq_numref(q.v));
  mpz_set(den.v, mpq_denref(q.v));
  // e = floor(log2 |q|)
  long e = long(mpz_sizeinbase(num.v, 2)) - long(mpz_sizeinbase(den.v, 2));
  {
    Z a, b;
    mpz_set(a.v, num.v);
    mpz_set(b.v, den.v);
    if (e >= 0) mpz_mul_2exp(b.v, b.v, e); else mpz_mul_2exp(a.v, a.v, -e);
    if (mpz_cmp(a.v, b.v) < 0) --e;
  }
  if (e > 1023) return sign > 0 ? INFINITY : -INFINITY;
  long u = e - 52;
  if (u < -1074) u = -1074;
  // m = floor(|q| / 2^u), rest compared with half a unit
  Z a, b, m, rest;
  mpz_set(a.v, num.v);
  mpz_set(b.v, den.v);
  if (u >= 0) mpz_mul_2exp(b.v, b.v, u); else mpz_mul_2exp(a.v, a.v, -u);
  mpz_fdiv_qr(m.v, rest.v, a.v, b.v);
  mpz_mul_2exp(rest.v, rest.v, 1);
  const int c = mpz_cmp(rest.v, b.v);
  if (c > 0 || (c == 0 && mpz_odd_p(m.v))) mpz_add_ui(m.v, m.v, 1);
  const double r = std::ldexp(mpz_get_d(m.v), int(u));  // m <= 2^53: exact
  return sign > 0 ? r : -r;
}

Q q_pow2(long k) {
  Q r;
  mpq_set_ui(r.v, 1, 1);
  if (k >= 0) mpq_mul_2exp(r.v, r.v, k); else mpq_div_2exp(r.v, r.v, -k);
  return r;
}

// Q61 in arbitrary precision.
const long kFrac = 61;

Z q61_of(double d, double half) {
  if (d != d) return Z(0);
  const double y = round_q(Q(d) * q_pow2(kFrac) + Q(half));
  Z z;
  mpz_set_d(z.v, y);  // truncates toward zero
  return z;
}
Z q61_of(double d) { return q61_of(d, d >= 0 ? 0.5 : -0.5); }

double q61_value(const Z &v) {
  Q q;
  mpq_set_z(q.v, v.v);
  return round_q(q) * 0x1p-61;
}

// Truncated product; checks the claim that it stays below 2^63.
Z q61_mul(const Z &a, const Z &b) {
  Z p;
  mpz_mul(p.v, a.v, b.v);
  mpz_tdiv_q_2exp(p.v, p.v, kFrac);
  if (mpz_sizeinbase(p.v, 2) > 63) std::abort();
  return p;
}
Z tdiv(const Z &a, long d) {
  Z q;
  mpz_tdiv_q_ui(q.v, a.v, d);
  return q;
}
Z add(const Z &a, const Z &b) { Z r; mpz_add(r.v, a.v, b.v); return r; }
Z sub(const Z &a, const Z &b) { Z r; mpz_sub(r.v, a.v, b.v); return r; }
Z neg(const Z &a) { Z r; mpz_neg(r.v, a.v); return r; }
Z one() { Z r; mpz_set_ui(r.v, 1); mpz_mul_2exp(r.v, r.v, kFrac); return r; }

double from_bits(uint64_t u) { double d; std::memcpy(&d, &u, 8); return d; }
uint64_t to_bits(double d) { uint64_t u; std::memcpy(&u, &d, 8); return u; }

const double kLn2Hi = from_bits(0x3FE62E42FEE00000);
const double kLn2Lo = from_bits(0x3DEA39EF35793C76);
const double kLog2e = from_bits(0x3FF71547652B82FE);
const double kSqrt2 = from_bits(0x3FF6A09E667F3BCD);
const double kPiO4 = from_bits(0x3FE921FB54442D18);
const double kPiO2 = from_bits(0x3FF921FB54442D18);
const double kPi = from_bits(0x400921FB54442D18);

// Rounded arithmetic; infinities, NaNs and division by zero follow IEEE directly.
bool finite2(double a, double b) { return std::isfinite(a) && std::isfinite(b); }
double add_d(double a, double b) { return finite2(a, b) ? round_q(Q(a) + Q(b)) : a + b; }
double sub_d(double a, double b) { return finite2(a, b) ? round_q(Q(a) - Q(b)) : a - b; }
double mul_d(double a, double b) { return finite2(a, b) ? round_q(Q(a) * Q(b)) : a * b; }
double div_d(double a, double b) {
  return finite2(a, b) && b != 0 ? round_q(Q(a) / Q(b)) : a / b;
}

// Sine and cosine series on a Q61 remainder.
Z ps(const Z &r) {
  const Z w = q61_mul(r, r);
  Z sum = r, term = r;
  for (long k = 1; k <= 10; ++k) {
    term = tdiv(q61_mul(term, w), (2 * k + 1) * (2 * k));
    sum = k & 1 ? sub(sum, term) : add(sum, term);
  }
  return sum;
}
Z pc(const Z &r) {
  const Z w = q61_mul(r, r);
  Z sum = one(), term = one();
  for (long k = 1; k <= 10; ++k) {
    term = tdiv(q61_mul(term, w), (2 * k) * (2 * k - 1));
    sum = k & 1 ? sub(sum, term) : add(sum, term);
  }
  return sum;
}

// Reduction: false for a failure; otherwise the quadrant and the Q61 remainder.
bool reduce(double x, int &q, Z &r) {
  const uint64_t bits = to_bits(x);
  const long ef = long((bits >> 52) & 0x7FF);
  const uint64_t frac = bits & ((uint64_t(1) << 52) - 1);
  q = 0;
  r = Z(0);
  if (ef == 0x7FF) return false;
  if (x == 0) return true;
  const uint64_t m = ef ? frac | (uint64_t(1) << 52) : frac;
  const long c = ef ? ef - 1075 : -1074;
  if (c > 2) return false;
  if (c <= -125) return true;
  Z p;
  mpz_mul(p.v, z_from_u64(m).v, z_from_u64(0xA2F9836E4E44152Aull).v);
  mpz_fdiv_q_2exp(p.v, p.v, 3 - c);
  Z i, f;
  mpz_fdiv_q_2exp(i.v, p.v, 61);
  mpz_fdiv_r_2exp(f.v, p.v, 61);
  Z n = i;
  if (mpz_tstbit(p.v, 60)) {
    mpz_sub(f.v, f.v, one().v);
    mpz_add_ui(n.v, n.v, 1);
  }
  const bool negative = x < 0;
  if (negative) mpz_neg(n.v, n.v);
  q = int(mpz_fdiv_ui(n.v, 4));
  Z fabs_;
  mpz_abs(fabs_.v, f.v);
  r = q61_mul(fabs_, z_from_u64(0x3243F6A8885A308Dull));
  const bool r_negative = negative ? mpz_sgn(f.v) > 0 : mpz_sgn(f.v) < 0;
  if (r_negative) r = neg(r);
  return true;
}

Z atan_kernel(const Z &a) {
  const Z w = q61_mul(a, a);
  Z sum = a, term = a;
  for (long k = 1; k <= 40; ++k) {
    term = q61_mul(term, w);
    const Z part = tdiv(term, 2 * k + 1);
    sum = k & 1 ? sub(sum, part) : add(sum, part);
  }
  return sum;
}

}  // namespace

double fma_exact(double a, double b, double c) { return round_q(Q(a) * Q(b) + Q(c)); }

double exp(double x) {
  if (x != x) return x;
  if (x > from_bits(0x40862E42FEFA39EF)) return INFINITY;
  if (x < from_bits(0xC08749999999999A)) return 0.0;
  const double t = mul_d(x, kLog2e);
  const double tk = add_d(t, t >= 0 ? 0.5 : -0.5);
  const long k = long(std::trunc(tk));
  double r = fma_exact(double(k), -kLn2Hi, x);
  r = fma_exact(double(k), -kLn2Lo, r);
  const Z c = q61_of(r);
  Z sum = one(), term = one();
  for (long i = 1; i <= 18; ++i) {
    term = tdiv(q61_mul(term, c), i);
    sum = add(sum, term);
  }
  const long h = k / 2;  // C division truncates
  const double s = q61_value(sum);
  const double y = round_q(Q(s) * q_pow2(h));
  return round_q(Q(y) * q_pow2(k - h));
}

double log(double x) {
  if (x != x) return x;
  if (x < 0) return from_bits(0x7FF8000000000000);
  if (x == 0) return -INFINITY;
  if (x == INFINITY) return INFINITY;
  const uint64_t bits = to_bits(x);
  const long ef = long(bits >> 52);
  uint64_t m = bits & ((uint64_t(1) << 52) - 1);
  long n;
  if (ef) {
    m |= uint64_t(1) << 52;
    n = ef - 1023;
  } else {
    long s = 0;
    while (!(m >> 52)) {
      m <<= 1;
      ++s;
    }
    n = -1022 - s;
  }
  double f = round_q(Q(double(m)) * q_pow2(-52));
  if (f >= kSqrt2) {
    f = mul_d(f, 0.5);
    ++n;
  }
  const double s = div_d(sub_d(f, 1.0), add_d(f, 1.0));
  const Z c = q61_of(s);
  const Z q = q61_mul(c, c);
  Z term = c, acc = c;
  for (long i = 3; i <= 27; i += 2) {
    term = q61_mul(term, q);
    acc = add(acc, tdiv(term, i));
  }
  const double l = q61_value(add(acc, acc));
  return fma_exact(double(n), kLn2Hi, fma_exact(double(n), kLn2Lo, l));
}

double sqrt(double x) {
  if (x < 0) return x - x;
  if (x == 0) return 0.0;
  if (x != x || x == INFINITY) return x;
  const uint64_t bits = to_bits(x);
  const long ef = long(bits >> 52);
  uint64_t m = bits & ((uint64_t(1) << 52) - 1);
  long e = -1074;
  if (ef) {
    m |= uint64_t(1) << 52;
    e = ef - 1075;
  }
  Z big = z_from_u64(m);
  if (e % 2 != 0) {
    mpz_mul_2exp(big.v, big.v, 1);
    e -= 1;
  }
  mpz_mul_2exp(big.v, big.v, 54);
  Z root;
  mpz_sqrt(root.v, big.v);
  Q q;
  mpq_set_z(q.v, root.v);
  return round_q(Q(round_q(q)) * q_pow2(e / 2 - 27));
}

double sin(double x) {
  int q;
  Z r;
  if (!reduce(x, q, r)) return x - x;
  const Z s = ps(r), c = pc(r);
  const Z v[4] = {s, c, neg(s), neg(c)};
  return q61_value(v[q]);
}

double cos(double x) {
  int q;
  Z r;
  if (!reduce(x, q, r)) return x - x;
  const Z s = ps(r), c = pc(r);
  const Z v[4] = {c, neg(s), neg(c), s};
  return q61_value(v[q]);
}

double atan(double x) {
  const double a = std::fabs(x);
  double v;
  if (a <= from_bits(0x3FDA827999FCEF34)) {
    v = q61_value(atan_kernel(q61_of(a, 0.5)));
  } else if (a >= from_bits(0x4003504F333F9DE6)) {
    v = add_d(kPiO2, -q61_value(atan_kernel(q61_of(div_d(1.0, a), 0.5))));
  } else {
    const double t = a != a ? a : div_d(sub_d(a, 1.0), add_d(a, 1.0));
    double s = q61_value(atan_kernel(q61_of(std::fabs(t), 0.5)));
    if (t < 0) s = -s;
    v = add_d(kPiO4, s);
  }
  return x < 0 ? -v : v;
}

double atan2(double y, double x) {
  if (x == 0) return y > 0 ? kPiO2 : y < 0 ? -kPiO2 : 0.0;
  if (std::isinf(x) && std::isinf(y)) {
    const double v = x > 0 ? kPiO4 : sub_d(kPi, kPiO4);
    return y < 0 ? -v : v;
  }
  const double a = atan(y != y || x != x ? NAN : div_d(y, x));
  if (x > 0) return a;
  return y >= 0 ? add_d(a, kPi) : sub_d(a, kPi);
}

}  // namespace ref
