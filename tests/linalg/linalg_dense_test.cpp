// Dense solve and graph matrices: the stated examples, status order, workspace sizing
// (with the 64-bit overflow guard), and bit-for-bit agreement of every kernel path with a
// column-by-column Gauss-Jordan model written from the elimination rules.
#include "linalg_support.h"

namespace {

using namespace linalg_test;

// Column-by-column elimination over all n + m columns, exactly as the rules read.
kaldro_status model_solve(uint32_t n, uint32_t m, const std::vector<double> &a,
                          const std::vector<double> &b, std::vector<double> &x) {
  const size_t t = n + m;
  std::vector<double> w(n * t);
  for (size_t i = 0; i < n; ++i) {
    for (size_t j = 0; j < n; ++j) w[i * t + j] = a[i * n + j];
    for (size_t j = 0; j < m; ++j) w[i * t + n + j] = b[i * m + j];
  }
  for (size_t c = 0; c < n; ++c) {
    double best = 0.0;
    size_t pr = n;
    for (size_t r = c; r < n; ++r) {
      const double v = w[r * t + c] < 0 ? -w[r * t + c] : w[r * t + c];
      if (v > best) best = v, pr = r;
    }
    if (pr == n) return KALDRO_ERR_INVALID;
    if (pr != c)
      for (size_t j = 0; j < t; ++j) std::swap(w[pr * t + j], w[c * t + j]);
    const double pv = w[c * t + c];
    for (size_t j = 0; j < t; ++j) w[c * t + j] /= pv;
    for (size_t r = 0; r < n; ++r) {
      if (r == c) continue;
      const double u = w[r * t + c];
      if (u == 0.0) continue;
      for (size_t j = 0; j < t; ++j) w[r * t + j] = __builtin_fma(-u, w[c * t + j], w[r * t + j]);
    }
  }
  x.assign(size_t(n) * m, 0.0);
  for (size_t i = 0; i < n; ++i)
    for (size_t j = 0; j < m; ++j) x[i * m + j] = w[i * t + n + j];
  return KALDRO_OK;
}

kaldro_status solve(uint32_t n, uint32_t m, const std::vector<double> &a,
                    const std::vector<double> &b, std::vector<double> &x,
                    const Kernels *k = nullptr) {
  std::vector<unsigned char> ws(kaldro_dense_solve_arena_bytes(n, m));
  x.assign(size_t(n) * m, -7.0);
  if (k == nullptr)
    return kaldro_dense_solve_f64_ws(n, m, a.data(), b.data(), x.data(), ws.data(), ws.size());
  return kaldro::linalg::dense_solve(*k, n, m, a.data(), b.data(), x.data(), ws.data(),
                                     ws.size());
}

TEST(LinalgDenseSolve, StatedExamples) {
  std::vector<double> x;
  ASSERT_EQ(solve(1, 1, {2.0}, {6.0}, x), KALDRO_OK);
  EXPECT_EQ(x[0], 3.0);

  const std::vector<double> swap = {0, 1, 1, 0}, identity = {1, 0, 0, 1};
  ASSERT_EQ(solve(2, 2, swap, identity, x), KALDRO_OK);
  EXPECT_SAME_BITS(x, swap);

  // Column 1 is all zeros: singular at that column, x untouched.
  const std::vector<double> singular = {1, 0, 2, 3, 0, 4, 5, 0, 6};
  ASSERT_EQ(solve(3, 1, singular, {1, 2, 3}, x), KALDRO_ERR_INVALID);
  for (double v : x) EXPECT_EQ(v, -7.0);
  // Zeros and NaNs only also count as singular.
  const double nan = __builtin_nan("");
  ASSERT_EQ(solve(2, 1, {nan, 1, 0, 1}, {1, 1}, x), KALDRO_ERR_INVALID);
}

TEST(LinalgDenseSolve, EqualMagnitudesPivotOnTheFirst) {
  // Rows 1 and 2 tie in column 0; pivoting on row 1 (the first) gives the model's bits,
  // and differs from what pivoting on row 2 would give.
  const std::vector<double> a = {0.0, 3.0, 1.0, -2.0, 0.1, 0.7, 2.0, 0.3, 0.9};
  const std::vector<double> b = {1.0, 0.2, 0.35};
  std::vector<double> x, want, other;
  ASSERT_EQ(solve(3, 1, a, b, x), KALDRO_OK);
  ASSERT_EQ(model_solve(3, 1, a, b, want), KALDRO_OK);
  EXPECT_SAME_BITS(x, want);
  std::vector<double> a2 = a, b2 = b;  // the same system with rows 1 and 2 exchanged
  for (int j = 0; j < 3; ++j) std::swap(a2[3 + j], a2[6 + j]);
  std::swap(b2[1], b2[2]);
  ASSERT_EQ(model_solve(3, 1, a2, b2, other), KALDRO_OK);
  EXPECT_NE(first_difference(x, other), -1);
}

TEST(LinalgDenseSolve, StatusOrderAndWorkspace) {
  const double a[4] = {4, 1, 2, 3}, b[2] = {1, 2};
  double x[2] = {-1, -1};
  unsigned char ws[64 + 8];
  const uint64_t need = kaldro_dense_solve_arena_bytes(2, 1);
  EXPECT_EQ(need, 8u * 2 * 3 + 8);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 1, nullptr, b, x, ws, need), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 1, a, nullptr, x, ws, need), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(0, 1, a, b, nullptr, nullptr, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(0, 1, a, b, x, nullptr, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 0, a, b, x, nullptr, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 1, a, b, x, nullptr, need), KALDRO_ERR_NULL);
  EXPECT_EQ(x[0], -1.0);
  // Exactly the stated size is enough at every byte alignment; one byte less is not.
  for (size_t off = 0; off < 8; ++off) {
    x[0] = x[1] = -1;
    EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 1, a, b, x, ws + off, need - 1), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(x[0], -1.0);
    ASSERT_EQ(kaldro_dense_solve_f64_ws(2, 1, a, b, x, ws + off, need), KALDRO_OK);
    EXPECT_DOUBLE_EQ(4 * x[0] + x[1], 1.0);
    EXPECT_DOUBLE_EQ(2 * x[0] + 3 * x[1], 2.0);
  }
  // Capacity is checked before the singular matrix is seen.
  const double zero[4] = {0, 0, 0, 0};
  EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 1, zero, b, x, ws, need - 1), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_dense_solve_f64_ws(2, 1, zero, b, x, ws, need), KALDRO_ERR_INVALID);
}

TEST(LinalgDenseSolve, WorkspaceSizeNeverWraps) {
  const unsigned __int128 big = (unsigned __int128)8 * UINT32_MAX * (uint64_t(UINT32_MAX) * 2) + 8;
  ASSERT_GT(big, (unsigned __int128)UINT64_MAX);
  EXPECT_EQ(kaldro_dense_solve_arena_bytes(UINT32_MAX, UINT32_MAX), UINT64_MAX);
  EXPECT_EQ(kaldro_dense_solve_arena_bytes(UINT32_MAX, 1), UINT64_MAX);
  // The largest sizes that still fit are exact.
  for (uint32_t n : {1u, 1000u, 65536u, 1000000u, 1518500249u}) {
    const uint32_t m = 3;
    const unsigned __int128 want = (unsigned __int128)8 * n * (uint64_t(n) + m) + 8;
    if (want <= UINT64_MAX) EXPECT_EQ(kaldro_dense_solve_arena_bytes(n, m), uint64_t(want));
    else EXPECT_EQ(kaldro_dense_solve_arena_bytes(n, m), UINT64_MAX);
  }
  // A wrapped size would look small; the solve refuses without touching anything, even
  // when the caller claims the whole address space.
  double dummy[4] = {1, 2, 3, 4};
  double x[1] = {-1};
  EXPECT_EQ(kaldro_dense_solve_f64_ws(UINT32_MAX, UINT32_MAX, dummy, dummy, x, dummy, UINT64_MAX),
            KALDRO_ERR_CAPACITY);
  // 8*n*(n+m) + 8 with n = m = 2^31 is exactly 2^66 + 8, which wraps to 8.
  EXPECT_EQ(kaldro_dense_solve_f64_ws(1u << 31, 1u << 31, dummy, dummy, x, dummy, 64),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(x[0], -1.0);
}

TEST(LinalgDenseSolve, MatchesTheEliminationModelOnEveryPath) {
  std::mt19937_64 rng(11);
  std::uniform_int_distribution<int> pick(0, 9);
  for (uint32_t n : {1u, 2u, 3u, 5u, 15u, 16u, 17u, 31u, 33u, 40u}) {
    for (uint32_t m : {1u, 2u, 7u}) {
      auto a = random_vector(rng, size_t(n) * n);
      auto b = random_vector(rng, size_t(n) * m);
      // Zeros exercise the skipped rows; a few repeated magnitudes exercise the ties.
      for (auto &v : a) {
        const int r = pick(rng);
        if (r == 0) v = 0.0;
        if (r == 1) v = -0.0;
        if (r == 2) v = 0.5;
      }
      std::vector<double> want;
      const kaldro_status ws = model_solve(n, m, a, b, want);
      for (const Tier &tier : tiers()) {
        SCOPED_TRACE(tier.name);
        std::vector<double> x;
        ASSERT_EQ(solve(n, m, a, b, x, tier.k), ws) << n << "x" << m;
        if (ws == KALDRO_OK) EXPECT_SAME_BITS(x, want);
      }
    }
  }
}

TEST(LinalgDenseSolve, SingularAfterElimination) {
  // Rank 2 of 20: some pivot column empties only after earlier eliminations.
  std::mt19937_64 rng(5);
  const uint32_t n = 20;
  auto u = random_vector(rng, n), v = random_vector(rng, n), p = random_vector(rng, n),
       q = random_vector(rng, n);
  std::vector<double> a(n * n);
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < n; ++j) a[i * n + j] = double(int(8 * u[i])) * int(8 * v[j]) +
                                                    double(int(8 * p[i])) * int(8 * q[j]);
  std::vector<double> b(n, 1.0), x, want;
  const kaldro_status st = model_solve(n, 1, a, b, want);
  for (const Tier &tier : tiers()) EXPECT_EQ(solve(n, 1, a, b, x, tier.k), st);
}

TEST(LinalgDenseSolve, ResidualOfALargerSystem) {
  std::mt19937_64 rng(3);
  const uint32_t n = 150, m = 3;
  auto a = random_vector(rng, size_t(n) * n);
  for (uint32_t i = 0; i < n; ++i) a[i * n + i] += 4.0;
  auto b = random_vector(rng, size_t(n) * m);
  const auto a0 = a, b0 = b;
  std::vector<double> x;
  ASSERT_EQ(solve(n, m, a, b, x), KALDRO_OK);
  EXPECT_SAME_BITS(a, a0);
  EXPECT_SAME_BITS(b, b0);
  double worst = 0;
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < m; ++j) {
      double s = 0;
      for (uint32_t l = 0; l < n; ++l) s += a[i * n + l] * x[l * m + j];
      worst = std::max(worst, std::abs(s - b[i * m + j]));
    }
  EXPECT_LT(worst, 1e-12);
}

// Graph matrices.

using GraphFn = kaldro_status (*)(uint32_t, uint32_t, const uint32_t *, const uint32_t *,
                                  const double *, double *);
const GraphFn kGraphFns[3] = {kaldro_graph_dense_adjacency, kaldro_graph_dense_laplacian,
                              kaldro_graph_normalized_laplacian};

std::vector<double> graph(GraphFn fn, uint32_t n, const std::vector<uint32_t> &src,
                          const std::vector<uint32_t> &dst, const std::vector<double> &w,
                          kaldro_status *st = nullptr) {
  std::vector<double> out(size_t(n) * n, 9.0);
  const kaldro_status s = fn(n, uint32_t(src.size()), src.data(), dst.data(),
                             w.empty() ? nullptr : w.data(), out.data());
  if (st != nullptr) *st = s;
  else EXPECT_EQ(s, KALDRO_OK);
  return out;
}

TEST(LinalgGraph, StatedExamples) {
  EXPECT_EQ(graph(kaldro_graph_dense_adjacency, 2, {0}, {1}, {2.0}),
            (std::vector<double>{0, 2, 2, 0}));
  EXPECT_EQ(graph(kaldro_graph_dense_laplacian, 2, {0}, {1}, {2.0}),
            (std::vector<double>{2, -2, -2, 2}));
  const auto nl = graph(kaldro_graph_normalized_laplacian, 2, {0}, {1}, {2.0});
  EXPECT_EQ(nl[0], 1.0);
  EXPECT_EQ(nl[3], 1.0);
  EXPECT_EQ(bits(nl[1]), bits(-1.0000000000000002));
  EXPECT_EQ(bits(nl[2]), bits(-1.0000000000000002));

  EXPECT_EQ(graph(kaldro_graph_dense_adjacency, 1, {0}, {0}, {1.0}), (std::vector<double>{2}));
  EXPECT_EQ(graph(kaldro_graph_dense_laplacian, 1, {0}, {0}, {1.0}), (std::vector<double>{0}));
  EXPECT_EQ(graph(kaldro_graph_normalized_laplacian, 1, {0}, {0}, {1.0}),
            (std::vector<double>{0}));
  EXPECT_EQ(graph(kaldro_graph_dense_adjacency, 2, {0, 0}, {1, 1}, {}),
            (std::vector<double>{0, 2, 2, 0}));

  const auto path = graph(kaldro_graph_normalized_laplacian, 3, {0, 1}, {1, 2}, {});
  EXPECT_EQ(bits(path[1]), bits(-0.7071067811865476));
  EXPECT_EQ(bits(path[3]), bits(-0.7071067811865476));
  EXPECT_EQ(path[0], 1.0);
  EXPECT_EQ(path[4], 1.0);
  EXPECT_EQ(path[8], 1.0);
  EXPECT_EQ(path[2], 0.0);

  for (GraphFn fn : kGraphFns) {
    const auto z = graph(fn, 3, {}, {}, {});
    for (double v : z) EXPECT_EQ(v, 0.0);
  }
}

TEST(LinalgGraph, StatusOrderAndPartialOutput) {
  const uint32_t s[2] = {0, 2}, d[2] = {1, 0};
  double out[9];
  for (GraphFn fn : kGraphFns) {
    EXPECT_EQ(fn(3, 2, s, d, nullptr, nullptr), KALDRO_ERR_NULL);
    EXPECT_EQ(fn(3, 2, nullptr, d, nullptr, out), KALDRO_ERR_NULL);
    EXPECT_EQ(fn(3, 2, s, nullptr, nullptr, out), KALDRO_ERR_NULL);
    // n = 0 without edges: nothing touched; with an edge: invalid.
    out[0] = 5;
    EXPECT_EQ(fn(0, 0, nullptr, nullptr, nullptr, out), KALDRO_OK);
    EXPECT_EQ(out[0], 5.0);
    EXPECT_EQ(fn(0, 1, s, d, nullptr, out), KALDRO_ERR_INVALID);
    // An index equal to n stops at that edge: the cleared matrix with the earlier edges
    // added and no transformation.
    const uint32_t s2[3] = {0, 1, 2}, d2[3] = {1, 3, 2};
    for (double &v : out) v = 9;
    EXPECT_EQ(fn(3, 3, s2, d2, nullptr, out), KALDRO_ERR_INVALID);
    EXPECT_EQ(std::vector<double>(out, out + 9),
              (std::vector<double>{0, 1, 0, 1, 0, 0, 0, 0, 0}));
  }
}

// The three matrices from their definitions, for comparison on random graphs.
void graph_model(uint32_t n, const std::vector<uint32_t> &src, const std::vector<uint32_t> &dst,
                 const std::vector<double> &w, std::vector<double> out[3]) {
  std::vector<double> adj(size_t(n) * n, 0.0);
  for (size_t e = 0; e < src.size(); ++e) {
    adj[src[e] * n + dst[e]] += w[e];
    adj[dst[e] * n + src[e]] += w[e];
  }
  std::vector<double> deg(n, 0.0), s(n, 0.0);
  for (uint32_t i = 0; i < n; ++i) {
    for (uint32_t j = 0; j < n; ++j)
      if (j != i) deg[i] += adj[i * n + j];
    if (deg[i] > 0) s[i] = 1.0 / sqrt_ref(deg[i]);
  }
  out[0] = adj;
  out[1] = out[2] = adj;
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < n; ++j) {
      out[1][i * n + j] = i == j ? deg[i] : -adj[i * n + j];
      out[2][i * n + j] = i == j ? (s[i] != 0 ? 1.0 : 0.0) : s[j] * (s[i] * -adj[i * n + j]);
    }
}

TEST(LinalgGraph, MatchesTheDefinitionsOnRandomGraphs) {
  std::mt19937_64 rng(21);
  for (uint32_t n : {1u, 2u, 5u, 12u}) {
    std::uniform_int_distribution<uint32_t> v(0, n - 1);
    std::uniform_real_distribution<double> wt(-0.5, 3.0);
    std::vector<uint32_t> src(3 * n), dst(3 * n);
    std::vector<double> w(3 * n);
    for (size_t e = 0; e < src.size(); ++e) src[e] = v(rng), dst[e] = v(rng), w[e] = wt(rng);
    std::vector<double> want[3];
    graph_model(n, src, dst, w, want);
    for (int f = 0; f < 3; ++f) EXPECT_SAME_BITS(graph(kGraphFns[f], n, src, dst, w), want[f]);
  }
}

}  // namespace
