// Dense solve A*X = B by Gauss-Jordan elimination with partial pivoting in the caller's
// workspace. The elimination is blocked: pivots are chosen a panel of columns at a time,
// and the remaining columns then receive each panel's row updates in one pass, every
// entry getting the same fused operations in the same order as the column-by-column
// elimination.
#include <cstring>

#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

constexpr size_t kPanel = 16;   // pivot columns per block
constexpr size_t kChunk = 256;  // columns per pass of the trailing update

// 8*n*(n + m) + 8 in 64 bits; false when it does not fit.
bool solve_bytes(uint32_t n, uint32_t m, uint64_t *out) {
  const uint64_t t = uint64_t(n) + m;  // below 2^33
  uint64_t cells;
  if (__builtin_mul_overflow(uint64_t(n), t, &cells)) return false;
  if (cells > (UINT64_MAX - 8) / 8) return false;
  *out = cells * 8 + 8;
  return true;
}

}  // namespace

kaldro_status dense_solve(const Kernels &k, uint32_t n, uint32_t m, const double *a,
                          const double *b, double *x, void *workspace, uint64_t workspace_bytes) {
  if (a == nullptr || b == nullptr || x == nullptr) return KALDRO_ERR_NULL;
  if (n == 0 || m == 0) return KALDRO_OK;
  if (workspace == nullptr) return KALDRO_ERR_NULL;
  uint64_t need;
  if (!solve_bytes(n, m, &need) || workspace_bytes < need) return KALDRO_ERR_CAPACITY;

  const uintptr_t at = reinterpret_cast<uintptr_t>(workspace);
  double *w = reinterpret_cast<double *>((at + 7) & ~uintptr_t(7));
  const size_t nn = n, t = size_t(n) + m;
  auto row = [&](size_t i) { return w + i * t; };

  // The augmented matrix [A | B].
  for (size_t i = 0; i < nn; ++i) {
    std::memcpy(row(i), a + i * nn, nn * sizeof(double));
    std::memcpy(row(i) + nn, b + i * m, size_t(m) * sizeof(double));
  }

  // Columns left of the current pivot are never read again once eliminated, so they keep
  // each row's multiplier for that pivot instead of the zero the update would leave.
  double pivots[kPanel];
  double nmul[kPanel];
  const double *sources[kPanel];
  alignas(32) double snap[kPanel][kChunk];

  for (size_t c0 = 0; c0 < nn; c0 += kPanel) {
    const size_t cb = nn - c0 < kPanel ? nn - c0 : kPanel;
    const size_t panel_end = c0 + cb;

    // Pivots of the panel; the panel's own columns are kept up to date in every row.
    for (size_t c = c0; c < panel_end; ++c) {
      double best = 0.0;
      size_t pr = nn;
      for (size_t r = c; r < nn; ++r) {
        const double v = __builtin_fabs(row(r)[c]);
        if (v > best) {
          best = v;
          pr = r;
        }
      }
      if (pr == nn) return KALDRO_ERR_INVALID;
      if (pr != c) {
        double *x1 = row(pr) + c0, *x2 = row(c) + c0;
        for (size_t j = 0; j < t - c0; ++j) {
          const double tmp = x1[j];
          x1[j] = x2[j];
          x2[j] = tmp;
        }
      }
      double *pivot_row = row(c);
      const double pv = pivot_row[c];
      pivots[c - c0] = pv;
      k.divide(pivot_row + c + 1, panel_end - c - 1, pv);
      if (c + 1 < panel_end) {
        const double *src = pivot_row + c + 1;
        for (size_t r = 0; r < nn; ++r) {
          if (r == c) continue;
          const double u = row(r)[c];
          if (u == 0.0) continue;
          const double nu = -u;
          k.chain_update(row(r) + c + 1, panel_end - c - 1, &src, &nu, 1);
        }
      }
    }

    // The columns right of the panel, a chunk at a time: first the pivot rows as they
    // stood when each was divided (later pivot rows see the earlier ones), then every
    // row receives the panel's updates in pivot order.
    for (size_t j0 = panel_end; j0 < t; j0 += kChunk) {
      const size_t width = t - j0 < kChunk ? t - j0 : kChunk;
      for (size_t i = 0; i < cb; ++i) {
        const double *pr = row(c0 + i);
        std::memcpy(snap[i], pr + j0, width * sizeof(double));
        size_t count = 0;
        for (size_t l = 0; l < i; ++l) {
          const double u = pr[c0 + l];
          if (u == 0.0) continue;
          nmul[count] = -u;
          sources[count++] = snap[l];
        }
        k.chain_update(snap[i], width, sources, nmul, count);
        k.divide(snap[i], width, pivots[i]);
      }
      for (size_t r = 0; r < nn; ++r) {
        double *e = row(r);
        size_t first = 0;
        if (r >= c0 && r < panel_end) {
          first = r - c0 + 1;
          std::memcpy(e + j0, snap[r - c0], width * sizeof(double));
        }
        size_t count = 0;
        for (size_t l = first; l < cb; ++l) {
          const double u = e[c0 + l];
          if (u == 0.0) continue;
          nmul[count] = -u;
          sources[count++] = snap[l];
        }
        if (count != 0) k.chain_update(e + j0, width, sources, nmul, count);
      }
    }
  }

  for (size_t i = 0; i < nn; ++i) std::memcpy(x + i * m, row(i) + nn, size_t(m) * sizeof(double));
  return KALDRO_OK;
}

}  // namespace linalg
}  // namespace kaldro

extern "C" KALDRO_API uint64_t kaldro_dense_solve_arena_bytes(uint32_t n, uint32_t m) {
  uint64_t need;
  return kaldro::linalg::solve_bytes(n, m, &need) ? need : UINT64_MAX;
}

extern "C" KALDRO_API kaldro_status kaldro_dense_solve_f64_ws(uint32_t n, uint32_t m,
                                                              const double *a, const double *b,
                                                              double *x, void *workspace,
                                                              uint64_t workspace_bytes) {
  return kaldro::linalg::dense_solve(kaldro::linalg::active_kernels(), n, m, a, b, x, workspace,
                                     workspace_bytes);
}
