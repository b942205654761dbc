// JSON builder and canonical writer: allocation order and the sticky failure, the
// workspace rule, the listed layouts, the prefix rule of short buffers, and a
// differential check of the written bytes against the reference writer, for every tier.
#include <gtest/gtest.h>

#include <kaldro.h>

#include "text/json_gen.h"
#include "text/json_internal.h"
#include "text/json_tiers.h"
#include "text/json_model.h"
#include "text/json_write_impl.h"

#include <cmath>
#include <deque>
#include <algorithm>
#include <limits>
#include <random>
#include <string>
#include <vector>

namespace {

struct Built {
  std::vector<uint64_t> words;
  kaldro_json_builder b{};
  explicit Built(uint64_t bytes) : words(bytes / 8 + 1) {
    EXPECT_EQ(kaldro_json_builder_init(&b, words.data(), bytes), KALDRO_OK);
  }
  uint64_t offset(const void *p) const {
    return uint64_t(static_cast<const uint8_t *>(p) - reinterpret_cast<const uint8_t *>(words.data()));
  }
};

// Writes with an exact workspace; returns the status and the text.
int write(const kaldro_json_node *root, std::string &text, int tier = 2) {
  const uint64_t ws_bytes = kaldro_json_write_arena_bytes(root);
  std::vector<uint8_t> ws(ws_bytes);
  uint64_t len = 0;
  int st = kaldro::json::write_tier(tier, root, nullptr, 0, &len, ws.data(), ws.size());
  if (st != KALDRO_OK) return st;
  std::vector<char> out(len + 1);
  uint64_t len2 = 0;
  st = kaldro::json::write_tier(tier, root, out.data(), len, &len2, ws.data(), ws.size());
  EXPECT_EQ(len2, len);
  text.assign(out.data(), len2);
  return st;
}

std::string written(const kaldro_json_node *root) {
  std::string s;
  EXPECT_EQ(write(root, s), KALDRO_OK);
  return s;
}

std::string dbl(double v) {
  Built t(64);
  return written(kaldro_json_new_double(&t.b, v));
}

TEST(JsonBuilder, InitChecks) {
  kaldro_json_builder b;
  uint64_t arena[4];
  EXPECT_EQ(kaldro_json_builder_init(nullptr, arena, 32), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_json_builder_init(&b, nullptr, 8), KALDRO_ERR_NULL);
  ASSERT_EQ(kaldro_json_builder_init(&b, nullptr, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_json_new_null(&b), nullptr);
  EXPECT_EQ(b.failed, 1);
  b.used = 99;
  ASSERT_EQ(kaldro_json_builder_init(&b, arena, sizeof arena), KALDRO_OK);
  // Constructors without a builder give null rather than crash.
  EXPECT_EQ(kaldro_json_new_null(nullptr), nullptr);
  EXPECT_EQ(kaldro_json_new_int(nullptr, 1), nullptr);
  EXPECT_EQ(kaldro_json_new_string(nullptr, "a", 1), nullptr);
  EXPECT_EQ(kaldro_json_new_array(nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(kaldro_json_new_object(nullptr, nullptr, nullptr, 0), nullptr);
  EXPECT_EQ(b.base, reinterpret_cast<uint8_t *>(arena));
  EXPECT_EQ(b.size, sizeof arena);
  EXPECT_EQ(b.used, 0u);
  EXPECT_EQ(b.failed, 0);
}

TEST(JsonBuilder, NodesAndAllocationOrder) {
  Built t(1024);
  kaldro_json_builder &b = t.b;
  kaldro_json_node *n = kaldro_json_new_null(&b);
  kaldro_json_node *tr = kaldro_json_new_bool(&b, -5);
  kaldro_json_node *fa = kaldro_json_new_bool(&b, 0);
  kaldro_json_node *i = kaldro_json_new_int(&b, INT64_MIN);
  kaldro_json_node *d = kaldro_json_new_double(&b, 2.5);
  static const char bytes[] = "hello";
  kaldro_json_node *s = kaldro_json_new_string(&b, bytes, 3);
  EXPECT_EQ(t.offset(n), 0u);
  EXPECT_EQ(t.offset(s), 160u);
  EXPECT_EQ(b.used, 192u);
  EXPECT_EQ(n->kind, KALDRO_JSON_NULL);
  EXPECT_EQ(tr->integer, 1);  // boolean 1, other half zero
  EXPECT_EQ(fa->integer, 0);
  EXPECT_EQ(i->integer, INT64_MIN);
  EXPECT_EQ(d->number, 2.5);
  EXPECT_EQ(s->str, bytes);  // not copied
  EXPECT_EQ(s->len, 3u);
  EXPECT_EQ(reinterpret_cast<uintptr_t>(s->values), 3u);  // len, upper half zero
  EXPECT_EQ(s->reserved_word, 0u);
  kaldro_json_node *items[3] = {n, i, s};
  kaldro_json_node *arr = kaldro_json_new_array(&b, items, 3);
  EXPECT_EQ(t.offset(arr), 192u);
  EXPECT_EQ(t.offset(arr->items), 224u);
  EXPECT_EQ(b.used, 248u);
  items[0] = nullptr;  // the caller's array may be reused
  EXPECT_EQ(arr->items[0], n);
  EXPECT_EQ(arr->count, 3u);
  EXPECT_EQ(arr->reserved_word, 0u);
  const char *keys[2] = {"b", "a"};
  kaldro_json_node *vals[2] = {tr, fa};
  kaldro_json_node *obj = kaldro_json_new_object(&b, keys, vals, 2);
  EXPECT_EQ(t.offset(obj), 248u);
  EXPECT_EQ(t.offset(obj->keys), 280u);
  EXPECT_EQ(t.offset(obj->values), 296u);
  EXPECT_EQ(b.used, 312u);
  EXPECT_EQ(obj->keys[0], keys[0]);
  EXPECT_EQ(obj->member_count, 2u);
  kaldro_json_node *empty = kaldro_json_new_object(&b, nullptr, nullptr, 0);
  ASSERT_NE(empty, nullptr);
  EXPECT_EQ(b.used, 312u + 32 + 8 + 8);
  EXPECT_NE(empty->keys, nullptr);
  EXPECT_EQ(written(empty), "{}");
  kaldro_json_node *none = kaldro_json_new_array(&b, nullptr, 0);
  EXPECT_EQ(b.used, 360u + 40);
  EXPECT_EQ(written(none), "[]");
  EXPECT_EQ(b.failed, 0);
}

TEST(JsonBuilder, FailureIsStickyAndEveryAllocationIsTried) {
  Built t(100);
  kaldro_json_builder &b = t.b;
  ASSERT_NE(kaldro_json_new_int(&b, 1), nullptr);
  ASSERT_NE(kaldro_json_new_int(&b, 2), nullptr);
  // 36 bytes left, a 32-byte node fits at 64: used 96.
  kaldro_json_node *three[1];
  three[0] = kaldro_json_new_int(&b, 3);
  ASSERT_NE(three[0], nullptr);
  EXPECT_EQ(b.used, 96u);
  // Neither the node nor the 8-byte item array fits in the 4 bytes left.
  EXPECT_EQ(kaldro_json_new_array(&b, three, 1), nullptr);
  EXPECT_EQ(b.failed, 1);
  EXPECT_EQ(b.used, 96u);
  // A fresh arena where the node fails and the array fits.
  Built u(48);
  ASSERT_NE(kaldro_json_new_int(&u.b, 1), nullptr);
  EXPECT_EQ(kaldro_json_new_array(&u.b, three, 1), nullptr);
  EXPECT_EQ(u.b.used, 40u);  // the array's 8 bytes were taken
  EXPECT_EQ(u.b.failed, 1);
  // Objects: the node fails, both pointer arrays still fit and are taken.
  Built o(56);
  ASSERT_NE(kaldro_json_new_int(&o.b, 1), nullptr);
  const char *k[1] = {"a"};
  EXPECT_EQ(kaldro_json_new_object(&o.b, k, three, 1), nullptr);
  EXPECT_EQ(o.b.used, 48u);
  // A later constructor that fits succeeds, and failed stays set.
  Built v(40);
  EXPECT_NE(kaldro_json_new_array(&v.b, three, 1), nullptr);  // 32 + 8 bytes: exactly full
  EXPECT_EQ(v.b.failed, 0);
  EXPECT_EQ(kaldro_json_new_null(&v.b), nullptr);
  EXPECT_EQ(v.b.failed, 1);
  Built w(64);
  ASSERT_NE(kaldro_json_new_int(&w.b, 1), nullptr);
  EXPECT_EQ(kaldro_json_new_array(&w.b, three, 2), nullptr);  // node fits, 16 do not
  EXPECT_EQ(w.b.failed, 1);
  EXPECT_EQ(w.b.used, 64u);
  Built x(72);
  x.b.failed = 0;
  EXPECT_EQ(kaldro_json_new_array(&x.b, three, 9), nullptr);
  EXPECT_EQ(x.b.used, 32u);
  EXPECT_NE(kaldro_json_new_int(&x.b, 4), nullptr);
  EXPECT_EQ(x.b.failed, 1);
}

TEST(JsonWriter, ChecksAndWorkspace) {
  Built t(4096);
  kaldro_json_builder &b = t.b;
  const char *keys[3] = {"x", "y", "z"};
  kaldro_json_node *vals[3] = {kaldro_json_new_int(&b, 1), kaldro_json_new_int(&b, 2),
                               kaldro_json_new_int(&b, 3)};
  kaldro_json_node *obj = kaldro_json_new_object(&b, keys, vals, 3);
  kaldro_json_node *arr = kaldro_json_new_array(&b, &obj, 1);
  kaldro_json_node *scalar = vals[0];
  kaldro_json_node *empty = kaldro_json_new_array(&b, nullptr, 0);
  EXPECT_EQ(kaldro_json_write_arena_bytes(nullptr), 0u);
  EXPECT_EQ(kaldro_json_write_arena_bytes(scalar), 40u);
  EXPECT_EQ(kaldro_json_write_arena_bytes(empty), 40u);
  EXPECT_EQ(kaldro_json_write_arena_bytes(obj), 52u);
  EXPECT_EQ(kaldro_json_write_arena_bytes(arr), 88u);
  uint8_t ws[128];
  char out[64];
  uint64_t len = 777;
  std::memset(out, '#', sizeof out);
  EXPECT_EQ(kaldro_json_write_ws(nullptr, out, 64, &len, ws, 128), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_json_write_ws(arr, out, 64, nullptr, nullptr, 0), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_json_write_ws(scalar, out, 64, &len, nullptr, 1000), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_json_write_ws(arr, out, 64, &len, ws, 71), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_json_write_ws(scalar, out, 64, &len, ws, 23), KALDRO_ERR_INVALID);
  EXPECT_EQ(len, 777u);
  EXPECT_EQ(out[0], '#');
  // The 16 bytes the query adds are not needed, and the workspace may sit anywhere.
  ASSERT_EQ(kaldro_json_write_ws(arr, out, 64, &len, ws + 1, 72), KALDRO_OK);
  EXPECT_EQ(std::string(out, len), "[{\"x\": 1, \"y\": 2, \"z\": 3}]");
  ASSERT_EQ(kaldro_json_write_ws(scalar, out, 64, &len, ws + 3, 24), KALDRO_OK);
  EXPECT_EQ(std::string(out, len), "1");
  // A null child (from a failed build) is refused before anything is written.
  kaldro_json_node *holes[2] = {vals[0], nullptr};
  kaldro_json_node *bad = kaldro_json_new_array(&b, holes, 2);
  len = 5;
  out[0] = '#';
  EXPECT_EQ(kaldro_json_write_ws(bad, out, 64, &len, ws, 128), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_json_write_arena_bytes(bad), 40u);
  const char *nullkey[1] = {nullptr};
  kaldro_json_node *badobj = kaldro_json_new_object(&b, nullkey, vals, 1);
  EXPECT_EQ(kaldro_json_write_ws(badobj, out, 64, &len, ws, 128), KALDRO_ERR_INVALID);
  EXPECT_EQ(len, 5u);
  EXPECT_EQ(out[0], '#');
  EXPECT_EQ(b.failed, 0);
}

TEST(JsonWriter, KeyOrder) {
  Built t(4096);
  kaldro_json_builder &b = t.b;
  const char *keys[3] = {"b", "a", "ab"};
  kaldro_json_node *vals[3] = {kaldro_json_new_int(&b, 1), kaldro_json_new_int(&b, 2),
                               kaldro_json_new_int(&b, 3)};
  EXPECT_EQ(written(kaldro_json_new_object(&b, keys, vals, 3)), "{\"a\": 2, \"ab\": 3, \"b\": 1}");
  const char *dup[2] = {"k", "k"};
  EXPECT_EQ(written(kaldro_json_new_object(&b, dup, vals, 2)), "{\"k\": 1, \"k\": 2}");
  // Bytes compare unsigned: 0xC3 after 'z'; the empty key first.
  const char *wide[4] = {"\xC3\xA9", "z", "", "Z"};
  kaldro_json_node *v4[4] = {vals[0], vals[1], vals[2], vals[0]};
  EXPECT_EQ(written(kaldro_json_new_object(&b, wide, v4, 4)),
            "{\"\": 3, \"Z\": 1, \"z\": 2, \"\xC3\xA9\": 1}");
  // The tree itself is left in its stored order.
  kaldro_json_node *o = kaldro_json_new_object(&b, keys, vals, 3);
  written(o);
  EXPECT_STREQ(o->keys[0], "b");
}

// Objects narrow and wide (both sides of the on-stack sort), with keys that share long
// beginnings, are empty, repeat, or hold bytes from 0x80 up: the members come out in
// the reference order, equal keys in stored order.
TEST(JsonWriter, KeyOrderOfWideObjectsAndLongKeys) {
  std::mt19937_64 rng(12);
  const char *stems[] = {"", "abcdefgh", "abcdefghij", "abcdefg", "z", "\xC3\xA9\xC3\xA9\xC3\xA9\xC3\xA9x"};
  for (int round = 0; round < 300; ++round) {
    const uint32_t n = uint32_t(round < 150 ? rng() % 70 : 60 + rng() % 200);
    std::vector<std::string> keys(n);
    for (auto &k : keys) {
      k = stems[rng() % 6];
      const int extra = int(rng() % 4);
      for (int i = 0; i < extra; ++i) k += char("ab\x7f\x80"[rng() % 4]);
    }
    std::vector<uint64_t> arena(4096 + n * 16);
    kaldro_json_builder b;
    ASSERT_EQ(kaldro_json_builder_init(&b, arena.data(), arena.size() * 8), KALDRO_OK);
    std::vector<const char *> kp(n);
    std::vector<kaldro_json_node *> vp(n);
    for (uint32_t i = 0; i < n; ++i) {
      kp[i] = keys[i].c_str();
      vp[i] = kaldro_json_new_int(&b, i);
    }
    kaldro_json_node *obj = kaldro_json_new_object(&b, kp.data(), vp.data(), n);
    ASSERT_EQ(b.failed, 0);
    for (int tier : json_tiers()) {
      std::string got;
      ASSERT_EQ(write(obj, got, tier), KALDRO_OK);
      ASSERT_EQ(got, model::canonical(obj)) << "members " << n;
    }
  }
}

TEST(JsonWriter, Scalars) {
  EXPECT_EQ(dbl(3.0), "3.0");
  EXPECT_EQ(dbl(-0.5), "-0.5");
  EXPECT_EQ(dbl(-0.0), "-0.0");
  EXPECT_EQ(dbl(1e300), "1.0000000000000001e+300");
  EXPECT_EQ(dbl(1e-7), "9.9999999999999995e-08");
  EXPECT_EQ(dbl(100.0), "100.0");
  EXPECT_EQ(dbl(1.0), "1.0");
  EXPECT_EQ(dbl(0.1), "0.10000000000000001");
  EXPECT_EQ(dbl(1e20), "1e+20");
  EXPECT_EQ(dbl(std::numeric_limits<double>::infinity()), "inf");
  EXPECT_EQ(dbl(-std::numeric_limits<double>::infinity()), "-inf");
  char nan_text[16];
  std::snprintf(nan_text, sizeof nan_text, "%.17g", std::nan(""));
  EXPECT_EQ(dbl(std::nan("")), nan_text);
  EXPECT_EQ(dbl(-std::nan("")), std::string(std::signbit(-std::nan("")) ? "-nan" : "nan"));
  Built t(1024);
  EXPECT_EQ(written(kaldro_json_new_int(&t.b, 100)), "100");
  EXPECT_EQ(written(kaldro_json_new_int(&t.b, INT64_MIN)), "-9223372036854775808");
  EXPECT_EQ(written(kaldro_json_new_bool(&t.b, 7)), "true");
  EXPECT_EQ(written(kaldro_json_new_bool(&t.b, 0)), "false");
  EXPECT_EQ(written(kaldro_json_new_null(&t.b)), "null");
  // Kinds outside 0 to 6 give no bytes, even as items.
  kaldro_json_node odd{};
  odd.kind = 9;
  EXPECT_EQ(written(&odd), "");
  kaldro_json_node *two[2] = {&odd, &odd};
  EXPECT_EQ(written(kaldro_json_new_array(&t.b, two, 2)), "[, ]");
  // Doubles against printf on random bit patterns.
  std::mt19937_64 rng(5);
  for (int i = 0; i < 20000; ++i) {
    double v;
    uint64_t bits = rng();
    if (i % 4 == 0) bits &= 0x800FFFFFFFFFFFFFull;  // subnormals
    std::memcpy(&v, &bits, 8);
    char want[48];
    std::snprintf(want, sizeof want, "%.17g", v);
    std::string w = want;
    if (!std::strpbrk(want, ".eEin")) w += ".0";
    ASSERT_EQ(dbl(v), w);
  }
}

// The exact 17-digit path for ordinary magnitudes against printf: random magnitudes
// from 1e-7 to 1e19, short decimals, integers, dyadic fractions (where rounding ties
// occur) and the neighbours of powers of ten.
TEST(JsonWriter, DoublesOfOrdinaryMagnitude) {
  std::mt19937_64 rng(8);
  std::vector<double> vals;
  for (int i = 0; i < 40000; ++i) {
    const uint64_t exp = 1023 - 24 + rng() % 90;
    const uint64_t bits = (exp << 52) | (rng() & ((uint64_t(1) << 52) - 1)) | (rng() & 1) << 63;
    double v;
    std::memcpy(&v, &bits, 8);
    vals.push_back(v);
  }
  for (int i = 0; i < 20000; ++i) {
    char b[40];
    std::snprintf(b, sizeof b, "%llu.%llue%d", (unsigned long long)(rng() % 100000),
                  (unsigned long long)(rng() % 1000), int(rng() % 24) - 10);
    vals.push_back(std::strtod(b, nullptr));
    vals.push_back(double(rng() >> (rng() % 64)));
  }
  for (int m = 1; m < 2000; m += 7)
    for (int j = 0; j < 75; ++j) vals.push_back(std::ldexp(double(m), -j));
  for (int k = -8; k <= 20; ++k) {
    const double p = std::pow(10.0, k);
    double lo = p, hi = p;
    for (int i = 0; i < 4; ++i) {
      lo = std::nextafter(lo, 0.0);
      hi = std::nextafter(hi, 1e300);
      vals.push_back(lo);
      vals.push_back(hi);
    }
    vals.push_back(p);
    vals.push_back(p * 9.99999999999999999);
  }
  size_t direct = 0;
  for (double v : vals) {
    char want[48];
    std::snprintf(want, sizeof want, "%.17g", v);
    std::string w = want;
    if (!std::strpbrk(want, ".eEin")) w += ".0";
    ASSERT_EQ(dbl(v), w) << want;
    char buf[48];
    direct += kaldro::json::format_g17_fast(buf, std::fabs(v)) > 0;
  }
  EXPECT_GT(direct, vals.size() / 2);  // most of them take the integer path
}

TEST(JsonWriter, StringEscapes) {
  Built t(1024);
  const char s1[] = "\x41\x0A\x22\x7F\xC3\xA9";
  EXPECT_EQ(written(kaldro_json_new_string(&t.b, s1, 6)), "\"A\\n\\\"\x7F\xC3\xA9\"");
  EXPECT_EQ(written(kaldro_json_new_string(&t.b, "\x1F", 1)), "\"\\u001f\"");
  std::string all;
  for (int c = 0; c < 256; ++c) all += char(c);
  std::string want = "\"";
  for (int c = 0; c < 256; ++c) want += model::escape_byte(uint8_t(c));
  want += "\"";
  for (int tier : json_tiers()) {
    std::string got;
    ASSERT_EQ(write(kaldro_json_new_string(&t.b, all.data(), 256), got, tier), KALDRO_OK);
    EXPECT_EQ(got, want);
  }
  EXPECT_NE(want.find("\\u0001"), std::string::npos);
  EXPECT_NE(want.find("/"), std::string::npos);
  EXPECT_NE(want.find("\\b\\t\\n\\u000b\\f\\r"), std::string::npos);
  // Keys are escaped alike and end at their NUL; string values may hold zero bytes.
  const char *k[1] = {"q\"\x01"};
  kaldro_json_node *v[1] = {kaldro_json_new_string(&t.b, "a\0b", 3)};
  EXPECT_EQ(written(kaldro_json_new_object(&t.b, k, v, 1)), "{\"q\\\"\\u0001\": \"a\\u0000b\"}");
}

// Runs of objects of one shape (the same keys, in the same or another stored order),
// at several depths and with keys that share their first 8 bytes, against the
// reference order: an order remembered from an earlier object must be the right one.
TEST(JsonWriter, KeyOrderOfRecordsOfOneShape) {
  std::mt19937_64 rng(21);
  const char *pool[] = {"id", "name", "abcdefgh", "abcdefghb", "abcdefgha", "abcdefgh", "z",
                        "text", "a\\\"q", "a\\\"p", "", "user_mentions", "user_mention"};
  for (int round = 0; round < 40; ++round) {
    std::string doc = "[";
    std::vector<int> shape;
    for (int i = 0; i < 2 + int(rng() % 14); ++i) shape.push_back(int(rng() % 13));
    for (int r = 0; r < 30; ++r) {
      if (r) doc += ", ";
      if (rng() % 4 == 0) std::shuffle(shape.begin(), shape.end(), rng);
      if (rng() % 8 == 0) shape[rng() % shape.size()] = int(rng() % 13);
      const int depth = int(rng() % 3);
      for (int d = 0; d < depth; ++d) doc += "[";
      doc += "{";
      for (size_t k = 0; k < shape.size(); ++k) {
        if (k) doc += ", ";
        doc += std::string("\"") + pool[shape[k]] + "\": " + std::to_string(r * 100 + int(k));
      }
      doc += "}";
      for (int d = 0; d < depth; ++d) doc += "]";
    }
    doc += "]";
    std::vector<uint64_t> arena(1 << 16);
    kaldro_json_node *root;
    ASSERT_EQ(kaldro_json_parse(doc.data(), doc.size(), arena.data(), arena.size() * 8, &root),
              KALDRO_OK)
        << doc;
    const std::string want = model::canonical(root);
    for (int tier : json_tiers()) {
      std::string got;
      ASSERT_EQ(write(root, got, tier), KALDRO_OK);
      ASSERT_EQ(got, want) << doc;
    }
  }
}

TEST(JsonWriter, BoundedOutput) {
  Built t(1024);
  kaldro_json_node *items[2] = {kaldro_json_new_int(&t.b, 1), kaldro_json_new_int(&t.b, 2)};
  kaldro_json_node *arr = kaldro_json_new_array(&t.b, items, 2);
  uint8_t ws[64];
  char out[8];
  std::memset(out, '#', sizeof out);
  uint64_t len = 0;
  EXPECT_EQ(kaldro_json_write_ws(arr, out, 3, &len, ws, 64), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 6u);
  EXPECT_EQ(std::string(out, 3), "[1#");
  EXPECT_EQ(kaldro_json_write_ws(arr, nullptr, 0, &len, ws, 64), KALDRO_OK);
  EXPECT_EQ(len, 6u);
  EXPECT_EQ(kaldro_json_write_ws(arr, out, 6, &len, ws, 64), KALDRO_OK);
  EXPECT_EQ(std::string(out, 6), "[1, 2]");
  EXPECT_EQ(kaldro_json_write_ws(arr, out, 0, &len, ws, 64), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 6u);
  // Every capacity of generated documents: the longest prefix of whole pieces, and
  // nothing stored past it.
  gen::Docs docs(31);
  int checked = 0;
  while (checked < 60) {
    const std::string d = docs.doc(3);
    std::vector<uint64_t> arena(1 << 16);
    kaldro_json_node *root;
    if (kaldro_json_parse(d.data(), d.size(), arena.data(), arena.size() * 8, &root)) continue;
    ++checked;
    const std::string full = model::canonical(root);
    std::vector<std::string> pieces;
    model::pieces(pieces, root);
    std::vector<uint8_t> w(kaldro_json_write_arena_bytes(root));
    for (int tier : json_tiers()) {
      for (uint64_t cap = 0; cap <= full.size() + 1; ++cap) {
        std::vector<char> buf(full.size() + 8, '\x5A');
        uint64_t n = 0;
        const int st = kaldro::json::write_tier(tier, root, buf.data(), cap, &n, w.data(), w.size());
        ASSERT_EQ(n, full.size());
        ASSERT_EQ(st, cap >= full.size() ? KALDRO_OK : KALDRO_ERR_CAPACITY);
        size_t pre_len = 0;
        for (const std::string &piece : pieces) {
          if (pre_len + piece.size() > cap) break;
          pre_len += piece.size();
        }
        const std::string pre = full.substr(0, pre_len);
        ASSERT_EQ(std::string(buf.data(), pre.size()), pre) << d << " cap " << cap;
        for (size_t i = pre.size(); i < buf.size(); ++i) ASSERT_EQ(buf[i], '\x5A') << cap;
      }
    }
  }
}

TEST(JsonWriter, DepthLimit) {
  // 65 nested arrays: the writer's workspace covers 64 levels, then stops.
  std::vector<kaldro_json_node> nodes(66);
  std::vector<kaldro_json_node *> links(66);
  for (int i = 0; i < 66; ++i) links[i] = &nodes[i];
  nodes[65].kind = KALDRO_JSON_INT;
  nodes[65].integer = 5;
  for (int i = 0; i < 65; ++i) {
    nodes[i].kind = KALDRO_JSON_ARRAY;
    nodes[i].items = &links[i + 1];
    nodes[i].count = 1;
  }
  EXPECT_EQ(kaldro_json_write_arena_bytes(&nodes[0]), 16u + 64 * 24);
  std::vector<uint8_t> ws(64 * 24);
  std::vector<char> out(200, '#');
  uint64_t len = 42;
  EXPECT_EQ(kaldro_json_write_ws(&nodes[0], out.data(), out.size(), &len, ws.data(), ws.size()),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, 42u);
  EXPECT_EQ(std::string(out.data(), 65), std::string(64, '[') + "#");
  // 64 levels with a scalar at depth 65 are fine.
  std::string text;
  ASSERT_EQ(write(&nodes[1], text), KALDRO_OK);
  EXPECT_EQ(text, std::string(64, '[') + "5" + std::string(64, ']'));
  // An object below depth 64 does not count towards M.
  kaldro_json_node wide{};
  const char *keys[5] = {"a", "b", "c", "d", "e"};
  kaldro_json_node *vals[5] = {&nodes[65], &nodes[65], &nodes[65], &nodes[65], &nodes[65]};
  wide.kind = KALDRO_JSON_OBJECT;
  wide.keys = keys;
  wide.values = vals;
  wide.member_count = 5;
  links[65] = &wide;
  EXPECT_EQ(kaldro_json_write_arena_bytes(&nodes[1]), 16u + 64 * 24);
  EXPECT_EQ(kaldro_json_write_ws(&nodes[1], out.data(), out.size(), &len, ws.data(), ws.size()),
            KALDRO_ERR_CAPACITY);
  links[65] = &nodes[65];
}

TEST(JsonWriter, DeterministicAcrossBuildOrder) {
  Built t(4096);
  const char *k1[4] = {"one", "two", "three", "four"};
  const char *k2[4] = {"four", "three", "two", "one"};
  kaldro_json_node *a = kaldro_json_new_int(&t.b, 1), *b2 = kaldro_json_new_double(&t.b, 2),
                   *c = kaldro_json_new_string(&t.b, "3", 1), *d = kaldro_json_new_null(&t.b);
  kaldro_json_node *v1[4] = {a, b2, c, d};
  kaldro_json_node *v2[4] = {d, c, b2, a};
  EXPECT_EQ(written(kaldro_json_new_object(&t.b, k1, v1, 4)),
            written(kaldro_json_new_object(&t.b, k2, v2, 4)));
  EXPECT_EQ(written(kaldro_json_new_object(&t.b, k1, v1, 4)),
            "{\"four\": null, \"one\": 1, \"three\": \"3\", \"two\": 2.0}");
}

TEST(JsonWriter, DifferentialAndRoundTrip) {
  gen::Docs docs(77);
  int checked = 0;
  for (int i = 0; i < 1500; ++i) {
    const std::string d = docs.doc(6);
    std::vector<uint64_t> arena(1 << 17);
    kaldro_json_node *root;
    if (kaldro_json_parse(d.data(), d.size(), arena.data(), arena.size() * 8, &root)) continue;
    ++checked;
    uint32_t dd = 1, mm = 0;
    model::shape(root, 1, dd, mm);
    ASSERT_EQ(kaldro_json_write_arena_bytes(root), 16 + uint64_t(dd) * (24 + 4 * uint64_t(mm)));
    const std::string want = model::canonical(root);
    for (int tier : json_tiers()) {
      std::string got;
      ASSERT_EQ(write(root, got, tier), KALDRO_OK);
      ASSERT_EQ(got, want) << d;
    }
    // Canonical text reads back to a tree that writes the same bytes (infinities are
    // not JSON and are left out).
    if (want.find("inf") != std::string::npos) continue;
    std::vector<uint64_t> arena2(1 << 17);
    kaldro_json_node *again;
    ASSERT_EQ(kaldro_json_parse(want.data(), want.size(), arena2.data(), arena2.size() * 8, &again),
              KALDRO_OK)
        << want;
    ASSERT_EQ(written(again), want);
  }
  EXPECT_GT(checked, 1000);
}

// Trees of long chains of one-member objects and one-item arrays, with wider containers
// here and there, many chains side by side (the measure walk splits such levels between
// its lanes), leaves of every kind and keys that need escapes.
struct Chains {
  Built t{1 << 22};
  std::deque<std::string> keys;
  std::mt19937_64 rng;
  explicit Chains(uint64_t seed) : rng(seed) {}

  const char *key() {
    static const char *kPool[] = {"k12", "", "a\"b", "back\\slash", "tab\tx", "\x01" "ctl",
                                  "longer_than_eight_bytes", "caf\xc3\xa9", "k3", "k"};
    std::string k = kPool[rng() % 10];
    if (rng() % 3 == 0) k += std::to_string(rng() % 100);
    keys.push_back(k);
    return keys.back().c_str();
  }
  kaldro_json_node *leaf() {
    kaldro_json_builder *b = &t.b;
    switch (rng() % 8) {
      case 0: return kaldro_json_new_null(b);
      case 1: return kaldro_json_new_bool(b, int(rng() % 2));
      case 2: return kaldro_json_new_int(b, int64_t(rng()));
      case 3: return kaldro_json_new_double(b, double(int64_t(rng() % 2000) - 1000) / 8);
      case 4: return kaldro_json_new_string(b, "q\"\\\n\x1f" "e", 6);
      case 5: return kaldro_json_new_array(b, nullptr, 0);
      case 6: return kaldro_json_new_object(b, nullptr, nullptr, 0);
      default: return kaldro_json_new_string(b, "plain", 5);
    }
  }
  // A chain of `len` containers above a leaf.
  kaldro_json_node *chain(int len) {
    kaldro_json_node *n = leaf();
    for (int i = 0; i < len; ++i) {
      const uint64_t r = rng() % 16;
      if (r < 7) {
        const char *k = key();
        n = kaldro_json_new_object(&t.b, &k, &n, 1);
      } else if (r < 14) {
        n = kaldro_json_new_array(&t.b, &n, 1);
      } else if (r == 14) {
        kaldro_json_node *items[3] = {leaf(), leaf(), leaf()};
        items[rng() % 3] = n;
        n = kaldro_json_new_array(&t.b, items, 3);
      } else {
        const char *ks[3] = {key(), key(), key()};
        kaldro_json_node *vals[3] = {leaf(), leaf(), leaf()};
        vals[rng() % 3] = n;
        n = kaldro_json_new_object(&t.b, ks, vals, 3);
      }
    }
    return n;
  }
  kaldro_json_node *forest(int chains, int max_len) {
    std::vector<kaldro_json_node *> items;
    for (int i = 0; i < chains; ++i) items.push_back(chain(int(rng() % uint64_t(max_len + 1))));
    return kaldro_json_new_array(&t.b, items.data(), uint32_t(items.size()));
  }
};

// The pieces written before the writer stops at a container below depth 64; false when
// it stops there.
bool pieces_to_limit(std::vector<std::string> &out, const kaldro_json_node *n, uint32_t depth) {
  const bool obj = n->kind == KALDRO_JSON_OBJECT;
  if (!obj && n->kind != KALDRO_JSON_ARRAY) {
    model::pieces(out, n);
    return true;
  }
  if (depth > 64) return false;
  out.push_back(obj ? "{" : "[");
  const uint32_t c = obj ? n->member_count : n->count;
  std::vector<uint32_t> order(c);
  for (uint32_t i = 0; i < c; ++i) order[i] = i;
  if (obj) {
    std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
      const std::string ka = n->keys[a], kb = n->keys[b];
      const int cmp = std::memcmp(ka.data(), kb.data(), std::min(ka.size(), kb.size()));
      return cmp != 0 ? cmp < 0 : ka.size() < kb.size();
    });
  }
  for (uint32_t i = 0; i < c; ++i) {
    if (i) out.push_back(", ");
    if (obj) {
      model::string_pieces(out, n->keys[order[i]]);
      out.push_back(": ");
    }
    if (!pieces_to_limit(out, obj ? n->values[order[i]] : n->items[order[i]], depth + 1)) return false;
  }
  out.push_back(obj ? "}" : "]");
  return true;
}

// The pointer slots of the containers within 64 levels that hold children.
void child_slots(std::vector<kaldro_json_node **> &slots, kaldro_json_node *n, uint32_t depth) {
  const bool obj = n->kind == KALDRO_JSON_OBJECT;
  if ((!obj && n->kind != KALDRO_JSON_ARRAY) || depth > 64) return;
  const uint32_t c = obj ? n->member_count : n->count;
  for (uint32_t i = 0; i < c; ++i) {
    kaldro_json_node **slot = obj ? &n->values[i] : &n->items[i];
    slots.push_back(slot);
    child_slots(slots, *slot, depth + 1);
  }
}

TEST(JsonWriter, ChainsAgainstTheModel) {
  Chains g(5);
  int deep = 0, fine = 0;
  for (int round = 0; round < 120; ++round) {
    kaldro_json_builder fresh = g.t.b;
    fresh.used = 0;
    g.t.b = fresh;
    g.keys.clear();
    kaldro_json_node *root = g.forest(int(g.rng() % 40), round % 3 == 0 ? 70 : 62);
    ASSERT_EQ(g.t.b.failed, 0);
    uint32_t d = 1, m = 0;
    model::shape(root, 1, d, m);
    const uint64_t need = uint64_t(d) * (24 + 4 * uint64_t(m));
    ASSERT_EQ(kaldro_json_write_arena_bytes(root), 16 + need);
    std::vector<std::string> pieces;
    const bool whole = pieces_to_limit(pieces, root, 1);
    std::string text;
    for (const std::string &p : pieces) text += p;
    (whole ? fine : deep)++;
    std::vector<uint8_t> ws(need + 1);
    for (int tier : json_tiers()) {
      std::vector<char> out(text.size() + 16, 'Z');
      uint64_t len = 7;
      // One byte short, or no workspace: nothing is written.
      ASSERT_EQ(kaldro::json::write_tier(tier, root, out.data(), out.size(), &len, ws.data(), need - 1),
                KALDRO_ERR_INVALID);
      ASSERT_EQ(kaldro::json::write_tier(tier, root, out.data(), out.size(), &len, nullptr, need),
                KALDRO_ERR_INVALID);
      ASSERT_EQ(len, 7u);
      ASSERT_EQ(std::string(out.data(), out.size()), std::string(out.size(), 'Z'));
      const int st = kaldro::json::write_tier(tier, root, out.data(), out.size(), &len, ws.data(), need);
      if (!whole) {
        // Stopped at the container below depth 64: out_len untouched, the text before it
        // stored.
        ASSERT_EQ(st, KALDRO_ERR_CAPACITY);
        ASSERT_EQ(len, 7u);
        ASSERT_EQ(std::string(out.data(), text.size()), text);
        ASSERT_EQ(out[text.size()], 'Z');
        continue;
      }
      ASSERT_EQ(st, KALDRO_OK);
      ASSERT_EQ(len, text.size());
      ASSERT_EQ(std::string(out.data(), len), text);
      // Short buffers inside the chains: the longest prefix of whole pieces.
      for (int c = 0; c < 6; ++c) {
        const uint64_t cap = g.rng() % (text.size() + 1);
        std::vector<char> buf(text.size() + 8, 'Z');
        ASSERT_EQ(kaldro::json::write_tier(tier, root, buf.data(), cap, &len, ws.data(), need),
                  cap == text.size() ? KALDRO_OK : KALDRO_ERR_CAPACITY);
        ASSERT_EQ(len, text.size());
        const std::string pre = model::prefix(root, cap);
        ASSERT_EQ(std::string(buf.data(), pre.size()), pre);
        ASSERT_EQ(buf[pre.size()], 'Z');
      }
    }
    // A null child anywhere within 64 levels makes the tree unwritable.
    std::vector<kaldro_json_node **> slots;
    child_slots(slots, root, 1);
    if (!slots.empty()) {
      kaldro_json_node **slot = slots[g.rng() % slots.size()];
      kaldro_json_node *kept = *slot;
      *slot = nullptr;
      std::vector<char> out(16, 'Z');
      uint64_t len = 7;
      ASSERT_EQ(kaldro_json_write_ws(root, out.data(), out.size(), &len, ws.data(), ws.size()),
                KALDRO_ERR_INVALID);
      ASSERT_EQ(len, 7u);
      ASSERT_EQ(std::string(out.data(), 16), std::string(16, 'Z'));
      *slot = kept;
    }
  }
  EXPECT_GT(deep, 10);
  EXPECT_GT(fine, 40);
}

TEST(JsonWriter, DepthAndWidthFoundAtTheEndOfAWideLevel) {
  // Many short chains, then the deepest (64 levels in all) and widest object last.
  Chains g(9);
  std::vector<kaldro_json_node *> items;
  for (int i = 0; i < 100; ++i) {
    kaldro_json_node *n = kaldro_json_new_int(&g.t.b, i);
    items.push_back(kaldro_json_new_array(&g.t.b, &n, 1));
  }
  const char *ks[7] = {"g", "f", "e", "d", "c", "b", "a"};
  kaldro_json_node *vals[7];
  for (auto &v : vals) v = kaldro_json_new_null(&g.t.b);
  kaldro_json_node *n = kaldro_json_new_object(&g.t.b, ks, vals, 7);
  for (int i = 0; i < 62; ++i) n = kaldro_json_new_array(&g.t.b, &n, 1);
  items.push_back(n);
  kaldro_json_node *root = kaldro_json_new_array(&g.t.b, items.data(), uint32_t(items.size()));
  EXPECT_EQ(kaldro_json_write_arena_bytes(root), 16u + 64 * (24 + 4 * 7));
  std::string text;
  ASSERT_EQ(write(root, text), KALDRO_OK);
  EXPECT_EQ(text, model::canonical(root));
  // One level more is a container below depth 64.
  items.back() = kaldro_json_new_array(&g.t.b, &n, 1);
  root = kaldro_json_new_array(&g.t.b, items.data(), uint32_t(items.size()));
  EXPECT_EQ(kaldro_json_write_arena_bytes(root), 16u + 64 * 24);
  std::vector<uint8_t> ws(64 * 24);
  std::vector<char> out(4096);
  uint64_t len = 0;
  EXPECT_EQ(kaldro_json_write_ws(root, out.data(), out.size(), &len, ws.data(), ws.size()),
            KALDRO_ERR_CAPACITY);
}

}  // namespace
