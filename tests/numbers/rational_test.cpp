// Rationals and continued fractions: the listed edge cases, status order, what is left
// untouched on failure, and differential checks against exact GMP arithmetic, in which
// every overflow rule is restated as a bound on the exact intermediate value.
#include <gmp.h>
#include <gtest/gtest.h>

#include <kaldro.h>

#include <cstring>
#include <random>
#include <vector>

namespace {

constexpr int64_t kMin = INT64_MIN;
constexpr int64_t kMax = INT64_MAX;
constexpr uint64_t kTop = uint64_t{1} << 63;

// Minimal owning wrapper around an mpz_t.
struct Z {
  mpz_t v;
  Z() { mpz_init(v); }
  explicit Z(int64_t x) { mpz_init_set_si(v, x); }
  static Z u(uint64_t x) {
    Z z;
    mpz_set_ui(z.v, x);
    return z;
  }
  Z(const Z &o) { mpz_init_set(v, o.v); }
  Z &operator=(const Z &o) {
    mpz_set(v, o.v);
    return *this;
  }
  ~Z() { mpz_clear(v); }
};
Z operator*(const Z &a, const Z &b) {
  Z r;
  mpz_mul(r.v, a.v, b.v);
  return r;
}
Z operator+(const Z &a, const Z &b) {
  Z r;
  mpz_add(r.v, a.v, b.v);
  return r;
}
Z abs(const Z &a) {
  Z r;
  mpz_abs(r.v, a.v);
  return r;
}

const Z &signed_max() {
  static const Z m(kMax);
  return m;
}
const Z &signed_min() {
  static const Z m(kMin);
  return m;
}
const Z &unsigned_max() {
  static const Z m = Z::u(UINT64_MAX);
  return m;
}
// A signed product passes only when its magnitude is at most 2^63 - 1.
bool product_ok(const Z &p) { return mpz_cmp(abs(p).v, signed_max().v) <= 0; }
bool in_signed(const Z &s) {
  return mpz_cmp(s.v, signed_min().v) >= 0 && mpz_cmp(s.v, signed_max().v) <= 0;
}
bool in_unsigned(const Z &s) { return mpz_sgn(s.v) >= 0 && mpz_cmp(s.v, unsigned_max().v) <= 0; }

// Exact rational in canonical form, as the pair the library should write.
struct Q {
  mpq_t v;
  Q() { mpq_init(v); }
  Q(const Z &num, const Z &den) {
    mpq_init(v);
    mpz_set(mpq_numref(v), num.v);
    mpz_set(mpq_denref(v), den.v);
    mpq_canonicalize(v);
  }
  Q(const Q &o) {
    mpq_init(v);
    mpq_set(v, o.v);
  }
  Q &operator=(const Q &) = delete;
  ~Q() { mpq_clear(v); }
};

// True when the library's (num, den) is exactly q in lowest terms.
::testing::AssertionResult same(const Q &q, int64_t num, uint64_t den) {
  Z n(num), d = Z::u(den);
  if (mpz_cmp(mpq_numref(q.v), n.v) == 0 && mpz_cmp(mpq_denref(q.v), d.v) == 0) {
    return ::testing::AssertionSuccess();
  }
  char *expect = mpq_get_str(nullptr, 10, q.v);
  auto r = ::testing::AssertionFailure() << "got " << num << "/" << den << ", want " << expect;
  void (*free_fn)(void *, size_t);
  mp_get_memory_functions(nullptr, nullptr, &free_fn);
  free_fn(expect, strlen(expect) + 1);
  return r;
}

// Random values spread over every bit width, with the boundaries mixed in.
struct Gen {
  std::mt19937_64 rng;
  explicit Gen(uint64_t seed) : rng(seed) {}
  uint64_t u() {
    switch (rng() % 8) {
      case 0: return rng() % 10;
      case 1: return UINT64_MAX - rng() % 3;
      case 2: return kTop - 2 + rng() % 4;
      case 3: return (uint64_t{1} << (rng() % 64)) + (rng() % 3) - 1;
      default: return rng() >> (rng() % 64);
    }
  }
  uint64_t den() {
    const uint64_t d = u();
    return d == 0 ? 1 : d;
  }
  int64_t s() {
    const uint64_t m = u();
    return static_cast<int64_t>((rng() & 1) ? uint64_t{0} - m : m);
  }
};

TEST(Rational, ListedResults) {
  int64_t n = 0;
  uint64_t d = 0;
  ASSERT_EQ(kaldro_rational_add(1, 2, 1, 3, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 5 && d == 6);
  ASSERT_EQ(kaldro_rational_add(1, 2, -1, 2, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 7, d = 7;
  EXPECT_EQ(kaldro_rational_add(1, kTop, 1, 3, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_rational_add(1, 3, 1, kTop, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 7 && d == 7);

  ASSERT_EQ(kaldro_rational_mul(2, 3, 3, 4, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 2);
  ASSERT_EQ(kaldro_rational_mul(0, 1, 5, 7, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 7, d = 7;
  EXPECT_EQ(kaldro_rational_mul(0, 1ull << 32, 1, 1ull << 32, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 7 && d == 7);
  // Denominators may use all 64 bits in a product.
  ASSERT_EQ(kaldro_rational_mul(1, UINT64_MAX, 1, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == UINT64_MAX);

  ASSERT_EQ(kaldro_rational_div(1, 2, 1, 4, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 2 && d == 1);
  ASSERT_EQ(kaldro_rational_div(1, 2, -1, 4, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == -2 && d == 1);
  ASSERT_EQ(kaldro_rational_div(0, 2, -1, 4, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 7, d = 7;
  EXPECT_EQ(kaldro_rational_div(1, 2, 0, 4, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_TRUE(n == 7 && d == 7);
}

TEST(Rational, CheckOrder) {
  int64_t n = 7;
  uint64_t d = 7;
  // Zero denominator before the 2^63 denominator limit and before any overflow.
  EXPECT_EQ(kaldro_rational_add(kMin, 0, kMin, kTop, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_rational_add(kMin, kTop, kMin, 0, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_rational_mul(kMin, 0, kMin, 3, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_rational_div(kMin, 3, 0, kTop, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_rational_div(kMin, 0, 1, kTop, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_rational_div(1, 1, 1, kTop, &n, &d), KALDRO_ERR_CAPACITY);
  // The denominator product is tested even when the sum is zero.
  EXPECT_EQ(kaldro_rational_add(1, 1ull << 32, -1, 1ull << 32, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 7 && d == 7);

  EXPECT_EQ(kaldro_rational_pow_uint(1, 0, 99, nullptr, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_rational_pow_uint(1, 0, 99, &n, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_rational_pow_uint(1, 0, 99, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_rational_pow_uint(1, 1, 65, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 7 && d == 7);
}

TEST(Rational, Power) {
  int64_t n = 0;
  uint64_t d = 0;
  ASSERT_EQ(kaldro_rational_pow_uint(2, 3, 3, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 8 && d == 27);
  ASSERT_EQ(kaldro_rational_pow_uint(-2, 1, 3, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == -8 && d == 1);
  ASSERT_EQ(kaldro_rational_pow_uint(5, 7, 0, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 1);
  ASSERT_EQ(kaldro_rational_pow_uint(0, UINT64_MAX, 0, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 1);
  ASSERT_EQ(kaldro_rational_pow_uint(2, 1, 62, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 4611686018427387904 && d == 1);
  n = 7, d = 7;
  EXPECT_EQ(kaldro_rational_pow_uint(2, 1, 63, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_rational_pow_uint(-2, 1, 63, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_rational_pow_uint(kMin, 1, 1, &n, &d), KALDRO_ERR_CAPACITY);
  // A zero numerator still has its denominator's powers formed and tested.
  EXPECT_EQ(kaldro_rational_pow_uint(0, 1ull << 32, 2, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 7 && d == 7);
  ASSERT_EQ(kaldro_rational_pow_uint(0, 1ull << 31, 2, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  ASSERT_EQ(kaldro_rational_pow_uint(1, 1, 64, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 1);
  ASSERT_EQ(kaldro_rational_pow_uint(kMax, 2, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == kMax && d == 2);
}

// The exact boundaries at which each overflow test fires: 2^63 - 1 = 7 * 1317624576693539401
// and 2^64 - 1 = 3 * 6148914691236517205.
TEST(Rational, OverflowBoundaries) {
  constexpr int64_t f7 = 1317624576693539401;
  constexpr uint64_t f3 = 6148914691236517205ull;
  int64_t n = 0;
  uint64_t d = 0;
  ASSERT_EQ(kaldro_rational_mul(7, 1, f7, 1, &n, &d), KALDRO_OK);
  EXPECT_EQ(n, kMax);
  ASSERT_EQ(kaldro_rational_mul(-7, 1, f7, 1, &n, &d), KALDRO_OK);
  EXPECT_EQ(n, -kMax);
  EXPECT_EQ(kaldro_rational_mul(7, 1, f7 + 1, 1, &n, &d), KALDRO_ERR_CAPACITY);
  // -2^63 is representable but the product test never lets it through.
  EXPECT_EQ(kaldro_rational_mul(kMin, 1, 1, 1, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_rational_mul(-(1ll << 62), 1, 2, 1, &n, &d), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro_rational_mul(1, 3, 1, f3, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == UINT64_MAX);
  EXPECT_EQ(kaldro_rational_mul(1, 3, 1, f3 + 1, &n, &d), KALDRO_ERR_CAPACITY);

  // Sums: up to 2^63 - 1 and down to -2^63 pass.
  ASSERT_EQ(kaldro_rational_add(kMax - 5, 1, 5, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == kMax && d == 1);
  EXPECT_EQ(kaldro_rational_add(kMax - 5, 1, 6, 1, &n, &d), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro_rational_add(-kMax, 1, -1, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == kMin && d == 1);
  EXPECT_EQ(kaldro_rational_add(-kMax, 1, -2, 1, &n, &d), KALDRO_ERR_CAPACITY);
  // The cross products of add.
  ASSERT_EQ(kaldro_rational_add(f7, 1, 0, 7, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == f7 && d == 1);
  EXPECT_EQ(kaldro_rational_add(f7 + 1, 1, 0, 7, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_rational_add(0, 7, f7 + 1, 1, &n, &d), KALDRO_ERR_CAPACITY);

  // Divide: |b_num| * a_den is an unsigned product and may use all 64 bits.
  ASSERT_EQ(kaldro_rational_div(1, f3, -3, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == -1 && d == UINT64_MAX);
  EXPECT_EQ(kaldro_rational_div(1, f3 + 1, 3, 1, &n, &d), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro_rational_div(kMin, 1, kMin, 1, &n, &d), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro_rational_div(1, 1, kMin, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == -1 && d == kTop);
  ASSERT_EQ(kaldro_rational_div(f7, 1, 7, kTop - 1, &n, &d), KALDRO_ERR_CAPACITY);
}

TEST(Rational, AddMulDivMatchExactArithmetic) {
  Gen g(11);
  int outcomes[3][2] = {{0, 0}, {0, 0}, {0, 0}};  // [add, mul, div][refused, exact]
  for (int iter = 0; iter < 30000; ++iter) {
    const int64_t an = g.s(), bn = g.s();
    const uint64_t ad = g.den(), bd = g.den();
    const Z A(an), B(bn), AD = Z::u(ad), BD = Z::u(bd);
    int64_t n = 123;
    uint64_t d = 456;

    // add
    {
      const Z x = A * BD, y = B * AD, s = x + y, dd = AD * BD;
      const bool ok = ad < kTop && bd < kTop && product_ok(x) && product_ok(y) &&
                      in_signed(s) && in_unsigned(dd);
      const kaldro_status st = kaldro_rational_add(an, ad, bn, bd, &n, &d);
      outcomes[0][ok]++;
      if (ok) {
        ASSERT_EQ(st, KALDRO_OK) << an << "/" << ad << " + " << bn << "/" << bd;
        ASSERT_TRUE(same(Q(s, dd), n, d));
      } else {
        ASSERT_EQ(st, KALDRO_ERR_CAPACITY) << an << "/" << ad << " + " << bn << "/" << bd;
      }
    }
    // mul
    {
      const Z s = A * B, dd = AD * BD;
      const bool ok = in_unsigned(dd) && (an == 0 || bn == 0 || product_ok(s));
      n = 123, d = 456;
      const kaldro_status st = kaldro_rational_mul(an, ad, bn, bd, &n, &d);
      outcomes[1][ok]++;
      if (ok) {
        ASSERT_EQ(st, KALDRO_OK) << an << "/" << ad << " * " << bn << "/" << bd;
        ASSERT_TRUE(same(Q(s, dd), n, d));
      } else {
        ASSERT_EQ(st, KALDRO_ERR_CAPACITY);
        ASSERT_TRUE(n == 123 && d == 456);
      }
    }
    // div
    {
      n = 123, d = 456;
      const kaldro_status st = kaldro_rational_div(an, ad, bn, bd, &n, &d);
      if (bn == 0) {
        ASSERT_EQ(st, KALDRO_ERR_INVALID);
        continue;
      }
      const Z x = A * BD, dd = abs(B) * AD;
      const bool ok = bd < kTop && product_ok(x) && in_unsigned(dd);
      outcomes[2][ok]++;
      if (ok) {
        ASSERT_EQ(st, KALDRO_OK) << an << "/" << ad << " / " << bn << "/" << bd;
        Z sx = x;
        if (bn < 0) mpz_neg(sx.v, sx.v);
        ASSERT_TRUE(same(Q(sx, dd), n, d));
      } else {
        ASSERT_EQ(st, KALDRO_ERR_CAPACITY);
        ASSERT_TRUE(n == 123 && d == 456);
      }
    }
  }
  for (auto &o : outcomes) {
    EXPECT_GT(o[0], 2000);
    EXPECT_GT(o[1], 2000);
  }
}

TEST(Rational, PowerMatchesExactArithmetic) {
  Gen g(12);
  for (int iter = 0; iter < 8000; ++iter) {
    int64_t an = g.s();
    uint64_t ad = g.den();
    if (iter % 2) {  // small bases, where long powers are possible
      an = static_cast<int64_t>(g.rng() % 9) - 4;
      ad = 1 + g.rng() % 5;
    }
    const uint32_t k = static_cast<uint32_t>(g.rng() % 66);
    Z num(1), den(1);
    bool ok = k <= 64;
    for (uint32_t i = 0; ok && i < k; ++i) {
      num = num * Z(an);
      den = den * Z::u(ad);
      ok = product_ok(num) && in_unsigned(den);
    }
    int64_t n = 123;
    uint64_t d = 456;
    const kaldro_status st = kaldro_rational_pow_uint(an, ad, k, &n, &d);
    if (ok) {
      ASSERT_EQ(st, KALDRO_OK) << an << "/" << ad << " ^ " << k;
      ASSERT_TRUE(same(Q(num, den), n, d));
    } else {
      ASSERT_EQ(st, KALDRO_ERR_CAPACITY) << an << "/" << ad << " ^ " << k;
      ASSERT_TRUE(n == 123 && d == 456);
    }
  }
}

TEST(ExpSeries, ListedResultsAndPresetOutputs) {
  int64_t n = 9;
  uint64_t d = 9;
  ASSERT_EQ(kaldro_exp_series_truncate(1, 1, 2, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 5 && d == 2);
  ASSERT_EQ(kaldro_exp_series_truncate(1, 1, 0, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 1);
  ASSERT_EQ(kaldro_exp_series_truncate(-1, 1, 3, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 3);
  ASSERT_EQ(kaldro_exp_series_truncate(1, 2, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 3 && d == 2);
  ASSERT_EQ(kaldro_exp_series_truncate(-1, 1, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);

  // Outputs are set to 0/1 first, each when present, and stay so on failure.
  n = 9, d = 9;
  EXPECT_EQ(kaldro_exp_series_truncate(1, 1, 2, &n, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(n, 0);
  EXPECT_EQ(kaldro_exp_series_truncate(1, 1, 2, nullptr, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(d, 1u);
  n = 9, d = 9;
  EXPECT_EQ(kaldro_exp_series_truncate(1, 0, 99, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 9, d = 9;
  EXPECT_EQ(kaldro_exp_series_truncate(1, 1, 21, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 9, d = 9;
  EXPECT_EQ(kaldro_exp_series_truncate(1, 1ull << 32, 2, &n, &d), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 0 && d == 1);
}

// Terms stop at i = n: the power of |x_num| and i! are never extended past the last
// term, so n = 20 and huge numerators with short series both work.
TEST(ExpSeries, LastTermNeedsNoFurtherFactor) {
  int64_t n = 0;
  uint64_t d = 0;
  ASSERT_EQ(kaldro_exp_series_truncate(1, 1, 20, &n, &d), KALDRO_OK);
  Q sum;
  Z fact(1);
  for (int i = 0; i <= 20; ++i) {
    if (i > 0) fact = fact * Z(i);
    Q t(Z(1), fact);
    mpq_add(sum.v, sum.v, t.v);
  }
  EXPECT_TRUE(same(sum, n, d));
  ASSERT_EQ(kaldro_exp_series_truncate(kMin, 1, 0, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 1);
  ASSERT_EQ(kaldro_exp_series_truncate(1ll << 40, 1, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == (1ll << 40) + 1 && d == 1);
  ASSERT_EQ(kaldro_exp_series_truncate(-(1ll << 31), 1, 2, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == (1ll << 61) - (1ll << 31) + 1 && d == 1);
}

TEST(ExpSeries, MatchesExactArithmetic) {
  Gen g(13);
  int oks = 0, refusals = 0;
  for (int iter = 0; iter < 8000; ++iter) {
    int64_t xn;
    uint64_t xd;
    if (iter % 3 == 0) {
      xn = g.s();
      xd = g.den();
    } else {
      xn = static_cast<int64_t>(g.rng() % 2001) - 1000;
      xd = 1 + (g.rng() % 3 == 0 ? g.rng() % 100000 : g.rng() % 12);
    }
    const uint32_t nn = static_cast<uint32_t>(g.rng() % 22);
    // Exact value of the series, term by term: x^i / i! = x^(i-1) / (i-1)! * x / i.
    Q value, term(Z(1), Z(1));
    const Q x(Z(xn), Z::u(xd));
    for (uint32_t i = 0; i <= nn; ++i) {
      if (i > 0) {
        mpq_mul(term.v, term.v, x.v);
        Q inv_i(Z(1), Z(i));
        mpq_mul(term.v, term.v, inv_i.v);
      }
      mpq_add(value.v, value.v, term.v);
    }
    // The fixed-denominator form must stay in range: the common denominator, every term
    // x_num^i * x_den^(n-i) * n!/i! (below 2^63 in magnitude) and every partial sum.
    std::vector<Z> den_powers(nn + 1, Z(1));
    for (uint32_t e = 1; e <= nn; ++e) den_powers[e] = den_powers[e - 1] * Z::u(xd);
    Z nfact(1);
    for (uint32_t i = 2; i <= nn; ++i) nfact = nfact * Z(i);
    bool ok = nn <= 20 && in_unsigned(den_powers[nn]) && in_unsigned(nfact * den_powers[nn]);
    Z ifact(1), num_power(1), partial(0);
    for (uint32_t i = 0; ok && i <= nn; ++i) {
      if (i > 0) {
        ifact = ifact * Z(i);
        num_power = num_power * Z(xn);
      }
      Z ratio;
      mpz_divexact(ratio.v, nfact.v, ifact.v);
      const Z t = den_powers[nn - i] * num_power * ratio;
      partial = partial + t;
      ok = product_ok(t) && in_signed(partial);
    }
    int64_t n = 9;
    uint64_t d = 9;
    const kaldro_status st = kaldro_exp_series_truncate(xn, xd, nn, &n, &d);
    if (ok) {
      ASSERT_EQ(st, KALDRO_OK) << xn << "/" << xd << " n=" << nn;
      ASSERT_TRUE(same(value, n, d)) << xn << "/" << xd << " n=" << nn;
      ++oks;
    } else {
      ++refusals;
      ASSERT_EQ(st, KALDRO_ERR_CAPACITY) << xn << "/" << xd << " n=" << nn;
      ASSERT_TRUE(n == 0 && d == 1);
    }
  }
  // Both outcomes must be well represented for the comparison to mean anything.
  EXPECT_GT(oks, 1000);
  EXPECT_GT(refusals, 1000);
}

TEST(ContinuedFraction, ListedCasesAndOrder) {
  uint64_t terms[8] = {0};
  uint32_t count = 99;
  ASSERT_EQ(kaldro_continued_fraction(415, 93, terms, 8, &count), KALDRO_OK);
  ASSERT_EQ(count, 4u);
  EXPECT_EQ(terms[0], 4u);
  EXPECT_EQ(terms[1], 2u);
  EXPECT_EQ(terms[2], 6u);
  EXPECT_EQ(terms[3], 7u);
  ASSERT_EQ(kaldro_continued_fraction(415, 93, terms, 4, &count), KALDRO_OK);
  EXPECT_EQ(count, 4u);

  uint64_t small[4] = {0, 0, 77, 77};
  count = 99;
  ASSERT_EQ(kaldro_continued_fraction(415, 93, small, 2, &count), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(count, 2u);
  EXPECT_EQ(small[0], 4u);
  EXPECT_EQ(small[1], 2u);
  EXPECT_EQ(small[2], 77u);

  ASSERT_EQ(kaldro_continued_fraction(0, 5, terms, 8, &count), KALDRO_OK);
  ASSERT_EQ(count, 1u);
  EXPECT_EQ(terms[0], 0u);

  EXPECT_EQ(kaldro_continued_fraction(1, 0, nullptr, 0, nullptr), KALDRO_ERR_NULL);
  count = 99;
  EXPECT_EQ(kaldro_continued_fraction(1, 0, nullptr, 0, &count), KALDRO_ERR_INVALID);
  EXPECT_EQ(count, 0u);
  count = 99;
  // A zero capacity is reported before a null terms array.
  EXPECT_EQ(kaldro_continued_fraction(1, 1, nullptr, 0, &count), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(count, 0u);
  count = 99;
  EXPECT_EQ(kaldro_continued_fraction(1, 1, nullptr, 1, &count), KALDRO_ERR_NULL);
  EXPECT_EQ(count, 0u);
}

TEST(ContinuedFraction, TermsRebuildTheFraction) {
  Gen g(14);
  for (int iter = 0; iter < 5000; ++iter) {
    const uint64_t num = g.u(), den = g.den();
    uint64_t terms[100];
    uint32_t count = 0;
    ASSERT_EQ(kaldro_continued_fraction(num, den, terms, 100, &count), KALDRO_OK);
    ASSERT_GE(count, 1u);
    for (uint32_t i = 1; i < count; ++i) ASSERT_GE(terms[i], 1u);
    if (count > 1) {
      ASSERT_GE(terms[count - 1], 2u);
    }
    // Fold the terms back from the last one: value = a0 + 1 / (a1 + 1 / ...).
    Q value(Z::u(terms[count - 1]), Z(1));
    for (int i = static_cast<int>(count) - 2; i >= 0; --i) {
      mpq_inv(value.v, value.v);
      Q a(Z::u(terms[i]), Z(1));
      mpq_add(value.v, value.v, a.v);
    }
    Q want(Z::u(num), Z::u(den));
    ASSERT_TRUE(mpq_equal(value.v, want.v)) << num << "/" << den;
  }
}

TEST(Convergents, ListedAndOverflow) {
  const int64_t terms[4] = {4, 2, 6, 7};
  int64_t p[4], q[4];
  ASSERT_EQ(kaldro_cf_convergents_int64(terms, 4, p, q), KALDRO_OK);
  EXPECT_EQ(std::vector<int64_t>(p, p + 4), (std::vector<int64_t>{4, 9, 58, 415}));
  EXPECT_EQ(std::vector<int64_t>(q, q + 4), (std::vector<int64_t>{1, 2, 13, 93}));

  EXPECT_EQ(kaldro_cf_convergents_int64(nullptr, 0, p, q), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cf_convergents_int64(terms, 0, nullptr, q), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cf_convergents_int64(terms, 0, p, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cf_convergents_int64(terms, 0, p, q), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cf_convergents_int64(terms, 257, p, q), KALDRO_ERR_INVALID);

  // p_1 = a1 * a0 + 1 overflows; entry 0 is written, entry 1 untouched.
  const int64_t big[3] = {1ll << 62, 2, 1};
  int64_t pp[3] = {-5, -5, -5}, qq[3] = {-5, -5, -5};
  ASSERT_EQ(kaldro_cf_convergents_int64(big, 3, pp, qq), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(pp[0] == (1ll << 62) && qq[0] == 1);
  EXPECT_TRUE(pp[1] == -5 && qq[1] == -5);
  // The same with the sum as the step that overflows: (2^62 - 1) * 2 + 1 = 2^63 - 1
  // passes, 2^62 * 2 would not.
  const int64_t edge[2] = {(1ll << 62) - 1, 2};
  ASSERT_EQ(kaldro_cf_convergents_int64(edge, 2, pp, qq), KALDRO_OK);
  EXPECT_TRUE(pp[1] == kMax && qq[1] == 2);
  const int64_t neg[2] = {-(1ll << 62), 2};
  ASSERT_EQ(kaldro_cf_convergents_int64(neg, 2, pp, qq), KALDRO_ERR_CAPACITY);
}

TEST(Convergents, MatchExactArithmetic) {
  Gen g(15);
  for (int iter = 0; iter < 5000; ++iter) {
    const uint64_t n = 1 + g.rng() % 40;
    std::vector<int64_t> terms(n);
    for (auto &t : terms) {
      t = (g.rng() % 4 == 0) ? g.s() : static_cast<int64_t>(g.rng() % 2001) - 1000;
    }
    std::vector<int64_t> p(n, 77), q(n, 77);
    const kaldro_status st = kaldro_cf_convergents_int64(terms.data(), n, p.data(), q.data());
    Z p1(1), p2(0), q1(0), q2(1);
    uint64_t fail_at = n;
    for (uint64_t i = 0; i < n; ++i) {
      const Z a(terms[i]);
      const Z ap = a * p1, aq = a * q1;
      const Z pi = ap + p2, qi = aq + q2;
      if (!product_ok(ap) || !in_signed(pi) || !product_ok(aq) || !in_signed(qi)) {
        fail_at = i;
        break;
      }
      ASSERT_EQ(mpz_cmp_si(pi.v, p[i]), 0) << i;
      ASSERT_EQ(mpz_cmp_si(qi.v, q[i]), 0) << i;
      p2 = p1, p1 = pi, q2 = q1, q1 = qi;
    }
    if (fail_at == n) {
      ASSERT_EQ(st, KALDRO_OK);
    } else {
      ASSERT_EQ(st, KALDRO_ERR_CAPACITY);
      for (uint64_t i = fail_at; i < n; ++i) ASSERT_TRUE(p[i] == 77 && q[i] == 77);
    }
  }
}

TEST(BestRational, ListedCasesAndPresetOutputs) {
  uint64_t n = 9, d = 9;
  ASSERT_EQ(kaldro_best_rational(415, 93, 20, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 58 && d == 13);
  ASSERT_EQ(kaldro_best_rational(415, 93, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 4 && d == 1);
  ASSERT_EQ(kaldro_best_rational(3, 1, 5, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 3 && d == 1);
  ASSERT_EQ(kaldro_best_rational(415, 93, 93, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 415 && d == 93);
  ASSERT_EQ(kaldro_best_rational(0, 7, 3, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  ASSERT_EQ(kaldro_best_rational(UINT64_MAX, 1, 1, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == UINT64_MAX && d == 1);
  // Only convergents: 1/3 is closer to 3/10 than the convergent 0/1 is.
  ASSERT_EQ(kaldro_best_rational(3, 10, 2, &n, &d), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);

  n = 9, d = 9;
  EXPECT_EQ(kaldro_best_rational(1, 1, 1, &n, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(n, 0u);
  EXPECT_EQ(kaldro_best_rational(1, 1, 1, nullptr, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(d, 1u);
  n = 9, d = 9;
  EXPECT_EQ(kaldro_best_rational(1, 0, 1, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 9, d = 9;
  EXPECT_EQ(kaldro_best_rational(1, 1, 0, &n, &d), KALDRO_ERR_INVALID);
  EXPECT_TRUE(n == 0 && d == 1);
}

TEST(BestRational, IsTheLastConvergentWithinTheBound) {
  Gen g(16);
  for (int iter = 0; iter < 5000; ++iter) {
    uint64_t num = g.u(), den = g.den(), max_den = g.den();
    if (iter % 2) max_den = 1 + g.rng() % 1000;
    // Convergents in exact arithmetic; keep the last one with k <= max_den whose h and k
    // fit 64 bits.
    Z h1(1), h2(0), k1(0), k2(1);
    Z best_h(0), best_k(1);
    uint64_t a = num, b = den;
    while (b != 0) {
      const Z t = Z::u(a / b);
      const Z h = t * h1 + h2, k = t * k1 + k2;
      if (!in_unsigned(h) || !in_unsigned(k) || mpz_cmp(k.v, Z::u(max_den).v) > 0) break;
      best_h = h, best_k = k;
      h2 = h1, h1 = h, k2 = k1, k1 = k;
      const uint64_t r = a % b;
      a = b, b = r;
    }
    uint64_t n = 0, d = 0;
    ASSERT_EQ(kaldro_best_rational(num, den, max_den, &n, &d), KALDRO_OK);
    ASSERT_EQ(mpz_cmp(best_h.v, Z::u(n).v), 0) << num << "/" << den << " max " << max_den;
    ASSERT_EQ(mpz_cmp(best_k.v, Z::u(d).v), 0) << num << "/" << den << " max " << max_den;
  }
}

}  // namespace
