// Fiedler vector of the symmetric normalised Laplacian of a sparse graph by a deflated
// power iteration on I + D^-1/2 A D^-1/2, from an edge list in memory or streamed from
// an edge file. All state lives in eight blocks of n doubles of the caller's workspace.
#include <cstring>

#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

constexpr size_t kChunkBytes = 4096;
constexpr uint32_t kStableFrom = 20;  // the sign pattern counts from this iteration on

struct Blocks {
  double *degree, *scale, *trivial, *q, *y, *so, *product, *pattern;
  Blocks(double *w, size_t n)
      : degree(w), scale(w + n), trivial(w + 2 * n), q(w + 3 * n), y(w + 4 * n),
        so(w + 5 * n), product(w + 6 * n), pattern(w + 7 * n) {}
};

// From the degrees: the scales 1/sqrt(d), the normalised trivial vector, and the start
// vector with that vector projected out. False when the total degree is not positive.
bool prepare(const Kernels &k, const Blocks &b, size_t n) {
  double total = 0.0;
  for (size_t i = 0; i < n; ++i) {
    const double d = b.degree[i];
    double c = 0.0, s = 0.0;
    if (d > 0.0) {
      c = root(d);
      s = 1.0 / c;
    }
    b.scale[i] = s;
    b.trivial[i] = c;
    total = fused(c, c, total);
  }
  if (!(total > 0.0)) return false;
  k.divide(b.trivial, n, root(total));

  for (size_t i = 0; i < n; ++i) {
    const uint32_t key = uint32_t(1013904223u + uint32_t(i) * 2654435761u);
    b.q[i] = fused(double(key) * 0x1p-32, 2.0, -1.0);
  }
  // Groups of four add rounded products; the remaining terms are fused.
  const size_t split = n / 4 * 4;
  double g = 0.0;
  for (size_t i = 0; i < split; ++i) g = g + b.q[i] * b.trivial[i];
  for (size_t i = split; i < n; ++i) g = fused(b.q[i], b.trivial[i], g);
  k.axpy(b.q, -g, b.trivial, n);
  for (size_t i = 0; i < n; ++i) b.pattern[i] = -1.0;
  return true;
}

// The iteration; `apply` forms block 6 = A*(block 5) and returns a status.
template <typename Apply>
kaldro_status iterate(const Kernels &k, const Blocks &b, size_t n, uint32_t max_iterations,
                      Apply &&apply) {
  uint32_t stable_run = 0;
  for (uint32_t it = 0; it < max_iterations; ++it) {
    k.multiply(b.so, b.scale, b.q, n);
    std::memset(b.product, 0, n * sizeof(double));
    KALDRO_TRY(apply());
    k.fma3(b.y, b.scale, b.product, b.q, n);
    const double h = -k.dot(b.y, b.trivial, n);
    k.axpy(b.y, h, b.trivial, n);
    const double m = k.max_square(b.y, n);
    if (m <= 0.0) break;
    std::memcpy(b.q, b.y, n * sizeof(double));
    k.divide(b.q, n, root(m));
    const bool stable = k.sign_pattern(b.q, b.pattern, n);
    if (stable && it >= kStableFrom) {
      if (stable_run > 3) break;
      ++stable_run;
    } else {
      stable_run = 0;
    }
  }
  return KALDRO_OK;
}

// One pass over the edge file: each full chunk of records goes to `action`, which
// returns a status.
template <typename Action>
kaldro_status file_pass(const char *path, Action &&action) {
  kaldro_plat_rstream stream;
  KALDRO_TRY(kaldro_plat_rstream_open(path, &stream));
  alignas(16) unsigned char chunk[kChunkBytes];
  kaldro_status status = KALDRO_OK;
  for (;;) {
    uint64_t got = 0;
    status = kaldro_plat_rstream_read(&stream, chunk, sizeof chunk, &got);
    if (status != KALDRO_OK || got == 0) break;
    if (got % sizeof(EdgeRecord) != 0) {
      status = KALDRO_ERR_INVALID;
      break;
    }
    status = action(chunk, size_t(got / sizeof(EdgeRecord)));
    if (status != KALDRO_OK || got < sizeof chunk) break;
  }
  kaldro_plat_rstream_close(&stream);
  return status;
}

}  // namespace

kaldro_status fiedler_sparse(const Kernels &k, uint32_t n, uint32_t edge_count,
                             const uint32_t *edge_src, const uint32_t *edge_dst,
                             const double *edge_weight, uint32_t max_iterations, double *out,
                             double *workspace, uint64_t workspace_doubles) {
  if (out == nullptr || workspace == nullptr) return KALDRO_ERR_NULL;
  if (edge_count > 0 && (edge_src == nullptr || edge_dst == nullptr)) return KALDRO_ERR_NULL;
  if (workspace_doubles < 8 * uint64_t(n)) return KALDRO_ERR_INVALID;
  if (n == 0) return KALDRO_OK;
  const size_t nn = n;
  std::memset(out, 0, nn * sizeof(double));
  if (n == 1) return KALDRO_OK;

  const Blocks b(workspace, nn);
  std::memset(b.degree, 0, nn * sizeof(double));
  for (size_t e = 0; e < edge_count; ++e) {
    const uint32_t u = edge_src[e], v = edge_dst[e];
    if (u >= n || v >= n) return KALDRO_ERR_INVALID;
    const double w = edge_weight != nullptr ? edge_weight[e] : 1.0;
    b.degree[u] += w;
    b.degree[v] += w;
  }
  if (!prepare(k, b, nn)) return KALDRO_OK;
  iterate(k, b, nn, max_iterations, [&] {
    k.edge_apply(b.product, b.so, edge_src, edge_dst, edge_weight, edge_count);
    return KALDRO_OK;
  });
  std::memcpy(out, b.q, nn * sizeof(double));
  return KALDRO_OK;
}

kaldro_status fiedler_sparse_file(const Kernels &k, uint32_t n, const char *path,
                                  uint32_t max_iterations, double *out, double *workspace,
                                  uint64_t workspace_doubles) {
  if (path == nullptr || out == nullptr || workspace == nullptr) return KALDRO_ERR_NULL;
  if (workspace_doubles < 8 * uint64_t(n)) return KALDRO_ERR_INVALID;
  if (n == 0) return KALDRO_OK;
  const size_t nn = n;
  std::memset(out, 0, nn * sizeof(double));
  if (n == 1) return KALDRO_OK;

  const Blocks b(workspace, nn);
  std::memset(b.degree, 0, nn * sizeof(double));
  KALDRO_TRY(file_pass(path, [&](const unsigned char *records, size_t count) {
    for (size_t e = 0; e < count; ++e) {
      EdgeRecord r;
      std::memcpy(&r, records + e * sizeof r, sizeof r);
      if (r.src >= n || r.dst >= n) return KALDRO_ERR_INVALID;
      b.degree[r.src] += r.weight;
      b.degree[r.dst] += r.weight;
    }
    return KALDRO_OK;
  }));
  if (!prepare(k, b, nn)) return KALDRO_OK;
  KALDRO_TRY(iterate(k, b, nn, max_iterations, [&] {
    return file_pass(path, [&](const unsigned char *records, size_t count) {
      const size_t applied = k.record_apply(b.product, b.so, records, count, n);
      return applied == count ? KALDRO_OK : KALDRO_ERR_INVALID;
    });
  }));
  std::memcpy(out, b.q, nn * sizeof(double));
  return KALDRO_OK;
}

}  // namespace linalg
}  // namespace kaldro

extern "C" KALDRO_API kaldro_status kaldro_laplacian_fiedler_sparse(
    uint32_t n, uint32_t edge_count, const uint32_t *edge_src, const uint32_t *edge_dst,
    const double *edge_weight, uint32_t max_iterations, double *out, double *workspace,
    uint64_t workspace_doubles) {
  return kaldro::linalg::fiedler_sparse(kaldro::linalg::active_kernels(), n, edge_count,
                                        edge_src, edge_dst, edge_weight, max_iterations, out,
                                        workspace, workspace_doubles);
}

extern "C" KALDRO_API kaldro_status kaldro_laplacian_fiedler_sparse_file(
    uint32_t n, const char *path, uint32_t max_iterations, double *out, double *workspace,
    uint64_t workspace_doubles) {
  return kaldro::linalg::fiedler_sparse_file(kaldro::linalg::active_kernels(), n, path,
                                             max_iterations, out, workspace, workspace_doubles);
}
