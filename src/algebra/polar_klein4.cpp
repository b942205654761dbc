// Polar ({-1, 0, +1}) and Klein-four ({0, 1, 2, 3} under exclusive or) hypervectors, one
// element per byte. Elements are checked position by position as the work proceeds, so
// the outputs and counts of positions before an invalid element are already written.
#include "frame/internal.h"

namespace {

// Valid polar bytes are 0, 1 and 255 (-1).
inline bool polar_ok(int8_t e) { return e >= -1 && e <= 1; }
inline bool klein4_ok(uint8_t e) { return e <= 3; }

}  // namespace

extern "C" {

KALDRO_API kaldro_status kaldro_polar_bind(const int8_t *a, const int8_t *b, uint32_t len,
                                           int8_t *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  for (uint32_t i = 0; i < len; ++i) {
    const int8_t x = a[i];
    if (!polar_ok(x)) return KALDRO_ERR_INVALID;
    const int8_t y = b[i];
    if (!polar_ok(y)) return KALDRO_ERR_INVALID;
    out[i] = int8_t(x * y);
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_polar_bundle(const int8_t *const *vectors, uint32_t count,
                                             uint32_t len, int8_t *out) {
  if (vectors == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (count == 0 || len == 0) return KALDRO_ERR_INVALID;
  for (uint32_t i = 0; i < len; ++i) {
    int64_t sum = 0;
    for (uint32_t v = 0; v < count; ++v) {
      const int8_t *vec = vectors[v];
      if (vec == nullptr) return KALDRO_ERR_NULL;
      const int8_t e = vec[i];
      if (!polar_ok(e)) return KALDRO_ERR_INVALID;
      sum += e;
    }
    out[i] = int8_t(sum > 0 ? 1 : (sum < 0 ? -1 : 0));
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_polar_similarity(const int8_t *a, const int8_t *b,
                                                 uint32_t len, int skip_zero, double *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  uint64_t agreeing = 0, considered = 0;
  for (uint32_t i = 0; i < len; ++i) {
    const int8_t x = a[i];
    if (!polar_ok(x)) return KALDRO_ERR_INVALID;
    const int8_t y = b[i];
    if (!polar_ok(y)) return KALDRO_ERR_INVALID;
    if (skip_zero != 0 && (x == 0 || y == 0)) continue;
    ++considered;
    if (x == y) ++agreeing;
  }
  *out = considered == 0 ? 0.0 : double(agreeing) / double(considered);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_polar_density(const int8_t *a, uint32_t len, double *out) {
  if (a == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  uint64_t nonzero = 0;
  for (uint32_t i = 0; i < len; ++i) {
    if (!polar_ok(a[i])) return KALDRO_ERR_INVALID;
    if (a[i] != 0) ++nonzero;
  }
  *out = double(nonzero) / double(len);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_bind(const uint8_t *a, const uint8_t *b,
                                            uint32_t len, uint8_t *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  for (uint32_t i = 0; i < len; ++i) {
    const uint8_t x = a[i];
    if (!klein4_ok(x)) return KALDRO_ERR_INVALID;
    const uint8_t y = b[i];
    if (!klein4_ok(y)) return KALDRO_ERR_INVALID;
    out[i] = uint8_t(x ^ y);
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_bundle(const uint8_t *const *vectors, uint32_t count,
                                              uint32_t len, uint8_t *out) {
  if (vectors == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (count == 0 || len == 0) return KALDRO_ERR_INVALID;
  const uint32_t half = count / 2;
  for (uint32_t i = 0; i < len; ++i) {
    uint32_t bit0 = 0, bit1 = 0;
    for (uint32_t v = 0; v < count; ++v) {
      const uint8_t *vec = vectors[v];
      if (vec == nullptr) return KALDRO_ERR_NULL;
      const uint8_t e = vec[i];
      if (!klein4_ok(e)) return KALDRO_ERR_INVALID;
      bit0 += e & 1u;
      bit1 += e >> 1;
    }
    out[i] = uint8_t((bit1 > half ? 2 : 0) | (bit0 > half ? 1 : 0));
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_similarity(const uint8_t *a, const uint8_t *b,
                                                  uint32_t len, double *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  uint64_t equal = 0;
  for (uint32_t i = 0; i < len; ++i) {
    if (!klein4_ok(a[i]) || !klein4_ok(b[i])) return KALDRO_ERR_INVALID;
    if (a[i] == b[i]) ++equal;
  }
  *out = double(equal) / double(len);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_triality_cycle(const uint8_t *in, uint32_t len,
                                                      int inverse, uint8_t *out) {
  if (in == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  // The triality automorphism cycles the three non-zero elements 1 -> 2 -> 3 -> 1.
  static const uint8_t forward[4] = {0, 2, 3, 1};
  static const uint8_t backward[4] = {0, 3, 1, 2};
  const uint8_t *map = inverse != 0 ? backward : forward;
  for (uint32_t i = 0; i < len; ++i) {
    const uint8_t e = in[i];
    if (!klein4_ok(e)) return KALDRO_ERR_INVALID;
    out[i] = map[e];
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_bundle_accumulate(uint32_t *acc, const uint8_t *v,
                                                         uint64_t len) {
  if (acc == nullptr || v == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  uint32_t *bit0 = acc + 1, *bit1 = acc + 1 + len;
  for (uint64_t i = 0; i < len; ++i) {
    const uint8_t e = v[i];
    if (!klein4_ok(e)) return KALDRO_ERR_INVALID;
    bit0[i] += e & 1u;
    bit1[i] += e >> 1;
  }
  acc[0] += 1;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_bundle_resolve(const uint32_t *acc, uint8_t *out,
                                                      uint64_t len) {
  if (acc == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  const uint32_t threshold = acc[0] / 2;
  const uint32_t *bit0 = acc + 1, *bit1 = acc + 1 + len;
  for (uint64_t i = 0; i < len; ++i)
    out[i] = uint8_t((bit1[i] > threshold ? 2 : 0) + (bit0[i] > threshold ? 1 : 0));
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_klein4_cooccurrence_fold(const uint8_t *codebook,
                                                         uint32_t n_symbols,
                                                         const uint32_t *sequence,
                                                         uint32_t seq_len, uint32_t window,
                                                         uint64_t dim, uint32_t *table) {
  if (codebook == nullptr || sequence == nullptr || table == nullptr) return KALDRO_ERR_NULL;
  if (n_symbols == 0 || window == 0 || dim == 0) return KALDRO_ERR_INVALID;
  const uint64_t row_len = 2 * dim + 1;
  for (uint64_t k = 0; k < uint64_t(n_symbols) * row_len; ++k) table[k] = 0;
  for (uint32_t i = 0; i < seq_len; ++i) {
    const uint32_t s = sequence[i];
    if (s >= n_symbols) return KALDRO_ERR_INVALID;
    uint32_t *row = table + uint64_t(s) * row_len;
    const uint32_t first = i > window ? i - window : 0;
    const uint64_t stop = uint64_t(i) + window + 1;
    const uint32_t last = stop < seq_len ? uint32_t(stop) : seq_len;  // exclusive
    for (uint32_t j = first; j < last; ++j) {
      if (j == i) continue;
      const uint32_t t = sequence[j];
      if (t >= n_symbols) return KALDRO_ERR_INVALID;
      const uint8_t *code = codebook + uint64_t(t) * dim;
      for (uint64_t k = 0; k < dim; ++k) {
        const uint8_t e = code[k];
        if (!klein4_ok(e)) return KALDRO_ERR_INVALID;
        row[1 + k] += e & 1u;
        row[1 + dim + k] += e >> 1;
      }
      row[0] += 1;
    }
  }
  return KALDRO_OK;
}

}  // extern "C"
