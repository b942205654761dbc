// Autocorrelation and the exact transform: documented cases, status order, untouched
// outputs on failure, a chain of fused multiply-adds per output in both tiers, and the
// exact coefficients checked against a complex transform in quadruple precision.
#include <gtest/gtest.h>

#include <kaldro.h>
#include "elementary_quad.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

#include "elementary/elementary.h"

namespace {

uint64_t bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}

TEST(ElementaryAutocorrelation, DocumentedCaseAndStatuses) {
  const double x[3] = {1, 2, 3};
  double out[3] = {0, 0, 0};
  EXPECT_EQ(kaldro_autocorrelation_f64(x, 3, out), KALDRO_OK);
  EXPECT_EQ(out[0], 14.0);
  EXPECT_EQ(out[1], 11.0);
  EXPECT_EQ(out[2], 11.0);
  EXPECT_EQ(kaldro_autocorrelation_f64(nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_autocorrelation_f64(nullptr, 3, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_autocorrelation_f64(x, 3, nullptr), KALDRO_ERR_NULL);
  const double one = 2.5;
  EXPECT_EQ(kaldro_autocorrelation_f64(&one, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 6.25);
}

std::vector<double> reference_autocorrelation(const std::vector<double> &x) {
  const size_t n = x.size();
  std::vector<double> out(n);
  for (size_t i = 0; i < n; ++i) {
    double acc = 0.0;
    for (size_t j = 0; j < n; ++j) acc = std::fma(x[j], x[(i + j) % n], acc);
    out[i] = acc;
  }
  return out;
}

TEST(ElementaryAutocorrelation, FusedChainInIncreasingOrderOnEveryTier) {
  std::mt19937_64 rng(31);
  std::uniform_real_distribution<double> d(-1.0, 1.0);
  for (size_t n : {1, 2, 3, 4, 5, 7, 8, 13, 64, 101}) {
    std::vector<double> x(n);
    for (auto &v : x) v = d(rng) * std::ldexp(1.0, int(rng() % 40) - 20);
    const auto want = reference_autocorrelation(x);
    std::vector<double> out(n + 1, 99.0);
    ASSERT_EQ(kaldro_autocorrelation_f64(x.data(), n, out.data()), KALDRO_OK);
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(bits(want[i]), bits(out[i])) << n << " " << i;
    EXPECT_EQ(out[n], 99.0);  // nothing beyond n
    kaldro::portable::autocorrelation(x.data(), n, out.data());
    for (size_t i = 0; i < n; ++i) ASSERT_EQ(bits(want[i]), bits(out[i])) << n << " " << i;
#if defined(__x86_64__)
    if (kaldro::elementary_avx2_tier()) {
      kaldro::avx2::autocorrelation(x.data(), n, out.data());
      for (size_t i = 0; i < n; ++i) ASSERT_EQ(bits(want[i]), bits(out[i])) << n << " " << i;
    }
#endif
  }
}

using Table = std::vector<int64_t>;

TEST(ElementaryExactDft, DocumentedCases) {
  const int64_t a = 17, b = -5;
  int64_t xs[2] = {a, b}, ys[2] = {3, 4};
  int64_t xo[2], yo[2];
  ASSERT_EQ(kaldro_exact_dft_i64(2, 0, xs, ys, xo, yo), KALDRO_OK);
  EXPECT_EQ(xo[0], a + b);
  EXPECT_EQ(xo[1], a - b);
  EXPECT_EQ(yo[0], 7);
  EXPECT_EQ(yo[1], -1);

  const int64_t impulse[4] = {1, 0, 0, 0}, shifted[4] = {0, 1, 0, 0};
  int64_t t1[8], t2[8];
  ASSERT_EQ(kaldro_exact_dft_i64(4, 0, impulse, shifted, t1, t2), KALDRO_OK);
  EXPECT_EQ(Table(t1, t1 + 8), (Table{1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(Table(t2, t2 + 8), (Table{1, 0, 0, 1, -1, 0, 0, -1}));
  ASSERT_EQ(kaldro_exact_dft_i64(4, 1, impulse, shifted, t1, t2), KALDRO_OK);
  EXPECT_EQ(Table(t1, t1 + 8), (Table{1, 0, 1, 0, 1, 0, 1, 0}));
  EXPECT_EQ(Table(t2, t2 + 8), (Table{1, 0, 0, -1, -1, 0, 0, 1}));
}

TEST(ElementaryExactDft, StatusOrderAndUntouchedOutputs) {
  int64_t in[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  int64_t xo[32], yo[32];
  for (uint32_t n : {0u, 1u, 3u, 6u, 12u}) {
    std::fill(xo, xo + 32, 77);
    std::fill(yo, yo + 32, 77);
    EXPECT_EQ(kaldro_exact_dft_i64(n, 0, in, in, xo, yo), KALDRO_ERR_INVALID) << n;
    for (int i = 0; i < 32; ++i) {
      ASSERT_EQ(xo[i], 77);
      ASSERT_EQ(yo[i], 77);
    }
  }
  EXPECT_EQ(kaldro_exact_dft_i64(3, 0, nullptr, in, xo, yo), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_exact_dft_i64(3, 0, in, nullptr, xo, yo), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_exact_dft_i64(3, 0, in, in, nullptr, yo), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_exact_dft_i64(3, 0, in, in, xo, nullptr), KALDRO_ERR_NULL);
}

// The coefficients, evaluated at w = exp(2 pi i / n), give the ordinary transform with
// exponents +ij, or -ij when inverse is set.
TEST(ElementaryExactDft, AgreesWithTheComplexTransform) {
  const __float128 pi = acosq(-1);
  std::mt19937_64 rng(32);
  for (uint32_t n : {2u, 4u, 8u, 16u, 64u}) {
    const uint32_t h = n / 2;
    std::vector<int64_t> x(n), y(n), xo(n * h), yo(n * h);
    for (uint32_t j = 0; j < n; ++j) x[j] = int64_t(rng() % 2001) - 1000, y[j] = int64_t(rng() % 7) - 3;
    for (uint32_t inverse : {0u, 1u}) {
      ASSERT_EQ(kaldro_exact_dft_i64(n, inverse ? 5 : 0, x.data(), y.data(), xo.data(), yo.data()),
                KALDRO_OK);
      const __float128 sign = inverse ? -1 : 1;
      for (uint32_t i = 0; i < n; ++i) {
        for (int which = 0; which < 2; ++which) {
          const auto &in = which ? y : x;
          const auto &tab = which ? yo : xo;
          __float128 re = 0, im = 0, cre = 0, cim = 0;
          for (uint32_t j = 0; j < n; ++j) {
            const __float128 ang = sign * 2 * pi * (__float128)((uint64_t(i) * j) % n) / n;
            re += in[j] * cosq(ang), im += in[j] * sinq(ang);
          }
          for (uint32_t t = 0; t < h; ++t) {
            const __float128 ang = 2 * pi * t / n;  // the basis is always w^t
            cre += tab[i * h + t] * cosq(ang), cim += tab[i * h + t] * sinq(ang);
          }
          ASSERT_NEAR(double(re - cre), 0.0, 1e-20) << n << " " << i;
          ASSERT_NEAR(double(im - cim), 0.0, 1e-20) << n << " " << i;
        }
      }
    }
  }
}

TEST(ElementaryExactDft, SumsWrapAsTwosComplement) {
  const int64_t x[2] = {INT64_MAX, 1}, y[2] = {INT64_MIN, 1};
  int64_t xo[2], yo[2];
  ASSERT_EQ(kaldro_exact_dft_i64(2, 0, x, y, xo, yo), KALDRO_OK);
  EXPECT_EQ(xo[0], INT64_MIN);
  EXPECT_EQ(xo[1], INT64_MAX - 1);
  EXPECT_EQ(yo[0], INT64_MIN + 1);
  EXPECT_EQ(yo[1], INT64_MAX);
}

}  // namespace
