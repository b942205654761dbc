// Orbital functions: the documented cases, values written before validation, the
// composition of the steps against the library's own sine, cosine and arctangent, and
// Kepler and the equation of the centre against quadruple precision.
#include <gtest/gtest.h>

#include <kaldro.h>
#include "elementary_quad.h"

#include <cmath>
#include <cstring>
#include <random>

namespace {

uint64_t bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}

double sin_of(double x) {
  double s;
  kaldro_sin(&s, x);
  return s;
}
double cos_of(double x) {
  double c;
  kaldro_cos(&c, x);
  return c;
}

TEST(ElementaryPinSlot, DocumentedCases) {
  double out = 7.0;
  EXPECT_EQ(kaldro_pin_slot(&out, 0.0, 1.0, 0.0), KALDRO_OK);
  EXPECT_EQ(bits(out), bits(0.0));
  EXPECT_EQ(kaldro_pin_slot(&out, 1.5707963267948966, 1.0, 0.0), KALDRO_OK);
  EXPECT_EQ(out, 1.5707963267948966);
  // x = fma(1, cos pi, 1) is exactly zero and y = sin pi is positive
  EXPECT_EQ(kaldro_pin_slot(&out, 3.141592653589793, 1.0, 1.0), KALDRO_OK);
  EXPECT_EQ(out, 1.5707963267948966);
  out = 7.0;
  EXPECT_EQ(kaldro_pin_slot(&out, 1.0, 0.0, 0.0), KALDRO_ERR_INVALID);
  EXPECT_EQ(bits(out), bits(0.0));
  out = 7.0;
  EXPECT_EQ(kaldro_pin_slot(&out, 1.0, -0.0, 0.0), KALDRO_ERR_INVALID);
  EXPECT_EQ(bits(out), bits(0.0));
  EXPECT_EQ(kaldro_pin_slot(nullptr, 1.0, 0.0, 0.0), KALDRO_ERR_NULL);
}

TEST(ElementaryPinSlot, ComposesSineCosineAndAtan2) {
  std::mt19937_64 rng(21);
  std::uniform_real_distribution<double> d(-10.0, 10.0);
  for (int i = 0; i < 3000; ++i) {
    const double theta = d(rng), r = d(rng), c = i % 3 ? d(rng) : 0.0;
    double want, got;
    kaldro_atan2(&want, sin_of(theta) * r, std::fma(r, cos_of(theta), c));
    ASSERT_EQ(kaldro_pin_slot(&got, theta, r, c), KALDRO_OK);
    ASSERT_EQ(bits(want), bits(got)) << theta << " " << r << " " << c;
    // and it is the angle of the point
    const __float128 e = atan2q(r * sinq(theta), c + r * cosq(theta));
    if (std::fabs(double(c + r * cosq(theta))) > 1e-6) {
      ASSERT_NEAR(double(e), got, 1e-12);
    }
  }
}

TEST(ElementaryKepler, ValidationAndWrittenValues) {
  double out = 9.0;
  EXPECT_EQ(kaldro_kepler_solve(10, &out, 1.25, 0.0, 1e-12), KALDRO_OK);
  EXPECT_EQ(out, 1.25);
  out = 9.0;
  EXPECT_EQ(kaldro_kepler_solve(10, &out, 1.25, 1.0, 1e-12), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, 1.25);
  out = 9.0;
  EXPECT_EQ(kaldro_kepler_solve(10, &out, 1.25, -0.1, 1e-12), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, 1.25);
  out = 9.0;
  EXPECT_EQ(kaldro_kepler_solve(0, &out, 1.25, 0.5, 1e-12), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, 1.25);
  EXPECT_EQ(kaldro_kepler_solve(0, nullptr, 1.25, 2.0, 1e-12), KALDRO_ERR_NULL);
}

TEST(ElementaryKepler, OneStepWithZeroToleranceRunsOut) {
  const double m = 0.8, e = 0.3;
  const double e0 = std::fma(e, sin_of(m), m);
  const double f = std::fma(-e, sin_of(e0), e0) - m;
  const double fp = std::fma(-e, cos_of(e0), 1.0);
  const double want = e0 - f / fp;
  double out;
  EXPECT_EQ(kaldro_kepler_solve(1, &out, m, e, 0.0), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(bits(want), bits(out));
}

TEST(ElementaryKepler, SolvesTheEquation) {
  std::mt19937_64 rng(22);
  std::uniform_real_distribution<double> md(-3.0, 3.0), ed(0.0, 0.9);
  for (int i = 0; i < 2000; ++i) {
    const double m = md(rng), e = ed(rng);
    double out;
    ASSERT_EQ(kaldro_kepler_solve(50, &out, m, e, 1e-13), KALDRO_OK) << m << " " << e;
    ASSERT_NEAR(double(out - e * sinq(out) - m), 0.0, 1e-14) << m << " " << e;
  }
}

TEST(ElementaryEquationOfCentre, CasesAndValidation) {
  double out = 5.0;
  EXPECT_EQ(kaldro_equation_of_centre(1, &out, 0.7, 0.2), KALDRO_OK);
  EXPECT_EQ(bits(out), bits(std::fma(0.2 + 0.2, sin_of(0.7), 0.0)));
  for (uint32_t order : {0u, 7u, 100u}) {
    out = 5.0;
    EXPECT_EQ(kaldro_equation_of_centre(order, &out, 0.7, 0.2), KALDRO_ERR_INVALID);
    EXPECT_EQ(bits(out), bits(0.0));
  }
  for (double e : {-0.01, 1.0, 1.5}) {
    out = 5.0;
    EXPECT_EQ(kaldro_equation_of_centre(3, &out, 0.7, e), KALDRO_ERR_INVALID);
    EXPECT_EQ(bits(out), bits(0.0));
  }
  for (uint32_t order = 1; order <= 6; ++order) {
    out = 5.0;
    EXPECT_EQ(kaldro_equation_of_centre(order, &out, 1.3, 0.0), KALDRO_OK);
    EXPECT_EQ(out, 0.0);
  }
  EXPECT_EQ(kaldro_equation_of_centre(0, nullptr, 0.7, 2.0), KALDRO_ERR_NULL);
}

TEST(ElementaryEquationOfCentre, TermsInOrder) {
  // coefficients as the nearest doubles of the exact fractions
  const double coef[7] = {0, 2, 5.0 / 4, 13.0 / 12, 103.0 / 96, 1097.0 / 960, 1223.0 / 960};
  EXPECT_EQ(coef[3], 1.0833333333333333);
  EXPECT_EQ(coef[4], 1.0729166666666667);
  EXPECT_EQ(coef[5], 1.1427083333333334);
  EXPECT_EQ(coef[6], 1.2739583333333333);
  std::mt19937_64 rng(23);
  std::uniform_real_distribution<double> md(-4.0, 4.0), ed(0.0, 0.99);
  for (int i = 0; i < 2000; ++i) {
    const double m = md(rng), e = ed(rng);
    double acc = std::fma(e + e, sin_of(m), 0.0), p = e;
    __float128 exact = 2 * (__float128)e * sinq(m);
    for (uint32_t order = 1; order <= 6; ++order) {
      if (order > 1) {
        p = p * e;
        const double angle = order == 2 ? m + m : m * order;
        acc = std::fma(p * coef[order], sin_of(angle), acc);
        exact += powq(e, order) * (__float128)coef[order] * sinq((__float128)m * order);
      }
      double out;
      ASSERT_EQ(kaldro_equation_of_centre(order, &out, m, e), KALDRO_OK);
      ASSERT_EQ(bits(acc), bits(out)) << order << " " << m << " " << e;
      ASSERT_NEAR(double(exact), out, 1e-14);
    }
  }
}

}  // namespace
