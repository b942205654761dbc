// Cascade slot operations: flips (also in place), the chiral dual and its callback,
// pinning, magnitude, reorientation (INT64_MIN included), net chirality, cyclic gcd and
// the signed best rational with its refusal of scaled values beyond 63 bits.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

TEST(ChiralFlip, ListedCasesAndInPlace) {
  const int64_t src[3] = {1, 2, 3};
  int64_t dst[3] = {0, 0, 0};
  ASSERT_EQ(kaldro_cascade_chiral_flip_i64(src, 3, dst), KALDRO_OK);
  EXPECT_TRUE(dst[0] == 3 && dst[1] == 2 && dst[2] == 1);
  int64_t inplace[3] = {1, 2, 3};
  ASSERT_EQ(kaldro_cascade_chiral_flip_i64(inplace, 3, inplace), KALDRO_OK);
  EXPECT_TRUE(inplace[0] == 3 && inplace[1] == 2 && inplace[2] == 1);

  double f[4] = {1.5, -2.0, 3.25, 4.0};
  ASSERT_EQ(kaldro_cascade_chiral_flip_f64(f, 4, f), KALDRO_OK);
  EXPECT_TRUE(f[0] == 4.0 && f[1] == 3.25 && f[2] == -2.0 && f[3] == 1.5);

  EXPECT_EQ(kaldro_cascade_chiral_flip_i64(nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_cascade_chiral_flip_f64(nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_cascade_chiral_flip_i64(nullptr, 1, dst), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_chiral_flip_i64(src, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_chiral_flip_f64(nullptr, 1, f), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_chiral_flip_f64(f, 1, nullptr), KALDRO_ERR_NULL);
}

TEST(ChiralFlip, RandomLengthsAgainstReference) {
  std::mt19937_64 rng(1);
  for (uint64_t n = 1; n < 70; ++n) {
    std::vector<int64_t> a(n), b(n + 1, 42);
    std::vector<double> x(n), y(n + 1, 42.0);
    for (uint64_t i = 0; i < n; ++i) {
      a[i] = static_cast<int64_t>(rng());
      x[i] = static_cast<double>(a[i]) * 1e-9;
    }
    ASSERT_EQ(kaldro_cascade_chiral_flip_i64(a.data(), n, b.data()), KALDRO_OK);
    ASSERT_EQ(kaldro_cascade_chiral_flip_f64(x.data(), n, y.data()), KALDRO_OK);
    for (uint64_t i = 0; i < n; ++i) {
      ASSERT_EQ(b[i], a[n - 1 - i]);
      ASSERT_EQ(y[i], x[n - 1 - i]);
    }
    ASSERT_EQ(b[n], 42);
    ASSERT_EQ(y[n], 42.0);
    std::vector<int64_t> c = a;
    ASSERT_EQ(kaldro_cascade_chiral_flip_i64(c.data(), n, c.data()), KALDRO_OK);
    for (uint64_t i = 0; i < n; ++i) ASSERT_EQ(c[i], a[n - 1 - i]);
  }
}

struct OpLog {
  int calls = 0;
  const double *in = nullptr;
  uint64_t n = 99;
  double *out = nullptr;
  kaldro_status result = KALDRO_OK;
};

kaldro_status copy_op(const double *in, uint64_t n, double *out, void *ctx) {
  auto *log = static_cast<OpLog *>(ctx);
  log->calls++, log->in = in, log->n = n, log->out = out;
  for (uint64_t i = 0; i < n; ++i) out[i] = in[i];
  return log->result;
}

kaldro_status prefix_sum_op(const double *in, uint64_t n, double *out, void *ctx) {
  auto *log = static_cast<OpLog *>(ctx);
  log->calls++;
  double s = 0;
  for (uint64_t i = 0; i < n; ++i) out[i] = s += in[i];
  return log->result;
}

TEST(ChiralDual, CopyGivesSourceAndPrefixSumGivesSuffixSum) {
  const double src[5] = {1, 2, 3, 4, 5};
  double out[5], scratch[5];
  OpLog log;
  ASSERT_EQ(kaldro_cascade_chiral_dual_f64(copy_op, &log, src, 5, out, scratch), KALDRO_OK);
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.in, scratch);  // the operator sees the reversed copy
  EXPECT_EQ(log.out, out);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], src[i]);
  for (int i = 0; i < 5; ++i) EXPECT_EQ(scratch[i], src[4 - i]);

  log = OpLog();
  ASSERT_EQ(kaldro_cascade_chiral_dual_f64(prefix_sum_op, &log, src, 5, out, scratch),
            KALDRO_OK);
  EXPECT_EQ(log.calls, 1);
  const double suffix[5] = {15, 14, 12, 9, 5};
  for (int i = 0; i < 5; ++i) EXPECT_EQ(out[i], suffix[i]);
}

TEST(ChiralDual, StatusOrderAndEmptyInput) {
  double out[2] = {7, 7}, scratch[2] = {7, 7};
  const double src[2] = {1, 2};
  OpLog log;
  EXPECT_EQ(kaldro_cascade_chiral_dual_f64(nullptr, &log, src, 2, out, scratch),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_chiral_dual_f64(copy_op, &log, src, 0, nullptr, scratch),
            KALDRO_ERR_NULL);
  EXPECT_EQ(log.calls, 0);
  // n = 0: the operator runs once on src as given; src and scratch are not checked.
  log.result = 9;
  EXPECT_EQ(kaldro_cascade_chiral_dual_f64(copy_op, &log, nullptr, 0, out, nullptr), 9);
  EXPECT_EQ(log.calls, 1);
  EXPECT_EQ(log.in, nullptr);
  EXPECT_EQ(log.n, 0u);
  log = OpLog();
  EXPECT_EQ(kaldro_cascade_chiral_dual_f64(copy_op, &log, nullptr, 2, out, scratch),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_chiral_dual_f64(copy_op, &log, src, 2, out, nullptr),
            KALDRO_ERR_NULL);
  EXPECT_EQ(log.calls, 0);
  EXPECT_TRUE(out[0] == 7 && scratch[0] == 7);
  // A failing operator's status comes back as it is and out is not reversed afterwards.
  log.result = KALDRO_ERR_INVALID;
  EXPECT_EQ(kaldro_cascade_chiral_dual_f64(copy_op, &log, src, 2, out, scratch),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(log.calls, 1);
  EXPECT_TRUE(out[0] == 2 && out[1] == 1);
}

TEST(PinAndMagnitude, SignsZerosAndNaN) {
  int8_t sign = 5;
  double mag = 5;
  ASSERT_EQ(kaldro_cascade_pin_slot_at_zero_f64(-2.5, &sign, &mag), KALDRO_OK);
  EXPECT_TRUE(sign == -1 && mag == 2.5);
  ASSERT_EQ(kaldro_cascade_pin_slot_at_zero_f64(3.0, &sign, &mag), KALDRO_OK);
  EXPECT_TRUE(sign == 1 && mag == 3.0);
  ASSERT_EQ(kaldro_cascade_pin_slot_at_zero_f64(-0.0, &sign, &mag), KALDRO_OK);
  EXPECT_TRUE(sign == 0 && mag == 0.0 && !std::signbit(mag));
  ASSERT_EQ(kaldro_cascade_pin_slot_at_zero_f64(-NAN, &sign, &mag), KALDRO_OK);
  EXPECT_TRUE(sign == 0 && mag == 0.0 && !std::signbit(mag));
  ASSERT_EQ(kaldro_cascade_pin_slot_at_zero_f64(-INFINITY, &sign, &mag), KALDRO_OK);
  EXPECT_TRUE(sign == -1 && mag == INFINITY);
  EXPECT_EQ(kaldro_cascade_pin_slot_at_zero_f64(1.0, nullptr, &mag), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_pin_slot_at_zero_f64(1.0, &sign, nullptr), KALDRO_ERR_NULL);
  EXPECT_TRUE(sign == -1 && mag == INFINITY);

  double m = 5;
  ASSERT_EQ(kaldro_cascade_magnitude_f64(-3.5, &m), KALDRO_OK);
  EXPECT_EQ(m, 3.5);
  ASSERT_EQ(kaldro_cascade_magnitude_f64(-0.0, &m), KALDRO_OK);
  EXPECT_TRUE(m == 0.0 && !std::signbit(m));
  ASSERT_EQ(kaldro_cascade_magnitude_f64(-NAN, &m), KALDRO_OK);
  EXPECT_TRUE(m == 0.0 && !std::signbit(m));
  ASSERT_EQ(kaldro_cascade_magnitude_f64(1e-310, &m), KALDRO_OK);
  EXPECT_EQ(m, 1e-310);
  EXPECT_EQ(kaldro_cascade_magnitude_f64(1.0, nullptr), KALDRO_ERR_NULL);
}

TEST(Reorient, SignsAndTheMostNegativeInteger) {
  int64_t v = 0;
  ASSERT_EQ(kaldro_cascade_reorient_i64(-1, 5, &v), KALDRO_OK);
  EXPECT_EQ(v, -5);
  ASSERT_EQ(kaldro_cascade_reorient_i64(INT32_MIN, -5, &v), KALDRO_OK);
  EXPECT_EQ(v, 5);
  ASSERT_EQ(kaldro_cascade_reorient_i64(0, -5, &v), KALDRO_OK);
  EXPECT_EQ(v, -5);
  ASSERT_EQ(kaldro_cascade_reorient_i64(7, INT64_MAX, &v), KALDRO_OK);
  EXPECT_EQ(v, INT64_MAX);
  ASSERT_EQ(kaldro_cascade_reorient_i64(-1, INT64_MAX, &v), KALDRO_OK);
  EXPECT_EQ(v, -INT64_MAX);
  // Two's complement negation: INT64_MIN stays INT64_MIN (no overflow).
  ASSERT_EQ(kaldro_cascade_reorient_i64(-1, INT64_MIN, &v), KALDRO_OK);
  EXPECT_EQ(v, INT64_MIN);
  EXPECT_EQ(kaldro_cascade_reorient_i64(-1, 1, nullptr), KALDRO_ERR_NULL);

  double x = 0;
  ASSERT_EQ(kaldro_cascade_reorient_f64(-3, 2.5, &x), KALDRO_OK);
  EXPECT_EQ(x, -2.5);
  ASSERT_EQ(kaldro_cascade_reorient_f64(0, -2.5, &x), KALDRO_OK);
  EXPECT_EQ(x, -2.5);
  ASSERT_EQ(kaldro_cascade_reorient_f64(-1, 0.0, &x), KALDRO_OK);
  EXPECT_TRUE(x == 0.0 && std::signbit(x));
  EXPECT_EQ(kaldro_cascade_reorient_f64(1, 1.0, nullptr), KALDRO_ERR_NULL);
}

TEST(NetChirality, ProductSigns) {
  int8_t out = 9;
  const int8_t a[4] = {1, -1, -1, 1}, b[2] = {1, -1}, c[3] = {1, 0, -1};
  ASSERT_EQ(kaldro_cascade_net_chirality_i8(a, 4, &out), KALDRO_OK);
  EXPECT_EQ(out, 1);
  ASSERT_EQ(kaldro_cascade_net_chirality_i8(b, 2, &out), KALDRO_OK);
  EXPECT_EQ(out, -1);
  ASSERT_EQ(kaldro_cascade_net_chirality_i8(c, 3, &out), KALDRO_OK);
  EXPECT_EQ(out, 0);
  ASSERT_EQ(kaldro_cascade_net_chirality_i8(nullptr, 0, &out), KALDRO_OK);
  EXPECT_EQ(out, 1);
  const int8_t d[3] = {-7, 5, -128};  // only the signs matter
  ASSERT_EQ(kaldro_cascade_net_chirality_i8(d, 3, &out), KALDRO_OK);
  EXPECT_EQ(out, 1);
  out = 9;
  EXPECT_EQ(kaldro_cascade_net_chirality_i8(a, 4, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_net_chirality_i8(nullptr, 1, &out), KALDRO_ERR_NULL);
  EXPECT_EQ(out, 9);

  std::mt19937 rng(3);
  for (int iter = 0; iter < 2000; ++iter) {
    std::vector<int8_t> s(1 + rng() % 20);
    int product = 1;
    for (auto &v : s) {
      const unsigned r = rng() % 16;
      v = static_cast<int8_t>(r == 0 ? 0 : (r < 8 ? -1 : 1));
      product *= v;
    }
    ASSERT_EQ(kaldro_cascade_net_chirality_i8(s.data(), s.size(), &out), KALDRO_OK);
    ASSERT_EQ(out, product);
  }
}

TEST(CyclicGcd, MatchesEuclid) {
  uint64_t g = 0;
  ASSERT_EQ(kaldro_cascade_cyclic_gcd_u64(12, 18, &g), KALDRO_OK);
  EXPECT_EQ(g, 6u);
  ASSERT_EQ(kaldro_cascade_cyclic_gcd_u64(0, 0, &g), KALDRO_OK);
  EXPECT_EQ(g, 0u);
  ASSERT_EQ(kaldro_cascade_cyclic_gcd_u64(UINT64_MAX, 0, &g), KALDRO_OK);
  EXPECT_EQ(g, UINT64_MAX);
  EXPECT_EQ(kaldro_cascade_cyclic_gcd_u64(1, 2, nullptr), KALDRO_ERR_NULL);
}

TEST(BestRationalSigned, ListedCases) {
  int64_t n = 9;
  uint64_t d = 9;
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(10, 1000, &n, &d, -0.75), KALDRO_OK);
  EXPECT_TRUE(n == -3 && d == 4);
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(10, 100000, &n, &d, 3.14159), KALDRO_OK);
  EXPECT_TRUE(n == 22 && d == 7);
  n = 9, d = 9;
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(10, 1000, &n, &d, 1e-13), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 9, d = 9;
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(10, 1000, &n, &d, NAN), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  n = 9, d = 9;
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(10, 1000, &n, &d, -0.0004), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);  // rounds to 0 at this scale
}

TEST(BestRationalSigned, StatusOrder) {
  int64_t n = 9;
  uint64_t d = 9;
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(0, 0, nullptr, &d, INFINITY),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(0, 0, &n, nullptr, INFINITY),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(0, 1, &n, &d, INFINITY),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(1, -5, &n, &d, 0.5), KALDRO_ERR_INVALID);
  EXPECT_TRUE(n == 9 && d == 9);
}

// Ties of |x| * scale round to even, and a rounded product that cannot be a 63-bit
// integer (infinite, or 2^63 and beyond) is refused with nothing written.
TEST(BestRationalSigned, RoundingAndRangeOfTheScaledValue) {
  int64_t n = 9;
  uint64_t d = 9;
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, 0.5), KALDRO_OK);
  EXPECT_TRUE(n == 0 && d == 1);
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, 2.5), KALDRO_OK);
  EXPECT_TRUE(n == 2 && d == 1);
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, -3.5), KALDRO_OK);
  EXPECT_TRUE(n == -4 && d == 1);
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(1, 2, &n, &d, 1.25), KALDRO_OK);
  EXPECT_TRUE(n == 1 && d == 1);  // round(2.5) = 2, so 2/2

  const double below = std::nextafter(9223372036854775808.0, 0.0);
  ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, -below), KALDRO_OK);
  EXPECT_TRUE(n == -9223372036854774784 && d == 1);
  n = 9, d = 9;
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, 9223372036854775808.0),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1000, &n, &d, 1e16),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(1, INT64_MAX, &n, &d, 1.0),
            KALDRO_ERR_CAPACITY);  // INT64_MAX as a double is 2^63
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, -INFINITY),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_cascade_best_rational_signed_f64(1, 1, &n, &d, 1e308),
            KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(n == 9 && d == 9);
}

// Typical values: the result is the last convergent of round(|x| * scale) / scale within
// the bound, checked against a convergent walk done here in 128-bit arithmetic.
TEST(BestRationalSigned, RandomValuesAgainstConvergentWalk) {
  std::mt19937_64 rng(8);
  std::uniform_real_distribution<double> unit(-1.0, 1.0);
  for (int iter = 0; iter < 20000; ++iter) {
    const double x = unit(rng) * std::pow(10.0, static_cast<double>(rng() % 12) - 4);
    const int64_t scale = 1 + static_cast<int64_t>(rng() % 10000000);
    const int64_t max_den = 1 + static_cast<int64_t>(rng() % 5000);
    int64_t n = 9;
    uint64_t d = 9;
    ASSERT_EQ(kaldro_cascade_best_rational_signed_f64(max_den, scale, &n, &d, x), KALDRO_OK);
    const double c = std::fabs(x);
    const double r = c < 1e-12 ? 0.0 : std::nearbyint(c * static_cast<double>(scale));
    unsigned __int128 a = static_cast<uint64_t>(r), b = static_cast<uint64_t>(scale);
    unsigned __int128 h1 = 1, h2 = 0, k1 = 0, k2 = 1, bh = 0, bk = 1;
    while (r > 0 && b != 0) {
      const unsigned __int128 t = a / b, h = t * h1 + h2, k = t * k1 + k2;
      if (k > static_cast<unsigned __int128>(max_den)) break;
      bh = h, bk = k, h2 = h1, h1 = h, k2 = k1, k1 = k;
      const unsigned __int128 rem = a % b;
      a = b, b = rem;
    }
    const int64_t want = x < 0 ? -static_cast<int64_t>(bh) : static_cast<int64_t>(bh);
    ASSERT_EQ(n, want) << x << " scale " << scale << " max " << max_den;
    ASSERT_EQ(d, static_cast<uint64_t>(bk)) << x << " scale " << scale << " max " << max_den;
  }
}

}  // namespace
