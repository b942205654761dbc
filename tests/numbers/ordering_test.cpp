// Ordering patterns: the reversal permutation and the byte mirror, their empty and
// null cases, and the refusal of lengths whose indices do not fit a signed 32-bit entry.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <random>
#include <vector>

namespace {

TEST(ReverseOrder, ListedCases) {
  int32_t out[4] = {9, 9, 9, 9};
  ASSERT_EQ(kaldro_reverse_order(4, out), KALDRO_OK);
  EXPECT_EQ(std::vector<int32_t>(out, out + 4), (std::vector<int32_t>{3, 2, 1, 0}));
  out[0] = 9;
  ASSERT_EQ(kaldro_reverse_order(1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0);
  EXPECT_EQ(kaldro_reverse_order(0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_reverse_order(1, nullptr), KALDRO_ERR_NULL);
}

TEST(ReverseOrder, IsAnInvolution) {
  const uint32_t n = 1001;
  std::vector<int32_t> perm(n), twice(n);
  ASSERT_EQ(kaldro_reverse_order(n, perm.data()), KALDRO_OK);
  for (uint32_t i = 0; i < n; ++i) twice[i] = perm[static_cast<uint32_t>(perm[i])];
  for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(twice[i], static_cast<int32_t>(i));
}

// Lengths above 2^31 would need indices that a signed 32-bit entry cannot hold; they are
// refused before anything is written (so a small buffer is safe here).
TEST(ReverseOrder, RefusesIndicesBeyondInt32) {
  int32_t out[2] = {9, 9};
  EXPECT_EQ(kaldro_reverse_order((1u << 31) + 1, out), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_reverse_order(UINT32_MAX, out), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_reverse_order(UINT32_MAX, nullptr), KALDRO_ERR_NULL);
  EXPECT_TRUE(out[0] == 9 && out[1] == 9);
}

TEST(MirrorPattern, ListedCasesAndNulls) {
  const uint8_t in[3] = {1, 2, 3};
  uint8_t out[3] = {0, 0, 0};
  ASSERT_EQ(kaldro_mirror_pattern(in, 3, out), KALDRO_OK);
  EXPECT_TRUE(out[0] == 3 && out[1] == 2 && out[2] == 1);
  EXPECT_EQ(kaldro_mirror_pattern(nullptr, 0, nullptr), KALDRO_OK);
  EXPECT_EQ(kaldro_mirror_pattern(nullptr, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_mirror_pattern(in, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(out[0], 3);
}

TEST(MirrorPattern, RandomBytes) {
  std::mt19937 rng(5);
  for (uint32_t n : {1u, 2u, 7u, 64u, 1000u}) {
    std::vector<uint8_t> in(n), out(n + 1, 0xAA);
    for (auto &b : in) b = static_cast<uint8_t>(rng());
    ASSERT_EQ(kaldro_mirror_pattern(in.data(), n, out.data()), KALDRO_OK);
    for (uint32_t i = 0; i < n; ++i) ASSERT_EQ(out[i], in[n - 1 - i]);
    EXPECT_EQ(out[n], 0xAA);  // nothing past the n bytes
  }
}

}  // namespace
