// Cascade slot operations: the chiral flip (slot-order reversal, also in place), the
// chiral dual of an operator, sign and magnitude of a slot, reorientation, net
// chirality, the gcd of cyclic lengths and a signed best rational of a real value.
#include "cascade/cascade.h"

namespace kaldro {

void reverse_slots(const double *src, uint64_t n, double *dst) {
  const uint64_t half = n / 2;
  for (uint64_t i = 0; i < half; ++i) {
    const double lo = src[i], hi = src[n - 1 - i];
    dst[n - 1 - i] = lo;
    dst[i] = hi;
  }
  if ((n & 1) != 0 && dst != src) dst[half] = src[half];
}

}  // namespace kaldro

namespace {

void reverse_slots_i64(const int64_t *src, uint64_t n, int64_t *dst) {
  const uint64_t half = n / 2;
  for (uint64_t i = 0; i < half; ++i) {
    const int64_t lo = src[i], hi = src[n - 1 - i];
    dst[n - 1 - i] = lo;
    dst[i] = hi;
  }
  if ((n & 1) != 0 && dst != src) dst[half] = src[half];
}

// Rounds a non-negative finite v to the nearest integer, ties to even. Adding and
// removing 2^52 leaves exactly the rounded integer in the default rounding mode; from
// 2^52 on every double is already an integer.
double round_half_even(double v) {
  constexpr double kTwo52 = 4503599627370496.0;
  if (!(v < kTwo52)) return v;
  return (v + kTwo52) - kTwo52;
}

}  // namespace

extern "C" {

KALDRO_API kaldro_status kaldro_cascade_chiral_flip_i64(const int64_t *src, uint64_t n,
                                                        int64_t *dst) {
  if (n == 0) return KALDRO_OK;
  if (src == nullptr || dst == nullptr) return KALDRO_ERR_NULL;
  reverse_slots_i64(src, n, dst);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_chiral_flip_f64(const double *src, uint64_t n,
                                                        double *dst) {
  if (n == 0) return KALDRO_OK;
  if (src == nullptr || dst == nullptr) return KALDRO_ERR_NULL;
  kaldro::reverse_slots(src, n, dst);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_chiral_dual_f64(kaldro_cascade_operator op, void *ctx,
                                                        const double *src, uint64_t n,
                                                        double *out, double *scratch) {
  if (op == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (n == 0) return op(src, 0, out, ctx);
  if (src == nullptr || scratch == nullptr) return KALDRO_ERR_NULL;
  kaldro::reverse_slots(src, n, scratch);
  KALDRO_TRY(op(scratch, n, out, ctx));
  kaldro::reverse_slots(out, n, out);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_pin_slot_at_zero_f64(double x, int8_t *sign_out,
                                                             double *magnitude_out) {
  if (sign_out == nullptr || magnitude_out == nullptr) return KALDRO_ERR_NULL;
  if (x > 0) {
    *sign_out = 1;
    *magnitude_out = x;
  } else if (x < 0) {
    *sign_out = -1;
    *magnitude_out = -x;
  } else {  // either zero, or NaN
    *sign_out = 0;
    *magnitude_out = 0.0;
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_magnitude_f64(double x, double *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  *out = x > 0 ? x : (x < 0 ? -x : 0.0);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_reorient_i64(int32_t orientation, int64_t value,
                                                     int64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  // Negation in two's complement, so INT64_MIN maps to itself instead of overflowing.
  *out = orientation < 0
             ? static_cast<int64_t>(uint64_t{0} - static_cast<uint64_t>(value))
             : value;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_reorient_f64(int32_t orientation, double x,
                                                     double *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  *out = orientation < 0 ? -x : x;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_net_chirality_i8(const int8_t *signs, uint64_t n,
                                                         int8_t *out) {
  if (out == nullptr || (signs == nullptr && n != 0)) return KALDRO_ERR_NULL;
  int8_t net = 1;
  for (uint64_t i = 0; i < n; ++i) {
    if (signs[i] == 0) {
      net = 0;
      break;
    }
    if (signs[i] < 0) net = static_cast<int8_t>(-net);
  }
  *out = net;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cascade_cyclic_gcd_u64(uint64_t a, uint64_t b, uint64_t *out) {
  return kaldro_gcd(a, b, out);
}

KALDRO_API kaldro_status kaldro_cascade_best_rational_signed_f64(int64_t max_den, int64_t scale,
                                                                 int64_t *num_out,
                                                                 uint64_t *den_out, double x) {
  if (num_out == nullptr || den_out == nullptr) return KALDRO_ERR_NULL;
  if (max_den < 1 || scale < 1) return KALDRO_ERR_INVALID;
  const double c = x > 0 ? x : (x < 0 ? -x : 0.0);  // NaN counts as 0
  if (c < 1e-12) {
    *num_out = 0;
    *den_out = 1;
    return KALDRO_OK;
  }
  // The scaled value must be a finite integer below 2^63 before it is converted; the
  // same refusal then holds on every platform.
  const double rounded = round_half_even(c * static_cast<double>(scale));
  if (!(rounded < 9223372036854775808.0)) return KALDRO_ERR_CAPACITY;
  const int64_t d = static_cast<int64_t>(rounded);
  if (d <= 0) {
    *num_out = 0;
    *den_out = 1;
    return KALDRO_OK;
  }
  uint64_t num = 0, den = 1;
  KALDRO_TRY(kaldro_best_rational(static_cast<uint64_t>(d), static_cast<uint64_t>(scale),
                                  static_cast<uint64_t>(max_den), &num, &den));
  // num <= d < 2^63, so it and its negation fit.
  *num_out = x < 0 ? -static_cast<int64_t>(num) : static_cast<int64_t>(num);
  *den_out = den;
  return KALDRO_OK;
}

}  // extern "C"
