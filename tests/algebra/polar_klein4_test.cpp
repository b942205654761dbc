// Polar and Klein-four hypervectors: status order, the listed edge cases, what is
// written before an invalid element stops the work, and the bundles, accumulator and
// co-occurrence fold against models written from the rules.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <algorithm>
#include <random>
#include <vector>

namespace {

using P = std::vector<int8_t>;
using K = std::vector<uint8_t>;

P random_polar(std::mt19937_64 &rng, size_t n) {
  P v(n);
  for (auto &x : v) x = int8_t(int(rng() % 3) - 1);
  return v;
}

K random_klein4(std::mt19937_64 &rng, size_t n) {
  K v(n);
  for (auto &x : v) x = uint8_t(rng() % 4);
  return v;
}

TEST(Polar, NullThenInvalid) {
  int8_t a[2] = {1, 0}, out[2] = {9, 9};
  double d = 7;
  EXPECT_EQ(kaldro_polar_bind(nullptr, a, 0, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_bind(a, nullptr, 2, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_bind(a, a, 2, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_bind(a, a, 0, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_polar_similarity(nullptr, a, 2, 0, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_similarity(a, a, 2, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_similarity(a, a, 0, 0, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_polar_density(nullptr, 2, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_density(a, 2, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_density(a, 0, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(d, 7);
  EXPECT_EQ(out[0], 9);
}

TEST(Polar, ListedEdgeCases) {
  const int8_t a[3] = {1, -1, 0}, b[3] = {-1, -1, 1};
  int8_t out[3];
  ASSERT_EQ(kaldro_polar_bind(a, b, 3, out), KALDRO_OK);
  EXPECT_EQ(out[0], -1);
  EXPECT_EQ(out[1], 1);
  EXPECT_EQ(out[2], 0);
  const int8_t two[1] = {2};
  EXPECT_EQ(kaldro_polar_bind(two, a, 1, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_polar_bind(a, two, 1, out), KALDRO_ERR_INVALID);

  const int8_t plus[1] = {1}, minus[1] = {-1};
  const int8_t *pm[2] = {plus, minus};
  ASSERT_EQ(kaldro_polar_bundle(pm, 2, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0);
  const int8_t *ppm[3] = {plus, plus, minus};
  ASSERT_EQ(kaldro_polar_bundle(ppm, 3, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 1);

  const int8_t x[3] = {1, 0, -1}, y[3] = {1, 0, 1};
  double s = 0;
  ASSERT_EQ(kaldro_polar_similarity(x, y, 3, 1, &s), KALDRO_OK);
  EXPECT_EQ(s, 0.5);
  ASSERT_EQ(kaldro_polar_similarity(x, y, 3, 0, &s), KALDRO_OK);
  EXPECT_EQ(s, 2.0 / 3.0);
  const int8_t zeros[2] = {0, 0};
  ASSERT_EQ(kaldro_polar_similarity(zeros, x, 2, 1, &s), KALDRO_OK);
  EXPECT_EQ(s, 0.0);  // nothing considered

  const int8_t d4[4] = {0, 1, -1, 0};
  ASSERT_EQ(kaldro_polar_density(d4, 4, &s), KALDRO_OK);
  EXPECT_EQ(s, 0.5);
}

TEST(Polar, WorkStopsAtTheInvalidElement) {
  const int8_t a[4] = {1, -1, 1, 1}, b[4] = {1, 1, 3, 1};
  int8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(kaldro_polar_bind(a, b, 4, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out[0], 1);
  EXPECT_EQ(out[1], -1);
  EXPECT_EQ(out[2], 9);
  EXPECT_EQ(out[3], 9);
  double s = 7;
  EXPECT_EQ(kaldro_polar_similarity(a, b, 4, 0, &s), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_polar_density(b, 4, &s), KALDRO_ERR_INVALID);
  EXPECT_EQ(s, 7);

  // Bundle: an invalid element at position 2 of the second vector.
  const int8_t *vs[3] = {a, b, a};
  int8_t o[4] = {9, 9, 9, 9};
  EXPECT_EQ(kaldro_polar_bundle(vs, 3, 4, o), KALDRO_ERR_INVALID);
  EXPECT_EQ(o[0], 1);
  EXPECT_EQ(o[1], -1);
  EXPECT_EQ(o[2], 9);
}

TEST(Polar, BundleNullPointerOrder) {
  const int8_t a[2] = {1, 1}, bad[2] = {5, 1};
  int8_t out[2] = {9, 9};
  const int8_t *with_null[2] = {a, nullptr};
  EXPECT_EQ(kaldro_polar_bundle(nullptr, 2, 2, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_polar_bundle(with_null, 2, 2, nullptr), KALDRO_ERR_NULL);
  // Count and length come before the vector pointers, which are met while summing.
  EXPECT_EQ(kaldro_polar_bundle(with_null, 0, 2, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_polar_bundle(with_null, 2, 0, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_polar_bundle(with_null, 2, 2, out), KALDRO_ERR_NULL);
  // An invalid element met before the null pointer decides.
  const int8_t *bad_first[2] = {bad, nullptr};
  EXPECT_EQ(kaldro_polar_bundle(bad_first, 2, 2, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(out[0], 9);
}

TEST(Polar, MatchesModel) {
  std::mt19937_64 rng(11);
  for (int round = 0; round < 50; ++round) {
    const size_t len = 1 + rng() % 70;
    const uint32_t count = 1 + uint32_t(rng() % 9);
    std::vector<P> vs;
    std::vector<const int8_t *> ptrs;
    for (uint32_t v = 0; v < count; ++v) vs.push_back(random_polar(rng, len));
    for (const auto &v : vs) ptrs.push_back(v.data());
    P out(len);
    ASSERT_EQ(kaldro_polar_bundle(ptrs.data(), count, uint32_t(len), out.data()), KALDRO_OK);
    for (size_t i = 0; i < len; ++i) {
      int sum = 0;
      for (const auto &v : vs) sum += v[i];
      EXPECT_EQ(out[i], sum > 0 ? 1 : sum < 0 ? -1 : 0);
    }
    const P &a = vs[0];
    const P b = random_polar(rng, len);
    P bound(len);
    ASSERT_EQ(kaldro_polar_bind(a.data(), b.data(), uint32_t(len), bound.data()), KALDRO_OK);
    for (size_t i = 0; i < len; ++i) EXPECT_EQ(bound[i], a[i] * b[i]);
    for (int skip : {0, 1}) {
      size_t agree = 0, considered = 0;
      for (size_t i = 0; i < len; ++i) {
        if (skip && (a[i] == 0 || b[i] == 0)) continue;
        ++considered;
        agree += a[i] == b[i];
      }
      double s = -1;
      ASSERT_EQ(kaldro_polar_similarity(a.data(), b.data(), uint32_t(len), skip, &s),
                KALDRO_OK);
      EXPECT_EQ(s, considered ? double(agree) / double(considered) : 0.0);
    }
    // Binding in place.
    P c = a;
    ASSERT_EQ(kaldro_polar_bind(c.data(), b.data(), uint32_t(len), c.data()), KALDRO_OK);
    EXPECT_EQ(c, bound);
  }
}

TEST(Klein4, NullThenInvalid) {
  uint8_t a[2] = {1, 0}, out[2] = {9, 9};
  uint32_t acc[5] = {};
  double d = 7;
  EXPECT_EQ(kaldro_klein4_bind(nullptr, a, 0, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_bind(a, a, 0, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_similarity(a, nullptr, 0, &d), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_similarity(a, a, 0, &d), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_triality_cycle(nullptr, 0, 0, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_triality_cycle(a, 2, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_triality_cycle(a, 0, 0, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_bundle_accumulate(nullptr, a, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_bundle_accumulate(acc, nullptr, 2), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_bundle_accumulate(acc, a, 0), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_bundle_resolve(nullptr, out, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_bundle_resolve(acc, nullptr, 2), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_bundle_resolve(acc, out, 0), KALDRO_ERR_INVALID);
  const uint8_t *with_null[2] = {a, nullptr};
  EXPECT_EQ(kaldro_klein4_bundle(nullptr, 1, 1, out), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_bundle(with_null, 0, 1, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_bundle(with_null, 2, 2, out), KALDRO_ERR_NULL);
  EXPECT_EQ(out[0], 9);
  EXPECT_EQ(d, 7);
  for (uint32_t c : acc) EXPECT_EQ(c, 0u);
}

TEST(Klein4, ListedEdgeCases) {
  const uint8_t one[1] = {1}, two[1] = {2}, three[1] = {3};
  const uint8_t *vs[3] = {one, two, three};
  uint8_t out[1];
  ASSERT_EQ(kaldro_klein4_bundle(vs, 3, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 3);
  ASSERT_EQ(kaldro_klein4_bundle(vs, 2, 1, out), KALDRO_OK);
  EXPECT_EQ(out[0], 0);

  const uint8_t all[4] = {0, 1, 2, 3};
  uint8_t f[4], g[4], h[4];
  ASSERT_EQ(kaldro_klein4_triality_cycle(all, 4, 0, f), KALDRO_OK);
  EXPECT_EQ(K(f, f + 4), (K{0, 2, 3, 1}));
  ASSERT_EQ(kaldro_klein4_triality_cycle(f, 4, 0, g), KALDRO_OK);
  ASSERT_EQ(kaldro_klein4_triality_cycle(g, 4, 0, h), KALDRO_OK);
  EXPECT_EQ(K(h, h + 4), K(all, all + 4));
  ASSERT_EQ(kaldro_klein4_triality_cycle(f, 4, 5, g), KALDRO_OK);
  EXPECT_EQ(K(g, g + 4), K(all, all + 4));
  ASSERT_EQ(kaldro_klein4_triality_cycle(all, 4, -1, g), KALDRO_OK);
  EXPECT_EQ(K(g, g + 4), (K{0, 3, 1, 2}));
  // The cycle is an automorphism: it commutes with binding.
  for (uint8_t x = 0; x < 4; ++x)
    for (uint8_t y = 0; y < 4; ++y) EXPECT_EQ(f[x ^ y], f[x] ^ f[y]);

  uint32_t acc[3] = {0, 0, 0};
  for (const uint8_t *v : vs) ASSERT_EQ(kaldro_klein4_bundle_accumulate(acc, v, 1), KALDRO_OK);
  EXPECT_EQ(acc[0], 3u);
  EXPECT_EQ(acc[1], 2u);
  EXPECT_EQ(acc[2], 2u);
  out[0] = 9;
  ASSERT_EQ(kaldro_klein4_bundle_resolve(acc, out, 1), KALDRO_OK);
  EXPECT_EQ(out[0], 3);

  double s = 0;
  const uint8_t p[4] = {0, 1, 2, 3}, q[4] = {0, 1, 3, 2};
  ASSERT_EQ(kaldro_klein4_similarity(p, q, 4, &s), KALDRO_OK);
  EXPECT_EQ(s, 0.5);
}

TEST(Klein4, WorkStopsAtTheInvalidElement) {
  const uint8_t a[4] = {1, 2, 3, 0}, b[4] = {3, 3, 4, 0};
  uint8_t out[4] = {9, 9, 9, 9};
  EXPECT_EQ(kaldro_klein4_bind(a, b, 4, out), KALDRO_ERR_INVALID);
  EXPECT_EQ(K(out, out + 4), (K{2, 1, 9, 9}));
  uint8_t t[4] = {9, 9, 9, 9};
  EXPECT_EQ(kaldro_klein4_triality_cycle(b, 4, 0, t), KALDRO_ERR_INVALID);
  EXPECT_EQ(K(t, t + 4), (K{1, 1, 9, 9}));
  uint8_t o[4] = {9, 9, 9, 9};
  const uint8_t *vs[3] = {a, a, b};
  EXPECT_EQ(kaldro_klein4_bundle(vs, 3, 4, o), KALDRO_ERR_INVALID);
  EXPECT_EQ(K(o, o + 4), (K{1, 2, 9, 9}));

  // A failed accumulation keeps the counts of earlier positions and not the vector count.
  uint32_t acc[9] = {};
  EXPECT_EQ(kaldro_klein4_bundle_accumulate(acc, b, 4), KALDRO_ERR_INVALID);
  EXPECT_EQ(acc[0], 0u);
  EXPECT_EQ(std::vector<uint32_t>(acc + 1, acc + 5), (std::vector<uint32_t>{1, 1, 0, 0}));
  EXPECT_EQ(std::vector<uint32_t>(acc + 5, acc + 9), (std::vector<uint32_t>{1, 1, 0, 0}));
}

TEST(Klein4, ResolveOfOddAccumulationEqualsBundle) {
  std::mt19937_64 rng(12);
  for (int round = 0; round < 40; ++round) {
    const size_t len = 1 + rng() % 50;
    const uint32_t count = 1 + uint32_t(rng() % 8);
    std::vector<K> vs;
    std::vector<const uint8_t *> ptrs;
    for (uint32_t v = 0; v < count; ++v) vs.push_back(random_klein4(rng, len));
    for (const auto &v : vs) ptrs.push_back(v.data());
    K once(len), resolved(len);
    ASSERT_EQ(kaldro_klein4_bundle(ptrs.data(), count, uint32_t(len), once.data()), KALDRO_OK);
    // Model: per-bit counts strictly above count / 2.
    for (size_t i = 0; i < len; ++i) {
      uint32_t c0 = 0, c1 = 0;
      for (const auto &v : vs) {
        c0 += v[i] & 1;
        c1 += v[i] >> 1;
      }
      EXPECT_EQ(once[i], (c1 > count / 2 ? 2 : 0) | (c0 > count / 2 ? 1 : 0));
    }
    std::vector<uint32_t> acc(2 * len + 1, 0);
    for (const auto &v : vs)
      ASSERT_EQ(kaldro_klein4_bundle_accumulate(acc.data(), v.data(), len), KALDRO_OK);
    const auto before = acc;
    ASSERT_EQ(kaldro_klein4_bundle_resolve(acc.data(), resolved.data(), len), KALDRO_OK);
    EXPECT_EQ(acc, before);  // resolve leaves the accumulator alone
    // An even number of vectors ties the same way in both forms.
    EXPECT_EQ(resolved, once) << count;

    K x = random_klein4(rng, len), y = random_klein4(rng, len), z(len);
    ASSERT_EQ(kaldro_klein4_bind(x.data(), y.data(), uint32_t(len), z.data()), KALDRO_OK);
    ASSERT_EQ(kaldro_klein4_bind(z.data(), y.data(), uint32_t(len), z.data()), KALDRO_OK);
    EXPECT_EQ(z, x);
  }
}

TEST(Klein4, CooccurrenceFold) {
  // The listed case: (0, 1) with window 1.
  const uint8_t codebook[2 * 3] = {1, 2, 3, 3, 0, 2};
  const uint32_t seq[2] = {0, 1};
  std::vector<uint32_t> table(2 * 7, 77);
  ASSERT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 2, seq, 2, 1, 3, table.data()),
            KALDRO_OK);
  EXPECT_EQ(table, (std::vector<uint32_t>{1, 1, 0, 0, 1, 0, 1,  //
                                          1, 1, 0, 1, 0, 1, 1}));
  ASSERT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 2, seq, 0, 1, 3, table.data()),
            KALDRO_OK);
  EXPECT_EQ(table, std::vector<uint32_t>(14, 0));

  // Statuses: null, then the zero arguments, then entries and codebook elements.
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(nullptr, 0, seq, 2, 0, 0, table.data()),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 0, nullptr, 2, 0, 0, table.data()),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 2, seq, 2, 1, 3, nullptr),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 0, seq, 2, 1, 3, table.data()),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 2, seq, 2, 0, 3, table.data()),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 2, seq, 2, 1, 0, table.data()),
            KALDRO_ERR_INVALID);
  // An out-of-range neighbour: row 0 is zeroed and nothing is added to it.
  const uint32_t bad_seq[3] = {0, 2, 1};
  std::fill(table.begin(), table.end(), 77);
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(codebook, 2, bad_seq, 3, 1, 3, table.data()),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(table, std::vector<uint32_t>(14, 0));
  // A bad codebook element in row 1, met while adding it to row 0 after its first
  // element was counted.
  const uint8_t bad_book[6] = {1, 2, 3, 3, 9, 2};
  EXPECT_EQ(kaldro_klein4_cooccurrence_fold(bad_book, 2, seq, 2, 1, 3, table.data()),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(table, (std::vector<uint32_t>{0, 1, 0, 0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
}

TEST(Klein4, CooccurrenceFoldMatchesModel) {
  std::mt19937_64 rng(13);
  for (int round = 0; round < 30; ++round) {
    const uint32_t n = 1 + uint32_t(rng() % 6), seq_len = uint32_t(rng() % 25);
    const uint32_t window = 1 + uint32_t(rng() % 4);
    const uint64_t dim = 1 + rng() % 9;
    const K book = random_klein4(rng, n * dim);
    std::vector<uint32_t> seq(seq_len + 1);
    for (auto &s : seq) s = uint32_t(rng() % n);
    std::vector<uint32_t> table(n * (2 * dim + 1), 5), expect(n * (2 * dim + 1), 0);
    for (int64_t i = 0; i < int64_t(seq_len); ++i) {
      uint32_t *row = expect.data() + seq[size_t(i)] * (2 * dim + 1);
      for (int64_t j = i - window; j <= i + int64_t(window); ++j) {
        if (j < 0 || j >= int64_t(seq_len) || j == i) continue;
        const uint8_t *code = book.data() + seq[size_t(j)] * dim;
        for (uint64_t k = 0; k < dim; ++k) {
          row[1 + k] += code[k] & 1;
          row[1 + dim + k] += code[k] >> 1;
        }
        row[0] += 1;
      }
    }
    ASSERT_EQ(kaldro_klein4_cooccurrence_fold(book.data(), n, seq.data(), seq_len, window, dim,
                                              table.data()),
              KALDRO_OK);
    EXPECT_EQ(table, expect);
  }
}

}  // namespace
