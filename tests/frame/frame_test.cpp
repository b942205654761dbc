// Identity queries, capability queries, tier selection and the shared internal helpers.
#include <gtest/gtest.h>

#include <cstdlib>
#include <cstring>

#include "frame/internal.h"

namespace {

struct EnvGuard {
  const char *name;
  explicit EnvGuard(const char *n) : name(n) { unsetenv(name); }
  ~EnvGuard() { unsetenv(name); }
  void set(const char *value) { setenv(name, value, 1); }
};

TEST(Identity, VersionAndAbi) {
  EXPECT_STREQ(kaldro_version(), "0.8.2");
  EXPECT_EQ(kaldro_version(), kaldro_version());
  EXPECT_EQ(kaldro_abi_version(), 3);
}

TEST(Capabilities, AreZeroOrOneAndConsistent) {
  const int sse2 = kaldro_simd_has_sse2(), avx = kaldro_simd_has_avx();
  const int avx2 = kaldro_simd_has_avx2(), shani = kaldro_simd_has_shani();
  for (int v : {sse2, avx, avx2, shani}) EXPECT_TRUE(v == 0 || v == 1);
  if (avx2) {
    EXPECT_EQ(avx, 1);
  }
#if defined(__x86_64__)
  EXPECT_EQ(sse2, 1);  // part of the x86-64 baseline
  EXPECT_EQ(avx2 == 1, __builtin_cpu_supports("avx2") != 0);
  EXPECT_EQ(avx == 1, __builtin_cpu_supports("avx") != 0);
#else
  EXPECT_EQ(sse2 + avx + avx2 + shani, 0);
#endif
  EXPECT_EQ(kaldro_simd_has_avx2(), avx2);  // cached, stable
}

TEST(Tier, FollowsTheEnvironmentAsAtoiDoes) {
  EnvGuard env("KALDRO_SHA256_FORCE_TIER");
  EXPECT_EQ(kaldro_simd_tier(env.name, 0, 2), 0);
  EXPECT_EQ(kaldro_simd_tier(env.name, 2, 2), 2);
  EXPECT_EQ(kaldro_simd_tier(env.name, 5, 2), 2);
  EXPECT_EQ(kaldro_simd_tier(env.name, -4, 2), 0);
  env.set("1");
  EXPECT_EQ(kaldro_simd_tier(env.name, 0, 2), 1);
  env.set("7");
  EXPECT_EQ(kaldro_simd_tier(env.name, 0, 2), 2);
  env.set("-3");
  EXPECT_EQ(kaldro_simd_tier(env.name, 0, 2), 0);
  env.set("abc");
  EXPECT_EQ(kaldro_simd_tier(env.name, 2, 2), 0);
  env.set("");
  EXPECT_EQ(kaldro_simd_tier(env.name, 2, 2), 0);
  env.set("  +1xyz");
  EXPECT_EQ(kaldro_simd_tier(env.name, 0, 2), 1);
  env.set("2");
  EXPECT_EQ(kaldro_simd_tier(env.name, 0, 1), 1);
  // A fresh read on every call: the change is seen at once.
  env.set("0");
  EXPECT_EQ(kaldro_simd_tier(env.name, 2, 2), 0);
}

TEST(Carver, CarvesFrontToBackWithAlignmentFromTheBase) {
  alignas(16) uint8_t region[64];
  kaldro::Carver c(region + 1, 40);  // offsets count from the region's start
  EXPECT_EQ(c.take(3), region + 1);
  EXPECT_EQ(c.take(8, 8), region + 1 + 8);
  EXPECT_EQ(c.used, 16u);
  EXPECT_TRUE(c.fits(24));
  EXPECT_FALSE(c.fits(25));
  EXPECT_EQ(c.take(25), nullptr);
  EXPECT_EQ(c.used, 16u);  // a refused area consumes nothing
  EXPECT_EQ(c.take(24), region + 1 + 16);
  EXPECT_EQ(c.remaining(), 0u);
  EXPECT_EQ(c.take(0), region + 1 + 40);
  EXPECT_EQ(c.take(0, 16), nullptr);  // 48 lies beyond the end
  EXPECT_EQ(c.take_array<uint64_t>(UINT64_MAX / 4), nullptr);
  EXPECT_EQ(kaldro::align_up(UINT64_MAX - 2, 16), UINT64_MAX & ~uint64_t(15));
}

TEST(Hex, EncodesLowercaseAndDecodesEitherCase) {
  const uint8_t bytes[] = {0x00, 0x0f, 0xa5, 0xff, 0x10};
  char text[11] = {};
  kaldro::hex_encode(bytes, 5, text);
  EXPECT_STREQ(text, "000fa5ff10");
  uint8_t back[5];
  ASSERT_TRUE(kaldro::hex_decode("000FA5fF10", 5, back));
  EXPECT_EQ(std::memcmp(back, bytes, 5), 0);
  EXPECT_FALSE(kaldro::hex_decode("0g", 1, back));
  EXPECT_FALSE(kaldro::hex_decode("x0", 1, back));
  for (int v = 0; v < 256; ++v) {
    const uint8_t b = uint8_t(v);
    char t[2];
    uint8_t r = 0;
    kaldro::hex_encode(&b, 1, t);
    ASSERT_TRUE(kaldro::hex_decode(t, 1, &r));
    EXPECT_EQ(r, b);
  }
}

TEST(Fused, RoundsOnce) {
  // (1 + 2^-30)^2 - 1 loses the 2^-60 term without fusion.
  const double a = 1.0 + 0x1p-30;
  EXPECT_EQ(kaldro::fused(a, a, -1.0), 0x1p-29 + 0x1p-60);
}

}  // namespace
