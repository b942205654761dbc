// Kuramoto steps: bit for bit against steps computed here from kaldro_sin and explicit
// fused multiply-adds (std::fma), over typical, repeated, huge and non-finite phases;
// the listed edge cases; and the oddness of the library's sine that the step relies on
// to share one sine between the pair (i, j) and (j, i).
#include <gtest/gtest.h>

#include <kaldro.h>

#include "elementary/elementary.h"
#include "frame/internal.h"

#include <cmath>
#include <cstring>
#include <random>
#include <vector>

namespace {

double lib_sin(double x) {
  double r = 0;
  kaldro_sin(&r, x);
  return r;
}

std::vector<double> reference_classic(const std::vector<double> &theta,
                                      const std::vector<double> &omega, double K, double dt) {
  const uint64_t n = theta.size();
  const double kn = K / static_cast<double>(n);
  std::vector<double> out(n);
  for (uint64_t i = 0; i < n; ++i) {
    double s = 0.0;
    for (uint64_t j = 0; j < n; ++j) s = s + lib_sin(theta[j] - theta[i]);
    out[i] = std::fma(dt, std::fma(kn, s, omega[i]), theta[i]);
  }
  return out;
}

std::vector<double> reference_general(const std::vector<double> &theta,
                                      const std::vector<double> &omega, const double *W,
                                      const double *drive, const double *gain, double K,
                                      double alpha, double dt) {
  const uint64_t n = theta.size();
  std::vector<double> out(n);
  for (uint64_t i = 0; i < n; ++i) {
    double g = 0.0;
    for (uint64_t j = 0; j < n; ++j) {
      const double h = W ? W[i * n + j] * K : K / static_cast<double>(n);
      g = std::fma(h, lib_sin(theta[j] - theta[i] - alpha), g);
    }
    double f = omega[i] + g;
    if (drive) f = std::fma(gain ? gain[i] : 1.0, lib_sin(drive[i] - theta[i]), f);
    out[i] = std::fma(dt, f, theta[i]);
  }
  return out;
}

::testing::AssertionResult same_bits(const std::vector<double> &want,
                                     const std::vector<double> &got) {
  for (size_t i = 0; i < want.size(); ++i) {
    if (std::memcmp(&want[i], &got[i], sizeof(double)) != 0) {
      return ::testing::AssertionFailure()
             << "index " << i << ": want " << want[i] << ", got " << got[i];
    }
  }
  return ::testing::AssertionSuccess();
}

// Phase sets of several kinds: spread, clustered, repeated, signed zeros, large.
std::vector<double> phases(std::mt19937_64 &rng, uint64_t n, int kind) {
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> t(n);
  for (uint64_t i = 0; i < n; ++i) {
    switch (kind) {
      case 0: t[i] = 3.2 * u(rng); break;
      case 1: t[i] = 100.0 * u(rng); break;
      case 2: t[i] = 1e-9 * u(rng); break;                       // nearly synchronised
      case 3: t[i] = (i % 3 == 0) ? 0.0 : (i % 3 == 1 ? -0.0 : 0.5); break;
      case 4: t[i] = std::ldexp(u(rng), static_cast<int>(rng() % 60)); break;  // up to 2^59
      default: t[i] = 1e6 * u(rng); break;
    }
  }
  return t;
}

TEST(Kuramoto, ClassicMatchesReferenceBitForBit) {
  std::mt19937_64 rng(21);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (uint64_t n : {1u, 2u, 3u, 17u, 255u, 256u, 257u, 600u}) {
    for (int kind = 0; kind < 6; ++kind) {
      const std::vector<double> theta = phases(rng, n, kind);
      std::vector<double> omega(n), out(n, 7.0);
      for (auto &w : omega) w = u(rng);
      const double K = 2.5 * u(rng), dt = 0.01 + 0.1 * std::fabs(u(rng));
      ASSERT_EQ(kaldro_cascade_kuramoto_step_f64(theta.data(), omega.data(), n, out.data(), K,
                                                 dt),
                KALDRO_OK);
      ASSERT_TRUE(same_bits(reference_classic(theta, omega, K, dt), out))
          << "n " << n << " kind " << kind;
    }
  }
}

TEST(Kuramoto, NonFiniteAndHugePhasesMatchReference) {
  const double inf = INFINITY, nan = NAN, big = 1.7e308;
  const std::vector<std::vector<double>> sets = {
      {0.5, nan, -1.0, 2.0},  {inf, 0.0, 1.0},         {1.0, -inf, 3.0, 0.25},
      {big, -big, 0.0},       {0x1p1022, -0x1p1022, 1}, {0x1p1023, 1.0, -2.0},
      {1e300, 2e300, -3e300}, {0x1p55, -0x1p55, 3.0},   {-0.0, 0.0, -0.0, 1e-300}};
  for (const auto &theta : sets) {
    const uint64_t n = theta.size();
    std::vector<double> omega(n, 0.25), out(n);
    ASSERT_EQ(kaldro_cascade_kuramoto_step_f64(theta.data(), omega.data(), n, out.data(), 1.5,
                                               0.1),
              KALDRO_OK);
    ASSERT_TRUE(same_bits(reference_classic(theta, omega, 1.5, 0.1), out)) << theta[0];
    ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(theta.data(), omega.data(), n, nullptr,
                                                       nullptr, nullptr, out.data(), 1.5, 0.0,
                                                       0.1),
              KALDRO_OK);
    ASSERT_TRUE(same_bits(
        reference_general(theta, omega, nullptr, nullptr, nullptr, 1.5, 0.0, 0.1), out));
  }
}

TEST(Kuramoto, GeneralMatchesReferenceBitForBit) {
  std::mt19937_64 rng(22);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  for (uint64_t n : {1u, 2u, 5u, 64u, 300u}) {
    for (int variant = 0; variant < 16; ++variant) {
      const std::vector<double> theta = phases(rng, n, variant % 6);
      std::vector<double> omega(n), W(n * n), drive(n), gain(n), out(n);
      for (auto &w : omega) w = u(rng);
      for (auto &w : W) w = (rng() % 7 == 0) ? 0.0 : u(rng);
      for (auto &d : drive) d = 4 * u(rng);
      for (auto &g : gain) g = u(rng);
      const bool useW = variant & 1, useDrive = variant & 2, useGain = variant & 4;
      const double alphas[4] = {0.0, -0.0, 0.3, -1.25};
      const double alpha = alphas[(variant + variant / 4) % 4];
      const double K = 3 * u(rng), dt = 0.05;
      const double *Wp = useW ? W.data() : nullptr, *dp = useDrive ? drive.data() : nullptr,
                   *gp = useGain ? gain.data() : nullptr;
      ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(theta.data(), omega.data(), n, Wp, dp,
                                                         gp, out.data(), K, alpha, dt),
                KALDRO_OK);
      ASSERT_TRUE(same_bits(reference_general(theta, omega, Wp, dp, gp, K, alpha, dt), out))
          << "n " << n << " variant " << variant << " alpha " << alpha;
    }
  }
}

TEST(Kuramoto, WeightsWithInfinitiesAndNaNMatchReference) {
  const std::vector<double> theta = {0.0, 0.0, 1.0, -0.0};  // zero sines on repeated phases
  const uint64_t n = theta.size();
  std::vector<double> W(n * n, 1.0), omega(n, 0.0), out(n);
  W[1 * n + 0] = INFINITY;
  W[0 * n + 3] = -INFINITY;
  W[2 * n + 3] = NAN;
  W[3 * n + 1] = 1e308;
  for (double K : {1.0, 1e10}) {
    ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(theta.data(), omega.data(), n, W.data(),
                                                       nullptr, nullptr, out.data(), K, 0.0,
                                                       0.5),
              KALDRO_OK);
    ASSERT_TRUE(same_bits(
        reference_general(theta, omega, W.data(), nullptr, nullptr, K, 0.0, 0.5), out));
  }
}

TEST(Kuramoto, StatusOrderAndEmptyInput) {
  double theta[2] = {0, 1}, omega[2] = {0, 0}, out[2] = {5, 5};
  EXPECT_EQ(kaldro_cascade_kuramoto_step_f64(nullptr, nullptr, 0, out, 1, 1), KALDRO_OK);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_general_f64(nullptr, nullptr, 0, nullptr, nullptr,
                                                     nullptr, out, 1, 0, 1),
            KALDRO_OK);
  EXPECT_TRUE(out[0] == 5 && out[1] == 5);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_f64(theta, omega, 0, nullptr, 1, 1), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_general_f64(theta, omega, 0, nullptr, nullptr, nullptr,
                                                     nullptr, 1, 0, 1),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_f64(nullptr, omega, 2, out, 1, 1), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_f64(theta, nullptr, 2, out, 1, 1), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_general_f64(nullptr, omega, 2, nullptr, nullptr,
                                                     nullptr, out, 1, 0, 1),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_kuramoto_step_general_f64(theta, nullptr, 2, nullptr, nullptr,
                                                     nullptr, out, 1, 0, 1),
            KALDRO_ERR_NULL);
  EXPECT_TRUE(out[0] == 5 && out[1] == 5);
}

TEST(Kuramoto, ListedBehaviour) {
  // K = 0: each phase advances by dt * omega.
  const double theta[3] = {0.5, -1.0, 2.0}, omega[3] = {1.0, -2.0, 0.25};
  double out[3];
  ASSERT_EQ(kaldro_cascade_kuramoto_step_f64(theta, omega, 3, out, 0.0, 0.1), KALDRO_OK);
  for (int i = 0; i < 3; ++i) EXPECT_EQ(out[i], std::fma(0.1, omega[i], theta[i]));

  // Two oscillators at 0 and pi/2, K = 2, omega 0, dt 0.1.
  const double pair[2] = {0.0, M_PI / 2}, still[2] = {0.0, 0.0};
  double moved[2];
  ASSERT_EQ(kaldro_cascade_kuramoto_step_f64(pair, still, 2, moved, 2.0, 0.1), KALDRO_OK);
  EXPECT_NEAR(moved[0], 0.1, 1e-15);
  EXPECT_NEAR(moved[1], M_PI / 2 - 0.1, 1e-15);

  // The general step without W, drive and lag is the classic step up to rounding.
  std::mt19937_64 rng(23);
  std::uniform_real_distribution<double> u(-3.0, 3.0);
  std::vector<double> t(100), w(100), a(100), b(100);
  for (int i = 0; i < 100; ++i) t[i] = u(rng), w[i] = u(rng);
  ASSERT_EQ(kaldro_cascade_kuramoto_step_f64(t.data(), w.data(), 100, a.data(), 1.7, 0.05),
            KALDRO_OK);
  ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(t.data(), w.data(), 100, nullptr, nullptr,
                                                     nullptr, b.data(), 1.7, 0.0, 0.05),
            KALDRO_OK);
  for (int i = 0; i < 100; ++i) EXPECT_NEAR(a[i], b[i], 1e-14);

  // gain without drive is ignored; a drive with no gain uses 1.0.
  std::vector<double> gain(100, 5.0), drive(100, 0.75), c(100), d(100);
  ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(t.data(), w.data(), 100, nullptr, nullptr,
                                                     gain.data(), c.data(), 1.7, 0.0, 0.05),
            KALDRO_OK);
  EXPECT_TRUE(same_bits(b, c));
  std::vector<double> ones(100, 1.0);
  ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(t.data(), w.data(), 100, nullptr,
                                                     drive.data(), nullptr, c.data(), 1.7, 0.2,
                                                     0.05),
            KALDRO_OK);
  ASSERT_EQ(kaldro_cascade_kuramoto_step_general_f64(t.data(), w.data(), 100, nullptr,
                                                     drive.data(), ones.data(), d.data(), 1.7,
                                                     0.2, 0.05),
            KALDRO_OK);
  EXPECT_TRUE(same_bits(c, d));
}

// The step shares one sine between the pairs (i, j) and (j, i); that is exact only
// because the library's sine of -x has the bits of -sin(x) (a zero result aside). Checked
// for the public function and for every instruction-set tier of the batch form.
::testing::AssertionResult odd(const double *x, const double *pos, const double *neg,
                               size_t n) {
  for (size_t i = 0; i < n; ++i) {
    const double want = pos[i] == 0.0 ? 0.0 : -pos[i];
    if (std::memcmp(&want, &neg[i], sizeof want) != 0) {
      return ::testing::AssertionFailure() << "sin(" << x[i] << ") = " << pos[i]
                                           << ", sin(-x) = " << neg[i];
    }
  }
  return ::testing::AssertionSuccess();
}

TEST(Kuramoto, LibrarySineIsExactlyOdd) {
  std::mt19937_64 rng(24);
  std::vector<double> x, minus_x;
  while (x.size() < 200000) {
    double v;
    const uint64_t bits = rng();
    if (x.size() % 3 == 0) {
      std::memcpy(&v, &bits, sizeof v);
      if (!std::isfinite(v)) continue;
    } else {
      v = std::ldexp(static_cast<double>(bits >> 11) * 0x1p-53,
                     static_cast<int>(rng() % 80) - 40);
    }
    x.push_back(v);
    minus_x.push_back(-v);
  }
  const size_t n = x.size();
  std::vector<double> pos(n), neg(n);
  for (size_t i = 0; i < n; ++i) pos[i] = lib_sin(x[i]), neg[i] = lib_sin(minus_x[i]);
  ASSERT_TRUE(odd(x.data(), pos.data(), neg.data(), n));
  kaldro::portable::sin_n(x.data(), pos.data(), n);
  kaldro::portable::sin_n(minus_x.data(), neg.data(), n);
  ASSERT_TRUE(odd(x.data(), pos.data(), neg.data(), n));
#if defined(__x86_64__)
  if (kaldro::cpu_has(kaldro::Cpu::avx2) && kaldro::cpu_has(kaldro::Cpu::fma) &&
      kaldro::cpu_has(kaldro::Cpu::bmi2)) {
    kaldro::avx2::sin_n(x.data(), pos.data(), n);
    kaldro::avx2::sin_n(minus_x.data(), neg.data(), n);
    ASSERT_TRUE(odd(x.data(), pos.data(), neg.data(), n));
  }
#endif
}

}  // namespace
