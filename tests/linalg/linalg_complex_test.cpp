// Complex kernels, the element-wise transcendental map and the band split: the stated
// examples, status order, aliasing, and agreement with models written from the rules.
#include "linalg_support.h"

namespace {

using namespace linalg_test;

double fma_(double a, double b, double c) { return __builtin_fma(a, b, c); }

void product(const double *a, const double *b, double *out) {
  const double re = fma_(a[0], b[0], -(a[1] * b[1])), im = fma_(a[0], b[1], a[1] * b[0]);
  out[0] = re;
  out[1] = im;
}

TEST(LinalgComplex, StatedProducts) {
  const double a[2] = {1, 2}, b[2] = {3, 4};
  double out[2];
  ASSERT_EQ(kaldro_elementwise_multiply_complex(1, a, b, out), KALDRO_OK);
  EXPECT_EQ(out[0], -5.0);
  EXPECT_EQ(out[1], 10.0);
  ASSERT_EQ(kaldro_dense_matmul_complex(1, 1, 1, a, b, out), KALDRO_OK);
  EXPECT_EQ(out[0], -5.0);
  EXPECT_EQ(out[1], 10.0);
  const double row[4] = {1, 0, 0, 1}, col[4] = {0, 1, 1, 0};
  ASSERT_EQ(kaldro_dense_matmul_complex(1, 2, 1, row, col, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], 2.0);
}

TEST(LinalgComplex, StatusOrder) {
  double a[4] = {1, 2, 3, 4}, c[4] = {9, 9, 9, 9};
  EXPECT_EQ(kaldro_dense_matmul_complex(1, 1, 1, nullptr, a, c), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dense_matmul_complex(1, 1, 1, a, nullptr, c), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dense_matmul_complex(0, 1, 1, a, a, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dense_matmul_complex(0, 1, 1, a, a, c), KALDRO_OK);
  EXPECT_EQ(kaldro_dense_matmul_complex(1, 1, 0, a, a, c), KALDRO_OK);
  EXPECT_EQ(c[0], 9.0);
  ASSERT_EQ(kaldro_dense_matmul_complex(2, 0, 1, a, a, c), KALDRO_OK);
  for (double v : c) EXPECT_EQ(bits(v), bits(0.0));

  EXPECT_EQ(kaldro_elementwise_multiply_complex(0, nullptr, nullptr, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_elementwise_multiply_complex(0, nullptr, nullptr, c), KALDRO_OK);
  EXPECT_EQ(kaldro_elementwise_multiply_complex(1, nullptr, a, c), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_elementwise_multiply_complex(1, a, nullptr, c), KALDRO_ERR_NULL);

  uint32_t f, s, t;
  EXPECT_EQ(kaldro_three_fold_bands(3, nullptr, &s, &t), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_three_fold_bands(3, &f, nullptr, &t), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_three_fold_bands(3, &f, &s, nullptr), KALDRO_ERR_NULL);
}

TEST(LinalgComplex, MatchModelsOnEveryPath) {
  std::mt19937_64 rng(31);
  for (uint32_t m : {1u, 3u}) for (uint32_t k : {1u, 2u, 5u}) for (uint32_t p : {1u, 2u, 3u, 9u}) {
    const auto a = random_vector(rng, 2 * m * k), b = random_vector(rng, 2 * k * p);
    std::vector<double> want(2 * m * p);
    for (uint32_t i = 0; i < m; ++i)
      for (uint32_t j = 0; j < p; ++j) {
        double re = 0.0, im = 0.0, t[2];
        for (uint32_t l = 0; l < k; ++l) {
          product(&a[2 * (i * k + l)], &b[2 * (l * p + j)], t);
          re = re + t[0];
          im = im + t[1];
        }
        want[2 * (i * p + j)] = re;
        want[2 * (i * p + j) + 1] = im;
      }
    for (const Tier &tier : tiers()) {
      std::vector<double> c(2 * m * p, 7.0);
      ASSERT_EQ(kaldro::linalg::matmul_complex(*tier.k, m, k, p, a.data(), b.data(), c.data()),
                KALDRO_OK);
      EXPECT_SAME_BITS(c, want);
    }
  }
  for (uint32_t n : {1u, 2u, 3u, 8u, 33u}) {
    const auto a = random_vector(rng, 2 * n, -1e3, 1e3), b = random_vector(rng, 2 * n);
    std::vector<double> want(2 * n);
    for (uint32_t i = 0; i < n; ++i) product(&a[2 * i], &b[2 * i], &want[2 * i]);
    for (const Tier &tier : tiers()) {
      SCOPED_TRACE(tier.name);
      std::vector<double> out(2 * n), in_a = a, in_b = b;
      ASSERT_EQ(kaldro::linalg::multiply_complex(*tier.k, n, a.data(), b.data(), out.data()), KALDRO_OK);
      EXPECT_SAME_BITS(out, want);
      ASSERT_EQ(kaldro::linalg::multiply_complex(*tier.k, n, in_a.data(), b.data(), in_a.data()), KALDRO_OK);
      EXPECT_SAME_BITS(in_a, want);
      ASSERT_EQ(kaldro::linalg::multiply_complex(*tier.k, n, a.data(), in_b.data(), in_b.data()), KALDRO_OK);
      EXPECT_SAME_BITS(in_b, want);
    }
  }
}

TEST(LinalgComplex, ShiftedOutputIsWrittenInIndexOrder) {
  std::mt19937_64 rng(37);
  const uint32_t n = 9;
  const auto b = random_vector(rng, 2 * n);
  for (const Tier &tier : tiers()) {
    // out one element behind and one element ahead of a, inside one buffer.
    for (int shift : {-1, 1}) {
      auto buf = random_vector(rng, 2 * (n + 1));
      auto ref = buf;
      double *a = buf.data() + (shift < 0 ? 2 : 0), *out = buf.data() + (shift < 0 ? 0 : 2);
      double *ra = ref.data() + (shift < 0 ? 2 : 0), *rout = ref.data() + (shift < 0 ? 0 : 2);
      for (uint32_t i = 0; i < n; ++i) product(ra + 2 * i, &b[2 * i], rout + 2 * i);
      ASSERT_EQ(kaldro::linalg::multiply_complex(*tier.k, n, a, b.data(), out), KALDRO_OK);
      EXPECT_SAME_BITS(buf, ref);
    }
  }
}

TEST(LinalgTranscendental, StatedCases) {
  const double nan = __builtin_nan("");
  double out[2] = {5, 5};
  const double bad[2] = {1, 0};
  EXPECT_EQ(kaldro_elementwise_transcendental(2, bad, 3, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out[0], 5.0);
  const double neg[3] = {1, 2, -1};
  EXPECT_EQ(kaldro_elementwise_transcendental(3, neg, 3, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out[0], 5.0);
  const double with_nan[2] = {1, nan};
  ASSERT_EQ(kaldro_elementwise_transcendental(2, with_nan, 3, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_TRUE(out[1] != out[1]);
  const double angles[2] = {0, 1.5707963267948966};
  ASSERT_EQ(kaldro_elementwise_transcendental(2, angles, 2, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0.0);
  EXPECT_EQ(out[1], 1.0);
  const double one = 1.0;
  ASSERT_EQ(kaldro_elementwise_transcendental(1, &one, 0, out), KALDRO_OK);
  EXPECT_EQ(bits(out[0]), bits(2.718281828459045));

  EXPECT_EQ(kaldro_elementwise_transcendental(0, nullptr, 4, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_elementwise_transcendental(0, nullptr, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_elementwise_transcendental(1, nullptr, 0, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_elementwise_transcendental(1, nullptr, 9, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_elementwise_transcendental(0, nullptr, 3, out), KALDRO_OK);
}

TEST(LinalgTranscendental, EachElementIsTheScalarFunction) {
  std::mt19937_64 rng(41);
  auto x = random_vector(rng, 37, -40.0, 40.0);
  x[3] = 1e300;  // beyond the trigonometric range
  x[5] = __builtin_inf();
  x[6] = __builtin_nan("");
  x[7] = -0.0;
  auto pos = random_vector(rng, 37, 1e-300, 1e6);
  pos[4] = __builtin_inf();
  using Fn = kaldro_status (*)(double *, double);
  const Fn fns[4] = {kaldro_exp, kaldro_cos, kaldro_sin, kaldro_log};
  for (uint32_t kind = 0; kind < 4; ++kind) {
    const auto &in = kind == 3 ? pos : x;
    std::vector<double> want(in.size()), out(in.size(), 3.0);
    for (size_t i = 0; i < in.size(); ++i) fns[kind](&want[i], in[i]);
    ASSERT_EQ(kaldro_elementwise_transcendental(uint32_t(in.size()), in.data(), kind, out.data()),
              KALDRO_OK);
    EXPECT_SAME_BITS(out, want);
    // In place, and shifted by one element in one buffer.
    auto inplace = in;
    ASSERT_EQ(kaldro_elementwise_transcendental(uint32_t(in.size()), inplace.data(), kind,
                                                inplace.data()), KALDRO_OK);
    EXPECT_SAME_BITS(inplace, want);
    std::vector<double> buf(in.size() + 1);
    std::copy(in.begin(), in.end(), buf.begin() + 1);
    auto ref = buf;
    for (size_t i = 0; i < in.size(); ++i) fns[kind](&ref[i], ref[i + 1]);
    ASSERT_EQ(kaldro_elementwise_transcendental(uint32_t(in.size()), buf.data() + 1, kind,
                                                buf.data()), KALDRO_OK);
    EXPECT_SAME_BITS(buf, ref);
  }
}

TEST(LinalgBands, StatedSplitsAndTheRule) {
  uint32_t f, s, t;
  const uint32_t cases[4][4] = {{0, 0, 0, 0}, {7, 2, 2, 3}, {8, 2, 3, 3}, {9, 3, 3, 3}};
  for (const auto &c : cases) {
    ASSERT_EQ(kaldro_three_fold_bands(c[0], &f, &s, &t), KALDRO_OK);
    EXPECT_EQ(f, c[1]);
    EXPECT_EQ(s, c[2]);
    EXPECT_EQ(t, c[3]);
  }
  for (uint32_t n : {1u, 2u, 100u, 1001u, UINT32_MAX, UINT32_MAX - 1}) {
    ASSERT_EQ(kaldro_three_fold_bands(n, &f, &s, &t), KALDRO_OK);
    EXPECT_EQ(uint64_t(f) + s + t, n);
    EXPECT_LE(f, s);
    EXPECT_LE(s, t);
    EXPECT_LE(t - f, 1u);
  }
}

}  // namespace
