// JSON parser: argument checks, the listed edge cases, exact arena sizes, and a
// differential check of statuses, trees and allocation offsets against the reference
// reader on generated and mutated documents, for every scan tier.
#include <gtest/gtest.h>

#include <kaldro.h>

#include "text/json_gen.h"
#include "text/json_internal.h"
#include "text/json_tiers.h"
#include "text/json_model.h"

#include <cmath>
#include <random>
#include <string>
#include <vector>

namespace {

// An 8-byte aligned arena of n bytes, filled with a marker so stale bytes show.
struct Arena {
  std::vector<uint64_t> words;
  uint64_t bytes;
  explicit Arena(uint64_t n) : words(n / 8 + 2, 0xA5A5A5A5A5A5A5A5ull), bytes(n) {}
  uint8_t *data() { return reinterpret_cast<uint8_t *>(words.data()); }
};

int parse(const std::string &s, uint64_t arena_bytes, const kaldro_json_node **root,
          Arena *keep = nullptr, int tier = 2) {
  // Without a caller's arena the tree lives in one that stays until the next call.
  static Arena last(0);
  if (!keep) last = Arena(arena_bytes);
  Arena &a = keep ? *keep : last;
  kaldro_json_node *r = reinterpret_cast<kaldro_json_node *>(0x1);
  const int st = kaldro::json::parse_tier(tier, s.data(), s.size(), a.data(), arena_bytes, &r);
  if (st == KALDRO_OK) {
    *root = r;
  } else {
    EXPECT_EQ(r, reinterpret_cast<kaldro_json_node *>(0x1)) << "out_root written on failure";
  }
  return st;
}

int parse_status(const std::string &s, uint64_t arena_bytes = 1 << 20, int tier = 2) {
  const kaldro_json_node *root;
  return parse(s, arena_bytes, &root, nullptr, tier);
}

// The library's tree against the reference value, node offsets and string offsets
// included.
void expect_same(const kaldro_json_node *n, const model::Value &v, const uint8_t *arena,
                 const std::string &where) {
  ASSERT_EQ(n->kind, v.kind) << where;
  EXPECT_EQ(uint64_t(reinterpret_cast<const uint8_t *>(n) - arena), v.node_offset) << where;
  switch (v.kind) {
    case KALDRO_JSON_NULL:
      EXPECT_EQ(n->integer, 0) << where;
      EXPECT_EQ(n->values, nullptr) << where;
      break;
    case KALDRO_JSON_BOOL:
      EXPECT_EQ(n->integer, v.boolean ? 1 : 0) << where;  // the other half is zero too
      break;
    case KALDRO_JSON_INT: EXPECT_EQ(n->integer, v.integer) << where; break;
    case KALDRO_JSON_DOUBLE: {
      uint64_t a, b;
      std::memcpy(&a, &n->number, 8);
      std::memcpy(&b, &v.number, 8);
      EXPECT_EQ(a, b) << where << " " << n->number << " vs " << v.number;
      break;
    }
    case KALDRO_JSON_STRING:
      ASSERT_EQ(n->len, v.str.size()) << where;
      EXPECT_EQ(std::string(n->str, n->len), v.str) << where;
      EXPECT_EQ(uint64_t(reinterpret_cast<const uint8_t *>(n->str) - arena), v.str_offset) << where;
      {
        uint64_t word2;  // len with its upper half zero
        std::memcpy(&word2, reinterpret_cast<const uint8_t *>(n) + 16, 8);
        EXPECT_EQ(word2, n->len) << where;
      }
      EXPECT_EQ(n->member_count, 0u) << where;
      break;
    case KALDRO_JSON_ARRAY:
      ASSERT_EQ(n->count, v.items.size()) << where;
      ASSERT_NE(n->items, nullptr) << where;
      EXPECT_EQ(n->reserved_word, 0u) << where;
      for (size_t i = 0; i < v.items.size(); ++i)
        expect_same(n->items[i], v.items[i], arena, where + "[" + std::to_string(i) + "]");
      break;
    case KALDRO_JSON_OBJECT:
      ASSERT_EQ(n->member_count, v.values.size()) << where;
      ASSERT_NE(n->keys, nullptr) << where;
      ASSERT_NE(n->values, nullptr) << where;
      for (size_t i = 0; i < v.values.size(); ++i) {
        EXPECT_EQ(uint64_t(reinterpret_cast<const uint8_t *>(n->keys[i]) - arena), v.key_offsets[i]);
        EXPECT_EQ(std::memcmp(n->keys[i], v.keys[i].data(), v.keys[i].size()), 0) << where;
        EXPECT_EQ(n->keys[i][v.keys[i].size()], '\0') << where;
        expect_same(n->values[i], v.values[i], arena, where + "." + std::string(n->keys[i]));
      }
      break;
  }
}

// Parses with the library and the reference at the given arena size; same status, and
// on success the same tree at the same offsets.
void differential(const std::string &text, uint64_t arena_bytes, int tier) {
  model::Value ref;
  const int want = model::read(text, arena_bytes, ref);
  Arena a(arena_bytes);
  const kaldro_json_node *root = nullptr;
  const int got = parse(text, arena_bytes, &root, &a, tier);
  ASSERT_EQ(got, want) << "text: " << text << " arena " << arena_bytes << " tier " << tier;
  if (got == KALDRO_OK) expect_same(root, ref, a.data(), "$");
}

TEST(JsonParse, NullArgumentsComeFirst) {
  kaldro_json_node *root = nullptr;
  uint64_t arena[8];
  EXPECT_EQ(kaldro_json_parse("1", 1, arena, sizeof arena, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_json_parse(nullptr, 0, nullptr, 0, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_json_parse(nullptr, 1, arena, sizeof arena, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_json_parse("1", 1, nullptr, 32, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(root, nullptr);
  // Null with zero lengths is allowed: an empty text is malformed, a value with no
  // arena runs out of room.
  EXPECT_EQ(kaldro_json_parse(nullptr, 0, arena, sizeof arena, &root), KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_json_parse("1", 1, nullptr, 0, &root), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(root, nullptr);
}

TEST(JsonParse, ScalarsAndWhiteSpace) {
  const kaldro_json_node *r;
  ASSERT_EQ(parse(" \t\r\n42 \n", 64, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_INT);
  EXPECT_EQ(r->integer, 42);
  EXPECT_EQ(parse_status("42 x"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status(""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("    "), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\f1"), KALDRO_ERR_INVALID);  // form feed is not white space
  ASSERT_EQ(parse("true", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_BOOL);
  EXPECT_EQ(r->boolean, 1);
  EXPECT_EQ(parse_status("true", 31), KALDRO_ERR_CAPACITY);
  ASSERT_EQ(parse("false", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->integer, 0);
  ASSERT_EQ(parse("null", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_NULL);
  EXPECT_EQ(parse_status("nul"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("tru"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("True"), KALDRO_ERR_INVALID);
  // Nothing checks the byte after a literal; the grammar around it does.
  EXPECT_EQ(parse_status("truex"), KALDRO_ERR_INVALID);
  ASSERT_EQ(parse("[truefalse]", 4096, &r), KALDRO_ERR_INVALID);
  ASSERT_EQ(parse("[true,false]", 4096, &r), KALDRO_OK);
  // The node comes before the character is judged: no room beats a bad character.
  EXPECT_EQ(parse_status("x", 0), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("x", 32), KALDRO_ERR_INVALID);
}

TEST(JsonParse, Numbers) {
  const kaldro_json_node *r;
  ASSERT_EQ(parse("1.5e3", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_DOUBLE);
  EXPECT_EQ(r->number, 1500.0);
  ASSERT_EQ(parse("15", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_INT);
  EXPECT_EQ(r->integer, 15);
  ASSERT_EQ(parse("-0", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_INT);
  EXPECT_EQ(r->integer, 0);
  ASSERT_EQ(parse("0.0", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_DOUBLE);
  ASSERT_EQ(parse("-0.0", 32, &r), KALDRO_OK);
  EXPECT_TRUE(std::signbit(r->number));
  EXPECT_EQ(parse_status("+1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status(".5"), KALDRO_ERR_INVALID);
  ASSERT_EQ(parse("1.2.3", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_DOUBLE);
  EXPECT_EQ(r->number, 1.2);
  ASSERT_EQ(parse("-", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_INT);
  EXPECT_EQ(r->integer, 0);
  ASSERT_EQ(parse("9223372036854775808", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->integer, INT64_MAX);
  ASSERT_EQ(parse("-9223372036854775808", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->integer, INT64_MIN);
  ASSERT_EQ(parse("-99999999999999999999", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->integer, INT64_MIN);
  ASSERT_EQ(parse("007", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->integer, 7);
  ASSERT_EQ(parse("12-3", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_INT);
  EXPECT_EQ(r->integer, 12);
  ASSERT_EQ(parse("1e400", 32, &r), KALDRO_OK);
  EXPECT_TRUE(std::isinf(r->number));
  ASSERT_EQ(parse("0.1", 32, &r), KALDRO_OK);
  EXPECT_EQ(r->number, 0.1);
  // 62 characters parse, 63 do not (the minus counts).
  const std::string d62(62, '1'), d63(63, '1');
  EXPECT_EQ(parse_status(d62), KALDRO_OK);
  EXPECT_EQ(parse_status(d63), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("-" + std::string(61, '2')), KALDRO_OK);
  EXPECT_EQ(parse_status("-" + std::string(62, '2')), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("0." + std::string(60, '5')), KALDRO_OK);
  EXPECT_EQ(parse_status("0." + std::string(61, '5')), KALDRO_ERR_CAPACITY);
  // The length check only counts the token's own characters.
  EXPECT_EQ(parse_status("[" + d62 + "]"), KALDRO_OK);
}

// Every token form against strtod and strtoll on the token, directly.
TEST(JsonParse, NumberConversionMatchesTheStandardLibrary) {
  std::mt19937_64 rng(7);
  const char alphabet[] = "0123456789+-.eE";
  std::vector<std::string> tokens = {"1e22", "1e23", "9007199254740993", "4.9e-324",
                                     "2.4703282292062328e-324", "1.7976931348623159e308",
                                     "0.30000000000000004", "123456789012345678.5e-3"};
  for (int i = 0; i < 30000; ++i) {
    std::string t = rng() % 3 ? "" : "-";
    const int len = int(rng() % 24) + 1;
    for (int k = 0; k < len; ++k) {
      const uint64_t r = rng() % 100;
      t += r < 70 ? char('0' + rng() % 10) : alphabet[rng() % 15];
    }
    if (t[0] != '-' && (t[0] < '0' || t[0] > '9')) t = "1" + t;
    tokens.push_back(t);
  }
  for (int i = 0; i < 20000; ++i) {
    double d;
    uint64_t bits = rng();
    std::memcpy(&d, &bits, 8);
    if (!std::isfinite(d)) continue;
    char b[40];
    std::snprintf(b, sizeof b, "%.*g", int(rng() % 17) + 1, d);
    tokens.push_back(b);
  }
  for (const std::string &t : tokens) {
    for (int tier : json_tiers()) {
      const kaldro_json_node *r;
      ASSERT_EQ(parse(t, 64, &r, nullptr, tier), KALDRO_OK) << t;
      if (t.find_first_of(".eE") != std::string::npos) {
        ASSERT_EQ(r->kind, KALDRO_JSON_DOUBLE) << t;
        const double want = std::strtod(t.c_str(), nullptr);
        EXPECT_EQ(std::memcmp(&r->number, &want, 8), 0) << t << " " << r->number << " " << want;
      } else {
        ASSERT_EQ(r->kind, KALDRO_JSON_INT) << t;
        EXPECT_EQ(r->integer, std::strtoll(t.c_str(), nullptr, 10)) << t;
      }
    }
  }
}

TEST(JsonParse, Strings) {
  const kaldro_json_node *r;
  ASSERT_EQ(parse("\"\\u00e9\"", 4096, &r), KALDRO_OK);
  EXPECT_EQ(std::string(r->str, r->len), "\xC3\xA9");
  ASSERT_EQ(parse("\"\\ud83d\\ude00\"", 4096, &r), KALDRO_OK);
  EXPECT_EQ(std::string(r->str, r->len), "\xF0\x9F\x98\x80");
  EXPECT_EQ(parse_status("\"\\ud83d\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"\\ude00\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"\\ud83d\\u0041\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"\\ud83dx\\ude00\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"a\tb\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status(std::string("\"a\0b\"", 5)), KALDRO_ERR_INVALID);
  ASSERT_EQ(parse("\"\xC3\xA9\xFF\"", 4096, &r), KALDRO_OK);
  EXPECT_EQ(std::string(r->str, r->len), "\xC3\xA9\xFF");
  ASSERT_EQ(parse("\"a\\u0000b\"", 4096, &r), KALDRO_OK);
  EXPECT_EQ(std::string(r->str, r->len), std::string("a\0b", 3));
  ASSERT_EQ(parse("\"\\\"\\\\\\/\\b\\f\\n\\r\\t\"", 4096, &r), KALDRO_OK);
  EXPECT_EQ(std::string(r->str, r->len), "\"\\/\b\f\n\r\t");
  ASSERT_EQ(parse("\"\\u20AC\\u07FF\\u0080\\u007f\"", 4096, &r), KALDRO_OK);
  EXPECT_EQ(std::string(r->str, r->len), "\xE2\x82\xAC\xDF\xBF\xC2\x80\x7F");
  EXPECT_EQ(parse_status("\"\\x\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"\\u12\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"\\u12g4\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"\\u123"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"abc"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"abc\\"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\""), KALDRO_ERR_INVALID);
  // The scratch block is reserved before anything is judged: r + 1 bytes, r counted
  // to the closing quote or to the end of the text.
  EXPECT_EQ(parse_status("\"", 32), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("\"", 40), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"ab\tc\"", 32 + 4), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("\"ab\tc\"", 32 + 5), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("\"abc\\\"", 32 + 5), KALDRO_ERR_CAPACITY);  // runs to the end
  EXPECT_EQ(parse_status("\"abc\\\"", 32 + 6), KALDRO_ERR_INVALID);
  ASSERT_EQ(parse("\"\\u00e9\"", 32 + 7, &r), KALDRO_OK);
  EXPECT_EQ(parse_status("\"\\u00e9\"", 32 + 6), KALDRO_ERR_CAPACITY);
  // Long strings cross every scan width, with specials at every position.
  for (int len = 0; len < 100; ++len) {
    for (int at = 0; at <= len; ++at) {
      std::string body(len, 'z');
      std::string s = "\"" + body + "\"";
      for (int tier : json_tiers()) {
        ASSERT_EQ(parse(s, 4096, &r, nullptr, tier), KALDRO_OK);
        ASSERT_EQ(std::string(r->str, r->len), body);
      }
      if (at < len) {
        std::string esc = body;
        esc.replace(at, 1, "\\n");
        for (int tier : json_tiers()) {
          ASSERT_EQ(parse("\"" + esc + "\"", 4096, &r, nullptr, tier), KALDRO_OK);
          std::string want = body;
          want[at] = '\n';
          ASSERT_EQ(std::string(r->str, r->len), want);
          std::string ctl = body;
          ctl[at] = char(0x1F);
          ASSERT_EQ(parse_status("\"" + ctl + "\"", 4096, tier), KALDRO_ERR_INVALID);
          ASSERT_EQ(parse_status("\"" + body.substr(0, at), 4096, tier), KALDRO_ERR_INVALID);
        }
      }
    }
  }
}

TEST(JsonParse, ContainersAndSyntax) {
  EXPECT_EQ(parse_status("[1,]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("[,1]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{\"a\":1,}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{\"a\" 1}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{\"a\"}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{a:1}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("[1 2]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("[1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("["), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{\"a\":"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("[]]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("[}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(parse_status("{]"), KALDRO_ERR_INVALID);
  const kaldro_json_node *r;
  ASSERT_EQ(parse("[]", 4096, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_ARRAY);
  EXPECT_EQ(r->count, 0u);
  EXPECT_NE(r->items, nullptr);
  ASSERT_EQ(parse(" { } ", 4096, &r), KALDRO_OK);
  EXPECT_EQ(r->kind, KALDRO_JSON_OBJECT);
  EXPECT_EQ(r->member_count, 0u);
  EXPECT_NE(r->keys, nullptr);
  EXPECT_NE(r->values, nullptr);
  EXPECT_EQ(r->reserved_word, 0u);
}

TEST(JsonParse, NestingLimit) {
  const std::string ok = std::string(64, '[') + std::string(64, ']');
  const std::string deep = std::string(65, '[') + std::string(65, ']');
  EXPECT_EQ(parse_status(ok), KALDRO_OK);
  EXPECT_EQ(parse_status(deep), KALDRO_ERR_CAPACITY);
  std::string objs;
  for (int i = 0; i < 64; ++i) objs += "{\"a\":";
  objs += "1" + std::string(64, '}');
  EXPECT_EQ(parse_status(objs), KALDRO_OK);
  // Open containers count, not containers in total.
  std::string wide = "[";
  for (int i = 0; i < 200; ++i) wide += std::string(i ? "," : "") + "[[]]";
  EXPECT_EQ(parse_status(wide + "]"), KALDRO_OK);
  // The 65th opening fails even where the text would end badly later.
  EXPECT_EQ(parse_status(std::string(65, '[')), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status(std::string(64, '[')), KALDRO_ERR_INVALID);
}

TEST(JsonParse, DuplicateKeysAndLookup) {
  const kaldro_json_node *r;
  ASSERT_EQ(parse("{\"a\":1,\"b\":2,\"a\":3,\"\":4,\"ab\":5}", 4096, &r), KALDRO_OK);
  ASSERT_EQ(r->member_count, 5u);
  EXPECT_STREQ(r->keys[0], "a");
  EXPECT_STREQ(r->keys[2], "a");
  EXPECT_EQ(r->values[2]->integer, 3);
  const kaldro_json_node *a = kaldro_json_object_get(r, "a");
  ASSERT_NE(a, nullptr);
  EXPECT_EQ(a->integer, 1);
  EXPECT_EQ(kaldro_json_object_get(r, "ab")->integer, 5);
  EXPECT_EQ(kaldro_json_object_get(r, "")->integer, 4);
  EXPECT_EQ(kaldro_json_object_get(r, "abc"), nullptr);
  EXPECT_EQ(kaldro_json_object_get(r, "A"), nullptr);
  EXPECT_EQ(kaldro_json_object_get(r, nullptr), nullptr);
  EXPECT_EQ(kaldro_json_object_get(nullptr, "a"), nullptr);
  EXPECT_EQ(kaldro_json_object_get(r->values[0], "a"), nullptr);  // not an object
  // A key with an escaped zero byte is looked up up to that byte.
  ASSERT_EQ(parse("{\"x\\u0000y\":7}", 4096, &r), KALDRO_OK);
  EXPECT_EQ(kaldro_json_object_get(r, "x")->integer, 7);
  // Null key pointers (possible in built trees) are skipped.
  const char *keys[2] = {nullptr, "a"};
  kaldro_json_node v0{}, v1{};
  v1.kind = KALDRO_JSON_INT;
  v1.integer = 9;
  kaldro_json_node *vals[2] = {&v0, &v1};
  kaldro_json_node obj{};
  obj.kind = KALDRO_JSON_OBJECT;
  obj.keys = keys;
  obj.values = vals;
  obj.member_count = 2;
  EXPECT_EQ(kaldro_json_object_get(&obj, "a"), &v1);
}

TEST(JsonParse, ExactArenaSizes) {
  EXPECT_EQ(parse_status("[]", 2664), KALDRO_OK);
  EXPECT_EQ(parse_status("[]", 2663), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("{}", 2736), KALDRO_OK);
  EXPECT_EQ(parse_status("{}", 2735), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse_status("true", 32), KALDRO_OK);
  // "ab": node 32, scratch 3 -> 35.
  EXPECT_EQ(parse_status("\"ab\"", 35), KALDRO_OK);
  EXPECT_EQ(parse_status("\"ab\"", 34), KALDRO_ERR_CAPACITY);
  // {"k":1}: node, stack, two lists (2720), scratch 2 (2722), key 2 at 2728 (2730),
  // value node at 2736 (2768), final arrays 8 + 8.
  EXPECT_EQ(parse_status("{\"k\":1}", 2784), KALDRO_OK);
  EXPECT_EQ(parse_status("{\"k\":1}", 2783), KALDRO_ERR_CAPACITY);
  // Nine members grow the lists once: 16-slot value list, then key list.
  std::string nine = "{";
  for (int i = 0; i < 9; ++i) nine += std::string(i ? "," : "") + "\"k" + std::to_string(i) + "\":0";
  nine += "}";
  uint64_t need = 32 + 2560 + 64 + 64;
  for (int i = 0; i < 9; ++i) {
    need += 8 + 8 + 32;  // scratch 3 and key 3, each rounded to 8, then the node
    if (i == 8) need += 128 + 128;
  }
  need += 72 + 72;
  EXPECT_EQ(parse_status(nine, need), KALDRO_OK);
  EXPECT_EQ(parse_status(nine, need - 1), KALDRO_ERR_CAPACITY);
  const kaldro_json_node *r;
  Arena a(need);
  ASSERT_EQ(parse(nine, need, &r, &a), KALDRO_OK);
  // The final arrays close the arena; the doubled lists sit between them and the last
  // member's node.
  EXPECT_EQ(reinterpret_cast<const uint8_t *>(r->values) - a.data(), int64_t(need - 72));
  EXPECT_EQ(reinterpret_cast<const uint8_t *>(r->keys) - a.data(), int64_t(need - 144));
  EXPECT_EQ(reinterpret_cast<const uint8_t *>(r->values[8]) - a.data(), int64_t(need - 144 - 256 - 32));
  // Generated documents: the reference's total is the exact minimum for each.
  gen::Docs docs(11);
  for (int i = 0; i < 300; ++i) {
    const std::string d = docs.doc(4);
    model::Value ref;
    uint64_t used = 0;
    if (model::read(d, UINT64_MAX, ref, &used) != KALDRO_OK) continue;
    ASSERT_EQ(parse_status(d, used), KALDRO_OK) << d;
    ASSERT_EQ(parse_status(d, used - 1), KALDRO_ERR_CAPACITY) << d;
  }
}

TEST(JsonParse, DifferentialOnGeneratedDocuments) {
  gen::Docs docs(2024);
  for (int i = 0; i < 800; ++i) {
    const std::string d = docs.doc(6);
    model::Value ref;
    uint64_t used = 0;
    model::read(d, UINT64_MAX, ref, &used);
    for (int tier : json_tiers()) {
      // Arena sizes above, at and below what the document needs.
      differential(d, used + 100, tier);
      differential(d, used, tier);
      differential(d, docs.pick(used + 1), tier);
      if (HasFatalFailure()) return;
    }
  }
}

// Wide containers inside wide containers, so that open containers hold hundreds of
// entries at once (and lists grow while others are open), against the reference, at
// arena sizes around the exact need.
TEST(JsonParse, DifferentialOnWideNestedContainers) {
  std::mt19937_64 rng(99);
  for (int round = 0; round < 12; ++round) {
    std::string d = "[";
    const int outer = 100 + int(rng() % 300);
    for (int i = 0; i < outer; ++i) {
      if (i) d += ",";
      const uint64_t r = rng() % 20;
      if (r == 0) {
        d += "{";
        const int m = int(rng() % 400);
        for (int k = 0; k < m; ++k) {
          d += (k ? ",\"k" : "\"k") + std::to_string(k) + "\":";
          d += rng() % 30 ? std::to_string(k) : "[1,{\"x\":[" + std::to_string(k) + ",2]},3]";
        }
        d += "}";
      } else if (r == 1) {
        d += "[";
        const int m = int(rng() % 300);
        for (int k = 0; k < m; ++k) d += (k ? "," : "") + std::string(rng() % 2 ? "\"s\"" : "[]");
        d += "]";
      } else {
        d += std::to_string(i);
      }
    }
    d += "]";
    model::Value ref;
    uint64_t used = 0;
    model::read(d, UINT64_MAX, ref, &used);
    for (int tier : json_tiers()) {
      differential(d, used, tier);
      differential(d, used - 1 - rng() % 64, tier);
      differential(d, rng() % used, tier);
      if (HasFatalFailure()) return;
    }
  }
}

TEST(JsonParse, DifferentialOnMutatedDocuments) {
  gen::Docs docs(99);
  const char pool[] = "{}[]\",:\\u0123456789.eE+-tfn \t\x01\x7f\xc3";
  for (int i = 0; i < 3000; ++i) {
    std::string d = docs.doc(4);
    const int edits = int(docs.pick(3)) + 1;
    for (int e = 0; e < edits && !d.empty(); ++e) {
      const size_t at = docs.pick(d.size());
      switch (docs.pick(3)) {
        case 0: d[at] = pool[docs.pick(sizeof pool - 1)]; break;
        case 1: d.erase(at, 1); break;
        default: d.resize(at); break;
      }
    }
    model::Value ref;
    uint64_t used = 0;
    model::read(d, UINT64_MAX, ref, &used);
    for (int tier : json_tiers()) {
      differential(d, used + 100, tier);
      differential(d, docs.pick(used + 1), tier);
      if (HasFatalFailure()) return;
    }
  }
}

// Chains of one-member objects (keys plain, escaped, empty) and one-item arrays down to
// depths 63 to 66, side by side, with leaves of every kind, against the reference at
// arena sizes around the exact need.
TEST(JsonParse, DifferentialOnChains) {
  std::mt19937_64 rng(64);
  static const char *kKeys[] = {"\"k1\"", "\"\"", "\"a\\\"b\"", "\"\\u00e9x\"", "\"t\\tab\"",
                                "\"longer_than_thirty_two_bytes_of_key_text\""};
  static const char *kLeaves[] = {"1", "-2.5e3", "\"s\\n\"", "\"plain\"", "true", "null", "[]", "{}"};
  for (int round = 0; round < 40; ++round) {
    std::string d = "[";
    const int chains = 1 + int(rng() % 6);
    for (int c = 0; c < chains; ++c) {
      if (c) d += ", ";
      const int len = round < 8 ? 62 + round % 4 : int(rng() % 66);
      std::string close;
      for (int i = 0; i < len; ++i) {
        if (rng() % 2) {
          d += std::string("{") + kKeys[rng() % 6] + (rng() % 2 ? ":" : " : ");
          close += "}";
        } else {
          d += rng() % 2 ? "[" : "[ ";
          close += "]";
        }
      }
      d += kLeaves[rng() % 8];
      d.append(close.rbegin(), close.rend());
    }
    d += "]";
    model::Value ref;
    uint64_t used = 0;
    model::read(d, UINT64_MAX, ref, &used);
    for (int tier : json_tiers()) {
      differential(d, used + 64, tier);
      differential(d, used, tier);
      differential(d, used - 1, tier);
      differential(d, rng() % used, tier);
      if (HasFatalFailure()) return;
    }
  }
}

}  // namespace
