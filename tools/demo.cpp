// The tour behind `kaldro demo` (and `make demo`): each family shows a few calls on
// generated data, printing one readable line per step.
#include "tool.h"

#include <cinttypes>

namespace tool {
namespace {

int demo_frame() {
  std::printf("library   libkaldro %s, ABI %d\n", kaldro_version(), kaldro_abi_version());
  std::printf("processor sse2=%d avx=%d avx2=%d sha-ni=%d\n", kaldro_simd_has_sse2(),
              kaldro_simd_has_avx(), kaldro_simd_has_avx2(), kaldro_simd_has_shani());
  return kExitOk;
}

int demo_integers() {
  uint64_t g = 0, l = 0, p = 0, inv = 0, period = 0;
  kaldro_status st = kaldro_gcd(462, 1071, &g);
  if (st == KALDRO_OK) st = kaldro_lcm(4, 6, &l);
  if (st == KALDRO_OK) st = kaldro_mod_pow(2, 10, 1000, &p);
  if (st == KALDRO_OK) st = kaldro_mod_inv(3, 7, &inv);
  if (st == KALDRO_OK) st = kaldro_cyclic_period(2, 7, 10, &period);
  if (st != KALDRO_OK) return fail("demo", "integer arithmetic", st);
  std::printf("integers  gcd(462, 1071) = %" PRIu64 ", lcm(4, 6) = %" PRIu64
              ", 2^10 mod 1000 = %" PRIu64 ", 3^-1 mod 7 = %" PRIu64
              ", order of 2 mod 7 = %" PRIu64 "\n",
              g, l, p, inv, period);

  uint64_t primes[16];
  uint8_t exponents[16];
  uint32_t count = 0;
  const uint64_t n = 600851475143ull;
  st = kaldro_factor(n, primes, exponents, 16, &count);
  if (st != KALDRO_OK) return fail("demo", "factorisation", st);
  std::printf("integers  %" PRIu64 " =", n);
  for (uint32_t i = 0; i < count; ++i)
    std::printf("%s %" PRIu64 "^%u", i ? " *" : "", primes[i], unsigned(exponents[i]));
  std::printf("\n");
  return kExitOk;
}

}  // namespace

int run_demo(int, char **) {
  std::printf("kaldro demo: a tour of libkaldro\n");
  int (*const steps[])() = {demo_frame, demo_integers};
  for (auto step : steps) {
    const int rc = step();
    if (rc != kExitOk) return rc;
  }
  std::printf("demo finished\n");
  return kExitOk;
}

}  // namespace tool
