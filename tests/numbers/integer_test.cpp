// Integer arithmetic: the listed edge cases, status order, and differential checks
// against 128-bit arithmetic on random inputs, moduli near 2^64 included.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <random>
#include <vector>

namespace {

using u128 = unsigned __int128;
constexpr uint64_t kMax = UINT64_MAX;

uint64_t ref_mulmod(uint64_t a, uint64_t b, uint64_t m) { return uint64_t(u128(a) * b % m); }
uint64_t ref_powmod(uint64_t b, uint64_t e, uint64_t m) {
  if (m == 1) return 0;
  uint64_t r = 1;
  b %= m;
  while (e) {
    if (e & 1) r = ref_mulmod(r, b, m);
    b = ref_mulmod(b, b, m);
    e >>= 1;
  }
  return r;
}

std::vector<uint64_t> interesting_moduli(std::mt19937_64 &rng) {
  std::vector<uint64_t> ms = {1, 2, 3, 7, 1000, kMax, kMax - 1, kMax - 58, 1ull << 63,
                              (1ull << 63) - 25, (1ull << 32) + 15};
  for (int i = 0; i < 200; ++i) ms.push_back(rng() | 1);
  for (int i = 0; i < 200; ++i) ms.push_back((rng() >> (rng() % 63)) + 1);
  return ms;
}

TEST(Integer, NullOutIsCheckedFirst) {
  EXPECT_EQ(kaldro_gcd(1, 2, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_lcm(kMax, kMax - 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_mod_add(1, 2, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_mod_mul(1, 2, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_mod_pow(1, 2, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_mod_inv(0, 1ull << 63, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_three_cycle(1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_is_prime(7, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cyclic_period(0, 0, 0, nullptr), KALDRO_ERR_NULL);
  uint64_t p[1];
  uint8_t e[1];
  uint32_t c = 99;
  EXPECT_EQ(kaldro_factor(12, nullptr, e, 1, &c), KALDRO_ERR_NULL);
  EXPECT_EQ(c, 99u);
  EXPECT_EQ(kaldro_factor(12, p, nullptr, 1, &c), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_factor(12, p, e, 1, nullptr), KALDRO_ERR_NULL);
}

TEST(Integer, GcdAndLcm) {
  uint64_t r = 77;
  ASSERT_EQ(kaldro_gcd(0, 0, &r), KALDRO_OK);
  EXPECT_EQ(r, 0u);
  ASSERT_EQ(kaldro_gcd(12, 0, &r), KALDRO_OK);
  EXPECT_EQ(r, 12u);
  ASSERT_EQ(kaldro_gcd(0, 12, &r), KALDRO_OK);
  EXPECT_EQ(r, 12u);
  ASSERT_EQ(kaldro_lcm(0, 5, &r), KALDRO_OK);
  EXPECT_EQ(r, 0u);
  ASSERT_EQ(kaldro_lcm(4, 6, &r), KALDRO_OK);
  EXPECT_EQ(r, 12u);
  r = 77;
  EXPECT_EQ(kaldro_lcm(1ull << 32, (1ull << 32) + 1, &r), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(r, 77u);
  ASSERT_EQ(kaldro_lcm(kMax, kMax, &r), KALDRO_OK);
  EXPECT_EQ(r, kMax);
  ASSERT_EQ(kaldro_lcm(kMax, 1, &r), KALDRO_OK);
  EXPECT_EQ(r, kMax);
  EXPECT_EQ(kaldro_lcm(kMax, 2, &r), KALDRO_ERR_CAPACITY);

  std::mt19937_64 rng(1);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t a = rng() >> (rng() % 64), b = rng() >> (rng() % 64);
    uint64_t g;
    ASSERT_EQ(kaldro_gcd(a, b, &g), KALDRO_OK);
    if (g != 0) {
      ASSERT_EQ(a % g, 0u);
      ASSERT_EQ(b % g, 0u);
    } else {
      ASSERT_EQ(a | b, 0u);
    }
    uint64_t l = 0;
    const kaldro_status st = kaldro_lcm(a, b, &l);
    if (a == 0 || b == 0) {
      ASSERT_EQ(st, KALDRO_OK);
      ASSERT_EQ(l, 0u);
      continue;
    }
    const u128 exact = u128(a / g) * b;
    if (exact >> 64) {
      ASSERT_EQ(st, KALDRO_ERR_CAPACITY);
    } else {
      ASSERT_EQ(st, KALDRO_OK);
      ASSERT_EQ(l, uint64_t(exact));
    }
  }
}

TEST(Integer, ModularAddMulPowEdgeCases) {
  uint64_t r = 0;
  EXPECT_EQ(kaldro_mod_add(1, 1, 0, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_mul(1, 1, 0, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_pow(1, 1, 0, &r), KALDRO_ERR_INVALID);
  ASSERT_EQ(kaldro_mod_add(kMax, kMax, kMax, &r), KALDRO_OK);
  EXPECT_EQ(r, 0u);
  ASSERT_EQ(kaldro_mod_add(kMax - 1, kMax - 1, kMax, &r), KALDRO_OK);
  EXPECT_EQ(r, kMax - 2);
  ASSERT_EQ(kaldro_mod_mul(1ull << 63, 2, kMax, &r), KALDRO_OK);
  EXPECT_EQ(r, 1u);
  ASSERT_EQ(kaldro_mod_pow(0, 0, 7, &r), KALDRO_OK);
  EXPECT_EQ(r, 1u);
  ASSERT_EQ(kaldro_mod_pow(5, 0, 1, &r), KALDRO_OK);
  EXPECT_EQ(r, 0u);
  ASSERT_EQ(kaldro_mod_pow(2, 10, 1000, &r), KALDRO_OK);
  EXPECT_EQ(r, 24u);
  ASSERT_EQ(kaldro_mod_pow(kMax, kMax, kMax - 1, &r), KALDRO_OK);
  EXPECT_EQ(r, 1u);  // kMax = 1 (mod kMax - 1)
}

TEST(Integer, ModularArithmeticMatches128BitReference) {
  std::mt19937_64 rng(2);
  for (uint64_t m : interesting_moduli(rng)) {
    for (int i = 0; i < 40; ++i) {
      const uint64_t a = (i & 1) ? rng() : kMax - rng() % 4, b = rng();
      uint64_t r;
      ASSERT_EQ(kaldro_mod_add(a, b, m, &r), KALDRO_OK);
      ASSERT_EQ(r, uint64_t((u128(a % m) + b % m) % m));
      ASSERT_EQ(kaldro_mod_mul(a, b, m, &r), KALDRO_OK);
      ASSERT_EQ(r, ref_mulmod(a, b, m)) << a << " " << b << " " << m;
      const uint64_t e = (i % 3 == 0) ? rng() % 70 : rng();
      ASSERT_EQ(kaldro_mod_pow(a, e, m, &r), KALDRO_OK);
      ASSERT_EQ(r, ref_powmod(a, e, m));
    }
  }
}

TEST(Integer, ModularInverse) {
  uint64_t r = 42;
  ASSERT_EQ(kaldro_mod_inv(3, 7, &r), KALDRO_OK);
  EXPECT_EQ(r, 5u);
  r = 42;
  EXPECT_EQ(kaldro_mod_inv(2, 4, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_inv(0, 5, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_inv(10, 5, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_inv(1, 1, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_inv(1, 0, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_mod_inv(3, 1ull << 63, &r), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_mod_inv(0, kMax, &r), KALDRO_ERR_CAPACITY);  // capacity before a mod m
  EXPECT_EQ(r, 42u);
  ASSERT_EQ(kaldro_mod_inv(1, 2, &r), KALDRO_OK);
  EXPECT_EQ(r, 1u);

  std::mt19937_64 rng(3);
  for (int i = 0; i < 20000; ++i) {
    const uint64_t m = (rng() >> (1 + rng() % 62)) + 2;
    const uint64_t a = rng();
    uint64_t x = 0, g = 0;
    kaldro_gcd(a % m, m, &g);
    const kaldro_status st = kaldro_mod_inv(a, m, &x);
    if (a % m == 0 || g != 1) {
      ASSERT_EQ(st, KALDRO_ERR_INVALID);
    } else {
      ASSERT_EQ(st, KALDRO_OK);
      ASSERT_LT(x, m);
      ASSERT_EQ(ref_mulmod(a, x, m), 1u);
    }
  }
  const uint64_t big = (1ull << 63) - 25;  // the largest prime below 2^63
  ASSERT_EQ(kaldro_mod_inv(kMax, big, &r), KALDRO_OK);
  EXPECT_EQ(ref_mulmod(kMax, r, big), 1u);
}

TEST(Integer, ThreeCycle) {
  const uint64_t cases[][2] = {{0, 1}, {1, 2}, {2, 0}, {5, 0}, {kMax, 1}, {3, 1}};
  for (auto &c : cases) {
    uint64_t r;
    ASSERT_EQ(kaldro_three_cycle(c[0], &r), KALDRO_OK);
    EXPECT_EQ(r, c[1]) << c[0];
  }
}

bool ref_is_prime(uint64_t n) {
  if (n < 2) return false;
  for (uint64_t d = 2; d * d <= n; ++d)
    if (n % d == 0) return false;
  return true;
}

TEST(Integer, Primality) {
  for (uint64_t n : {0ull, 1ull, 9ull, 25ull, 1000001ull, 4ull, 49ull, 4294967297ull}) {
    uint8_t r = 7;
    ASSERT_EQ(kaldro_is_prime(n, &r), KALDRO_OK);
    EXPECT_EQ(r, 0) << n;
  }
  for (uint64_t n : {2ull, 3ull, 5ull, 7ull, 11ull, 1000003ull, 4294967291ull}) {
    uint8_t r = 7;
    ASSERT_EQ(kaldro_is_prime(n, &r), KALDRO_OK);
    EXPECT_EQ(r, 1) << n;
  }
  for (uint64_t n = 0; n < 20000; ++n) {
    uint8_t r;
    ASSERT_EQ(kaldro_is_prime(n, &r), KALDRO_OK);
    ASSERT_EQ(r != 0, ref_is_prime(n)) << n;
  }
}

TEST(Integer, Factorisation) {
  uint64_t p[16];
  uint8_t e[16];
  uint32_t c = 99;
  ASSERT_EQ(kaldro_factor(360, p, e, 16, &c), KALDRO_OK);
  ASSERT_EQ(c, 3u);
  EXPECT_EQ(p[0], 2u); EXPECT_EQ(e[0], 3);
  EXPECT_EQ(p[1], 3u); EXPECT_EQ(e[1], 2);
  EXPECT_EQ(p[2], 5u); EXPECT_EQ(e[2], 1);
  c = 99;
  ASSERT_EQ(kaldro_factor(1, p, e, 16, &c), KALDRO_OK);
  EXPECT_EQ(c, 0u);
  c = 99;
  ASSERT_EQ(kaldro_factor(0, p, e, 0, &c), KALDRO_OK);
  EXPECT_EQ(c, 0u);
  c = 99;
  EXPECT_EQ(kaldro_factor(14, p, e, 1, &c), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(c, 1u);
  EXPECT_EQ(p[0], 2u);
  EXPECT_EQ(e[0], 1);
  c = 99;
  EXPECT_EQ(kaldro_factor(97, p, e, 0, &c), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(c, 0u);
  EXPECT_EQ(kaldro_factor(8, p, e, 0, &c), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(kaldro_factor(1ull << 63, p, e, 1, &c), KALDRO_OK);
  ASSERT_EQ(c, 1u);
  EXPECT_EQ(e[0], 63);
  ASSERT_EQ(kaldro_factor(1000003ull * 999983ull * 999983ull, p, e, 2, &c), KALDRO_OK);
  ASSERT_EQ(c, 2u);
  EXPECT_EQ(p[0], 999983ull);
  EXPECT_EQ(e[0], 2);
  EXPECT_EQ(p[1], 1000003ull);
  EXPECT_EQ(e[1], 1);

  std::mt19937_64 rng(4);
  for (int i = 0; i < 3000; ++i) {
    const uint64_t n = (i < 1000) ? uint64_t(i) : (rng() >> 34) + 2;
    ASSERT_EQ(kaldro_factor(n, p, e, 16, &c), KALDRO_OK);
    uint64_t product = 1;
    for (uint32_t k = 0; k < c; ++k) {
      ASSERT_TRUE(ref_is_prime(p[k])) << n;
      if (k) {
        ASSERT_LT(p[k - 1], p[k]);
      }
      for (uint8_t t = 0; t < e[k]; ++t) product *= p[k];
    }
    ASSERT_EQ(n < 2 ? 1 : n, product) << n;
  }
}

TEST(Integer, CyclicPeriod) {
  uint64_t r = 42;
  ASSERT_EQ(kaldro_cyclic_period(2, 7, 10, &r), KALDRO_OK);
  EXPECT_EQ(r, 3u);
  r = 42;
  EXPECT_EQ(kaldro_cyclic_period(2, 4, 10, &r), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_cyclic_period(3, 7, 5, &r), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(r, 42u);
  ASSERT_EQ(kaldro_cyclic_period(3, 7, 6, &r), KALDRO_OK);
  EXPECT_EQ(r, 6u);
  EXPECT_EQ(kaldro_cyclic_period(2, 1, 10, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cyclic_period(2, 7, 0, &r), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cyclic_period(14, 7, 10, &r), KALDRO_ERR_INVALID);
  ASSERT_EQ(kaldro_cyclic_period(8, 7, 1, &r), KALDRO_OK);  // 8 = 1 (mod 7)
  EXPECT_EQ(r, 1u);
  ASSERT_EQ(kaldro_cyclic_period(kMax - 1, kMax, 2, &r), KALDRO_OK);  // -1 has order 2
  EXPECT_EQ(r, 2u);
}

}  // namespace
