// Exact rational arithmetic on 64-bit numerators and denominators, the truncated
// exponential series, continued fractions, convergents and the convergent-only best
// rational. A product or sum that would leave 64 bits is refused, never rounded.
#include "frame/internal.h"

namespace {

constexpr uint64_t kSignedMax = static_cast<uint64_t>(INT64_MAX);
constexpr uint64_t kTopBit = uint64_t{1} << 63;

inline uint64_t magnitude(int64_t v) {
  return v < 0 ? uint64_t{0} - static_cast<uint64_t>(v) : static_cast<uint64_t>(v);
}

// Signed value of a magnitude (at most 2^63) with the given sign.
inline int64_t with_sign(uint64_t mag, bool negative) {
  return static_cast<int64_t>(negative ? uint64_t{0} - mag : mag);
}

// x * y, allowed only when |x| <= INT64_MAX / |y|; a zero factor always passes. So a
// factor of -2^63 never passes, even against 1.
inline bool signed_product(int64_t x, int64_t y, int64_t *out) {
  if (x == 0 || y == 0) {
    *out = 0;
    return true;
  }
  const uint64_t ax = magnitude(x), ay = magnitude(y);
  if (ax > kSignedMax / ay) return false;
  *out = with_sign(ax * ay, (x < 0) != (y < 0));
  return true;
}

// x * y, allowed only when the high half of the 128-bit product is zero.
inline bool unsigned_product(uint64_t x, uint64_t y, uint64_t *out) {
  const unsigned __int128 p = static_cast<unsigned __int128>(x) * y;
  if ((p >> 64) != 0) return false;
  *out = static_cast<uint64_t>(p);
  return true;
}

// s + t, allowed only when it stays within the signed 64-bit range.
inline bool signed_sum(int64_t s, int64_t t, int64_t *out) {
  if (s >= 1 && t > INT64_MAX - s) return false;
  if (s < 0 && t < INT64_MIN - s) return false;
  *out = s + t;
  return true;
}

// Writes s/d in lowest terms with the sign on the numerator; zero is written as 0/1.
void write_normal(int64_t s, uint64_t d, int64_t *out_num, uint64_t *out_den) {
  if (s == 0) {
    *out_num = 0;
    *out_den = 1;
    return;
  }
  uint64_t mag = magnitude(s);
  uint64_t g = 1;
  kaldro_gcd(mag, d, &g);
  mag /= g;
  *out_num = with_sign(mag, s < 0);
  *out_den = d / g;
}

}  // namespace

extern "C" {

KALDRO_API kaldro_status kaldro_rational_add(int64_t a_num, uint64_t a_den, int64_t b_num,
                                             uint64_t b_den, int64_t *out_num,
                                             uint64_t *out_den) {
  if (a_den == 0 || b_den == 0) return KALDRO_ERR_INVALID;
  if (a_den >= kTopBit || b_den >= kTopBit) return KALDRO_ERR_CAPACITY;
  int64_t x, y, s;
  uint64_t d;
  if (!signed_product(a_num, static_cast<int64_t>(b_den), &x)) return KALDRO_ERR_CAPACITY;
  if (!signed_product(b_num, static_cast<int64_t>(a_den), &y)) return KALDRO_ERR_CAPACITY;
  if (!signed_sum(x, y, &s)) return KALDRO_ERR_CAPACITY;
  if (!unsigned_product(a_den, b_den, &d)) return KALDRO_ERR_CAPACITY;
  write_normal(s, d, out_num, out_den);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_rational_mul(int64_t a_num, uint64_t a_den, int64_t b_num,
                                             uint64_t b_den, int64_t *out_num,
                                             uint64_t *out_den) {
  if (a_den == 0 || b_den == 0) return KALDRO_ERR_INVALID;
  uint64_t d;
  if (a_num == 0 || b_num == 0) {
    if (!unsigned_product(a_den, b_den, &d)) return KALDRO_ERR_CAPACITY;
    *out_num = 0;
    *out_den = 1;
    return KALDRO_OK;
  }
  int64_t s;
  if (!signed_product(a_num, b_num, &s)) return KALDRO_ERR_CAPACITY;
  if (!unsigned_product(a_den, b_den, &d)) return KALDRO_ERR_CAPACITY;
  write_normal(s, d, out_num, out_den);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_rational_div(int64_t a_num, uint64_t a_den, int64_t b_num,
                                             uint64_t b_den, int64_t *out_num,
                                             uint64_t *out_den) {
  if (b_num == 0 || a_den == 0 || b_den == 0) return KALDRO_ERR_INVALID;
  if (b_den >= kTopBit) return KALDRO_ERR_CAPACITY;
  int64_t x;
  uint64_t d;
  if (!signed_product(a_num, static_cast<int64_t>(b_den), &x)) return KALDRO_ERR_CAPACITY;
  if (!unsigned_product(magnitude(b_num), a_den, &d)) return KALDRO_ERR_CAPACITY;
  // |x| is at most INT64_MAX here, so flipping its sign cannot overflow.
  write_normal(b_num < 0 ? -x : x, d, out_num, out_den);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_rational_pow_uint(int64_t a_num, uint64_t a_den, uint32_t k,
                                                  int64_t *out_num, uint64_t *out_den) {
  if (out_num == nullptr || out_den == nullptr) return KALDRO_ERR_NULL;
  if (a_den == 0) return KALDRO_ERR_INVALID;
  if (k > 64) return KALDRO_ERR_CAPACITY;
  int64_t num = 1;
  uint64_t den = 1;
  for (uint32_t step = 0; step < k; ++step) {
    if (!signed_product(num, a_num, &num)) return KALDRO_ERR_CAPACITY;
    if (!unsigned_product(den, a_den, &den)) return KALDRO_ERR_CAPACITY;
  }
  write_normal(num, den, out_num, out_den);
  return KALDRO_OK;
}

// The sum over i = 0..n of x^i / i!, formed exactly over D = n! * x_den^n: term i is
// x_num^i * x_den^(n - i) * (n! / i!). The running power of |x_num| and i! are extended
// only between terms, so the last term never asks for a factor it does not use.
KALDRO_API kaldro_status kaldro_exp_series_truncate(int64_t x_num, uint64_t x_den, uint32_t n,
                                                    int64_t *out_num, uint64_t *out_den) {
  if (out_num != nullptr) *out_num = 0;
  if (out_den != nullptr) *out_den = 1;
  if (out_num == nullptr || out_den == nullptr) return KALDRO_ERR_NULL;
  if (x_den == 0) return KALDRO_ERR_INVALID;
  if (n > 20) return KALDRO_ERR_CAPACITY;

  uint64_t n_factorial = 1;
  for (uint32_t f = 2; f <= n; ++f) {
    if (!unsigned_product(n_factorial, f, &n_factorial)) return KALDRO_ERR_CAPACITY;
  }
  uint64_t den_power_n = 1;
  for (uint32_t e = 0; e < n; ++e) {
    if (!unsigned_product(den_power_n, x_den, &den_power_n)) return KALDRO_ERR_CAPACITY;
  }

  const uint64_t x_mag = magnitude(x_num);
  uint64_t x_power = 1;      // |x_num|^i
  uint64_t i_factorial = 1;  // i!
  int64_t sum = 0;
  for (uint32_t i = 0; i <= n; ++i) {
    uint64_t term = 1;
    for (uint32_t e = i; e < n; ++e) {
      if (!unsigned_product(term, x_den, &term)) return KALDRO_ERR_CAPACITY;
    }
    if (!unsigned_product(term, x_power, &term)) return KALDRO_ERR_CAPACITY;
    if (!unsigned_product(term, n_factorial / i_factorial, &term)) return KALDRO_ERR_CAPACITY;
    if (term >= kTopBit) return KALDRO_ERR_CAPACITY;
    const bool negative = x_num < 0 && (i & 1) != 0;
    if (!signed_sum(sum, with_sign(term, negative), &sum)) return KALDRO_ERR_CAPACITY;
    if (i < n) {
      if (!unsigned_product(x_power, x_mag, &x_power)) return KALDRO_ERR_CAPACITY;
      if (!unsigned_product(i_factorial, i + 1, &i_factorial)) return KALDRO_ERR_CAPACITY;
    }
  }

  uint64_t d;
  if (!unsigned_product(n_factorial, den_power_n, &d)) return KALDRO_ERR_CAPACITY;
  write_normal(sum, d, out_num, out_den);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_continued_fraction(uint64_t num, uint64_t den, uint64_t *terms,
                                                   uint32_t capacity, uint32_t *count) {
  if (count == nullptr) return KALDRO_ERR_NULL;
  *count = 0;
  if (den == 0) return KALDRO_ERR_INVALID;
  if (capacity == 0) return KALDRO_ERR_CAPACITY;
  if (terms == nullptr) return KALDRO_ERR_NULL;
  while (den != 0) {
    if (*count == capacity) return KALDRO_ERR_CAPACITY;
    terms[*count] = num / den;
    *count += 1;
    const uint64_t r = num % den;
    num = den;
    den = r;
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cf_convergents_int64(const int64_t *terms, uint64_t n,
                                                     int64_t *p, int64_t *q) {
  if (terms == nullptr || p == nullptr || q == nullptr) return KALDRO_ERR_NULL;
  if (n == 0 || n > 256) return KALDRO_ERR_INVALID;
  int64_t p1 = 1, p2 = 0;  // p_(i-1), p_(i-2)
  int64_t q1 = 0, q2 = 1;  // q_(i-1), q_(i-2)
  for (uint64_t i = 0; i < n; ++i) {
    int64_t pi, qi;
    if (!signed_product(terms[i], p1, &pi) || !signed_sum(pi, p2, &pi)) {
      return KALDRO_ERR_CAPACITY;
    }
    if (!signed_product(terms[i], q1, &qi) || !signed_sum(qi, q2, &qi)) {
      return KALDRO_ERR_CAPACITY;
    }
    p[i] = pi;
    q[i] = qi;
    p2 = p1;
    p1 = pi;
    q2 = q1;
    q1 = qi;
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_best_rational(uint64_t num, uint64_t den, uint64_t max_den,
                                              uint64_t *out_num, uint64_t *out_den) {
  if (out_num != nullptr) *out_num = 0;
  if (out_den != nullptr) *out_den = 1;
  if (out_num == nullptr || out_den == nullptr) return KALDRO_ERR_NULL;
  if (den == 0 || max_den == 0) return KALDRO_ERR_INVALID;
  uint64_t best_h = 0, best_k = 1;
  uint64_t h1 = 1, h2 = 0;  // h_(i-1), h_(i-2)
  uint64_t k1 = 0, k2 = 1;  // k_(i-1), k_(i-2)
  while (den != 0) {
    const uint64_t a = num / den;
    if (h1 != 0 && a > (UINT64_MAX - h2) / h1) break;
    if (k1 != 0 && a > (UINT64_MAX - k2) / k1) break;
    const uint64_t h = a * h1 + h2;
    const uint64_t k = a * k1 + k2;
    if (k > max_den) break;
    best_h = h;
    best_k = k;
    h2 = h1;
    h1 = h;
    k2 = k1;
    k1 = k;
    const uint64_t r = num % den;
    num = den;
    den = r;
  }
  *out_num = best_h;
  *out_den = best_k;
  return KALDRO_OK;
}

}  // extern "C"
