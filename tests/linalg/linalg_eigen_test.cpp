// Jacobi eigenvalues and the Hermitian eigendecomposition: the stated examples, sweep
// limits, status order and the node limit, bit-for-bit agreement of every kernel path
// with rotation models written from the rules, and residual checks on larger matrices.
#include "linalg_support.h"

#include <algorithm>
#include <complex>

namespace {

using namespace linalg_test;
using cd = std::complex<double>;

double fma_(double a, double b, double c) { return __builtin_fma(a, b, c); }

// The real method exactly as written: rows first, then columns, one pair at a time.
void model_jacobi(uint32_t n, std::vector<double> &a, uint32_t sweeps_allowed, double tol,
                  std::vector<double> &eig, uint32_t *sweeps_run = nullptr) {
  auto off = [&] {
    double acc = 0;
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t j = i + 1; j < n; ++j) acc = fma_(a[i * n + j] + a[i * n + j], a[i * n + j], acc);
    return acc;
  };
  const uint32_t limit = sweeps_allowed >= 1 && sweeps_allowed <= 100 ? sweeps_allowed : 100;
  const double tau = (tol * tol) * off();
  uint32_t count = 0;
  while (true) {
    const double e = off();
    if (e <= tau || e < 1e-300) break;
    for (uint32_t p = 0; p + 1 < n; ++p)
      for (uint32_t q = p + 1; q < n; ++q) {
        if (a[p * n + q] == 0.0) continue;
        const double th = (a[q * n + q] - a[p * n + p]) / (a[p * n + q] + a[p * n + q]);
        const double r = sqrt_ref(fma_(th, th, 1.0));
        const double T = th >= 0 ? th + r : th - r;
        const double t = 1.0 / T, c = 1.0 / sqrt_ref(fma_(t, t, 1.0)), s = t * c, ms = -(t * c);
        for (uint32_t k = 0; k < n; ++k) {
          const double x = a[p * n + k], y = a[q * n + k];
          a[p * n + k] = fma_(c, x, y * ms);
          a[q * n + k] = fma_(s, x, c * y);
        }
        for (uint32_t k = 0; k < n; ++k) {
          const double x = a[k * n + p], y = a[k * n + q];
          a[k * n + p] = fma_(c, x, y * ms);
          a[k * n + q] = fma_(s, x, c * y);
        }
      }
    if (++count >= limit) break;
  }
  eig.resize(n);
  for (uint32_t i = 0; i < n; ++i) eig[i] = a[i * n + i];
  if (sweeps_run) *sweeps_run = count;
}

std::vector<double> random_symmetric(std::mt19937_64 &rng, uint32_t n) {
  auto a = random_vector(rng, size_t(n) * n);
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < i; ++j) a[i * n + j] = a[j * n + i];
  return a;
}

TEST(LinalgJacobi, StatedExamples) {
  std::vector<double> a = {2, 1, 1, 2}, eig(2);
  ASSERT_EQ(kaldro_jacobi_eigvals(2, a.data(), 100, eig.data(), 1e-12), KALDRO_OK);
  EXPECT_EQ(bits(eig[0]), bits(1.0000000000000002));
  EXPECT_EQ(bits(eig[1]), bits(3.0000000000000004));
  std::vector<double> one = {2, 1, 1, 2}, eig1(2);
  uint32_t sweeps = 0;
  ASSERT_EQ(kaldro::linalg::jacobi_eigvals(kaldro::linalg::active_kernels(), 2, one.data(), 100,
                                           eig1.data(), 1e-12, &sweeps), KALDRO_OK);
  EXPECT_EQ(sweeps, 1u);
  EXPECT_SAME_BITS(eig1, eig);

  // A diagonal matrix is left untouched.
  std::vector<double> d = {3, 0, 0, 0, -1, 0, 0, 0, 2}, eigd(3);
  const auto d0 = d;
  ASSERT_EQ(kaldro_jacobi_eigvals(3, d.data(), 0, eigd.data(), 1e-12), KALDRO_OK);
  EXPECT_SAME_BITS(d, d0);
  EXPECT_EQ(eigd, (std::vector<double>{3, -1, 2}));

  std::vector<double> z(16, 0.0), eigz(4, 5.0);
  ASSERT_EQ(kaldro_jacobi_eigvals(4, z.data(), 0, eigz.data(), 0.0), KALDRO_OK);
  for (double v : eigz) EXPECT_EQ(bits(v), bits(0.0));

  // The path Laplacian: four sweeps, values in diagonal order.
  std::vector<double> path = {1, -1, 0, -1, 2, -1, 0, -1, 1}, eigp(3);
  auto m = path;
  std::vector<double> want;
  uint32_t run = 0;
  model_jacobi(3, m, 100, 1e-12, want, &run);
  EXPECT_EQ(run, 4u);
  ASSERT_EQ(kaldro_jacobi_eigvals(3, path.data(), 100, eigp.data(), 1e-12), KALDRO_OK);
  EXPECT_SAME_BITS(eigp, want);
  EXPECT_SAME_BITS(path, m);
  EXPECT_LT(std::abs(eigp[0]), 1e-15);
  EXPECT_NEAR(eigp[1], 3.0, 1e-15);
  EXPECT_NEAR(eigp[2], 1.0, 1e-15);
}

TEST(LinalgJacobi, StatusOrderAndSweepLimit) {
  double a[4] = {1, 2, 2, 1}, e[2] = {7, 7};
  EXPECT_EQ(kaldro_jacobi_eigvals(2, nullptr, 0, e, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_jacobi_eigvals(2, a, 0, nullptr, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_jacobi_eigvals(0, a, 0, e, 0), KALDRO_OK);
  EXPECT_EQ(e[0], 7.0);

  std::mt19937_64 rng(4);
  const auto a0 = random_symmetric(rng, 9);
  for (uint32_t sweeps : {1u, 2u, 3u}) {
    auto m = a0, got = a0;
    std::vector<double> want, eig(9);
    uint32_t run = 0;
    model_jacobi(9, m, sweeps, 0.0, want, &run);
    EXPECT_EQ(run, sweeps);
    ASSERT_EQ(kaldro_jacobi_eigvals(9, got.data(), sweeps, eig.data(), 0.0), KALDRO_OK);
    EXPECT_SAME_BITS(got, m);
  }
  // 0 and anything above 100 both mean 100; a NaN never converges and is returned as is.
  auto nan_m = a0;
  nan_m[1] = nan_m[9] = __builtin_nan("");
  for (uint32_t sweeps : {0u, 250u, 100u}) {
    auto m = nan_m, got = nan_m;
    std::vector<double> want, eig(9);
    uint32_t run = 0;
    model_jacobi(9, m, sweeps, 1e-12, want, &run);
    EXPECT_EQ(run, 100u);
    ASSERT_EQ(kaldro_jacobi_eigvals(9, got.data(), sweeps, eig.data(), 1e-12), KALDRO_OK);
    EXPECT_SAME_BITS(eig, want);
  }
}

TEST(LinalgJacobi, MatchesTheRotationModelOnEveryPath) {
  std::mt19937_64 rng(8);
  for (uint32_t n : {1u, 2u, 3u, 4u, 5u, 7u, 12u, 33u, 70u, 90u}) {
    auto a0 = random_symmetric(rng, n);
    if (n > 3) a0[1] = a0[n] = 0.0;  // a skipped pair
    auto m = a0;
    std::vector<double> want;
    model_jacobi(n, m, 100, 1e-14, want);
    for (const Tier &tier : tiers()) {
      SCOPED_TRACE(tier.name);
      auto got = a0;
      std::vector<double> eig(n);
      ASSERT_EQ(kaldro::linalg::jacobi_eigvals(*tier.k, n, got.data(), 100, eig.data(), 1e-14),
                KALDRO_OK);
      EXPECT_SAME_BITS(eig, want);
      EXPECT_SAME_BITS(got, m);
    }
  }
}

TEST(LinalgJacobi, InvariantsOfALargerMatrix) {
  // The rotations keep the trace and the Frobenius norm, and a converged matrix has
  // only a negligible off-diagonal part.
  std::mt19937_64 rng(9);
  const uint32_t n = 80;
  const auto a0 = random_symmetric(rng, n);
  auto a = a0;
  std::vector<double> eig(n);
  ASSERT_EQ(kaldro_jacobi_eigvals(n, a.data(), 100, eig.data(), 1e-12), KALDRO_OK);
  double trace = 0, frob = 0, sum = 0, sq = 0, off = 0;
  for (uint32_t i = 0; i < n; ++i) {
    trace += a0[i * n + i];
    sum += eig[i];
    sq += eig[i] * eig[i];
    for (uint32_t j = 0; j < n; ++j) {
      frob += a0[i * n + j] * a0[i * n + j];
      if (i != j) off += a[i * n + j] * a[i * n + j];
    }
  }
  EXPECT_NEAR(sum, trace, 1e-11);
  EXPECT_NEAR(sq, frob, 1e-10 * frob);
  EXPECT_LT(off, 1e-20 * frob);
}

// The complex method as written, on std::complex storage with the stated roundings.
cd phase(cd u, cd z) {
  return {fma_(u.real(), z.real(), -(u.imag() * z.imag())), fma_(u.real(), z.imag(), u.imag() * z.real())};
}
cd minus_s(double c, double s, cd old, cd ph) {  // c*old - s*ph
  return {fma_(c, old.real(), s * -ph.real()), fma_(c, old.imag(), s * -ph.imag())};
}
cd plus_s(double c, double s, cd old, cd ph) {  // c*old + s*ph
  return {fma_(c, old.real(), s * ph.real()), fma_(c, old.imag(), s * ph.imag())};
}

kaldro_status model_hermitian(uint32_t n, const std::vector<cd> &a, std::vector<double> &eig,
                              std::vector<cd> &v, std::vector<cd> &w) {
  w = a;
  v.assign(size_t(n) * n, cd(0, 0));
  for (uint32_t i = 0; i < n; ++i) v[i * n + i] = 1.0;
  auto off = [&] {
    double acc = 0;
    for (uint32_t i = 0; i < n; ++i)
      for (uint32_t j = i + 1; j < n; ++j) {
        const cd z = w[i * n + j];
        acc = fma_(fma_(z.real(), z.real(), z.imag() * z.imag()), 2.0, acc);
      }
    return acc;
  };
  const double tau = off() * 1e-24;
  for (int sweep = 0;; ++sweep) {
    const double g = off();
    if (sweep == 100) {
      if (g <= tau || g != g) break;
      return KALDRO_ERR_CAPACITY;
    }
    if (g <= tau || g < 1e-300) break;
    for (uint32_t p = 0; p + 1 < n; ++p)
      for (uint32_t q = p + 1; q < n; ++q) {
        const cd z = w[p * n + q];
        const double m = fma_(z.real(), z.real(), z.imag() * z.imag());
        if (m < 1e-300) continue;
        const double r = sqrt_ref(m);
        const double th = (w[q * n + q].real() - w[p * n + p].real()) / (r + r);
        const double T = th >= 0 ? th + sqrt_ref(fma_(th, th, 1.0)) : th - sqrt_ref(fma_(th, th, 1.0));
        const cd e(z.real() / r, z.imag() / r), eb(e.real(), -e.imag());
        const double t = 1.0 / T, c = 1.0 / sqrt_ref(fma_(t, t, 1.0)), s = t * c;
        for (uint32_t k = 0; k < n; ++k) {
          const cd P = w[p * n + k], Q = w[q * n + k];
          w[p * n + k] = minus_s(c, s, P, phase(e, Q));
          w[q * n + k] = plus_s(c, s, Q, phase(eb, P));
        }
        for (auto *mat : {&w, &v})
          for (uint32_t k = 0; k < n; ++k) {
            const cd P = (*mat)[k * n + p], Q = (*mat)[k * n + q];
            (*mat)[k * n + p] = minus_s(c, s, P, phase(eb, Q));
            (*mat)[k * n + q] = plus_s(c, s, Q, phase(e, P));
          }
      }
  }
  eig.resize(n);
  for (uint32_t i = 0; i < n; ++i) eig[i] = w[i * n + i].real();
  for (uint32_t l = 0; l + 1 < n; ++l) {
    uint32_t best = l;
    for (uint32_t i = l + 1; i < n; ++i)
      if (eig[i] < eig[best]) best = i;
    if (best != l) {
      std::swap(eig[l], eig[best]);
      for (uint32_t r = 0; r < n; ++r) std::swap(v[r * n + l], v[r * n + best]);
    }
  }
  return KALDRO_OK;
}

std::vector<double> flat(const std::vector<cd> &z) {
  std::vector<double> out;
  for (const cd &v : z) out.push_back(v.real()), out.push_back(v.imag());
  return out;
}

struct Decomposition {
  kaldro_status status;
  std::vector<double> eig, vec, ws;
  uint32_t sweeps;
};

Decomposition decompose(uint32_t n, const std::vector<double> &a, const Kernels *k = nullptr) {
  Decomposition d{0, std::vector<double>(n, -3.0), std::vector<double>(2 * size_t(n) * n, -3.0),
                  std::vector<double>(2 * size_t(n) * n + 1, -3.0), 0};
  if (k != nullptr) {
    d.status = kaldro::linalg::hermitian_eigendecompose(*k, n, a.data(), d.eig.data(),
                                                        d.vec.data(), d.ws.data(), d.ws.size(),
                                                        &d.sweeps);
  } else {
    d.status = kaldro_hermitian_eigendecompose_ws(n, a.data(), d.eig.data(), d.vec.data(),
                                                  d.ws.data(), d.ws.size());
    kaldro::linalg::hermitian_eigendecompose(kaldro::linalg::active_kernels(), n, a.data(),
                                             d.eig.data(), d.vec.data(), d.ws.data(),
                                             d.ws.size(), &d.sweeps);
  }
  d.ws.pop_back();
  return d;
}

TEST(LinalgHermitian, StatedExamples) {
  auto d = decompose(2, {2, 0, 1, 0, 1, 0, 3, 0});
  ASSERT_EQ(d.status, KALDRO_OK);
  EXPECT_EQ(d.sweeps, 1u);
  EXPECT_EQ(bits(d.eig[0]), bits(1.3819660112501049));
  EXPECT_EQ(bits(d.eig[1]), bits(3.618033988749894));
  // Column 0 is (v00, v10), column 1 is (v01, v11).
  EXPECT_EQ(bits(d.vec[0]), bits(0.8506508083520399));
  EXPECT_EQ(bits(d.vec[4]), bits(-0.5257311121191335));
  EXPECT_EQ(bits(d.vec[2]), bits(0.5257311121191335));
  EXPECT_EQ(bits(d.vec[6]), bits(0.8506508083520399));
  for (int i : {1, 3, 5, 7}) EXPECT_EQ(d.vec[i], 0.0);

  d = decompose(2, {2, 0, 1, -1, 1, 1, 3, 0});
  ASSERT_EQ(d.status, KALDRO_OK);
  EXPECT_EQ(d.sweeps, 1u);
  EXPECT_NEAR(d.eig[0], 1.0, 1e-15);
  EXPECT_NEAR(d.eig[1], 4.0, 1e-15);
  EXPECT_EQ(bits(d.vec[0]), bits(0.8164965809277261));
  EXPECT_EQ(bits(d.vec[4]), bits(-0.4082482904638631));
  EXPECT_EQ(bits(d.vec[5]), bits(-0.4082482904638631));

  d = decompose(2, {3, 0, 0, 0, 0, 0, 1, 0});
  ASSERT_EQ(d.status, KALDRO_OK);
  EXPECT_EQ(d.sweeps, 0u);
  EXPECT_EQ(d.eig, (std::vector<double>{1, 3}));
  EXPECT_EQ(d.vec, (std::vector<double>{0, 0, 1, 0, 1, 0, 0, 0}));

  d = decompose(1, {-2.5, 7});
  ASSERT_EQ(d.status, KALDRO_OK);
  EXPECT_EQ(d.eig[0], -2.5);
  EXPECT_EQ(d.vec, (std::vector<double>{1, 0}));
}

TEST(LinalgHermitian, StatusOrderAndNodeLimit) {
  double a[8] = {1, 0, 0, 0, 0, 0, 1, 0}, e[2], v[8], w[8];
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2, nullptr, e, v, w, 8), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2, a, nullptr, v, w, 8), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2, a, e, nullptr, w, 8), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(0, a, e, v, nullptr, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(0, a, e, v, w, 0), KALDRO_OK);
  // Above the limit is refused before the workspace is looked at (these buffers are far
  // too small for n = 2049 and are not touched).
  ASSERT_EQ(kaldro_config_hermitian_max_nodes(), 2048);
  v[0] = 5;
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2049, a, e, v, w, 0), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(UINT32_MAX, a, e, v, w, 0), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(v[0], 5.0);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2, a, e, v, w, 7), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(v[0], 5.0);

  // The configured limit is read on every call.
  const char text[] = "[hermitian]\nmax_nodes = 1\n";
  std::vector<uint64_t> arena(512);
  ASSERT_EQ(kaldro_config_load_toml(text, sizeof text - 1, arena.data(), arena.size() * 8),
            KALDRO_OK);
  ASSERT_EQ(kaldro_config_hermitian_max_nodes(), 1);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2, a, e, v, w, 8), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(v[0], 5.0);
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(1, a, e, v, w, 2), KALDRO_OK);
  kaldro_config_reset_defaults();
  EXPECT_EQ(kaldro_hermitian_eigendecompose_ws(2, a, e, v, w, 8), KALDRO_OK);
}

std::vector<double> random_hermitian(std::mt19937_64 &rng, uint32_t n) {
  auto a = random_vector(rng, 2 * size_t(n) * n);
  for (uint32_t i = 0; i < n; ++i) {
    a[2 * (i * n + i) + 1] = 0.25;  // ignored: only the real part of the diagonal counts
    for (uint32_t j = 0; j < i; ++j) {
      a[2 * (i * n + j)] = a[2 * (j * n + i)];
      a[2 * (i * n + j) + 1] = -a[2 * (j * n + i) + 1];
    }
  }
  return a;
}

TEST(LinalgHermitian, MatchesTheRotationModelOnEveryPath) {
  std::mt19937_64 rng(12);
  for (uint32_t n : {2u, 3u, 4u, 6u, 9u, 17u, 67u}) {
    auto a = random_hermitian(rng, n);
    if (n > 3) a[2] = a[3] = a[2 * n] = a[2 * n + 1] = 0.0;  // a skipped pair
    std::vector<cd> az(size_t(n) * n), v, w;
    for (size_t i = 0; i < az.size(); ++i) az[i] = cd(a[2 * i], a[2 * i + 1]);
    std::vector<double> eig;
    ASSERT_EQ(model_hermitian(n, az, eig, v, w), KALDRO_OK);
    for (const Tier &tier : tiers()) {
      SCOPED_TRACE(tier.name);
      const auto d = decompose(n, a, tier.k);
      ASSERT_EQ(d.status, KALDRO_OK);
      EXPECT_SAME_BITS(d.eig, eig);
      EXPECT_SAME_BITS(d.vec, flat(v));
      EXPECT_SAME_BITS(d.ws, flat(w));
    }
  }
}

TEST(LinalgHermitian, ResidualAndOrthonormality) {
  std::mt19937_64 rng(13);
  const uint32_t n = 48;
  auto a = random_hermitian(rng, n);
  for (uint32_t i = 0; i < n; ++i) a[2 * (i * n + i) + 1] = 0.0;
  const auto d = decompose(n, a);
  ASSERT_EQ(d.status, KALDRO_OK);
  auto A = [&](uint32_t i, uint32_t j) { return cd(a[2 * (i * n + j)], a[2 * (i * n + j) + 1]); };
  auto V = [&](uint32_t i, uint32_t j) { return cd(d.vec[2 * (i * n + j)], d.vec[2 * (i * n + j) + 1]); };
  double resid = 0, ortho = 0;
  for (uint32_t j = 0; j < n; ++j) {
    if (j > 0) {
      EXPECT_LE(d.eig[j - 1], d.eig[j]);
    }
    for (uint32_t i = 0; i < n; ++i) {
      cd av = 0;
      for (uint32_t l = 0; l < n; ++l) av += A(i, l) * V(l, j);
      resid = std::max(resid, std::abs(av - d.eig[j] * V(i, j)));
      cd g = 0;
      for (uint32_t l = 0; l < n; ++l) g += std::conj(V(l, i)) * V(l, j);
      ortho = std::max(ortho, std::abs(g - (i == j ? 1.0 : 0.0)));
    }
  }
  EXPECT_LT(resid, 1e-12);
  EXPECT_LT(ortho, 1e-12);
}

TEST(LinalgHermitian, NaNRunsTheSweepsAndEndsAsTheMethodSays) {
  std::mt19937_64 rng(14);
  auto a = random_hermitian(rng, 3);
  a[2] = __builtin_nan("");
  std::vector<cd> az(9), v, w;
  for (size_t i = 0; i < az.size(); ++i) az[i] = cd(a[2 * i], a[2 * i + 1]);
  std::vector<double> eig;
  const kaldro_status want = model_hermitian(3, az, eig, v, w);
  const auto d = decompose(3, a);
  EXPECT_EQ(d.status, want);
  EXPECT_EQ(d.status, KALDRO_OK);
}

TEST(LinalgHermitian, NoConvergenceInAHundredSweeps) {
  // The diagonal difference overflows, the rotation degenerates to the identity and the
  // off-diagonal part never shrinks: capacity, eigenvalues untouched, V as accumulated.
  const std::vector<double> a = {1e308, 0, 1, 0, 1, 0, -1e308, 0};
  std::vector<cd> az = {cd(1e308, 0), cd(1, 0), cd(1, 0), cd(-1e308, 0)}, v, w;
  std::vector<double> eig;
  ASSERT_EQ(model_hermitian(2, az, eig, v, w), KALDRO_ERR_CAPACITY);
  for (const Tier &tier : tiers()) {
    const auto d = decompose(2, a, tier.k);
    EXPECT_EQ(d.status, KALDRO_ERR_CAPACITY);
    EXPECT_EQ(d.sweeps, 100u);
    EXPECT_EQ(d.eig, std::vector<double>(2, -3.0));
    EXPECT_SAME_BITS(d.vec, flat(v));
  }
  // The real method returns its diagonal after all its sweeps.
  std::vector<double> r = {1e308, 1, 1, -1e308}, e(2);
  uint32_t sweeps = 0;
  ASSERT_EQ(kaldro::linalg::jacobi_eigvals(kaldro::linalg::active_kernels(), 2, r.data(), 0,
                                           e.data(), 1e-12, &sweeps), KALDRO_OK);
  EXPECT_EQ(sweeps, 100u);
  EXPECT_EQ(e, (std::vector<double>{1e308, -1e308}));
}

}  // namespace
