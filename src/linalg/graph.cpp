// Dense graph matrices from an undirected, weighted edge list: adjacency, combinatorial
// Laplacian and symmetric normalised Laplacian.
#include <cstring>

#include "frame/internal.h"
#include "linalg/linalg.h"

namespace kaldro {
namespace linalg {
namespace {

enum class Form { adjacency, laplacian, normalized };

// Sum of row i's entries off the diagonal, in increasing column order from 0.0.
double off_diagonal_sum(const double *row, size_t n, size_t i) {
  double d = 0.0;
  for (size_t j = 0; j < n; ++j)
    if (j != i) d = d + row[j];
  return d;
}

kaldro_status graph_matrix(Form form, uint32_t n, uint32_t edge_count, const uint32_t *src,
                           const uint32_t *dst, const double *weight, double *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (edge_count > 0 && (src == nullptr || dst == nullptr)) return KALDRO_ERR_NULL;
  const size_t nn = n;
  if (nn > 0) std::memset(out, 0, nn * nn * sizeof(double));
  if (edge_count == 0 && nn == 0) return KALDRO_OK;

  for (size_t e = 0; e < edge_count; ++e) {
    const uint32_t u = src[e], v = dst[e];
    if (u >= n || v >= n) return KALDRO_ERR_INVALID;
    const double w = weight != nullptr ? weight[e] : 1.0;
    out[u * nn + v] += w;
    out[v * nn + u] += w;
  }

  if (form == Form::laplacian) {
    for (size_t i = 0; i < nn; ++i) {
      double *row = out + i * nn;
      const double d = off_diagonal_sum(row, nn, i);
      for (size_t j = 0; j < nn; ++j) row[j] = j == i ? d : -row[j];
    }
  } else if (form == Form::normalized) {
    // The diagonal first holds s_i = 1/sqrt(d_i) (0 without positive degree).
    for (size_t i = 0; i < nn; ++i) {
      double *row = out + i * nn;
      const double d = off_diagonal_sum(row, nn, i);
      row[i] = d > 0.0 ? 1.0 / root(d) : 0.0;
    }
    for (size_t j = 0; j < nn; ++j) {
      double *row = out + j * nn;
      const double sj = row[j];
      for (size_t k = 0; k < nn; ++k)
        if (k != j) row[k] = out[k * nn + k] * (sj * -row[k]);
    }
    for (size_t i = 0; i < nn; ++i) {
      double *diag = out + i * nn + i;
      *diag = *diag != 0.0 ? 1.0 : 0.0;
    }
  }
  return KALDRO_OK;
}

}  // namespace
}  // namespace linalg
}  // namespace kaldro

using kaldro::linalg::Form;

extern "C" KALDRO_API kaldro_status kaldro_graph_dense_adjacency(uint32_t n, uint32_t edge_count,
                                                                 const uint32_t *edge_src,
                                                                 const uint32_t *edge_dst,
                                                                 const double *edge_weight,
                                                                 double *out) {
  return kaldro::linalg::graph_matrix(Form::adjacency, n, edge_count, edge_src, edge_dst,
                                      edge_weight, out);
}

extern "C" KALDRO_API kaldro_status kaldro_graph_dense_laplacian(uint32_t n, uint32_t edge_count,
                                                                 const uint32_t *edge_src,
                                                                 const uint32_t *edge_dst,
                                                                 const double *edge_weight,
                                                                 double *out) {
  return kaldro::linalg::graph_matrix(Form::laplacian, n, edge_count, edge_src, edge_dst,
                                      edge_weight, out);
}

extern "C" KALDRO_API kaldro_status kaldro_graph_normalized_laplacian(
    uint32_t n, uint32_t edge_count, const uint32_t *edge_src, const uint32_t *edge_dst,
    const double *edge_weight, double *out) {
  return kaldro::linalg::graph_matrix(Form::normalized, n, edge_count, edge_src, edge_dst,
                                      edge_weight, out);
}
