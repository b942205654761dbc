// Shared pieces of the linear-algebra tests: the kernel tables this machine runs, bit
// comparison of doubles, and a seeded random source.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/internal.h"
#include "linalg/linalg.h"

namespace linalg_test {

using kaldro::linalg::Kernels;

struct Tier {
  const char *name;
  const Kernels *k;
};

// Every table the processor can run, portable first.
inline std::vector<Tier> tiers() {
  std::vector<Tier> t{{"portable", &kaldro::linalg::portable_kernels()}};
#if defined(__x86_64__)
  if (kaldro::cpu_has_x86_64_v3()) t.push_back({"x86-64-v3", &kaldro::linalg::x86_64_v3_kernels()});
#endif
  return t;
}

inline uint64_t bits(double v) {
  uint64_t b;
  std::memcpy(&b, &v, sizeof b);
  return b;
}

inline double from_bits(uint64_t b) {
  double v;
  std::memcpy(&v, &b, sizeof v);
  return v;
}

// Index of the first element whose bits differ, or -1.
inline long first_difference(const std::vector<double> &x, const std::vector<double> &y) {
  if (x.size() != y.size()) return 0;
  for (size_t i = 0; i < x.size(); ++i)
    // A NaN's sign and payload are the processor's choice (x86 and Arm make different
    // default NaNs and propagate different operands); any NaN matches any NaN.
    if (bits(x[i]) != bits(y[i]) && !(x[i] != x[i] && y[i] != y[i])) return long(i);
  return -1;
}

#define EXPECT_SAME_BITS(x, y)                                                 \
  do {                                                                         \
    const long d_ = linalg_test::first_difference((x), (y));                   \
    EXPECT_EQ(d_, -1) << "first difference at " << d_ << ": "                 \
                      << (d_ >= 0 && size_t(d_) < (x).size() ? (x)[d_] : 0.0)  \
                      << " vs " << (d_ >= 0 && size_t(d_) < (y).size() ? (y)[d_] : 0.0); \
  } while (0)

inline double sqrt_ref(double x) {
  double r;
  kaldro_rational_sqrt(&r, x);
  return r;
}

inline std::vector<double> random_vector(std::mt19937_64 &rng, size_t n, double lo = -1.0,
                                         double hi = 1.0) {
  std::uniform_real_distribution<double> u(lo, hi);
  std::vector<double> v(n);
  for (auto &x : v) x = u(rng);
  return v;
}

}  // namespace linalg_test
