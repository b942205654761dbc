// Exact integer arithmetic on unsigned 64-bit values: gcd and lcm, modular add, multiply,
// power and inverse, primality and factorisation by trial division, multiplicative order.
// Modular products are formed by doubling, so no product ever needs more than 64 bits.
#include "frame/internal.h"

namespace {

// (x + y) mod m for x, y already below m, without overflow.
inline uint64_t add_reduced(uint64_t x, uint64_t y, uint64_t m) {
  return x < m - y ? x + y : x - (m - y);
}

// (a * b) mod m by 64 doubling steps, one per bit of the reduced b; m must be non-zero.
uint64_t mul_reduced(uint64_t a, uint64_t b, uint64_t m) {
  a %= m;
  b %= m;
  uint64_t acc = 0;
  for (int bit = 0; bit < 64; ++bit) {
    if ((b >> bit) & 1) acc = add_reduced(acc, a, m);
    a = add_reduced(a, a, m);
  }
  return acc;
}

uint64_t gcd_of(uint64_t a, uint64_t b) {
  while (b != 0) {
    const uint64_t r = a % b;
    a = b;
    b = r;
  }
  return a;
}

}  // namespace

extern "C" {

KALDRO_API kaldro_status kaldro_gcd(uint64_t a, uint64_t b, uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  *out = gcd_of(a, b);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_lcm(uint64_t a, uint64_t b, uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (a == 0 || b == 0) {
    *out = 0;
    return KALDRO_OK;
  }
  const uint64_t q = a / gcd_of(a, b);
  const unsigned __int128 product = static_cast<unsigned __int128>(q) * b;
  if ((product >> 64) != 0) return KALDRO_ERR_CAPACITY;
  *out = static_cast<uint64_t>(product);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_mod_add(uint64_t a, uint64_t b, uint64_t m, uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (m == 0) return KALDRO_ERR_INVALID;
  *out = add_reduced(a % m, b % m, m);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_mod_mul(uint64_t a, uint64_t b, uint64_t m, uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (m == 0) return KALDRO_ERR_INVALID;
  *out = mul_reduced(a, b, m);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_mod_pow(uint64_t base, uint64_t exponent, uint64_t m,
                                        uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (m == 0) return KALDRO_ERR_INVALID;
  if (m == 1) {
    *out = 0;
    return KALDRO_OK;
  }
  uint64_t result = 1;
  uint64_t b = base % m;
  for (int bit = 0; bit < 64; ++bit) {
    if (exponent & 1) result = mul_reduced(result, b, m);
    b = mul_reduced(b, b, m);
    exponent >>= 1;
  }
  *out = result;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_mod_inv(uint64_t a, uint64_t m, uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (m < 2) return KALDRO_ERR_INVALID;
  if (m >> 63) return KALDRO_ERR_CAPACITY;
  const uint64_t r = a % m;
  if (r == 0) return KALDRO_ERR_INVALID;
  // Extended Euclid carrying only the coefficient of r; m < 2^63 keeps it all signed.
  int64_t old_r = static_cast<int64_t>(r), cur_r = static_cast<int64_t>(m);
  int64_t old_t = 1, cur_t = 0;
  while (cur_r != 0) {
    const int64_t q = old_r / cur_r;
    const int64_t next_r = old_r - q * cur_r;
    const int64_t next_t = old_t - q * cur_t;
    old_r = cur_r;
    cur_r = next_r;
    old_t = cur_t;
    cur_t = next_t;
  }
  if (old_r != 1) return KALDRO_ERR_INVALID;
  int64_t x = old_t % static_cast<int64_t>(m);
  if (x < 0) x += static_cast<int64_t>(m);
  *out = static_cast<uint64_t>(x);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_three_cycle(uint64_t x, uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  *out = (x % 3 + 1) % 3;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_is_prime(uint64_t n, uint8_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  *out = 0;
  if (n < 2) return KALDRO_OK;
  if (n == 2 || n == 3) {
    *out = 1;
    return KALDRO_OK;
  }
  if (n % 2 == 0) return KALDRO_OK;
  if (n == 5 || n == 7) {
    *out = 1;
    return KALDRO_OK;
  }
  uint64_t d = 3;
  do {
    if (n % d == 0) return KALDRO_OK;
    d += 2;
  } while (d <= n / d);
  *out = 1;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_factor(uint64_t n, uint64_t *primes, uint8_t *exponents,
                                       uint32_t capacity, uint32_t *count) {
  if (primes == nullptr || exponents == nullptr || count == nullptr) return KALDRO_ERR_NULL;
  *count = 0;
  if (n < 2) return KALDRO_OK;
  uint32_t used = 0;
  uint64_t rest = n;
  if (rest % 2 == 0) {
    if (capacity == 0) return KALDRO_ERR_CAPACITY;
    const int twos = __builtin_ctzll(rest);
    primes[0] = 2;
    exponents[0] = static_cast<uint8_t>(twos);
    rest >>= twos;
    *count = used = 1;
  }
  if (rest >= 9) {
    uint64_t d = 3;
    do {
      if (rest % d == 0) {
        if (used >= capacity) return KALDRO_ERR_CAPACITY;
        uint8_t times = 0;
        do {
          rest /= d;
          ++times;
        } while (rest % d == 0);
        primes[used] = d;
        exponents[used] = times;
        *count = ++used;
      }
      d += 2;
    } while (d <= rest / d);
  }
  if (rest >= 2) {
    if (used >= capacity) return KALDRO_ERR_CAPACITY;
    primes[used] = rest;
    exponents[used] = 1;
    *count = ++used;
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_cyclic_period(uint64_t a, uint64_t m, uint64_t limit,
                                              uint64_t *out) {
  if (out == nullptr) return KALDRO_ERR_NULL;
  if (m < 2 || limit == 0 || a % m == 0) return KALDRO_ERR_INVALID;
  const uint64_t c = a % m;
  uint64_t v = 1;
  for (uint64_t k = 1; k <= limit; ++k) {
    KALDRO_TRY(kaldro_mod_mul(v, c, m, &v));
    if (v == 1) {
      *out = k;
      return KALDRO_OK;
    }
  }
  return KALDRO_ERR_CAPACITY;
}

}  // extern "C"
