// Circular autocorrelation by direct summation, and the exact transform of integer
// sequences of power-of-two length as integer coordinates over the powers of the root
// of unity.
#include "elementary/elementary.h"
#include "frame/internal.h"

using namespace kaldro;

extern "C" {

KALDRO_API kaldro_status kaldro_autocorrelation_f64(const double *x, uint64_t n, double *out) {
  if (n == 0) return KALDRO_OK;
  if (!x || !out) return KALDRO_ERR_NULL;
#if defined(__x86_64__)
  if (elementary_avx2_tier()) {
    avx2::autocorrelation(x, n, out);
    return KALDRO_OK;
  }
#endif
  portable::autocorrelation(x, n, out);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_exact_dft_i64(uint32_t n, uint32_t inverse, const int64_t *x,
                                              const int64_t *y, int64_t *x_out,
                                              int64_t *y_out) {
  if (!x || !y || !x_out || !y_out) return KALDRO_ERR_NULL;
  if (n < 2 || (n & (n - 1)) != 0) return KALDRO_ERR_INVALID;
  const uint32_t mask = n - 1, h = n / 2;
  for (uint32_t i = 0; i < n; ++i) {
    // Wrapping sums: accumulate as unsigned words.
    uint64_t *xr = reinterpret_cast<uint64_t *>(x_out + uint64_t(i) * h);
    uint64_t *yr = reinterpret_cast<uint64_t *>(y_out + uint64_t(i) * h);
    for (uint32_t t = 0; t < h; ++t) xr[t] = yr[t] = 0;
    uint32_t g = 0;  // i * j mod n
    for (uint32_t j = 0; j < n; ++j) {
      const uint32_t power = inverse ? (n - g) & mask : g;
      const uint64_t xv = uint64_t(x[j]), yv = uint64_t(y[j]);
      if (power < h) {
        xr[power] += xv;
        yr[power] += yv;
      } else {  // w^g = -w^(g - h)
        xr[power - h] -= xv;
        yr[power - h] -= yv;
      }
      g = (g + i) & mask;
    }
  }
  return KALDRO_OK;
}

}  // extern "C"
