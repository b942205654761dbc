// Fiedler vectors in memory and from edge files: the stated path results, status order,
// the chunk rules of the file reader, and bit-for-bit agreement of every kernel path
// with a power-iteration model written from the rules.
#include "linalg_support.h"
#include "temp_file.h"

#include <cstdio>
#include <unistd.h>

namespace {

using namespace linalg_test;

double fma_(double a, double b, double c) { return __builtin_fma(a, b, c); }

struct Graph {
  uint32_t n;
  std::vector<uint32_t> src, dst;
  std::vector<double> w;  // empty: unit weights
};

// The deflated power iteration as the rules state it; returns the iterations run.
std::vector<double> model_fiedler(const Graph &g, uint32_t max_it, uint32_t *ran = nullptr) {
  const uint32_t n = g.n;
  std::vector<double> out(n, 0.0);
  if (n <= 1) return out;
  auto weight = [&](size_t e) { return g.w.empty() ? 1.0 : g.w[e]; };
  std::vector<double> d(n, 0.0), s(n), u0(n), q(n), pat(n, -1.0);
  for (size_t e = 0; e < g.src.size(); ++e) d[g.src[e]] += weight(e), d[g.dst[e]] += weight(e);
  double t = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const double c = d[i] > 0 ? sqrt_ref(d[i]) : 0.0;
    s[i] = d[i] > 0 ? 1.0 / c : 0.0;
    u0[i] = c;
    t = fma_(c, c, t);
  }
  if (!(t > 0)) return out;
  const double rt = sqrt_ref(t);
  for (auto &x : u0) x /= rt;
  double gsum = 0;
  for (uint32_t i = 0; i < n; ++i) {
    const uint32_t k = 1013904223u + i * 2654435761u;
    q[i] = fma_(k * 0x1p-32, 2.0, -1.0);
  }
  for (uint32_t i = 0; i < n; ++i)
    gsum = i < n / 4 * 4 ? gsum + q[i] * u0[i] : fma_(q[i], u0[i], gsum);
  for (uint32_t i = 0; i < n; ++i) q[i] = fma_(-gsum, u0[i], q[i]);
  uint32_t run = 0, it = 0;
  for (; it < max_it; ++it) {
    std::vector<double> o(n), a(n, 0.0), y(n);
    for (uint32_t i = 0; i < n; ++i) o[i] = s[i] * q[i];
    for (size_t e = 0; e < g.src.size(); ++e) {
      a[g.src[e]] = fma_(weight(e), o[g.dst[e]], a[g.src[e]]);
      a[g.dst[e]] = fma_(weight(e), o[g.src[e]], a[g.dst[e]]);
    }
    double acc = 0;
    for (uint32_t i = 0; i < n; ++i) y[i] = fma_(s[i], a[i], q[i]);
    for (uint32_t i = 0; i < n; ++i) acc = fma_(y[i], u0[i], acc);
    for (uint32_t i = 0; i < n; ++i) y[i] = fma_(-acc, u0[i], y[i]);
    double m = 0;
    for (double v : y)
      if (v * v > m) m = v * v;
    if (m <= 0) break;
    const double r = sqrt_ref(m);
    bool stable = true;
    for (uint32_t i = 0; i < n; ++i) {
      q[i] = y[i] / r;
      const double b = q[i] >= 0 ? 1.0 : 0.0;
      stable = stable && b == pat[i];
      pat[i] = b;
    }
    if (stable && it >= 20) {
      if (run > 3) break;
      ++run;
    } else {
      run = 0;
    }
  }
  if (ran) *ran = it;
  return q;
}

kaldro_status fiedler(const Graph &g, uint32_t max_it, std::vector<double> &out,
                      const Kernels *k = nullptr) {
  out.assign(g.n, 8.0);
  std::vector<double> ws(8 * size_t(g.n) + 1);
  const double *w = g.w.empty() ? nullptr : g.w.data();
  const uint32_t ec = uint32_t(g.src.size());
  return k ? kaldro::linalg::fiedler_sparse(*k, g.n, ec, g.src.data(), g.dst.data(), w, max_it,
                                            out.data(), ws.data(), ws.size())
           : kaldro_laplacian_fiedler_sparse(g.n, ec, g.src.data(), g.dst.data(), w, max_it,
                                             out.data(), ws.data(), ws.size());
}

const Graph kPath4 = {4, {0, 1, 2}, {1, 2, 3}, {}};

TEST(LinalgFiedler, StatedPathResults) {
  std::vector<double> out;
  ASSERT_EQ(fiedler(kPath4, 0, out), KALDRO_OK);
  EXPECT_EQ(bits(out[0]), bits(-0.45706671338891247));
  EXPECT_EQ(bits(out[1]), bits(0.808326478943954));
  EXPECT_EQ(bits(out[2]), bits(0.04439445248691256));
  EXPECT_EQ(bits(out[3]), bits(-0.748862792760037));

  uint32_t ran = 0;
  const auto want = model_fiedler(kPath4, 100, &ran);
  EXPECT_EQ(ran, 24u);
  ASSERT_EQ(fiedler(kPath4, 100, out), KALDRO_OK);
  EXPECT_SAME_BITS(out, want);
  EXPECT_NEAR(out[0], 1.0, 1e-9);
  EXPECT_NEAR(out[1], 0.7071067811865476, 1e-9);
  EXPECT_NEAR(out[2], -0.7071067811865476, 1e-9);
  EXPECT_EQ(out[3], -1.0);
  // It stopped at iteration 24: a limit of 25 changes nothing, a limit of 24 does.
  std::vector<double> at25, at24;
  ASSERT_EQ(fiedler(kPath4, 25, at25), KALDRO_OK);
  ASSERT_EQ(fiedler(kPath4, 24, at24), KALDRO_OK);
  EXPECT_SAME_BITS(at25, out);
  EXPECT_NE(first_difference(at24, out), -1);
}

TEST(LinalgFiedler, EdgeCasesAndStatusOrder) {
  std::vector<double> out;
  ASSERT_EQ(fiedler({1, {0}, {0}, {}}, 10, out), KALDRO_OK);
  EXPECT_EQ(out, std::vector<double>{0.0});
  ASSERT_EQ(fiedler({3, {0, 1}, {1, 2}, {0.0, 0.0}}, 10, out), KALDRO_OK);
  EXPECT_EQ(out, std::vector<double>(3, 0.0));
  ASSERT_EQ(fiedler({3, {}, {}, {}}, 10, out), KALDRO_OK);
  EXPECT_EQ(out, std::vector<double>(3, 0.0));
  ASSERT_EQ(fiedler({4, {0, 1, 2}, {1, 4, 3}, {}}, 10, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));

  const uint32_t s[3] = {0, 1, 2}, d[3] = {1, 2, 3};
  double o[4] = {8, 8, 8, 8}, ws[32];
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(4, 3, s, d, nullptr, 5, nullptr, ws, 32), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(4, 3, s, d, nullptr, 5, o, nullptr, 32), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(4, 3, nullptr, d, nullptr, 5, o, ws, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(4, 3, s, nullptr, nullptr, 5, o, ws, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(4, 0, nullptr, nullptr, nullptr, 5, o, ws, 31),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(4, 3, s, d, nullptr, 5, o, ws, 31), KALDRO_ERR_INVALID);
  EXPECT_EQ(o[0], 8.0);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse(0, 3, s, d, nullptr, 5, o, ws, 0), KALDRO_OK);
  EXPECT_EQ(o[0], 8.0);
}

Graph random_graph(std::mt19937_64 &rng, uint32_t n, uint32_t edges, bool weighted) {
  Graph g{n, {}, {}, {}};
  std::uniform_int_distribution<uint32_t> v(0, n - 1);
  std::uniform_real_distribution<double> w(0.1, 2.0);
  for (uint32_t e = 0; e < edges; ++e) {
    g.src.push_back(v(rng));
    g.dst.push_back(v(rng));  // self-loops and duplicates included
    if (weighted) g.w.push_back(w(rng));
  }
  return g;
}

TEST(LinalgFiedler, MatchesThePowerIterationModelOnEveryPath) {
  std::mt19937_64 rng(17);
  for (uint32_t n : {2u, 3u, 5u, 8u, 13u, 40u, 203u}) {
    for (bool weighted : {false, true}) {
      const Graph g = random_graph(rng, n, 2 * n, weighted);
      for (uint32_t it : {0u, 1u, 7u, 300u}) {
        const auto want = model_fiedler(g, it);
        for (const Tier &tier : tiers()) {
          SCOPED_TRACE(tier.name);
          std::vector<double> out;
          ASSERT_EQ(fiedler(g, it, out, tier.k), KALDRO_OK);
          EXPECT_SAME_BITS(out, want);
        }
      }
    }
  }
}

TEST(LinalgFiedler, ResultIsOrthogonalToTheTrivialVector) {
  std::mt19937_64 rng(19);
  const Graph g = random_graph(rng, 500, 3000, true);
  std::vector<double> out, d(g.n, 0.0);
  ASSERT_EQ(fiedler(g, 500, out), KALDRO_OK);
  for (size_t e = 0; e < g.src.size(); ++e) d[g.src[e]] += g.w[e], d[g.dst[e]] += g.w[e];
  double dot = 0, big = 0;
  for (uint32_t i = 0; i < g.n; ++i) {
    dot += out[i] * std::sqrt(d[i]);
    big = std::max(big, std::abs(out[i]));
  }
  EXPECT_EQ(big, 1.0);
  EXPECT_LT(std::abs(dot), 1e-10);
}

// Edge files.

std::vector<unsigned char> records(const Graph &g) {
  std::vector<unsigned char> out(16 * g.src.size());
  for (size_t e = 0; e < g.src.size(); ++e) {
    const double w = g.w.empty() ? 1.0 : g.w[e];
    std::memcpy(&out[16 * e], &g.src[e], 4);
    std::memcpy(&out[16 * e + 4], &g.dst[e], 4);
    std::memcpy(&out[16 * e + 8], &w, 8);
  }
  return out;
}

kaldro_status fiedler_file(uint32_t n, const std::string &path, uint32_t max_it,
                           std::vector<double> &out, const Kernels *k = nullptr) {
  out.assign(n, 8.0);
  std::vector<double> ws(8 * size_t(n));
  return k ? kaldro::linalg::fiedler_sparse_file(*k, n, path.c_str(), max_it, out.data(),
                                                 ws.data(), ws.size())
           : kaldro_laplacian_fiedler_sparse_file(n, path.c_str(), max_it, out.data(), ws.data(),
                                                  ws.size());
}

TEST(LinalgFiedlerFile, PathFileGivesTheInMemoryResult) {
  TempFile f(records(kPath4));
  std::vector<double> out, want;
  ASSERT_EQ(fiedler(kPath4, 100, want), KALDRO_OK);
  ASSERT_EQ(fiedler_file(4, f.path(), 100, out), KALDRO_OK);
  EXPECT_SAME_BITS(out, want);
  EXPECT_EQ(out[3], -1.0);
}

TEST(LinalgFiedlerFile, StatusOrderAndMalformedFiles) {
  std::vector<double> out;
  double o[4] = {8, 8, 8, 8}, ws[32];
  TempFile f(records(kPath4));
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse_file(4, nullptr, 5, o, ws, 32), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse_file(4, f.path(), 5, nullptr, ws, 32), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse_file(4, f.path(), 5, o, nullptr, 32), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse_file(4, "/nonexistent/edges", 5, o, ws, 31),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse_file(0, "/nonexistent/edges", 5, o, ws, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_laplacian_fiedler_sparse_file(1, "/nonexistent/edges", 5, o, ws, 8), KALDRO_OK);
  EXPECT_EQ(o[0], 0.0);
  EXPECT_EQ(o[1], 8.0);

  EXPECT_EQ(fiedler_file(4, "/nonexistent/edges", 5, out), KALDRO_ERR_IO);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));
  TempFile empty(std::string{});
  EXPECT_EQ(fiedler_file(4, empty.path(), 5, out), KALDRO_OK);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));
  TempFile odd(std::vector<unsigned char>(17, 0));
  EXPECT_EQ(fiedler_file(4, odd.path(), 5, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));
  TempFile bad(records({4, {0, 1, 4}, {1, 2, 3}, {}}));
  EXPECT_EQ(fiedler_file(4, bad.path(), 5, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));
}

TEST(LinalgFiedlerFile, ChunkBoundaries) {
  std::mt19937_64 rng(23);
  for (uint32_t edges : {255u, 256u, 257u, 512u, 1000u}) {
    SCOPED_TRACE(edges);
    const Graph g = random_graph(rng, 64, edges, true);
    const auto bytes = records(g);
    TempFile f(bytes);
    std::vector<double> want, out;
    ASSERT_EQ(fiedler(g, 40, want), KALDRO_OK);
    for (const Tier &tier : tiers()) {
      ASSERT_EQ(fiedler_file(g.n, f.path(), 40, out, tier.k), KALDRO_OK);
      EXPECT_SAME_BITS(out, want);
    }
    // A trailing partial record fails at the last chunk, after the full ones.
    auto longer = bytes;
    longer.resize(bytes.size() + 1, 0);
    TempFile g2(longer);
    EXPECT_EQ(fiedler_file(g.n, g2.path(), 40, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(out, std::vector<double>(g.n, 0.0));
  }
  // An out-of-range vertex in the second chunk.
  Graph g = random_graph(rng, 16, 300, true);
  g.dst[280] = 16;
  TempFile f(records(g));
  std::vector<double> out;
  EXPECT_EQ(fiedler_file(16, f.path(), 5, out), KALDRO_ERR_INVALID);
}

TEST(LinalgFiedlerFile, ReadFailureIsPassedOn) {
  // A directory opens as a stream but cannot be read.
  std::vector<double> out;
  EXPECT_EQ(fiedler_file(4, "/tmp", 5, out), KALDRO_ERR_IO);
  EXPECT_EQ(out, std::vector<double>(4, 0.0));
}

}  // namespace
