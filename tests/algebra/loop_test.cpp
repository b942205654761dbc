// The octonion loop algebra: the basis table against a recursive Cayley-Dickson model,
// the product against the same model, the algebra's identities (non-associativity,
// alternativity, Moufang, multiplicative norm) on integer inputs where every step is
// exact, the inverse over the whole range, status order, and every batched tier giving
// the same bits.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <cmath>
#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "algebra/octonion_kernels.h"
#include "frame/internal.h"

namespace {

// Model: the doubling (a, b)(c, d) = (ac - d*b, da + bc*) applied recursively down to
// the reals, for any power-of-two n up to 64.
void model_conj(const double *x, int n, double *out) {
  out[0] = x[0];
  for (int k = 1; k < n; ++k) out[k] = -x[k];
}

void model_mul(const double *x, const double *y, int n, double *out) {
  if (n == 1) {
    out[0] = x[0] * y[0];
    return;
  }
  const int h = n / 2;
  const double *a = x, *b = x + h, *c = y, *d = y + h;
  double dc[32], cc[32], t1[32], t2[32];
  model_mul(a, c, h, t1);
  model_conj(d, h, dc);
  model_mul(dc, b, h, t2);
  for (int k = 0; k < h; ++k) out[k] = t1[k] - t2[k];
  model_mul(d, a, h, t1);
  model_conj(c, h, cc);
  model_mul(b, cc, h, t2);
  for (int k = 0; k < h; ++k) out[h + k] = t1[k] + t2[k];
}

using Oct = std::vector<double>;

Oct mul(const Oct &a, const Oct &b) {
  Oct out(8);
  EXPECT_EQ(kaldro_loop_bind_f64(a.data(), b.data(), 8, out.data()), KALDRO_OK);
  return out;
}

Oct model(const Oct &a, const Oct &b) {
  Oct out(8);
  model_mul(a.data(), b.data(), 8, out.data());
  return out;
}

Oct basis(int k, double s = 1.0) {
  Oct e(8, 0.0);
  e[size_t(k)] = s;
  return e;
}

Oct random_int_oct(std::mt19937_64 &rng) {
  Oct v(8);
  for (auto &x : v) x = double(int(rng() % 21) - 10);
  return v;
}

Oct random_oct(std::mt19937_64 &rng) {
  std::uniform_real_distribution<double> u(-2.0, 2.0);
  Oct v(8);
  for (auto &x : v) x = u(rng);
  return v;
}

double norm2(const Oct &a) {
  double n = 0;
  for (double x : a) n += x * x;
  return n;
}

uint64_t bits_of(double x) {
  uint64_t b;
  std::memcpy(&b, &x, 8);
  return b;
}

TEST(Loop, BasisProductStatuses) {
  int32_t idx = 99, sign = 99;
  EXPECT_EQ(kaldro_cd_basis_product(3, -1, 9, nullptr, &sign), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cd_basis_product(8, 1, 2, &idx, nullptr), KALDRO_ERR_NULL);
  for (uint32_t n : {0u, 3u, 6u, 128u, 96u, 65u})
    EXPECT_EQ(kaldro_cd_basis_product(n, 0, 0, &idx, &sign), KALDRO_ERR_INVALID) << n;
  EXPECT_EQ(kaldro_cd_basis_product(8, 8, 0, &idx, &sign), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cd_basis_product(8, 0, 8, &idx, &sign), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cd_basis_product(8, -1, 0, &idx, &sign), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cd_basis_product(8, 0, -1, &idx, &sign), KALDRO_ERR_INVALID);
  EXPECT_EQ(idx, 99);
  EXPECT_EQ(sign, 99);
  ASSERT_EQ(kaldro_cd_basis_product(1, 0, 0, &idx, &sign), KALDRO_OK);
  EXPECT_EQ(idx, 0);
  EXPECT_EQ(sign, 1);
}

TEST(Loop, BasisProductCheckValues) {
  struct Case {
    uint32_t n;
    int i, j, k, s;
  };
  const Case cases[] = {
      {8, 1, 2, 3, 1},  {8, 2, 3, 1, 1},  {8, 3, 1, 2, 1},  {8, 1, 4, 5, 1},  {8, 2, 4, 6, 1},
      {8, 3, 4, 7, 1},  {8, 1, 6, 7, -1}, {8, 1, 7, 6, 1},  {8, 2, 5, 7, 1},  {8, 4, 1, 5, -1},
      {8, 1, 0, 1, 1},  {8, 1, 1, 0, -1}, {8, 1, 3, 2, -1}, {8, 1, 5, 4, -1}, {4, 1, 2, 3, 1},
      {4, 2, 1, 3, -1}, {2, 1, 1, 0, -1}, {8, 0, 5, 5, 1},  {8, 5, 0, 5, 1}};
  for (const auto &c : cases) {
    int32_t idx = 0, sign = 0;
    ASSERT_EQ(kaldro_cd_basis_product(c.n, c.i, c.j, &idx, &sign), KALDRO_OK);
    EXPECT_EQ(idx, c.k) << c.n << " e" << c.i << " e" << c.j;
    EXPECT_EQ(sign, c.s) << c.n << " e" << c.i << " e" << c.j;
  }
  for (int k = 1; k < 64; ++k) {
    int32_t idx = 0, sign = 0;
    ASSERT_EQ(kaldro_cd_basis_product(64, k, k, &idx, &sign), KALDRO_OK);
    EXPECT_EQ(idx, 0);
    EXPECT_EQ(sign, -1);
  }
}

TEST(Loop, BasisProductMatchesDoublingModel) {
  for (uint32_t n = 1; n <= 64; n *= 2) {
    for (uint32_t i = 0; i < n; ++i) {
      for (uint32_t j = 0; j < n; ++j) {
        double x[64] = {}, y[64] = {}, z[64];
        x[i] = 1;
        y[j] = 1;
        model_mul(x, y, int(n), z);
        int32_t idx = 0, sign = 0;
        ASSERT_EQ(kaldro_cd_basis_product(n, int32_t(i), int32_t(j), &idx, &sign), KALDRO_OK);
        ASSERT_EQ(uint32_t(idx), i ^ j);
        ASSERT_EQ(z[idx], double(sign)) << n << " e" << i << " e" << j;
      }
    }
  }
}

TEST(Loop, SingleElementStatuses) {
  const double a[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  double out[8], m[64], d = 5;
  for (int k = 0; k < 8; ++k) out[k] = 42;
  for (uint64_t dim : {uint64_t(7), uint64_t(16), uint64_t(0)}) {
    EXPECT_EQ(kaldro_loop_bind_f64(a, a, dim, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_loop_conj_f64(a, dim, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_loop_inv_f64(a, dim, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_cross7_f64(a, a, dim, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_g2_three_form_f64(a, a, a, dim, &d), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_loop_associator_f64(a, a, a, dim, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_loop_left_op_f64(a, dim, m), KALDRO_ERR_INVALID);
    EXPECT_EQ(kaldro_loop_right_op_f64(a, dim, m), KALDRO_ERR_INVALID);
  }
  EXPECT_EQ(kaldro_loop_bind_f64(nullptr, a, 7, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_bind_f64(a, nullptr, 8, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_bind_f64(a, a, 8, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_conj_f64(nullptr, 7, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_inv_f64(a, 7, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cross7_f64(a, nullptr, 7, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_g2_three_form_f64(a, a, nullptr, 7, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_g2_three_form_f64(a, a, a, 7, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_associator_f64(nullptr, a, a, 7, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_left_op_f64(nullptr, 7, m), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_right_op_f64(a, 7, nullptr), KALDRO_ERR_NULL);
  for (double x : out) EXPECT_EQ(x, 42);
  EXPECT_EQ(d, 5);
}

TEST(Loop, ProductMatchesModel) {
  std::mt19937_64 rng(21);
  for (int round = 0; round < 300; ++round) {
    const Oct a = random_int_oct(rng), b = random_int_oct(rng);
    EXPECT_EQ(mul(a, b), model(a, b));  // integer inputs: every step exact
    const Oct x = random_oct(rng), y = random_oct(rng);
    const Oct got = mul(x, y), want = model(x, y);
    for (int k = 0; k < 8; ++k) EXPECT_NEAR(got[size_t(k)], want[size_t(k)], 1e-14);
  }
  for (int i = 0; i < 8; ++i)
    for (int j = 0; j < 8; ++j) EXPECT_EQ(mul(basis(i), basis(j)), model(basis(i), basis(j)));
}

TEST(Loop, ProductInPlace) {
  std::mt19937_64 rng(22);
  const Oct a = random_oct(rng), b = random_oct(rng), ab = mul(a, b);
  Oct x = a;
  ASSERT_EQ(kaldro_loop_bind_f64(x.data(), b.data(), 8, x.data()), KALDRO_OK);
  EXPECT_EQ(x, ab);
  Oct y = b;
  ASSERT_EQ(kaldro_loop_bind_f64(a.data(), y.data(), 8, y.data()), KALDRO_OK);
  EXPECT_EQ(y, ab);
  Oct z = a;
  ASSERT_EQ(kaldro_loop_bind_f64(z.data(), z.data(), 8, z.data()), KALDRO_OK);
  EXPECT_EQ(z, mul(a, a));
}

TEST(Loop, AlgebraIdentities) {
  std::mt19937_64 rng(23);
  Oct out(8);
  // Not associative: [e1, e2, e4] = 2 e7; alternative: [e1, e1, e2] = 0.
  ASSERT_EQ(kaldro_loop_associator_f64(basis(1).data(), basis(2).data(), basis(4).data(), 8,
                                       out.data()),
            KALDRO_OK);
  EXPECT_EQ(out, basis(7, 2.0));
  ASSERT_EQ(kaldro_loop_associator_f64(basis(1).data(), basis(1).data(), basis(2).data(), 8,
                                       out.data()),
            KALDRO_OK);
  for (double v : out) EXPECT_EQ(v, 0.0);
  bool some_nonzero = false;
  for (int round = 0; round < 200; ++round) {
    const Oct x = random_int_oct(rng), y = random_int_oct(rng), z = random_int_oct(rng);
    // Alternativity and flexibility hold exactly on integers.
    for (const auto &triple : {std::vector<const Oct *>{&x, &x, &y},
                               std::vector<const Oct *>{&x, &y, &y},
                               std::vector<const Oct *>{&x, &y, &x}}) {
      ASSERT_EQ(kaldro_loop_associator_f64(triple[0]->data(), triple[1]->data(),
                                           triple[2]->data(), 8, out.data()),
                KALDRO_OK);
      for (double v : out) EXPECT_EQ(v, 0.0);
    }
    ASSERT_EQ(kaldro_loop_associator_f64(x.data(), y.data(), z.data(), 8, out.data()),
              KALDRO_OK);
    for (double v : out) some_nonzero |= v != 0.0;
    // Moufang: (x y)(z x) = x ((y z) x); the norm is multiplicative.
    EXPECT_EQ(mul(mul(x, y), mul(z, x)), mul(x, mul(mul(y, z), x)));
    EXPECT_EQ(norm2(mul(x, y)), norm2(x) * norm2(y));
  }
  EXPECT_TRUE(some_nonzero);
}

TEST(Loop, ConjugateFlipsSignBits) {
  const double a[8] = {1.5, 0.0, -0.0, 2, -3, INFINITY, 1e-310, -7};
  double out[8];
  ASSERT_EQ(kaldro_loop_conj_f64(a, 8, out), KALDRO_OK);
  EXPECT_EQ(bits_of(out[0]), bits_of(1.5));
  for (int k = 1; k < 8; ++k) EXPECT_EQ(bits_of(out[k]), bits_of(a[k]) ^ (1ull << 63)) << k;
  double b[8];
  std::memcpy(b, a, sizeof a);
  ASSERT_EQ(kaldro_loop_conj_f64(b, 8, b), KALDRO_OK);
  EXPECT_EQ(std::memcmp(b, out, sizeof b), 0);
}

TEST(Loop, Inverse) {
  Oct out(8, 42.0);
  const Oct two = basis(0, 2.0);
  ASSERT_EQ(kaldro_loop_inv_f64(two.data(), 8, out.data()), KALDRO_OK);
  EXPECT_EQ(out[0], 0.5);
  for (int k = 1; k < 8; ++k) EXPECT_EQ(out[size_t(k)], 0.0);
  // The zero octonion (either sign of zero) is refused and nothing is written.
  Oct zero(8, 0.0), sentinel(8, 42.0);
  zero[3] = -0.0;
  EXPECT_EQ(kaldro_loop_inv_f64(zero.data(), 8, sentinel.data()), KALDRO_ERR_INVALID);
  EXPECT_EQ(sentinel, Oct(8, 42.0));
  // a a^-1 = 1, also in place.
  std::mt19937_64 rng(24);
  for (int round = 0; round < 50; ++round) {
    const Oct a = random_oct(rng);
    Oct inv = a;
    ASSERT_EQ(kaldro_loop_inv_f64(inv.data(), 8, inv.data()), KALDRO_OK);
    const Oct one = mul(a, inv);
    EXPECT_NEAR(one[0], 1.0, 1e-14);
    for (int k = 1; k < 8; ++k) EXPECT_NEAR(one[size_t(k)], 0.0, 1e-14);
    const double n = norm2(a);
    EXPECT_NEAR(inv[0], a[0] / n, 1e-15 * std::fabs(a[0] / n) + 1e-300);
  }
  // A NaN norm is not refused.
  Oct nan = basis(0, NAN);
  ASSERT_EQ(kaldro_loop_inv_f64(nan.data(), 8, out.data()), KALDRO_OK);
  EXPECT_TRUE(std::isnan(out[0]));
}

// Norms outside the double range: the inverse is still right.
TEST(Loop, InverseAtTheEdgesOfTheRange) {
  for (double scale : {1e200, 1e300, 1e306, 4e307, 1e-170, 1e-200, 1e-300, 4e-320}) {
    Oct a = {3 * scale, 0, -4 * scale, 0, 0, 0, 0, 0};
    if (scale < 1e-300) a = {scale, 0, 0, 0, 0, 0, 0, 0};
    Oct out(8, 42.0);
    ASSERT_EQ(kaldro_loop_inv_f64(a.data(), 8, out.data()), KALDRO_OK) << scale;
    if (scale < 1e-300) {
      EXPECT_EQ(out[0], INFINITY);  // 1 / 4e-320 lies beyond the double range
      continue;
    }
    // (3, 0, -4) s has inverse (3, 0, 4) / (25 s); below 2^-1022 it is subnormal.
    const double tolerance = scale > 1e307 ? 1e-12 : 1e-15;
    EXPECT_NEAR(out[0] / (3.0 / 25.0 / scale), 1.0, tolerance) << scale;
    EXPECT_NEAR(out[2] / (4.0 / 25.0 / scale), 1.0, tolerance) << scale;
    EXPECT_EQ(out[1], 0.0);
  }
  // An infinite component gives no finite inverse: zeros where finite, NaN for it.
  Oct inf = {INFINITY, 1, 0, 0, 0, 0, 0, 0}, out(8);
  ASSERT_EQ(kaldro_loop_inv_f64(inf.data(), 8, out.data()), KALDRO_OK);
  EXPECT_TRUE(std::isnan(out[0]));
  EXPECT_EQ(out[1], -0.0);
}

TEST(Loop, CrossProductAndThreeForm) {
  std::mt19937_64 rng(25);
  for (int round = 0; round < 100; ++round) {
    Oct a = random_int_oct(rng), b = random_int_oct(rng), c = random_int_oct(rng);
    a[0] = b[0] = c[0] = 0;
    Oct x(8);
    ASSERT_EQ(kaldro_cross7_f64(a.data(), b.data(), 8, x.data()), KALDRO_OK);
    EXPECT_EQ(bits_of(x[0]), 0u);
    // Orthogonal to both factors, and |a x b|^2 = |a|^2 |b|^2 - (a.b)^2.
    double da = 0, db = 0, ab = 0;
    for (int k = 1; k < 8; ++k) {
      da += x[size_t(k)] * a[size_t(k)];
      db += x[size_t(k)] * b[size_t(k)];
      ab += a[size_t(k)] * b[size_t(k)];
    }
    EXPECT_EQ(da, 0.0);
    EXPECT_EQ(db, 0.0);
    EXPECT_EQ(norm2(x), norm2(a) * norm2(b) - ab * ab);
    // phi(a, b, c) = <a, b x c> is alternating.
    double abc = 0, bac = 0, bca = 0;
    ASSERT_EQ(kaldro_g2_three_form_f64(a.data(), b.data(), c.data(), 8, &abc), KALDRO_OK);
    ASSERT_EQ(kaldro_g2_three_form_f64(b.data(), a.data(), c.data(), 8, &bac), KALDRO_OK);
    ASSERT_EQ(kaldro_g2_three_form_f64(b.data(), c.data(), a.data(), 8, &bca), KALDRO_OK);
    EXPECT_EQ(abc, -bac);
    EXPECT_EQ(abc, bca);
    const Oct bc = model(b, c);
    double want = 0;
    for (int k = 1; k < 8; ++k) want += a[size_t(k)] * bc[size_t(k)];
    EXPECT_EQ(abc, want);
  }
  // Real parts are not cleared from the inputs; only the result's component 0 is +0.0.
  const Oct p = {2, 1, 0, 0, 0, 0, 0, 0}, q = {-3, 0, 1, 0, 0, 0, 0, 0};
  Oct x(8);
  ASSERT_EQ(kaldro_cross7_f64(p.data(), q.data(), 8, x.data()), KALDRO_OK);
  Oct full = mul(p, q);
  full[0] = 0.0;
  EXPECT_EQ(x, full);
  EXPECT_EQ(x[2], 2.0);
  double phi = 0;
  ASSERT_EQ(kaldro_g2_three_form_f64(basis(1).data(), basis(2).data(), basis(3).data(), 8,
                                     &phi),
            KALDRO_OK);
  EXPECT_EQ(phi, 1.0);
  Oct a_inf = basis(1);
  a_inf[0] = INFINITY;
  ASSERT_EQ(kaldro_g2_three_form_f64(a_inf.data(), basis(2).data(), basis(3).data(), 8, &phi),
            KALDRO_OK);
  EXPECT_TRUE(std::isnan(phi));
}

TEST(Loop, OperatorMatrices) {
  std::mt19937_64 rng(26);
  for (int round = 0; round < 50; ++round) {
    const Oct a = random_int_oct(rng), x = random_int_oct(rng);
    double left[64], right[64];
    ASSERT_EQ(kaldro_loop_left_op_f64(a.data(), 8, left), KALDRO_OK);
    ASSERT_EQ(kaldro_loop_right_op_f64(a.data(), 8, right), KALDRO_OK);
    Oct lx(8, 0.0), rx(8, 0.0);
    for (int r = 0; r < 8; ++r)
      for (int c = 0; c < 8; ++c) {
        lx[size_t(r)] += left[8 * r + c] * x[size_t(c)];
        rx[size_t(r)] += right[8 * r + c] * x[size_t(c)];
      }
    EXPECT_EQ(lx, model(a, x));
    EXPECT_EQ(rx, model(x, a));
  }
  // Column c of the left operator of e1 is e1 e_c.
  double m[64];
  ASSERT_EQ(kaldro_loop_left_op_f64(basis(1).data(), 8, m), KALDRO_OK);
  EXPECT_EQ(m[8 * 3 + 2], 1.0);   // e1 e2 = e3
  EXPECT_EQ(m[8 * 7 + 6], -1.0);  // e1 e6 = -e7
}

// Octonions whose products meet zeros of both signs, subnormals, overflow and NaN.
std::vector<double> awkward_batch(std::mt19937_64 &rng, size_t count) {
  std::vector<double> v(8 * count);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  const double specials[] = {0.0, -0.0, 1e-310, -4e-320, 1e300, -1e300, INFINITY, NAN, 1.0, -1.0};
  for (size_t k = 0; k < v.size(); ++k) {
    const uint64_t r = rng() % 16;
    v[k] = r < 10 && (k / 8) % 3 == 2 ? specials[r] : u(rng) * std::ldexp(1.0, int(rng() % 40) - 20);
  }
  return v;
}

void expect_same_bits(const std::vector<double> &x, const std::vector<double> &y) {
  ASSERT_EQ(x.size(), y.size());
  for (size_t k = 0; k < x.size(); ++k) {
    if (std::isnan(x[k]) || std::isnan(y[k])) {
      EXPECT_TRUE(std::isnan(x[k]) && std::isnan(y[k])) << k;
    } else {
      EXPECT_EQ(bits_of(x[k]), bits_of(y[k])) << k << ": " << x[k] << " " << y[k];
    }
  }
}

TEST(LoopBatch, EveryPathGivesTheSameBits) {
  std::mt19937_64 rng(27);
  const size_t count = 3000;
  const auto a = awkward_batch(rng, count), b = awkward_batch(rng, count);
  std::vector<double> single(8 * count), portable(8 * count);
  for (size_t k = 0; k < count; ++k)
    ASSERT_EQ(kaldro_loop_bind_f64(&a[8 * k], &b[8 * k], 8, &single[8 * k]), KALDRO_OK);
  kaldro::loop::bind_batch_portable(a.data(), b.data(), count, portable.data());
  expect_same_bits(portable, single);
#if defined(__x86_64__)
  if (kaldro::cpu_has(kaldro::Cpu::avx2) && kaldro::cpu_has(kaldro::Cpu::fma)) {
    std::vector<double> t1(8 * count), t2(8 * count);
    kaldro::loop::bind_batch_128(a.data(), b.data(), count, t1.data());
    kaldro::loop::bind_batch_256(a.data(), b.data(), count, t2.data());
    expect_same_bits(t1, single);
    expect_same_bits(t2, single);
    // In place, over either operand.
    std::vector<double> x = a, y = b;
    kaldro::loop::bind_batch_256(x.data(), b.data(), count, x.data());
    kaldro::loop::bind_batch_128(a.data(), y.data(), count, y.data());
    expect_same_bits(x, single);
    expect_same_bits(y, single);
  }
#endif
}

class ForcedTier {
 public:
  explicit ForcedTier(const char *value) {
    if (value) {
      setenv("KALDRO_LOOP_HD_FORCE_TIER", value, 1);
    } else {
      unsetenv("KALDRO_LOOP_HD_FORCE_TIER");
    }
  }
  ~ForcedTier() { unsetenv("KALDRO_LOOP_HD_FORCE_TIER"); }
};

TEST(LoopBatch, TierFollowsTheEnvironment) {
  const bool vector_paths = kaldro::cpu_has(kaldro::Cpu::avx2) && kaldro::cpu_has(kaldro::Cpu::fma);
  const int default_tier = kaldro_simd_has_avx() ? 2 : kaldro_simd_has_sse2() ? 1 : 0;
  struct Case {
    const char *value;
    int tier;
  };
  const Case cases[] = {{nullptr, default_tier}, {"0", 0}, {"1", 1},  {"2", 2},
                        {"7", 2},               {"-3", 0}, {"abc", 0}, {"", 0}};
  for (const auto &c : cases) {
    ForcedTier forced(c.value);
    EXPECT_EQ(kaldro::loop::bind_hd_tier(), vector_paths ? c.tier : 0)
        << (c.value ? c.value : "(unset)");
  }

  std::mt19937_64 rng(28);
  const size_t count = 1000;
  const auto a = awkward_batch(rng, count), b = awkward_batch(rng, count);
  std::vector<double> want(8 * count);
  kaldro::loop::bind_batch_portable(a.data(), b.data(), count, want.data());
  for (const auto &c : cases) {
    ForcedTier forced(c.value);
    std::vector<double> got(8 * count, 42.0);
    ASSERT_EQ(kaldro_loop_bind_hd_f64(a.data(), b.data(), count, got.data()), KALDRO_OK);
    expect_same_bits(got, want);
    std::vector<double> in_place = a;
    ASSERT_EQ(kaldro_loop_bind_hd_f64(in_place.data(), b.data(), count, in_place.data()),
              KALDRO_OK);
    expect_same_bits(in_place, want);
  }
}

TEST(LoopBatch, Statuses) {
  double a[24] = {}, out[24];
  for (double &x : out) x = 42;
  EXPECT_EQ(kaldro_loop_bind_hd_f64(nullptr, nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_loop_bind_hd_f64(nullptr, a, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_bind_hd_f64(a, nullptr, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_bind_hd_f64(a, a, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_conj_hd_f64(nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_loop_conj_hd_f64(nullptr, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_conj_hd_f64(a, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_inv_hd_f64(nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_loop_inv_hd_f64(a, 0, out), KALDRO_OK);  // zero octonion, count 0
  EXPECT_EQ(kaldro_loop_inv_hd_f64(nullptr, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_unbind_hd_f64(nullptr, nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_loop_unbind_hd_f64(a, nullptr, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_unbind_hd_f64(nullptr, a, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_loop_runbind_hd_f64(nullptr, nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_loop_runbind_hd_f64(a, a, 1, nullptr), KALDRO_ERR_NULL);
  for (double x : out) EXPECT_EQ(x, 42);

  // (unit, zero, unit): the first inverse is written, the rest left alone.
  double units[24] = {};
  units[0] = 1.0;
  units[16 + 3] = 1.0;
  EXPECT_EQ(kaldro_loop_inv_hd_f64(units, 3, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out[0], 1.0);
  for (int k = 1; k < 8; ++k) EXPECT_EQ(out[k], 0.0);
  for (int k = 8; k < 24; ++k) EXPECT_EQ(out[k], 42);
}

TEST(LoopBatch, ConjugateAndInverseMatchSingle) {
  std::mt19937_64 rng(29);
  const size_t count = 64;
  std::vector<double> a(8 * count), c(8 * count), inv(8 * count);
  for (auto &x : a) x = std::uniform_real_distribution<double>(-3, 3)(rng);
  ASSERT_EQ(kaldro_loop_conj_hd_f64(a.data(), count, c.data()), KALDRO_OK);
  ASSERT_EQ(kaldro_loop_inv_hd_f64(a.data(), count, inv.data()), KALDRO_OK);
  for (size_t k = 0; k < count; ++k) {
    double one_c[8], one_i[8];
    ASSERT_EQ(kaldro_loop_conj_f64(&a[8 * k], 8, one_c), KALDRO_OK);
    ASSERT_EQ(kaldro_loop_inv_f64(&a[8 * k], 8, one_i), KALDRO_OK);
    EXPECT_EQ(std::memcmp(one_c, &c[8 * k], 64), 0);
    EXPECT_EQ(std::memcmp(one_i, &inv[8 * k], 64), 0);
  }
}

TEST(LoopBatch, UnbindWithUnitKeysRecoversTheOperand) {
  std::mt19937_64 rng(30);
  const size_t count = 200;
  std::vector<double> key(8 * count), x(8 * count), left(8 * count), right(8 * count);
  for (size_t k = 0; k < count; ++k) {
    Oct u = random_oct(rng);
    const double n = std::sqrt(norm2(u));
    for (int i = 0; i < 8; ++i) key[8 * k + size_t(i)] = u[size_t(i)] / n;
    const Oct v = random_oct(rng);
    std::copy(v.begin(), v.end(), x.begin() + long(8 * k));
  }
  ASSERT_EQ(kaldro_loop_bind_hd_f64(key.data(), x.data(), count, left.data()), KALDRO_OK);
  ASSERT_EQ(kaldro_loop_bind_hd_f64(x.data(), key.data(), count, right.data()), KALDRO_OK);
  std::vector<double> back(8 * count), rback(8 * count);
  ASSERT_EQ(kaldro_loop_unbind_hd_f64(key.data(), left.data(), count, back.data()), KALDRO_OK);
  ASSERT_EQ(kaldro_loop_runbind_hd_f64(key.data(), right.data(), count, rback.data()),
            KALDRO_OK);
  for (size_t k = 0; k < 8 * count; ++k) {
    EXPECT_NEAR(back[k], x[k], 1e-14);
    EXPECT_NEAR(rback[k], x[k], 1e-14);
  }
  // Unbinding in place over the bound array; a key of norm 4 scales by 4.
  ASSERT_EQ(kaldro_loop_unbind_hd_f64(key.data(), left.data(), count, left.data()), KALDRO_OK);
  EXPECT_EQ(left, back);
  const Oct two = basis(3, 2.0), y = random_int_oct(rng);
  const Oct bound = mul(two, y);
  Oct got(8);
  ASSERT_EQ(kaldro_loop_unbind_hd_f64(two.data(), bound.data(), 1, got.data()), KALDRO_OK);
  for (int k = 0; k < 8; ++k) EXPECT_EQ(got[size_t(k)], 4 * y[size_t(k)]);
}

}  // namespace
