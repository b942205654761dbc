// Catalog lookup and template rendering: status order and what the outputs hold after a
// failure, the listed edge cases, and random sorted catalogs against a linear search.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <algorithm>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A catalog built from (key, value) pairs in the order given; values go to a pool.
struct Catalog {
  std::string keys, values;
  std::vector<uint32_t> key_offsets, key_lens, value_offsets, value_lens;
  Catalog(std::initializer_list<std::pair<std::string, std::string>> entries) {
    for (const auto &e : entries) add(e.first, e.second);
  }
  Catalog() = default;
  void add(const std::string &k, const std::string &v) {
    key_offsets.push_back(uint32_t(keys.size()));
    key_lens.push_back(uint32_t(k.size()));
    keys += k;
    value_offsets.push_back(uint32_t(values.size()));
    value_lens.push_back(uint32_t(v.size()));
    values += v;
  }
  int32_t count() const { return int32_t(key_lens.size()); }
  const uint8_t *kp() const { return reinterpret_cast<const uint8_t *>(keys.data()); }
  const uint8_t *vp() const { return reinterpret_cast<const uint8_t *>(values.data()); }

  struct Hit {
    kaldro_status status;
    uint8_t found;
    uint32_t offset, len;
  };
  Hit lookup(const std::string &key, int32_t n = -2) const {
    Hit h{0, 0xEE, 0xDEAD, 0xBEEF};
    h.status = kaldro_catalog_lookup(reinterpret_cast<const uint8_t *>(key.data()),
                                     uint32_t(key.size()), kp(), key_offsets.data(),
                                     key_lens.data(), value_offsets.data(), value_lens.data(),
                                     n == -2 ? count() : n, &h.found, &h.offset, &h.len);
    return h;
  }
  struct Rendered {
    kaldro_status status;
    std::string out;
    uint32_t len;
  };
  Rendered render(const std::string &tmpl, uint32_t cap = 1024) const {
    std::vector<uint8_t> out(cap + 16, 0xCC);
    uint32_t len = 0xFFFF;
    Rendered r;
    r.status = kaldro_template_render(reinterpret_cast<const uint8_t *>(tmpl.data()),
                                      uint32_t(tmpl.size()), kp(), key_offsets.data(),
                                      key_lens.data(), vp(), value_offsets.data(),
                                      value_lens.data(), count(), out.data(), cap, &len);
    for (size_t i = cap; i < out.size(); ++i) EXPECT_EQ(out[i], 0xCC) << "wrote past out_cap";
    size_t written = 0;
    while (written < cap && out[written] != 0xCC) ++written;
    r.out.assign(reinterpret_cast<const char *>(out.data()), written);
    r.len = len;
    return r;
  }
};

TEST(Catalog, NullOutputsFirstThenCleared) {
  const Catalog c{{"a", "1"}};
  uint8_t found = 9;
  uint32_t off = 9, len = 9;
  const uint8_t k = 'a';
  EXPECT_EQ(kaldro_catalog_lookup(&k, 1, c.kp(), c.key_offsets.data(), c.key_lens.data(),
                                  c.value_offsets.data(), c.value_lens.data(), 1, nullptr, &off, &len),
            KALDRO_ERR_NULL);
  EXPECT_EQ(off, 9u);
  EXPECT_EQ(kaldro_catalog_lookup(&k, 1, c.kp(), c.key_offsets.data(), c.key_lens.data(),
                                  c.value_offsets.data(), c.value_lens.data(), 1, &found, nullptr, &len),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_catalog_lookup(&k, 1, c.kp(), c.key_offsets.data(), c.key_lens.data(),
                                  c.value_offsets.data(), c.value_lens.data(), 1, &found, &off, nullptr),
            KALDRO_ERR_NULL);
  EXPECT_EQ(found, 9);
  // Count 0: not found without looking at the columns, even null ones.
  EXPECT_EQ(kaldro_catalog_lookup(nullptr, 5, nullptr, nullptr, nullptr, nullptr, nullptr, 0,
                                  &found, &off, &len),
            KALDRO_OK);
  EXPECT_EQ(found, 0);
  EXPECT_EQ(off, 0u);
  EXPECT_EQ(len, 0u);
  // With entries, each column (and the key pool) is required; outputs are cleared first.
  for (int which = 0; which < 6; ++which) {
    found = 9, off = 9, len = 9;
    const kaldro_status st = kaldro_catalog_lookup(
        which == 5 ? nullptr : &k, 1, which == 0 ? nullptr : c.kp(),
        which == 1 ? nullptr : c.key_offsets.data(), which == 2 ? nullptr : c.key_lens.data(),
        which == 3 ? nullptr : c.value_offsets.data(), which == 4 ? nullptr : c.value_lens.data(),
        1, &found, &off, &len);
    EXPECT_EQ(st, KALDRO_ERR_NULL) << which;
    EXPECT_EQ(found, 0);
    EXPECT_EQ(off, 0u);
    EXPECT_EQ(len, 0u);
  }
  // A null column is reported before a negative count is.
  EXPECT_EQ(kaldro_catalog_lookup(&k, 1, c.kp(), nullptr, c.key_lens.data(),
                                  c.value_offsets.data(), c.value_lens.data(), -1, &found, &off, &len),
            KALDRO_ERR_NULL);
  const auto neg = c.lookup("a", -1);
  EXPECT_EQ(neg.status, KALDRO_OK);
  EXPECT_EQ(neg.found, 0);
  // A null key is fine when it is empty.
  EXPECT_EQ(kaldro_catalog_lookup(nullptr, 0, c.kp(), c.key_offsets.data(), c.key_lens.data(),
                                  c.value_offsets.data(), c.value_lens.data(), 1, &found, &off, &len),
            KALDRO_OK);
  EXPECT_EQ(found, 0);
}

TEST(Catalog, ListedCases) {
  const Catalog c{{"a", "x"}, {"ab", "yy"}, {"b", "zzz"}};
  auto h = c.lookup("ab");
  EXPECT_EQ(h.status, KALDRO_OK);
  EXPECT_EQ(h.found, 1);
  EXPECT_EQ(h.offset, 1u);
  EXPECT_EQ(h.len, 2u);
  EXPECT_EQ(c.lookup("").found, 0);
  EXPECT_EQ(c.lookup("abc").found, 0);
  EXPECT_EQ(c.lookup("a").len, 1u);
  EXPECT_EQ(c.lookup("b").offset, 3u);
  const Catalog with_empty{{"", "e"}, {"a", "x"}, {"ab", "yy"}};
  h = with_empty.lookup("");
  EXPECT_EQ(h.found, 1);
  EXPECT_EQ(h.offset, 0u);
  EXPECT_EQ(h.len, 1u);
  // Bytes compare unsigned: 0x80 sorts after 0x7f.
  const Catalog bytes{{"\x7f", "1"}, {"\x80", "2"}, {"\xff\x01", "3"}};
  EXPECT_EQ(bytes.lookup("\x80").offset, 1u);
  EXPECT_EQ(bytes.lookup("\xff\x01").found, 1);
  // Out of order: "a" sits where bisection never looks for it.
  const Catalog unsorted{{"c", "1"}, {"b", "2"}, {"a", "3"}};
  EXPECT_EQ(unsorted.lookup("b").found, 1);
  EXPECT_EQ(unsorted.lookup("a").found, 0);
}

TEST(Catalog, RandomSortedCatalogsAgreeWithLinearSearch) {
  std::mt19937_64 rng(5);
  for (int round = 0; round < 200; ++round) {
    const int n = int(rng() % 300);
    std::vector<std::string> keys;
    const int alphabet = 1 + int(rng() % 4);
    for (int i = 0; i < n; ++i) {
      std::string k(rng() % 5, '\0');
      for (char &ch : k) ch = char(rng() % 2 ? 'a' + rng() % alphabet : 0xFE + rng() % 2);
      keys.push_back(k);
    }
    // std::string compares as unsigned bytes with the shorter prefix first: the same order.
    std::sort(keys.begin(), keys.end());
    keys.erase(std::unique(keys.begin(), keys.end()), keys.end());
    Catalog c;
    for (size_t i = 0; i < keys.size(); ++i) c.add(keys[i], std::string(i % 7, 'v'));
    for (int q = 0; q < 50; ++q) {
      std::string probe(rng() % 5, '\0');
      for (char &ch : probe) ch = char(rng() % 2 ? 'a' + rng() % alphabet : 0xFE + rng() % 2);
      if (!keys.empty() && rng() % 2) probe = keys[rng() % keys.size()];
      const auto it = std::find(keys.begin(), keys.end(), probe);
      const auto h = c.lookup(probe);
      ASSERT_EQ(h.status, KALDRO_OK);
      if (it == keys.end()) {
        EXPECT_EQ(h.found, 0);
        EXPECT_EQ(h.offset, 0u);
        EXPECT_EQ(h.len, 0u);
      } else {
        const size_t i = size_t(it - keys.begin());
        EXPECT_EQ(h.found, 1);
        EXPECT_EQ(h.offset, c.value_offsets[i]);
        EXPECT_EQ(h.len, c.value_lens[i]);
      }
    }
  }
}

TEST(Template, ListedCases) {
  const Catalog c{{"", "<empty>"}, {"name", "World"}, {"x{y", "!"}};
  auto r = c.render("Hello {name}!");
  EXPECT_EQ(r.status, KALDRO_OK);
  EXPECT_EQ(r.out, "Hello World!");
  EXPECT_EQ(r.len, 12u);
  EXPECT_EQ(c.render("{}").out, "<empty>");
  EXPECT_EQ(c.render("a}b{name}}").out, "a}bWorld}");
  EXPECT_EQ(c.render("{x{y}").out, "!");  // a name may hold '{'
  r = c.render("");
  EXPECT_EQ(r.status, KALDRO_OK);
  EXPECT_EQ(r.len, 0u);
  r = c.render("abc{");
  EXPECT_EQ(r.status, KALDRO_ERR_INVALID);
  EXPECT_EQ(r.len, 0u);
  EXPECT_EQ(r.out, "abc");  // what came before the failure stays written
  EXPECT_EQ(c.render("{name} {nam").status, KALDRO_ERR_INVALID);
  EXPECT_EQ(c.render("{nobody}").status, KALDRO_ERR_INVALID);
  const Catalog none;
  EXPECT_EQ(none.render("{}").status, KALDRO_ERR_INVALID);
  EXPECT_EQ(none.render("plain}").out, "plain}");
  // One byte too small, for a literal byte and for a value.
  r = c.render("Hello {name}!", 11);
  EXPECT_EQ(r.status, KALDRO_ERR_CAPACITY);
  EXPECT_EQ(r.len, 0u);
  EXPECT_EQ(r.out, "Hello World");
  r = c.render("Hello {name}!", 10);
  EXPECT_EQ(r.status, KALDRO_ERR_CAPACITY);
  EXPECT_EQ(r.out, "Hello ");  // a value is appended whole or not at all
  EXPECT_EQ(c.render("Hello {name}!", 12).status, KALDRO_OK);
  // Capacity is met before a later malformed placeholder is seen.
  EXPECT_EQ(c.render("abcdef{", 3).status, KALDRO_ERR_CAPACITY);
}

TEST(Template, StatusOrder) {
  const Catalog c{{"k", "v"}};
  uint8_t out[8];
  uint32_t len = 77;
  const uint8_t t[] = "{k}";
  EXPECT_EQ(kaldro_template_render(t, 3, c.kp(), c.key_offsets.data(), c.key_lens.data(), c.vp(),
                                   c.value_offsets.data(), c.value_lens.data(), 1, nullptr, 8, &len),
            KALDRO_ERR_NULL);
  EXPECT_EQ(len, 77u);
  EXPECT_EQ(kaldro_template_render(t, 3, c.kp(), c.key_offsets.data(), c.key_lens.data(), c.vp(),
                                   c.value_offsets.data(), c.value_lens.data(), 1, out, 8, nullptr),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_template_render(nullptr, 3, c.kp(), c.key_offsets.data(), c.key_lens.data(),
                                   c.vp(), c.value_offsets.data(), c.value_lens.data(), 1, out, 8, &len),
            KALDRO_ERR_NULL);
  EXPECT_EQ(len, 0u);  // cleared before the template check
  len = 77;
  EXPECT_EQ(kaldro_template_render(nullptr, 0, nullptr, nullptr, nullptr, nullptr, nullptr,
                                   nullptr, 0, out, 0, &len),
            KALDRO_OK);
  EXPECT_EQ(len, 0u);
  // The lookup's own null check surfaces unchanged, only when a placeholder is reached.
  EXPECT_EQ(kaldro_template_render(t, 3, c.kp(), nullptr, c.key_lens.data(), c.vp(),
                                   c.value_offsets.data(), c.value_lens.data(), 1, out, 8, &len),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_template_render(t + 1, 2, c.kp(), nullptr, nullptr, nullptr, nullptr, nullptr,
                                   1, out, 8, &len),
            KALDRO_OK);
  EXPECT_EQ(len, 2u);
  // A found value with bytes needs a value pool; an empty value does not.
  EXPECT_EQ(kaldro_template_render(t, 3, c.kp(), c.key_offsets.data(), c.key_lens.data(), nullptr,
                                   c.value_offsets.data(), c.value_lens.data(), 1, out, 8, &len),
            KALDRO_ERR_NULL);
  const Catalog empty_value{{"k", ""}};
  EXPECT_EQ(kaldro_template_render(t, 3, empty_value.kp(), empty_value.key_offsets.data(),
                                   empty_value.key_lens.data(), nullptr,
                                   empty_value.value_offsets.data(), empty_value.value_lens.data(),
                                   1, out, 8, &len),
            KALDRO_OK);
  EXPECT_EQ(len, 0u);
}

// Rendering written out byte by byte, as an independent reference.
TEST(Template, RandomTemplatesAgreeWithAReference) {
  const Catalog c{{"a", "1"}, {"b", "22"}, {"c", ""}, {"dd", "4444"}};
  auto reference = [&](const std::string &t, std::string *out) -> kaldro_status {
    for (size_t i = 0; i < t.size(); ++i) {
      if (t[i] != '{') {
        *out += t[i];
        continue;
      }
      const size_t close = t.find('}', i + 1);
      if (close == std::string::npos) return KALDRO_ERR_INVALID;
      const std::string name = t.substr(i + 1, close - i - 1);
      if (name == "a") *out += "1";
      else if (name == "b") *out += "22";
      else if (name == "dd") *out += "4444";
      else if (name != "c") return KALDRO_ERR_INVALID;
      i = close;
    }
    return KALDRO_OK;
  };
  std::mt19937_64 rng(3);
  const char *pieces[] = {"x", "yz", "{a}", "{b}", "{c}", "{dd}", "}", "{", "{q}", " "};
  for (int i = 0; i < 3000; ++i) {
    std::string t;
    for (int k = int(rng() % 8); k > 0; --k) t += pieces[rng() % (rng() % 4 ? 7 : 10)];
    std::string expect;
    const kaldro_status st = reference(t, &expect);
    const auto r = c.render(t);
    ASSERT_EQ(r.status, st) << t;
    if (st == KALDRO_OK) {
      EXPECT_EQ(r.out, expect) << t;
      EXPECT_EQ(r.len, expect.size());
      if (!expect.empty()) {
        const auto small = c.render(t, uint32_t(expect.size() - 1));
        EXPECT_EQ(small.status, KALDRO_ERR_CAPACITY) << t;
        EXPECT_EQ(small.len, 0u);
      }
    }
  }
}

}  // namespace
