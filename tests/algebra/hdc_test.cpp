// Binary hypervectors: status order, the listed edge cases, every kernel against a
// bit-by-bit model written from the rules, aliasing, and the dimension of very long
// vectors.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "algebra/hdc_kernels.h"
#include "frame/internal.h"

namespace {

using Bytes = std::vector<uint8_t>;

int bit(const Bytes &v, uint64_t i) { return (v[i / 8] >> (i % 8)) & 1; }
void set_bit(Bytes &v, uint64_t i, int b) {
  if (b) v[i / 8] = uint8_t(v[i / 8] | (1u << (i % 8)));
}

// Models: one bit at a time, straight from the definitions.
Bytes model_bundle(const std::vector<Bytes> &vs) {
  const size_t len = vs[0].size();
  Bytes out(len, 0);
  for (uint64_t i = 0; i < 8 * len; ++i) {
    size_t ones = 0;
    for (const auto &v : vs) ones += size_t(bit(v, i));
    set_bit(out, i, 2 * ones > vs.size());
  }
  return out;
}

Bytes model_permute(const Bytes &in, int64_t shift) {
  const int64_t n = int64_t(in.size()) * 8;
  Bytes out(in.size(), 0);
  for (int64_t i = 0; i < n; ++i) {
    const int64_t from = (((i - shift) % n) + n) % n;
    set_bit(out, uint64_t(i), bit(in, uint64_t(from)));
  }
  return out;
}

uint64_t model_hamming(const Bytes &a, const Bytes &b) {
  uint64_t h = 0;
  for (uint64_t i = 0; i < 8 * a.size(); ++i) h += uint64_t(bit(a, i) != bit(b, i));
  return h;
}

Bytes random_bytes(std::mt19937_64 &rng, size_t n) {
  Bytes v(n);
  for (auto &x : v) x = uint8_t(rng());
  return v;
}

std::vector<const uint8_t *> pointers(const std::vector<Bytes> &vs) {
  std::vector<const uint8_t *> p;
  for (const auto &v : vs) p.push_back(v.data());
  return p;
}

TEST(Hdc, NullBeforeInvalid) {
  uint8_t a[1] = {1}, out[1] = {0x5a};
  double d = 7.0;
  EXPECT_EQ(kaldro_hdc_bind(nullptr, a, 0, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_bind(a, nullptr, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_bind(a, a, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_bind(a, a, 0, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hdc_permute(nullptr, 0, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_permute(a, 1, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_permute(a, 0, 1, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hdc_similarity(nullptr, a, 0, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_similarity(a, nullptr, 1, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_similarity(a, a, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_similarity(a, a, 0, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(d, 7.0);
  EXPECT_EQ(out[0], 0x5a);
}

TEST(Hdc, BundleChecksEveryPointerFirst) {
  const uint8_t x[1] = {0xff};
  uint8_t out[1] = {0x5a};
  const uint8_t *with_null[3] = {x, x, nullptr};
  EXPECT_EQ(kaldro_hdc_bundle(nullptr, 3, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_bundle(with_null, 3, 1, nullptr), KALDRO_ERR_NULL);
  // A null among the vectors is reported before the count and length, and before any
  // output is written.
  EXPECT_EQ(kaldro_hdc_bundle(with_null, 3, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_hdc_bundle(with_null, 3, 0, out), KALDRO_ERR_NULL);
  const uint8_t *two_null[2] = {x, nullptr};
  EXPECT_EQ(kaldro_hdc_bundle(two_null, 2, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(out[0], 0x5a);
  const uint8_t *ok[3] = {x, x, x};
  EXPECT_EQ(kaldro_hdc_bundle(ok, 0, 1, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hdc_bundle(ok, 2, 1, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_hdc_bundle(ok, 3, 0, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out[0], 0x5a);
}

TEST(Hdc, ListedEdgeCases) {
  const uint8_t v0[1] = {0x0f}, v1[1] = {0x33}, v2[1] = {0x55};
  const uint8_t *three[3] = {v0, v1, v2};
  uint8_t out[2] = {0, 0};
  ASSERT_EQ(kaldro_hdc_bundle(three, 3, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0x17);
  ASSERT_EQ(kaldro_hdc_bundle(three, 1, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0x0f);
  EXPECT_EQ(kaldro_hdc_bundle(three, 2, 1, out), KALDRO_ERR_INVALID);

  const uint8_t one[1] = {0x01};
  const struct {
    int32_t shift;
    uint8_t expect;
  } rotations[] = {{1, 0x02}, {-1, 0x80}, {8, 0x01}, {-8, 0x01}, {0, 0x01}, {7, 0x80}};
  for (const auto &r : rotations) {
    ASSERT_EQ(kaldro_hdc_permute(one, 1, r.shift, out), KALDRO_OK);
    EXPECT_EQ(out[0], r.expect) << r.shift;
  }
  const uint8_t top[2] = {0x00, 0x80};
  ASSERT_EQ(kaldro_hdc_permute(top, 2, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0x01);
  EXPECT_EQ(out[1], 0x00);

  const uint8_t a[3] = {0x12, 0x34, 0x56}, c[3] = {0xed, 0xcb, 0xa9};
  double s = 0;
  ASSERT_EQ(kaldro_hdc_similarity(a, a, 3, &s), KALDRO_OK);
  EXPECT_EQ(s, 1.0);
  ASSERT_EQ(kaldro_hdc_similarity(a, c, 3, &s), KALDRO_OK);
  EXPECT_EQ(s, -1.0);
  const uint8_t p[1] = {0x81}, q[1] = {0x80 | 0x40 | 0x01 | 0x02};
  ASSERT_EQ(kaldro_hdc_similarity(p, q, 1, &s), KALDRO_OK);
  EXPECT_EQ(s, 0.5);
}

TEST(Hdc, BindIsItsOwnInverseAndWorksInPlace) {
  std::mt19937_64 rng(1);
  for (size_t len : {1, 7, 8, 9, 63, 100}) {
    Bytes a = random_bytes(rng, len), b = random_bytes(rng, len), out(len);
    ASSERT_EQ(kaldro_hdc_bind(a.data(), b.data(), uint32_t(len), out.data()), KALDRO_OK);
    for (size_t k = 0; k < len; ++k) EXPECT_EQ(out[k], uint8_t(a[k] ^ b[k]));
    ASSERT_EQ(kaldro_hdc_bind(out.data(), b.data(), uint32_t(len), out.data()), KALDRO_OK);
    EXPECT_EQ(out, a);
  }
}

TEST(Hdc, BundleMatchesModel) {
  std::mt19937_64 rng(2);
  for (uint32_t count : {1u, 3u, 5u, 7u, 9u, 15u, 17u, 31u, 33u, 63u, 65u, 101u}) {
    for (size_t len : {1, 5, 8, 13, 64, 65, 130, 200}) {
      std::vector<Bytes> vs;
      for (uint32_t v = 0; v < count; ++v) {
        // Biased vectors push the per-bit counts near the threshold from both sides.
        Bytes x = random_bytes(rng, len);
        if (v % 3 == 0)
          for (auto &byte : x) byte = uint8_t(byte | rng());
        vs.push_back(x);
      }
      const auto ptrs = pointers(vs);
      Bytes out(len, 0xaa);
      ASSERT_EQ(kaldro_hdc_bundle(ptrs.data(), count, uint32_t(len), out.data()), KALDRO_OK);
      EXPECT_EQ(out, model_bundle(vs)) << count << " " << len;
    }
  }
}

TEST(Hdc, BundleIntoOneOfItsInputs) {
  std::mt19937_64 rng(3);
  for (size_t len : {3, 64, 200}) {
    std::vector<Bytes> vs;
    for (int v = 0; v < 5; ++v) vs.push_back(random_bytes(rng, len));
    const Bytes expect = model_bundle(vs);
    auto ptrs = pointers(vs);
    ASSERT_EQ(kaldro_hdc_bundle(ptrs.data(), 5, uint32_t(len), vs[2].data()), KALDRO_OK);
    EXPECT_EQ(vs[2], expect);
  }
}

TEST(Hdc, PermuteMatchesModel) {
  std::mt19937_64 rng(4);
  for (size_t len : {1, 2, 3, 8, 17}) {
    const Bytes in = random_bytes(rng, len);
    const int64_t n = int64_t(len) * 8;
    std::vector<int64_t> shifts = {0, 1, -1, 7, 8, 9, -9, n, -n, n + 3, -n - 3, 5 * n,
                                   INT32_MAX, INT32_MIN};
    for (int i = 0; i < 20; ++i) shifts.push_back(int32_t(rng()));
    for (int64_t shift : shifts) {
      Bytes out(len, 0xcc);
      ASSERT_EQ(kaldro_hdc_permute(in.data(), uint32_t(len), int32_t(shift), out.data()),
                KALDRO_OK);
      EXPECT_EQ(out, model_permute(in, shift)) << len << " " << shift;
    }
    // Rotating back undoes it.
    Bytes once(len), back(len);
    ASSERT_EQ(kaldro_hdc_permute(in.data(), uint32_t(len), 13, once.data()), KALDRO_OK);
    ASSERT_EQ(kaldro_hdc_permute(once.data(), uint32_t(len), -13, back.data()), KALDRO_OK);
    EXPECT_EQ(back, in);
  }
}

TEST(Hdc, SimilarityMatchesModel) {
  std::mt19937_64 rng(5);
  for (size_t len : {1, 2, 31, 32, 33, 100, 511, 512, 513, 1250, 4099}) {
    const Bytes a = random_bytes(rng, len), b = random_bytes(rng, len);
    double s = 0;
    ASSERT_EQ(kaldro_hdc_similarity(a.data(), b.data(), uint32_t(len), &s), KALDRO_OK);
    const double d = double(8 * len);
    EXPECT_EQ(s, 1.0 - 2.0 * double(model_hamming(a, b)) / d) << len;
  }
}

// Every kernel path the processor has, against the models, over lengths that exercise
// the wide blocks, the carry-save groups and the tails.
TEST(Hdc, KernelPathsAgree) {
  std::mt19937_64 rng(6);
  for (size_t len : {1, 7, 31, 32, 33, 63, 64, 65, 511, 512, 513, 1024 + 37, 5000, 17000}) {
    const Bytes a = random_bytes(rng, len), b = random_bytes(rng, len);
    const uint64_t h = model_hamming(a, b);
    EXPECT_EQ(kaldro::hdc::xor_popcount_portable(a.data(), b.data(), len), h) << len;
#if defined(__x86_64__)
    if (kaldro::cpu_has(kaldro::Cpu::avx2)) {
      EXPECT_EQ(kaldro::hdc::xor_popcount_avx2(a.data(), b.data(), len), h) << len;
    }
#endif
  }
  for (uint32_t count : {1u, 2u, 3u, 4u, 15u, 16u, 33u, 127u, 255u, 256u, 257u, 1001u}) {
    for (size_t len : {1, 9, 64, 100, 191}) {
      std::vector<Bytes> vs;
      for (uint32_t v = 0; v < count; ++v) vs.push_back(random_bytes(rng, len));
      const auto ptrs = pointers(vs);
      // Thresholds from 1 to count, including the strict majority and its neighbours.
      for (uint64_t threshold : {uint64_t(1), uint64_t(count / 2), uint64_t(count / 2 + 1),
                                 uint64_t(count)}) {
        if (threshold == 0) continue;
        Bytes expect(len, 0);
        for (uint64_t i = 0; i < 8 * len; ++i) {
          uint64_t ones = 0;
          for (const auto &v : vs) ones += uint64_t(bit(v, i));
          set_bit(expect, i, ones >= threshold);
        }
        Bytes out(len, 0x99);
        kaldro::hdc::majority_portable(ptrs.data(), count, threshold, 0, len, out.data());
        EXPECT_EQ(out, expect) << count << " " << len << " " << threshold;
#if defined(__x86_64__)
        if (kaldro::cpu_has(kaldro::Cpu::avx2)) {
          Bytes wide(len, 0x99);
          kaldro::hdc::majority_avx2(ptrs.data(), count, threshold, len, wide.data());
          EXPECT_EQ(wide, expect) << count << " " << len << " " << threshold;
        }
#endif
      }
    }
  }
}

// From 2^29 bytes on, 8 * len no longer fits 32 bits; the similarity must still use the
// true dimension. Zeroed pages from calloc cost nothing until written.
TEST(Hdc, SimilarityOfVeryLongVectors) {
  for (uint64_t len : {uint64_t(1) << 29, (uint64_t(1) << 29) + 3}) {
    uint8_t *a = static_cast<uint8_t *>(std::calloc(len, 1));
    uint8_t *b = static_cast<uint8_t *>(std::calloc(len, 1));
    ASSERT_NE(a, nullptr);
    ASSERT_NE(b, nullptr);
    std::memset(b, 0xff, 1000);
    b[len - 1] = 0x01;
    double s = 0;
    ASSERT_EQ(kaldro_hdc_similarity(a, b, uint32_t(len), &s), KALDRO_OK);
    EXPECT_EQ(s, 1.0 - 2.0 * 8001.0 / double(8 * len));
    std::free(a);
    std::free(b);
  }
}

}  // namespace
