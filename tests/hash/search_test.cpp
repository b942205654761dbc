// Byte search and dispatch matching: the listed cases, status order and what a failure
// leaves unwritten, positions past INT32_MAX, and both search forms (portable and AVX2)
// against a naive model on small alphabets, where near-matches are frequent.
#include <gtest/gtest.h>
#include <sys/mman.h>

#include <kaldro.h>

#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/internal.h"
#include "hash/byte_search.h"

namespace {

const uint8_t *u8(const char *s) { return reinterpret_cast<const uint8_t *>(s); }

int32_t fwd(const std::string &hay, const std::string &needle) {
  int32_t idx = 12345;
  EXPECT_EQ(kaldro_byte_search(hay.empty() ? nullptr : u8(hay.data()), uint32_t(hay.size()),
                               needle.empty() ? nullptr : u8(needle.data()),
                               uint32_t(needle.size()), &idx),
            KALDRO_OK);
  return idx;
}

int32_t bwd(const std::string &hay, const std::string &needle) {
  int32_t idx = 12345;
  EXPECT_EQ(kaldro_byte_search_backward(hay.empty() ? nullptr : u8(hay.data()),
                                        uint32_t(hay.size()),
                                        needle.empty() ? nullptr : u8(needle.data()),
                                        uint32_t(needle.size()), &idx),
            KALDRO_OK);
  return idx;
}

// The model: every start position in order, compared byte by byte.
int64_t model_first(const std::string &hay, const std::string &needle) {
  if (needle.size() > hay.size()) return -1;
  for (size_t i = 0; i + needle.size() <= hay.size(); ++i)
    if (hay.compare(i, needle.size(), needle) == 0) return int64_t(i);
  return -1;
}
int64_t model_last(const std::string &hay, const std::string &needle) {
  if (needle.size() > hay.size()) return -1;
  for (size_t i = hay.size() - needle.size() + 1; i-- > 0;)
    if (hay.compare(i, needle.size(), needle) == 0) return int64_t(i);
  return -1;
}

TEST(ByteSearch, ListedCases) {
  EXPECT_EQ(fwd("abcabc", "bc"), 1);
  EXPECT_EQ(bwd("abcabc", "bc"), 4);
  EXPECT_EQ(fwd("abcabc", "x"), -1);
  EXPECT_EQ(bwd("abcabc", "x"), -1);
  EXPECT_EQ(fwd("abcabc", ""), 0);
  EXPECT_EQ(bwd("abcabc", ""), 6);
  EXPECT_EQ(fwd("abc", "abcd"), -1);
  EXPECT_EQ(bwd("abc", "abcd"), -1);
  EXPECT_EQ(fwd("", ""), 0);
  EXPECT_EQ(bwd("", ""), 0);
  EXPECT_EQ(fwd("", "a"), -1);
  EXPECT_EQ(fwd("abc", "abc"), 0);
  EXPECT_EQ(bwd("abc", "abc"), 0);
  const std::string bytes("\0\xff\0\xff\0", 5);
  EXPECT_EQ(fwd(bytes, std::string("\xff\0", 2)), 1);
  EXPECT_EQ(bwd(bytes, std::string("\xff\0", 2)), 3);
}

TEST(ByteSearch, NullChecksComeFirstAndLeaveIndexAlone) {
  int32_t idx = 77;
  EXPECT_EQ(kaldro_byte_search(nullptr, 3, nullptr, 2, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_byte_search(u8("abc"), 3, nullptr, 1, &idx), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_byte_search(nullptr, 3, u8("a"), 1, &idx), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_byte_search_backward(u8("abc"), 3, u8("a"), 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_byte_search_backward(u8("abc"), 3, nullptr, 1, &idx), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_byte_search_backward(nullptr, 1, u8("a"), 0, &idx), KALDRO_ERR_NULL);
  EXPECT_EQ(idx, 77);
  // Null pointers with length 0 are fine.
  ASSERT_EQ(kaldro_byte_search(u8("abc"), 3, nullptr, 0, &idx), KALDRO_OK);
  EXPECT_EQ(idx, 0);
  ASSERT_EQ(kaldro_byte_search_backward(nullptr, 0, u8("a"), 1, &idx), KALDRO_OK);
  EXPECT_EQ(idx, -1);
}

TEST(ByteSearch, BothFormsMatchTheModel) {
  std::mt19937 rng(11);
  using Fn = int64_t (*)(const uint8_t *, size_t, const uint8_t *, size_t);
  std::vector<std::pair<Fn, Fn>> forms = {
      {kaldro::search_first_portable, kaldro::search_last_portable}};
#if defined(__x86_64__)
  if (kaldro::cpu_has(kaldro::Cpu::avx2))
    forms.push_back({kaldro::search_first_avx2, kaldro::search_last_avx2});
#endif
  for (int iter = 0; iter < 6000; ++iter) {
    const int alphabet = 1 + int(rng() % 3);
    const size_t hay_len = rng() % 200;
    const size_t needle_len = 1 + rng() % (iter % 5 == 0 ? 40 : 5);
    std::string hay(hay_len, 'a'), needle(needle_len, 'a');
    for (auto &c : hay) c = char('a' + rng() % alphabet);
    for (auto &c : needle) c = char('a' + rng() % alphabet);
    if (iter % 3 == 0 && needle_len <= hay_len)  // plant an occurrence
      hay.replace(rng() % (hay_len - needle_len + 1), needle_len, needle);
    const int64_t first = model_first(hay, needle), last = model_last(hay, needle);
    ASSERT_EQ(fwd(hay, needle), first) << hay << " / " << needle;
    ASSERT_EQ(bwd(hay, needle), last) << hay << " / " << needle;
    if (needle_len > hay_len) continue;
    for (const auto &f : forms) {
      ASSERT_EQ(f.first(u8(hay.data()), hay_len, u8(needle.data()), needle_len), first)
          << hay << " / " << needle;
      ASSERT_EQ(f.second(u8(hay.data()), hay_len, u8(needle.data()), needle_len), last)
          << hay << " / " << needle;
    }
  }
}

TEST(ByteSearch, PositionsPastInt32MaxAreRefusedNotWrapped) {
  const size_t len = (size_t(1) << 31) + 64;
  void *map = mmap(nullptr, len, PROT_READ | PROT_WRITE, MAP_PRIVATE | MAP_ANONYMOUS | MAP_NORESERVE,
                   -1, 0);
  if (map == MAP_FAILED) GTEST_SKIP() << "no address space for a 2 GiB haystack";
  uint8_t *hay = static_cast<uint8_t *>(map);
  hay[5] = 'x';
  hay[len - 10] = 'x';  // beyond INT32_MAX
  int32_t idx = 77;
  EXPECT_EQ(kaldro_byte_search_backward(hay, uint32_t(len), nullptr, 0, &idx), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_byte_search_backward(hay, uint32_t(len), u8("x"), 1, &idx), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(idx, 77);
  ASSERT_EQ(kaldro_byte_search(hay, uint32_t(len), u8("x"), 1, &idx), KALDRO_OK);
  EXPECT_EQ(idx, 5);
  hay[len - 9] = 'y';
  // Dispatch reports no position, so a match past INT32_MAX still counts.
  const uint32_t off[1] = {0}, lens[1] = {2};
  const int32_t ids[1] = {9};
  uint8_t found = 0;
  int32_t id = 0;
  ASSERT_EQ(kaldro_dispatch_match(hay, uint32_t(len), u8("xy"), off, lens, ids, 1, &found, &id),
            KALDRO_OK);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(id, 9);
  munmap(map, len);
}

struct Table {
  std::string blob;
  std::vector<uint32_t> offsets, lengths;
  std::vector<int32_t> ids;
  void add(const std::string &pattern, int32_t id) {
    offsets.push_back(uint32_t(blob.size()));
    lengths.push_back(uint32_t(pattern.size()));
    ids.push_back(id);
    blob += pattern;
  }
  kaldro_status match(const std::string &hay, uint8_t *found, int32_t *id) const {
    return kaldro_dispatch_match(u8(hay.data()), uint32_t(hay.size()), u8(blob.data()),
                                 offsets.data(), lengths.data(), ids.data(),
                                 uint32_t(ids.size()), found, id);
  }
};

TEST(Dispatch, FirstPatternInTableOrderWins) {
  uint8_t found = 9;
  int32_t id = 9;
  Table t;
  t.add("POST", 2);
  t.add("GET", 1);
  ASSERT_EQ(t.match("GET /x", &found, &id), KALDRO_OK);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(id, 1);

  Table g;
  g.add("G", 7);
  g.add("GET", 1);
  ASSERT_EQ(g.match("GET /x", &found, &id), KALDRO_OK);
  EXPECT_EQ(id, 7);

  Table later;  // earliest in the haystack does not matter, table order does
  later.add("/x", 3);
  later.add("GET", 1);
  ASSERT_EQ(later.match("GET /x", &found, &id), KALDRO_OK);
  EXPECT_EQ(id, 3);

  Table none;
  none.add("PUT", 4);
  none.add("GET /xy", 5);  // longer than the haystack
  found = 9, id = 9;
  ASSERT_EQ(none.match("GET /x", &found, &id), KALDRO_OK);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(id, 0);

  Table empty;
  empty.add("PUT", 4);
  empty.add("", -6);
  ASSERT_EQ(empty.match("", &found, &id), KALDRO_OK);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(id, -6);
}

TEST(Dispatch, StatusOrder) {
  uint8_t found = 9;
  int32_t id = 9;
  const uint32_t off[2] = {0, 0}, lens[2] = {0, 1};
  const int32_t ids[2] = {4, 5};
  EXPECT_EQ(kaldro_dispatch_match(nullptr, 4, nullptr, nullptr, nullptr, nullptr, 1, nullptr, &id),
            KALDRO_ERR_NULL);
  EXPECT_EQ(id, 9);
  EXPECT_EQ(kaldro_dispatch_match(nullptr, 4, nullptr, nullptr, nullptr, nullptr, 1, &found, nullptr),
            KALDRO_ERR_NULL);
  EXPECT_EQ(found, 9);

  // With count 0 only the haystack is checked; found and id are cleared.
  ASSERT_EQ(kaldro_dispatch_match(nullptr, 0, nullptr, nullptr, nullptr, nullptr, 0, &found, &id),
            KALDRO_OK);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(id, 0);
  found = 9, id = 9;
  EXPECT_EQ(kaldro_dispatch_match(nullptr, 4, nullptr, nullptr, nullptr, nullptr, 0, &found, &id),
            KALDRO_ERR_NULL);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(id, 0);

  found = 9, id = 9;
  EXPECT_EQ(kaldro_dispatch_match(u8("ab"), 2, u8("a"), nullptr, lens, ids, 2, &found, &id),
            KALDRO_ERR_NULL);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(id, 0);
  EXPECT_EQ(kaldro_dispatch_match(u8("ab"), 2, u8("a"), off, nullptr, ids, 2, &found, &id),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dispatch_match(u8("ab"), 2, u8("a"), off, lens, nullptr, 2, &found, &id),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_dispatch_match(nullptr, 2, u8("a"), off, lens, ids, 2, &found, &id),
            KALDRO_ERR_NULL);

  // A null blob fails only when a non-empty pattern is reached.
  ASSERT_EQ(kaldro_dispatch_match(u8("ab"), 2, nullptr, off, lens, ids, 2, &found, &id), KALDRO_OK);
  EXPECT_EQ(found, 1);
  EXPECT_EQ(id, 4);
  const uint32_t lens2[2] = {1, 0};
  found = 9, id = 9;
  EXPECT_EQ(kaldro_dispatch_match(u8("ab"), 2, nullptr, off, lens2, ids, 2, &found, &id),
            KALDRO_ERR_NULL);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(id, 0);
}

}  // namespace
