// Hamming code: the listed cases, status order and untouched outputs on failure, encoding
// against a model built from the parity rule for every r, and exhaustive single-bit
// correction for small r (sampled flips up to r = 16).
#include <gtest/gtest.h>

#include <kaldro.h>

#include <random>
#include <vector>

namespace {

using Bits = std::vector<uint8_t>;

uint64_t code_len(uint32_t r) { return (uint64_t(1) << r) - 1; }

// The model: data bits at the non-power-of-two positions, then each parity bit set so
// that the positions with bit j of their number set hold an even count of ones.
Bits model_encode(const Bits &data, uint32_t r) {
  const uint64_t n = code_len(r);
  Bits cw(n, 0);
  size_t next = 0;
  for (uint64_t pos = 1; pos <= n; ++pos)
    if ((pos & (pos - 1)) != 0) cw[pos - 1] = data[next++];
  for (uint32_t j = 0; j < r; ++j) {
    uint8_t parity = 0;
    for (uint64_t pos = 1; pos <= n; ++pos)
      if ((pos >> j) & 1) parity ^= cw[pos - 1];
    cw[(uint64_t(1) << j) - 1] = parity;
  }
  return cw;
}

Bits random_bits(size_t n, std::mt19937 &rng) {
  Bits b(n);
  for (auto &x : b) x = uint8_t(rng() & 1);
  return b;
}

TEST(Hamming, ListedCases) {
  const Bits data = {1, 0, 1, 1};
  Bits cw(7, 9);
  ASSERT_EQ(kaldro_hamming_encode(data.data(), 4, 3, cw.data()), KALDRO_OK);
  EXPECT_EQ(cw, (Bits{0, 1, 1, 0, 0, 1, 1}));
  int32_t s = -1;
  ASSERT_EQ(kaldro_hamming_syndrome(cw.data(), 7, &s), KALDRO_OK);
  EXPECT_EQ(s, 0);

  Bits flipped = cw;
  flipped[4] ^= 1;  // position 5
  ASSERT_EQ(kaldro_hamming_syndrome(flipped.data(), 7, &s), KALDRO_OK);
  EXPECT_EQ(s, 5);
  Bits out(4, 9);
  ASSERT_EQ(kaldro_hamming_decode_correct(flipped.data(), 7, out.data(), &s), KALDRO_OK);
  EXPECT_EQ(out, data);
  EXPECT_EQ(s, 5);
  Bits expect_unchanged = cw;
  expect_unchanged[4] ^= 1;
  EXPECT_EQ(flipped, expect_unchanged);  // the codeword is not modified

  Bits parity_flip = cw;
  parity_flip[3] ^= 1;  // position 4, a parity bit
  ASSERT_EQ(kaldro_hamming_decode_correct(parity_flip.data(), 7, out.data(), &s), KALDRO_OK);
  EXPECT_EQ(s, 4);
  EXPECT_EQ(out, data);

  const uint8_t one = 1;
  Bits small(3, 9);
  ASSERT_EQ(kaldro_hamming_encode(&one, 1, 2, small.data()), KALDRO_OK);
  EXPECT_EQ(small, (Bits{1, 1, 1}));
  uint8_t back = 9;
  ASSERT_EQ(kaldro_hamming_decode_correct(small.data(), 3, &back, &s), KALDRO_OK);
  EXPECT_EQ(back, 1);
  EXPECT_EQ(s, 0);
}

TEST(Hamming, StatusOrderAndNothingWrittenOnFailure) {
  Bits data(11, 0), cw(15, 7);
  EXPECT_EQ(kaldro_hamming_encode(nullptr, 5, 1, cw.data()), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hamming_encode(data.data(), 5, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hamming_encode(data.data(), 4, 1, cw.data()), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hamming_encode(data.data(), 4, 17, cw.data()), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hamming_encode(data.data(), 4, 0, cw.data()), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hamming_encode(data.data(), 5, 3, cw.data()), KALDRO_ERR_INVALID);
  data[10] = 2;
  EXPECT_EQ(kaldro_hamming_encode(data.data(), 11, 4, cw.data()), KALDRO_ERR_INVALID);
  EXPECT_EQ(cw, Bits(15, 7));

  int32_t s = 99;
  Bits out(11, 7);
  EXPECT_EQ(kaldro_hamming_syndrome(nullptr, 8, &s), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hamming_syndrome(cw.data(), 8, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hamming_decode_correct(cw.data(), 8, nullptr, &s), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hamming_decode_correct(nullptr, 8, out.data(), &s), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hamming_decode_correct(cw.data(), 8, out.data(), nullptr), KALDRO_ERR_NULL);
  for (uint64_t n : {uint64_t(0), uint64_t(1), uint64_t(8), uint64_t(14), uint64_t(16),
                     code_len(17), UINT64_MAX}) {
    EXPECT_EQ(kaldro_hamming_syndrome(cw.data(), n, &s), KALDRO_ERR_INVALID) << n;
    EXPECT_EQ(kaldro_hamming_decode_correct(cw.data(), n, out.data(), &s), KALDRO_ERR_INVALID) << n;
  }
  // Byte 7 everywhere: a valid length, but bytes outside the alphabet.
  EXPECT_EQ(kaldro_hamming_syndrome(cw.data(), 15, &s), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hamming_decode_correct(cw.data(), 15, out.data(), &s), KALDRO_ERR_INVALID);
  EXPECT_EQ(s, 99);
  EXPECT_EQ(out, Bits(11, 7));
}

TEST(Hamming, EncodingMatchesTheParityModelForEveryR) {
  std::mt19937 rng(21);
  for (uint32_t r = 2; r <= 16; ++r) {
    const uint64_t n = code_len(r), k = n - r;
    for (int trial = 0; trial < (r <= 10 ? 8 : 1); ++trial) {
      const Bits data = random_bits(k, rng);
      Bits cw(n, 5);
      ASSERT_EQ(kaldro_hamming_encode(data.data(), k, r, cw.data()), KALDRO_OK) << r;
      ASSERT_EQ(cw, model_encode(data, r)) << r;
      int32_t s = -1;
      ASSERT_EQ(kaldro_hamming_syndrome(cw.data(), n, &s), KALDRO_OK);
      ASSERT_EQ(s, 0);
      Bits back(k, 5);
      ASSERT_EQ(kaldro_hamming_decode_correct(cw.data(), n, back.data(), &s), KALDRO_OK);
      ASSERT_EQ(back, data);
    }
  }
}

TEST(Hamming, EverySingleFlipIsCorrected) {
  std::mt19937 rng(22);
  for (uint32_t r = 2; r <= 16; ++r) {
    const uint64_t n = code_len(r), k = n - r;
    const Bits data = random_bits(k, rng);
    Bits cw(n);
    ASSERT_EQ(kaldro_hamming_encode(data.data(), k, r, cw.data()), KALDRO_OK);
    const uint64_t flips = r <= 9 ? n : 40;  // exhaustive for small r
    Bits back(k);
    for (uint64_t f = 0; f < flips; ++f) {
      const uint64_t pos = r <= 9 ? f + 1 : 1 + rng() % n;
      cw[pos - 1] ^= 1;
      int32_t s = -1;
      ASSERT_EQ(kaldro_hamming_syndrome(cw.data(), n, &s), KALDRO_OK);
      ASSERT_EQ(s, int32_t(pos)) << r;
      ASSERT_EQ(kaldro_hamming_decode_correct(cw.data(), n, back.data(), &s), KALDRO_OK);
      ASSERT_EQ(s, int32_t(pos));
      ASSERT_EQ(back, data) << "r " << r << " flip " << pos;
      cw[pos - 1] ^= 1;
    }
  }
}

TEST(Hamming, TwoFlipsGiveTheXorOfTheirPositions) {
  // Not detected: the syndrome names a third position and the correction is wrong.
  const Bits data = {1, 0, 1, 1};
  Bits cw(7);
  ASSERT_EQ(kaldro_hamming_encode(data.data(), 4, 3, cw.data()), KALDRO_OK);
  cw[2] ^= 1;  // position 3
  cw[4] ^= 1;  // position 5
  int32_t s = 0;
  Bits back(4);
  ASSERT_EQ(kaldro_hamming_decode_correct(cw.data(), 7, back.data(), &s), KALDRO_OK);
  EXPECT_EQ(s, 6);
  EXPECT_NE(back, data);
}

}  // namespace
