// Exponential, logarithm, square root, sine, cosine and arctangents: the documented
// values bit for bit, status and write rules, bit-for-bit agreement with the GMP
// reference model over every range, accuracy against quadruple precision, and identical
// bits from every instruction-set tier and batch form.
#include <gtest/gtest.h>

#include <kaldro.h>
#include "elementary_quad.h"

#include <cmath>
#include <cstdint>
#include <cstring>
#include <random>
#include <vector>

#include "elementary/elementary.h"
#include "elementary/kernels.h"
#include "elementary/q61.h"
#include "elementary_reference.h"

namespace {

uint64_t bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}
double from_bits(uint64_t u) {
  double d;
  std::memcpy(&d, &u, 8);
  return d;
}

#define EXPECT_BITS(expected, actual)                                                  \
  EXPECT_EQ(bits(expected), bits(actual)) << "expected " << (expected) << " got "      \
                                          << (actual)

using Fn1 = kaldro_status (*)(double *, double);

// Calls f and returns the written value; checks the status.
double call(Fn1 f, double x, kaldro_status want = KALDRO_OK) {
  double out = 12345.0;
  EXPECT_EQ(f(&out, x), want) << "argument " << x;
  return out;
}

// Arguments over every range: random bit patterns (specials and subnormals included),
// uniform values at many scales, and the neighbourhoods of the interesting points.
std::vector<double> arguments(uint64_t seed, std::vector<double> points, size_t n) {
  std::mt19937_64 rng(seed);
  std::vector<double> v;
  for (size_t i = 0; i < n; ++i) v.push_back(from_bits(rng()));
  for (size_t i = 0; i < n; ++i) {
    const double scale = std::ldexp(1.0, int(rng() % 80) - 40);
    v.push_back(std::uniform_real_distribution<double>(-scale, scale)(rng));
  }
  for (double p : points) {
    double a = p, b = p;
    for (int k = 0; k < 40; ++k) {
      v.push_back(a);
      v.push_back(b);
      v.push_back(-a);
      a = std::nextafter(a, INFINITY);
      b = std::nextafter(b, -INFINITY);
    }
  }
  return v;
}

const double kSpecials[] = {0.0, 1.0, 2.0, 0.5, INFINITY, NAN, 5e-324, 2.2250738585072014e-308,
                            1.7976931348622157e308, 1e-300, M_PI, M_PI / 2, M_PI / 4};

// ---- Q61 -------------------------------------------------------------------------

TEST(ElementaryQ61, ConversionsRoundHalfAwayAndProductTruncatesTowardZero) {
  using namespace kaldro;
  EXPECT_EQ(q61_from_double(1.0), int64_t(1) << 61);
  EXPECT_EQ(q61_from_double(-1.0), -(int64_t(1) << 61));
  EXPECT_EQ(q61_from_double(0x1.8p-61), 2);   // 1.5 units: half away from zero
  EXPECT_EQ(q61_from_double(-0x1.8p-61), -2);
  EXPECT_EQ(q61_from_double(0x1p-62), 1);     // half a unit
  EXPECT_EQ(q61_from_double(-0x1p-62), -1);
  EXPECT_EQ(q61_from_double(0x1.8p-64), 0);
  // just under half a unit: the fused sum 1 - 2^-54 rounds (once) to 1.0
  EXPECT_EQ(q61_from_double(0x1.fffffffffffffp-63), 1);
  EXPECT_EQ(q61_from_nonnegative(NAN), 0);
  EXPECT_EQ(q61_from_double(NAN), 0);
  EXPECT_BITS(0.25, q61_to_double(int64_t(1) << 59));
  const int64_t third = q61_from_double(1.0 / 3);
  EXPECT_EQ(q61_mul(third, 3), 0);  // 3 units * 1/3 -> 0.99.. units, truncated
  EXPECT_EQ(q61_mul(-third, int64_t(3) << 61), -(int64_t)((unsigned __int128)third * 3));
  EXPECT_EQ(q61_mul(-5, 1), -0);
  EXPECT_EQ(q61_mul(-(int64_t(3) << 60), int64_t(3) << 60), -(int64_t(9) << 59));
  EXPECT_EQ(q61_div(-7, 2), -3);
  std::mt19937_64 rng(3);
  for (int i = 0; i < 2000; ++i) {
    const int64_t a = int64_t(rng()) >> 2, b = int64_t(rng()) >> 3;
    const __int128 p = (__int128)a * b;
    const __int128 mag = (p < 0 ? -p : p) >> 61;
    ASSERT_EQ(q61_mul(a, b), int64_t(p < 0 ? -mag : mag));
  }
}

template <uint64_t D, int NBITS>
void check_division(std::mt19937_64 &rng) {
  const uint64_t limit = uint64_t(1) << NBITS;
  std::vector<uint64_t> ns = {0, 1, D - 1, D, D + 1, limit - 1, limit - 1 - (limit - 1) % D,
                              limit - 1 - (limit - 1) % D - 1};
  for (int i = 0; i < 3000; ++i) ns.push_back(rng() >> (64 - NBITS + int(rng() % 8)));
  for (int i = 0; i < 300; ++i) {
    const uint64_t q = (rng() % (limit / D)) * D;  // around exact multiples
    ns.push_back(q), ns.push_back(q - (q > 0)), ns.push_back(q + D - 1);
  }
  for (uint64_t n : ns) {
    if (n >= limit) continue;
    ASSERT_EQ((kaldro::q61_div_small<D, NBITS>(n)), n / D) << n << " / " << D;
  }
}

template <int NBITS, uint64_t... D>
void check_divisions(std::mt19937_64 &rng) {
  (check_division<D, NBITS>(rng), ...);
}

TEST(ElementaryQ61, DivisionByConstantsIsExactOverItsRange) {
  std::mt19937_64 rng(4);
  // every divisor the series use, with the numerator bounds they rely on
  check_divisions<60, 2, 3, 4, 5, 6, 7, 8, 9, 10, 11, 12, 13, 14, 20, 30, 42, 56, 72, 90, 110,
                  132, 156, 182, 210, 240, 272, 306>(rng);
  check_divisions<58, 3, 5, 7, 9, 11, 13, 15, 17, 19, 21, 23, 25, 27, 29, 31, 33, 35, 37, 39,
                  41, 43, 45, 47>(rng);
  check_divisions<62, 3, 7, 18, 420, 1000003>(rng);
  // the quotients of 8c, and the late terms' short products
  check_divisions<63, 3, 5, 6, 7, 9, 10, 11, 12, 13, 14>(rng);
  check_divisions<28, 10, 13, 15>(rng);
  check_divisions<23, 11, 15>(rng);
  check_divisions<18, 12, 17>(rng);
  check_divisions<13, 13, 19>(rng);
  check_divisions<8, 14, 21>(rng);
  check_divisions<30, 3, 7, 21, 1000003>(rng);
}

// floor(floor(t * 8c / 2^64) / D) by one product with floor(8c / D): exact whenever it
// does not ask for the long way, and it does ask for some arguments.
template <uint64_t D>
void check_quotient_product(std::mt19937_64 &rng, int &asked) {
  for (int i = 0; i < 20000; ++i) {
    const uint64_t c = rng() >> (4 + rng() % 30);  // below 2^60
    uint64_t t = rng() >> (4 + rng() % 50);
    if (i % 4 == 0) t = c;
    const uint64_t c8 = c << 3;
    const uint64_t want = uint64_t(((unsigned __int128)t * c8) >> 64) / D;
    uint64_t unsure = 0;
    const uint64_t cd = kaldro::q61_quotient_of_8c<D>(c);
    const uint64_t got = kaldro::q61_mul_div_by_quotient<D>(t, cd, unsure);
    if (unsure == 0) {
      ASSERT_EQ(got, want) << t << " " << c << " / " << D;
    } else {
      ++asked;
    }
    // the long way agrees with the exact quotient
    ASSERT_EQ((kaldro::q61_div_small<D, 60>(kaldro::q61_mul_high8(t, c8))), want);
  }
}

TEST(ElementaryQ61, ProductByQuotientIsExactUnlessItAsksForTheLongWay) {
  std::mt19937_64 rng(8);
  int asked = 0;
  check_quotient_product<2>(rng, asked);
  check_quotient_product<4>(rng, asked);
  check_quotient_product<8>(rng, asked);
  EXPECT_EQ(asked, 0);  // powers of two are always exact
  for (int round = 0; round < 3; ++round) {
    check_quotient_product<3>(rng, asked);
    check_quotient_product<5>(rng, asked);
    check_quotient_product<6>(rng, asked);
    check_quotient_product<7>(rng, asked);
    check_quotient_product<11>(rng, asked);
    check_quotient_product<14>(rng, asked);
  }
  EXPECT_GT(asked, 0);
}

// The exponential's series by quotients and the long way give the same sum; arguments
// whose series takes the long way (found from the series itself) match the model too.
TEST(ElementaryExp, SeriesByQuotientsFallsBackExactly) {
  std::mt19937_64 rng(9);
  std::uniform_real_distribution<double> d(-0.3465, 0.3465);
  std::vector<double> long_way;
  for (int i = 0; i < 200000; ++i) {
    const double r = d(rng);
    const uint64_t cm = kaldro::q61_magnitude_from_finite_small(r);
    const uint64_t negative = r < 0 ? ~uint64_t(0) : 0;
    uint64_t fast, slow;
    const bool took_long_way = kaldro::exp_series<1>(&cm, &negative, &fast);
    kaldro::exp_series_long<1>(&cm, &negative, &slow);
    ASSERT_EQ(fast, slow) << "r = " << r;
    if (took_long_way) long_way.push_back(r);
  }
  ASSERT_GT(long_way.size(), 50u);
  // |x| below ln 2 / 2 reduces to itself (k = 0), so these run the same series
  for (double x : long_way) ASSERT_EQ(bits(ref::exp(x)), bits(call(kaldro_exp, x))) << x;
}

// The magnitude taken from the bits equals the conversion over its range and around
// its lower end.
TEST(ElementaryQ61, MagnitudeFromBitsMatchesTheConversion) {
  std::mt19937_64 rng(10);
  std::vector<double> xs = {0x1p-8, -0x1p-8, std::nextafter(0x1p-8, 1.0), 0.5, -0.5,
                            std::nextafter(1.0, 0.0), 0.34657359027997264};
  for (int i = 0; i < 100000; ++i) {
    const double scale = std::ldexp(1.0, -int(rng() % 70));
    xs.push_back(std::uniform_real_distribution<double>(-scale, scale)(rng));
  }
  for (double x : xs) {
    if (!(std::fabs(x) < 1)) continue;
    const uint64_t want = uint64_t(std::llabs(kaldro::q61_from_double(x)));
    ASSERT_EQ(kaldro::q61_magnitude_from_finite_small(x), want) << x;
    ASSERT_EQ(kaldro::q61_magnitude_from_finite_small_bits(x), want) << x;
    if (std::fabs(x) >= 0x1p-8) {
      ASSERT_EQ(kaldro::q61_magnitude_from_bits(bits(x)), want) << x;
    }
  }
}

// ---- exp ---------------------------------------------------------------------------

TEST(ElementaryExp, DocumentedValues) {
  EXPECT_BITS(1.0, call(kaldro_exp, 0.0));
  EXPECT_BITS(1.0, call(kaldro_exp, -0.0));
  EXPECT_BITS(2.718281828459045, call(kaldro_exp, 1.0));
  EXPECT_BITS(1.7976931348622732e308, call(kaldro_exp, 709.782712893384));
  EXPECT_BITS(INFINITY, call(kaldro_exp, std::nextafter(709.782712893384, 1000.0)));
  EXPECT_BITS(INFINITY, call(kaldro_exp, 1e300));
  EXPECT_BITS(5e-324, call(kaldro_exp, -745.1));
  EXPECT_BITS(0.0, call(kaldro_exp, -745.2));
  EXPECT_BITS(0.0, call(kaldro_exp, -746.0));
  EXPECT_BITS(0.0, call(kaldro_exp, -INFINITY));
  EXPECT_BITS(INFINITY, call(kaldro_exp, INFINITY));
  const double nan = from_bits(0x7FF800000000ABCDull);
  EXPECT_EQ(bits(call(kaldro_exp, nan)), bits(nan));  // the same NaN
  EXPECT_EQ(kaldro_exp(nullptr, 1.0), KALDRO_ERR_NULL);
}

TEST(ElementaryExp, MatchesReferenceModel) {
  for (double x : arguments(11, {709.782712893384, -745.2, -708.39641853226408, 0.34657359027997264,
                                 -0.34657359027997264, 1e-17, 0.0},
                            4000)) {
    ASSERT_EQ(bits(ref::exp(x)), bits(call(kaldro_exp, x))) << "x = " << x;
  }
  for (double x : kSpecials) ASSERT_EQ(bits(ref::exp(x)), bits(call(kaldro_exp, x)));
}

__float128 ulp_of(__float128 e) {
  int ex;
  frexpq(e, &ex);
  return ldexpq(1, (ex - 53 < -1074 ? -1074 : ex - 53));
}

TEST(ElementaryExp, WithinOneUnitInTheLastPlace) {
  std::mt19937_64 rng(5);
  std::uniform_real_distribution<double> d(-708.0, 709.78);
  for (int i = 0; i < 20000; ++i) {
    const double x = i % 2 ? d(rng) : d(rng) / 700;
    const __float128 e = expq(x);
    ASSERT_LE(double(fabsq(call(kaldro_exp, x) - e) / ulp_of(e)), 1.0) << "x = " << x;
  }
}

// ---- log ---------------------------------------------------------------------------

TEST(ElementaryLog, DocumentedValuesAndDomainErrors) {
  EXPECT_BITS(0.0, call(kaldro_log, 1.0));
  EXPECT_BITS(0.6931471805599453, call(kaldro_log, 2.0));
  EXPECT_BITS(-0.6931471805599453, call(kaldro_log, 0.5));
  EXPECT_BITS(-744.4400719213812, call(kaldro_log, 5e-324));
  EXPECT_BITS(0.3465735902799727, call(kaldro_log, 1.4142135623730951));
  EXPECT_BITS(1.000000082740371e-10, call(kaldro_log, 1.0000000001));
  EXPECT_BITS(INFINITY, call(kaldro_log, INFINITY));
  const double nan = from_bits(0xFFF8000000001234ull);
  EXPECT_EQ(bits(call(kaldro_log, nan)), bits(nan));
  EXPECT_EQ(bits(call(kaldro_log, -1.0, KALDRO_ERR_INVALID)), 0x7FF8000000000000ull);
  EXPECT_EQ(bits(call(kaldro_log, -INFINITY, KALDRO_ERR_INVALID)), 0x7FF8000000000000ull);
  EXPECT_EQ(bits(call(kaldro_log, -5e-324, KALDRO_ERR_INVALID)), 0x7FF8000000000000ull);
  EXPECT_EQ(bits(call(kaldro_log, 0.0, KALDRO_ERR_INVALID)), 0xFFF0000000000000ull);
  EXPECT_EQ(bits(call(kaldro_log, -0.0, KALDRO_ERR_INVALID)), 0xFFF0000000000000ull);
  EXPECT_EQ(kaldro_log(nullptr, -1.0), KALDRO_ERR_NULL);
}

TEST(ElementaryLog, MatchesReferenceModel) {
  for (double x : arguments(12, {1.4142135623730951, 1.0, 2.0, 0.5, 5e-324, 2.2250738585072014e-308},
                            4000)) {
    const kaldro_status want = x < 0 || x == 0 ? KALDRO_ERR_INVALID : KALDRO_OK;
    ASSERT_EQ(bits(ref::log(x)), bits(call(kaldro_log, x, want))) << "x = " << x;
  }
  for (double x : kSpecials) {
    const kaldro_status want = x == 0 ? KALDRO_ERR_INVALID : KALDRO_OK;
    ASSERT_EQ(bits(ref::log(x)), bits(call(kaldro_log, x, want)));
  }
}

TEST(ElementaryLog, AbsoluteAccuracy) {
  std::mt19937_64 rng(6);
  for (int i = 0; i < 20000; ++i) {
    const double x = from_bits(rng() >> 1);  // every positive double, subnormals too
    if (!(x > 0) || std::isinf(x)) continue;
    const __float128 e = logq(x);
    // the rounded quotient s = (f - 1)/(f + 1) dominates away from 1
    ASSERT_LE(double(fabsq(call(kaldro_log, x) - e)), 2 * double(ulp_of(e)) + 0x1p-59) << x;
  }
  std::uniform_real_distribution<double> near(-1e-6, 1e-6);
  for (int i = 0; i < 20000; ++i) {
    const double x = 1.0 + near(rng);
    ASSERT_LE(double(fabsq(call(kaldro_log, x) - logq(x))), 0x1p-60) << x;
  }
}

// ---- square root -----------------------------------------------------------------

TEST(ElementarySqrt, DocumentedValuesAndDomainErrors) {
  EXPECT_BITS(2.0, call(kaldro_rational_sqrt, 4.0));
  EXPECT_BITS(0.5, call(kaldro_rational_sqrt, 0.25));
  EXPECT_BITS(0.0, call(kaldro_rational_sqrt, 0.0));
  EXPECT_BITS(0.0, call(kaldro_rational_sqrt, -0.0));
  EXPECT_BITS(1.414213562373095, call(kaldro_rational_sqrt, 2.0));
  EXPECT_BITS(9.999944334510584e-161, call(kaldro_rational_sqrt, 1e-320));
  EXPECT_BITS(2.2227587494850775e-162, call(kaldro_rational_sqrt, 5e-324));
  EXPECT_BITS(INFINITY, call(kaldro_rational_sqrt, INFINITY));
  EXPECT_BITS(0.0, call(kaldro_rational_sqrt, -1.0, KALDRO_ERR_INVALID));
  EXPECT_TRUE(std::isnan(call(kaldro_rational_sqrt, -INFINITY, KALDRO_ERR_INVALID)));
  EXPECT_TRUE(std::isnan(call(kaldro_rational_sqrt, NAN)));
  EXPECT_EQ(kaldro_rational_sqrt(nullptr, -1.0), KALDRO_ERR_NULL);
}

TEST(ElementarySqrt, MatchesExactIntegerRootAndOneUnit) {
  for (double x : arguments(13, {1.0, 2.0, 4.0, 2.2250738585072014e-308, 1.7976931348622157e308},
                            6000)) {
    const kaldro_status want = x < 0 ? KALDRO_ERR_INVALID : KALDRO_OK;
    const double y = call(kaldro_rational_sqrt, x, want);
    ASSERT_EQ(bits(ref::sqrt(x)), bits(y)) << "x = " << x;
    if (x >= 2.2250738585072014e-308 && !std::isinf(x)) {
      const __float128 e = sqrtq(x);
      ASSERT_LE(double(fabsq(y - e) / ulp_of(e)), 1.0) << x;
    }
  }
}

TEST(ElementarySqrt, IntegerRootIsTheFloorOfTheTrueRoot) {
  std::mt19937_64 rng(19);
  std::vector<uint64_t> ms = {1, 2, 3, 4, (uint64_t(1) << 52), (uint64_t(1) << 53) - 1,
                              (uint64_t(1) << 54) - 2, (uint64_t(1) << 54) - 1};
  for (int i = 0; i < 20000; ++i) ms.push_back(rng() >> (10 + rng() % 54));
  // perfect squares and their neighbours: N = k^2 - 1, k^2, k^2 + 1 with N = m 2^54
  for (int i = 0; i < 2000; ++i) {
    const uint64_t k = (rng() >> 37) << 27;  // k^2 is a multiple of 2^54
    const uint64_t m = uint64_t(((unsigned __int128)k * k) >> 54);
    ms.push_back(m), ms.push_back(m + 1);
    if (m) ms.push_back(m - 1);
  }
  for (uint64_t m : ms) {
    const unsigned __int128 n = (unsigned __int128)m << 54;
    const uint64_t r = kaldro::shifted_root(m);
    ASSERT_EQ(r, kaldro::shifted_root_restoring(m)) << m;
    ASSERT_TRUE((unsigned __int128)r * r <= n && (unsigned __int128)(r + 1) * (r + 1) > n) << m;
  }
}

// ---- sine and cosine ---------------------------------------------------------------

TEST(ElementaryTrig, DocumentedValues) {
  EXPECT_BITS(0.0, call(kaldro_sin, 0.0));
  EXPECT_BITS(0.0, call(kaldro_sin, -0.0));
  EXPECT_BITS(1.0, call(kaldro_cos, 0.0));
  EXPECT_BITS(1.0, call(kaldro_cos, -0.0));
  EXPECT_BITS(0.8414709848078965, call(kaldro_sin, 1.0));
  EXPECT_BITS(0.5403023058681398, call(kaldro_cos, 1.0));
  EXPECT_BITS(0.1411200080598672, call(kaldro_sin, 3.0));
  EXPECT_BITS(-0.5063656411097588, call(kaldro_sin, 100.0));
  EXPECT_BITS(1.222980050563649e-16, call(kaldro_sin, 3.141592653589793));
  EXPECT_BITS(6.114900252818245e-17, call(kaldro_cos, 1.5707963267948966));
  EXPECT_BITS(9.107298248878237e-18, call(kaldro_sin, 1e-17));
  EXPECT_BITS(4.336808689942018e-19, call(kaldro_sin, 1e-18));
  EXPECT_BITS(0x1p-61, call(kaldro_sin, 1e-18));
  EXPECT_BITS(0.0, call(kaldro_sin, 1e-19));
  EXPECT_BITS(0.8973245807054183, call(kaldro_sin, 0x1p54));
  EXPECT_BITS(0.0, call(kaldro_sin, 0x1p55, KALDRO_ERR_INVALID));
  EXPECT_BITS(0.0, call(kaldro_cos, 0x1p55, KALDRO_ERR_INVALID));
  EXPECT_BITS(0.0, call(kaldro_cos, -0x1p60, KALDRO_ERR_INVALID));
  EXPECT_TRUE(std::isnan(call(kaldro_sin, INFINITY, KALDRO_ERR_INVALID)));
  EXPECT_TRUE(std::isnan(call(kaldro_cos, -INFINITY, KALDRO_ERR_INVALID)));
  EXPECT_TRUE(std::isnan(call(kaldro_sin, NAN)));
  EXPECT_TRUE(std::isnan(call(kaldro_cos, NAN)));
  // just below 2^55 is still reduced
  EXPECT_EQ(bits(ref::sin(std::nextafter(0x1p55, 0.0))),
            bits(call(kaldro_sin, std::nextafter(0x1p55, 0.0))));
  EXPECT_EQ(kaldro_sin(nullptr, INFINITY), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cos(nullptr, INFINITY), KALDRO_ERR_NULL);
}

TEST(ElementaryTrig, MatchesReferenceModel) {
  std::vector<double> points = {M_PI / 4, M_PI / 2, M_PI, 3 * M_PI / 2, 0x1p-72, 0x1p54, 1e-18};
  for (double x : arguments(14, points, 3000)) {
    const kaldro_status want =
        std::isnan(x) || std::fabs(x) < 0x1p55 ? KALDRO_OK : KALDRO_ERR_INVALID;
    ASSERT_EQ(bits(ref::sin(x)), bits(call(kaldro_sin, x, want))) << "x = " << x;
    ASSERT_EQ(bits(ref::cos(x)), bits(call(kaldro_cos, x, want))) << "x = " << x;
  }
  // multiples of pi/4 across the whole range: quadrant edges and ties
  for (int k = -200; k <= 200; ++k) {
    const double x = k * (M_PI / 4) * (k % 7 == 0 ? 1e12 : 1.0);
    ASSERT_EQ(bits(ref::sin(x)), bits(call(kaldro_sin, x))) << "x = " << x;
    ASSERT_EQ(bits(ref::cos(x)), bits(call(kaldro_cos, x))) << "x = " << x;
  }
}

TEST(ElementaryTrig, AbsoluteAccuracy) {
  std::mt19937_64 rng(7);
  for (double range : {1.0, 100.0, 1e6, 1e15}) {
    std::uniform_real_distribution<double> d(-range, range);
    for (int i = 0; i < 5000; ++i) {
      const double x = d(rng);
      double s, c;
      kaldro_sin(&s, x);
      kaldro_cos(&c, x);
      // half a unit of the result's rounding, the fixed-point error, and the
      // reduction's error growing with |x|
      const double bound = 0x1p-54 + 0x1p-58 + 2e-21 * std::fabs(x);
      ASSERT_LE(double(fabsq(s - sinq(x))), bound) << x;
      ASSERT_LE(double(fabsq(c - cosq(x))), bound) << x;
    }
  }
}

// ---- arctangents -------------------------------------------------------------------

TEST(ElementaryAtan, DocumentedValues) {
  EXPECT_BITS(1.5707963267948966, call(kaldro_atan, INFINITY));
  EXPECT_BITS(-1.5707963267948966, call(kaldro_atan, -INFINITY));
  EXPECT_BITS(0.7853981633974483, call(kaldro_atan, 1.0));
  EXPECT_BITS(0.39269908169872425, call(kaldro_atan, 0.41421356237309515));
  EXPECT_BITS(1.1780972450961724, call(kaldro_atan, 2.414213562373095));
  EXPECT_BITS(0.0, call(kaldro_atan, -0.0));
  EXPECT_BITS(0.0, call(kaldro_atan, 1e-30));
  EXPECT_BITS(-0.0, call(kaldro_atan, -1e-30));
  EXPECT_BITS(0.7853981633974483, call(kaldro_atan, NAN));
  EXPECT_BITS(0.7853981633974483, call(kaldro_atan, -NAN));
  EXPECT_EQ(kaldro_atan(nullptr, 1.0), KALDRO_ERR_NULL);
}

double call2(double y, double x) {
  double out = 12345.0;
  EXPECT_EQ(kaldro_atan2(&out, y, x), KALDRO_OK);
  return out;
}

TEST(ElementaryAtan, Atan2DocumentedValues) {
  EXPECT_BITS(3.141592653589793, call2(0.0, -1.0));
  EXPECT_BITS(3.141592653589793, call2(-0.0, -1.0));
  EXPECT_BITS(1.5707963267948966, call2(1.0, 0.0));
  EXPECT_BITS(-1.5707963267948966, call2(-1.0, -0.0));
  EXPECT_BITS(0.0, call2(0.0, 0.0));
  EXPECT_BITS(0.0, call2(-0.0, -0.0));
  EXPECT_BITS(0.0, call2(NAN, 0.0));
  EXPECT_BITS(0.7853981633974483 - 3.141592653589793, call2(NAN, -1.0));
  EXPECT_EQ(kaldro_atan2(nullptr, 1.0, 1.0), KALDRO_ERR_NULL);
}

TEST(ElementaryAtan, Atan2BothInfiniteGivesTheDiagonal) {
  const double three_quarters = 3.141592653589793 - 0.7853981633974483;
  EXPECT_BITS(2.356194490192345, three_quarters);
  EXPECT_BITS(0.7853981633974483, call2(INFINITY, INFINITY));
  EXPECT_BITS(-0.7853981633974483, call2(-INFINITY, INFINITY));
  EXPECT_BITS(three_quarters, call2(INFINITY, -INFINITY));
  EXPECT_BITS(-three_quarters, call2(-INFINITY, -INFINITY));
  // one infinite coordinate keeps the ordinary steps
  EXPECT_BITS(1.5707963267948966, call2(INFINITY, 1.0));
  EXPECT_BITS(0.0, call2(1.0, INFINITY));
  EXPECT_BITS(3.141592653589793, call2(1.0, -INFINITY));
}

TEST(ElementaryAtan, MatchesReferenceModel) {
  const auto xs = arguments(15, {0.41421356237309515, 2.414213562373095, 1.0, 0.0}, 3000);
  for (double x : xs) ASSERT_EQ(bits(ref::atan(x)), bits(call(kaldro_atan, x))) << x;
  std::mt19937_64 rng(16);
  for (size_t i = 0; i < 3000; ++i) {
    const double y = xs[rng() % xs.size()], x = xs[rng() % xs.size()];
    ASSERT_EQ(bits(ref::atan2(y, x)), bits(call2(y, x))) << y << ", " << x;
  }
  for (double y : kSpecials)
    for (double x : kSpecials)
      for (int s = 0; s < 4; ++s) {
        const double yy = s & 1 ? -y : y, xx = s & 2 ? -x : x;
        ASSERT_EQ(bits(ref::atan2(yy, xx)), bits(call2(yy, xx))) << yy << ", " << xx;
      }
}

TEST(ElementaryAtan, AbsoluteAccuracy) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> d(-40.0, 40.0);
  for (int i = 0; i < 20000; ++i) {
    const double x = (i % 2 ? 1 : -1) * std::exp(d(rng));
    const __float128 e = atanq(x);
    ASSERT_LE(double(fabsq(call(kaldro_atan, x) - e)), 2 * double(ulp_of(e)) + 0x1p-58) << x;
  }
  for (int i = 0; i < 5000; ++i) {
    const double y = d(rng), x = d(rng);
    const __float128 e = atan2q(y, x);
    // the rounded quotient y / x adds to the arctangent's own error
    ASSERT_LE(double(fabsq(call2(y, x) - e)), 3 * double(ulp_of(e)) + 0x1p-58) << y << " " << x;
  }
}

// ---- tiers and batch forms ---------------------------------------------------------

TEST(ElementaryTiers, EveryTierAndBatchFormGivesTheSameBits) {
  auto xs = arguments(17, {1.0, M_PI, 709.782712893384, -745.2, 0.41421356237309515}, 3000);
  xs.resize(xs.size() - xs.size() % 8 + 5);  // a tail that is not a multiple of the lanes
  const size_t n = xs.size();
  std::vector<double> e(n), l(n), s(n), c(n), a(n);
  for (size_t i = 0; i < n; ++i) {
    kaldro_exp(&e[i], xs[i]);
    kaldro_log(&l[i], xs[i]);
    kaldro_sin(&s[i], xs[i]);
    kaldro_cos(&c[i], xs[i]);
    kaldro_atan(&a[i], xs[i]);
  }
  auto same = [&](const std::vector<double> &want, const std::vector<double> &got,
                  const char *what) {
    for (size_t i = 0; i < n; ++i)
      ASSERT_EQ(bits(want[i]), bits(got[i])) << what << " x = " << xs[i];
  };
  std::vector<double> out(n), out2(n);
  for (size_t i = 0; i < n; ++i) {
    out[i] = kaldro::portable::exp1(xs[i]);
    ASSERT_EQ(bits(e[i]), bits(out[i]));
    ASSERT_EQ(bits(l[i]), bits(kaldro::portable::log1(xs[i])));
    ASSERT_EQ(bits(s[i]), bits(kaldro::portable::sin1(xs[i])));
    ASSERT_EQ(bits(c[i]), bits(kaldro::portable::cos1(xs[i])));
    ASSERT_EQ(bits(a[i]), bits(kaldro::portable::atan1(xs[i])));
    ASSERT_EQ(bits(s[i]), bits(kaldro::sin_value(xs[i])));
    ASSERT_EQ(bits(c[i]), bits(kaldro::cos_value(xs[i])));
    double ss, cc;
    kaldro::sincos_value(xs[i], &ss, &cc);
    ASSERT_EQ(bits(s[i]), bits(ss));
    ASSERT_EQ(bits(c[i]), bits(cc));
  }
  // the bodies behind kaldro_exp and kaldro_log, with their statuses
  auto check_out = [&](kaldro_status (*exp_out)(double *, double),
                       kaldro_status (*log_out)(double *, double), const char *what) {
    for (size_t i = 0; i < n; ++i) {
      double y = 12345.0;
      ASSERT_EQ(exp_out(&y, xs[i]), KALDRO_OK) << what;
      ASSERT_EQ(bits(e[i]), bits(y)) << what << " exp x = " << xs[i];
      const kaldro_status want = xs[i] < 0 || xs[i] == 0 ? KALDRO_ERR_INVALID : KALDRO_OK;
      ASSERT_EQ(log_out(&y, xs[i]), want) << what << " x = " << xs[i];
      ASSERT_EQ(bits(l[i]), bits(y)) << what << " log x = " << xs[i];
    }
  };
  check_out(kaldro::portable::exp_out, kaldro::portable::log_out, "portable");
  kaldro::exp_many(xs.data(), out.data(), n), same(e, out, "exp_many");
  kaldro::log_many(xs.data(), out.data(), n), same(l, out, "log_many");
  kaldro::sin_many(xs.data(), out.data(), n), same(s, out, "sin_many");
  kaldro::cos_many(xs.data(), out.data(), n), same(c, out, "cos_many");
  kaldro::atan_many(xs.data(), out.data(), n), same(a, out, "atan_many");
  kaldro::sincos_many(xs.data(), out.data(), out2.data(), n);
  same(s, out, "sincos_many sine"), same(c, out2, "sincos_many cosine");
  kaldro::portable::exp_n(xs.data(), out.data(), n), same(e, out, "portable exp_n");
  kaldro::portable::log_n(xs.data(), out.data(), n), same(l, out, "portable log_n");
  kaldro::portable::sin_n(xs.data(), out.data(), n), same(s, out, "portable sin_n");
  kaldro::portable::cos_n(xs.data(), out.data(), n), same(c, out, "portable cos_n");
  kaldro::portable::atan_n(xs.data(), out.data(), n), same(a, out, "portable atan_n");
  // in place
  out = xs;
  kaldro::sin_many(out.data(), out.data(), n), same(s, out, "sin_many in place");
#if defined(__x86_64__)
  if (!kaldro::elementary_avx2_tier()) GTEST_SKIP() << "no AVX2/FMA/BMI2 tier here";
  for (size_t i = 0; i < n; ++i) {
    ASSERT_EQ(bits(e[i]), bits(kaldro::avx2::exp1(xs[i])));
    ASSERT_EQ(bits(l[i]), bits(kaldro::avx2::log1(xs[i])));
    ASSERT_EQ(bits(s[i]), bits(kaldro::avx2::sin1(xs[i])));
    ASSERT_EQ(bits(c[i]), bits(kaldro::avx2::cos1(xs[i])));
    ASSERT_EQ(bits(a[i]), bits(kaldro::avx2::atan1(xs[i])));
  }
  check_out(kaldro::avx2::exp_out, kaldro::avx2::log_out, "avx2");
  kaldro::avx2::exp_n(xs.data(), out.data(), n), same(e, out, "avx2 exp_n");
  kaldro::avx2::log_n(xs.data(), out.data(), n), same(l, out, "avx2 log_n");
  kaldro::avx2::sin_n(xs.data(), out.data(), n), same(s, out, "avx2 sin_n");
  kaldro::avx2::cos_n(xs.data(), out.data(), n), same(c, out, "avx2 cos_n");
  kaldro::avx2::atan_n(xs.data(), out.data(), n), same(a, out, "avx2 atan_n");
  kaldro::avx2::sincos_n(xs.data(), out.data(), out2.data(), n);
  same(s, out, "avx2 sincos_n sine"), same(c, out2, "avx2 sincos_n cosine");
#endif
}

TEST(ElementaryTiers, ValueFormsMatchPublicFunctions) {
  for (double x : arguments(18, {1.0, 2.0}, 500)) {
    double want;
    kaldro_rational_sqrt(&want, x);
    ASSERT_EQ(bits(want), bits(kaldro::rational_sqrt_value(x)));
    kaldro_exp(&want, x);
    ASSERT_EQ(bits(want), bits(kaldro::exp_value(x)));
    kaldro_log(&want, x);
    ASSERT_EQ(bits(want), bits(kaldro::log_value(x)));
    kaldro_atan(&want, x);
    ASSERT_EQ(bits(want), bits(kaldro::atan_value(x)));
    kaldro_atan2(&want, x, 0.5 - x);
    ASSERT_EQ(bits(want), bits(kaldro::atan2_value(x, 0.5 - x)));
  }
}

}  // namespace
