// TOML reader: status order, the arena block rules (exact minimum sizes, nothing written
// past the arena, unaligned arenas), the grammar's edge cases against hand-checked
// trees, and random documents of the subset checked against Python's tomllib.
#include <gtest/gtest.h>

#include <kaldro.h>

#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <random>
#include <string>
#include <vector>

namespace {

// Compact rendering of a tree for hand-checked expectations: tables {k=v,...}, arrays
// [v,...], strings "..." with \xNN for bytes outside printable ASCII, integers as they
// are, floats as f<%.17g>, booleans true/false.
template <typename T>
T read_at(const void *at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
kaldro_toml_node node_at(const void *at) { return read_at<kaldro_toml_node>(at); }
const void *slot(const void *array, uint32_t i) {
  return read_at<const void *>(static_cast<const uint8_t *>(array) + 8 * size_t(i));
}

// Nodes are copied out with memcpy, so trees in unaligned arenas render as well.
std::string dump(const void *at) {
  const kaldro_toml_node n = node_at(at);
  char buf[64];
  switch (n.kind) {
    case KALDRO_TOML_STRING: {
      std::string s = "\"";
      for (uint32_t i = 0; i < n.as.string.len; ++i) {
        const unsigned char c = static_cast<unsigned char>(n.as.string.str[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
          s += char(c);
        } else {
          std::snprintf(buf, sizeof buf, "\\x%02x", c);
          s += buf;
        }
      }
      return s + "\"";
    }
    case KALDRO_TOML_INT:
      std::snprintf(buf, sizeof buf, "%lld", static_cast<long long>(n.as.integer));
      return buf;
    case KALDRO_TOML_FLOAT:
      std::snprintf(buf, sizeof buf, "f%.17g", n.as.number);
      return buf;
    case KALDRO_TOML_BOOL:
      return n.as.boolean ? "true" : "false";
    case KALDRO_TOML_ARRAY: {
      std::string s = "[";
      for (uint32_t i = 0; i < n.as.array.count; ++i) {
        if (i) s += ",";
        s += dump(slot(n.as.array.items, i));
      }
      return s + "]";
    }
    case KALDRO_TOML_TABLE: {
      std::string s = "{";
      for (uint32_t i = 0; i < n.as.table.count; ++i) {
        if (i) s += ",";
        s += std::string(static_cast<const char *>(slot(n.as.table.keys, i))) + "=" +
             dump(slot(n.as.table.values, i));
      }
      return s + "}";
    }
  }
  return "?";
}

// An 8-byte-aligned arena with a guard zone after it that must stay untouched.
struct Arena {
  static constexpr size_t kGuard = 64;
  std::vector<uint64_t> words;
  size_t offset, bytes;
  Arena(size_t n, size_t misalign = 0)
      : words((n + misalign + kGuard) / 8 + 2), offset(misalign), bytes(n) {
    std::memset(words.data(), 0xA5, words.size() * 8);
  }
  uint8_t *data() { return reinterpret_cast<uint8_t *>(words.data()) + offset; }
  bool guard_intact() {
    const uint8_t *g = data() + bytes;
    for (size_t i = 0; i < kGuard; ++i)
      if (g[i] != 0xA5) return false;
    return true;
  }
};

struct Parsed {
  kaldro_status status;
  std::string tree;
};

Parsed parse(const std::string &text, size_t arena_bytes = 1 << 20, size_t misalign = 0) {
  Arena a(arena_bytes, misalign);
  kaldro_toml_node *root = reinterpret_cast<kaldro_toml_node *>(&a);  // must be replaced
  const kaldro_status st = kaldro_toml_parse(text.data(), text.size(), a.data(), a.bytes, &root);
  EXPECT_TRUE(a.guard_intact()) << "wrote past the arena for: " << text;
  if (st != KALDRO_OK) {
    EXPECT_EQ(root, nullptr);
    return {st, ""};
  }
  return {st, dump(root)};
}

kaldro_status status_of(const std::string &text) { return parse(text).status; }
std::string tree_of(const std::string &text) {
  const Parsed p = parse(text);
  EXPECT_EQ(p.status, KALDRO_OK) << text;
  return p.tree;
}

// The smallest arena a text parses in: every block is taken in sequence, so it parses
// with n bytes exactly when n covers the sum of the blocks.
size_t minimum_arena(const std::string &text) {
  size_t lo = 0, hi = 1 << 20;
  EXPECT_EQ(parse(text, hi).status, KALDRO_OK) << text;
  while (lo + 1 < hi) {
    const size_t mid = (lo + hi) / 2;
    (parse(text, mid).status == KALDRO_OK ? hi : lo) = mid;
  }
  return hi;
}

TEST(Toml, NullChecksComeFirstAndLeaveOutRootAlone) {
  uint64_t arena[64];
  kaldro_toml_node *root = reinterpret_cast<kaldro_toml_node *>(arena);
  kaldro_toml_node *const sentinel = root;
  EXPECT_EQ(kaldro_toml_parse("a=1", 3, nullptr, sizeof arena, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(root, sentinel);
  EXPECT_EQ(kaldro_toml_parse("a=1", 3, arena, sizeof arena, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_toml_parse(nullptr, 3, arena, sizeof arena, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(root, sentinel);
  // A null pointer with length 0 is an empty text; a too-small arena still loses to null.
  EXPECT_EQ(kaldro_toml_parse(nullptr, 0, nullptr, 0, &root), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_toml_parse(nullptr, 0, arena, sizeof arena, &root), KALDRO_OK);
  ASSERT_NE(root, nullptr);
  EXPECT_EQ(root->kind, KALDRO_TOML_TABLE);
  EXPECT_EQ(root->as.table.count, 0u);
  EXPECT_EQ(root->as.table.keys, nullptr);
  EXPECT_EQ(root->as.table.values, nullptr);
}

TEST(Toml, EmptyTextNeedsFiftySixBytes) {
  uint64_t arena[8];
  kaldro_toml_node *root = reinterpret_cast<kaldro_toml_node *>(arena);
  EXPECT_EQ(kaldro_toml_parse("", 0, arena, 23, &root), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(root, nullptr);
  EXPECT_EQ(parse("", 55).status, KALDRO_ERR_CAPACITY);
  EXPECT_EQ(parse("", 56).status, KALDRO_OK);
  EXPECT_EQ(minimum_arena("# only a comment\n\n   \t\r\n# another"), 56u);
  EXPECT_EQ(tree_of("# only a comment\n\n   \t\r\n# another"), "{}");
  // The root node follows the root working table.
  uint8_t bytes[56];
  EXPECT_EQ(kaldro_toml_parse("", 0, bytes, sizeof bytes, &root), KALDRO_OK);
  EXPECT_EQ(reinterpret_cast<uint8_t *>(root), bytes + 24);
}

// Block sums worked out by hand from the arena rules.
TEST(Toml, MinimumArenaFollowsTheBlockTable) {
  // root 24; "hermitian" 16; its table 24+72+24; "max_nodes" 16; member 72+24; root node
  // 32; root table 8+8+32; hermitian table 8+8+32.
  EXPECT_EQ(minimum_arena("[hermitian]\nmax_nodes = 4096\n"), 400u);
  EXPECT_EQ(minimum_arena("hermitian.max_nodes = 4096"), 400u);
  // A string reserves up to the end of the text: r = 4 here gives 8, r = 12 gives 16.
  EXPECT_EQ(minimum_arena("a = \"xy\"\n"), 24u + 8 + 8 + 96 + 80);
  EXPECT_EQ(minimum_arena("a = \"xy\"\n# pad..."), 24u + 8 + 16 + 96 + 80);
  EXPECT_EQ(minimum_arena("a = ''"), 24u + 8 + 8 + 96 + 80);
  // Array elements 16+32 each, items 8 each on closing.
  EXPECT_EQ(minimum_arena("a = [1, 2]"), 24u + 8 + 96 + 16 + 96 + 80);
  EXPECT_EQ(minimum_arena("a = []"), 24u + 8 + 96 + 80);
  // Inline table: 24 when it opens, key b 8, member 96, then 8 + 8 + 32 when it closes.
  EXPECT_EQ(minimum_arena("a = {b = 1}"), 24u + 8 + 24 + 8 + 96 + 48 + 96 + 80);
  EXPECT_EQ(minimum_arena("a = {}"), 24u + 8 + 24 + 96 + 80);
  // Array of tables: holder and entry 96, each element 24+16; conversion 8+32 per element.
  EXPECT_EQ(minimum_arena("[[t]]\nx = 1\n[[t]]\n"),
            24u + 8 + 96 + 40 + 8 + 96 + 8 + 40 + 32 + 48 + 80 + 48);
  // Key segments: n rounded down to a multiple of 8, plus 8.
  EXPECT_EQ(minimum_arena("abcdefg = 1"), 24u + 8 + 96 + 80);
  EXPECT_EQ(minimum_arena("abcdefgh = 1"), 24u + 16 + 96 + 80);
}

TEST(Toml, FailedParsesWriteOnlyInsideTheArena) {
  const char *texts[] = {"[hermitian]\nmax_nodes = 4096\n", "a = \"a long string value\"",
                         "a = [[1, 2], {x = 'y'}, \"\"\"\nz\"\"\"]", "[[t]]\n[[t]]\nq.r.s = 1"};
  for (const char *t : texts) {
    const size_t need = minimum_arena(t);
    for (size_t n = 24; n < need; n += 8) EXPECT_EQ(parse(t, n).status, KALDRO_ERR_CAPACITY);
    EXPECT_EQ(parse(t, need).status, KALDRO_OK);
  }
}

TEST(Toml, UnalignedArenasGiveTheSameResults) {
  const std::string docs[] = {
      "title = \"x\"\n[hermitian]\nmax_nodes = 512\n[[srv]]\nname = 'a'\nports = [1, 2]\n"
      "[[srv]]\nname = \"b\\u00e9\"\nopts = {fast = true, ratio = 0.25}\n",
      "a.b.c = [[1], [2.5, 'x'], {k = \"\"\"\nmulti\"\"\"}]"};
  for (const std::string &doc : docs) {
    const size_t need = minimum_arena(doc);
    const std::string aligned = tree_of(doc);
    for (size_t shift = 1; shift < 8; ++shift) {
      const Parsed p = parse(doc, need, shift);
      EXPECT_EQ(p.status, KALDRO_OK) << shift;
      EXPECT_EQ(p.tree, aligned) << shift;
      EXPECT_EQ(parse(doc, need - 1, shift).status, KALDRO_ERR_CAPACITY) << shift;
      // The root sits at the same offset as in an aligned arena, and lookups work.
      Arena a(need, shift), b(need, 0);
      kaldro_toml_node *ra = nullptr, *rb = nullptr;
      ASSERT_EQ(kaldro_toml_parse(doc.data(), doc.size(), a.data(), a.bytes, &ra), KALDRO_OK);
      ASSERT_EQ(kaldro_toml_parse(doc.data(), doc.size(), b.data(), b.bytes, &rb), KALDRO_OK);
      EXPECT_EQ(reinterpret_cast<uint8_t *>(ra) - a.data(), reinterpret_cast<uint8_t *>(rb) - b.data());
      const char *first = static_cast<const char *>(slot(node_at(ra).as.table.keys, 0));
      const kaldro_toml_node *v = kaldro_toml_table_get(ra, first);
      ASSERT_NE(v, nullptr);
      EXPECT_EQ(dump(v), dump(kaldro_toml_table_get(rb, first)));
    }
  }
}

TEST(Toml, HermitianDocumentTrees) {
  EXPECT_EQ(tree_of("[hermitian]\nmax_nodes = 4096\n"), "{hermitian={max_nodes=4096}}");
  EXPECT_EQ(tree_of("hermitian.max_nodes = 4096"), "{hermitian={max_nodes=4096}}");
  EXPECT_EQ(tree_of("hermitian . max_nodes=4096 # c"), "{hermitian={max_nodes=4096}}");
  uint64_t arena[128];
  kaldro_toml_node *root = nullptr;
  const char text[] = "[hermitian]\nmax_nodes = 4096\n";
  ASSERT_EQ(kaldro_toml_parse(text, sizeof text - 1, arena, sizeof arena, &root), KALDRO_OK);
  const kaldro_toml_node *h = kaldro_toml_table_get(root, "hermitian");
  ASSERT_NE(h, nullptr);
  EXPECT_EQ(h->kind, KALDRO_TOML_TABLE);
  const kaldro_toml_node *m = kaldro_toml_table_get(h, "max_nodes");
  ASSERT_NE(m, nullptr);
  EXPECT_EQ(m->kind, KALDRO_TOML_INT);
  EXPECT_EQ(m->as.integer, 4096);
  EXPECT_EQ(kaldro_toml_table_get(root, "max_nodes"), nullptr);
  EXPECT_EQ(kaldro_toml_table_get(root, "hermitia"), nullptr);
  EXPECT_EQ(kaldro_toml_table_get(root, nullptr), nullptr);
  EXPECT_EQ(kaldro_toml_table_get(nullptr, "hermitian"), nullptr);
  EXPECT_EQ(kaldro_toml_table_get(m, "max_nodes"), nullptr);  // not a table
}

TEST(Toml, KeysHeadersAndDuplicates) {
  EXPECT_EQ(status_of("a = 1\na = 2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1\n[a]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("[a]\nx=1\n[b]\n[a]\ny=2"), "{a={x=1,y=2},b={}}");
  EXPECT_EQ(status_of("[a]\nx=1\n[a]\nx=2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("[[item]]\nn = 1\n[[item]]\nn = 2\n"), "{item=[{n=1},{n=2}]}");
  // A table header naming an array of tables continues its last element.
  EXPECT_EQ(tree_of("[[s]]\na=1\n[[s]]\nb=2\n[s]\nc=3"), "{s=[{a=1},{b=2,c=3}]}");
  EXPECT_EQ(tree_of("[[s]]\n[[s]]\n[s.t]\nq=1\n[[s.u]]\n"), "{s=[{},{t={q=1},u=[{}]}]}");
  EXPECT_EQ(status_of("[a]\n[[a]]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1\n[[a]]"), KALDRO_ERR_INVALID);
  // A dotted key makes tables that headers may continue; a path through a value fails.
  EXPECT_EQ(tree_of("a.b = 1\n[a]\nc = 2"), "{a={b=1,c=2}}");
  EXPECT_EQ(status_of("a.b = 1\na.b.c = 2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a.b = 1\na = 2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {b = 1}\na.c = 2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {b = 1}\n[a]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("z = 1\ny.x = 2\nw = 3\ny.v = 4"), "{z=1,y={x=2,v=4},w=3}");
  EXPECT_EQ(tree_of("[ a . b ] # c\n[[ t ]]"), "{a={b={}},t=[{}]}");
  EXPECT_EQ(tree_of("[\ta\t]\n[[\tt ]]"), "{a={},t=[{}]}");
  EXPECT_EQ(status_of("[ # c\na]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[a # c\n]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("A-b_9 = 1"), "{A-b_9=1}");
  EXPECT_EQ(tree_of("1 = 2"), "{1=2}");
  // Quoted keys, empty segments and missing pieces.
  EXPECT_EQ(status_of("\"a\" = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("'a' = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[\"a\"]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a. = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a.# c\nb = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a..b = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[a"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[[a]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[[a] ]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[ [a]]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a # c\n= 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("= 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a ="), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = # c\n1"), KALDRO_ERR_INVALID);
  // Text after a statement on the same line; a carriage return alone ends a line.
  EXPECT_EQ(status_of("a = 1 b = 2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("[a] b = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = truex"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("a = 1\rb = 2\r\n"), "{a=1,b=2}");
  EXPECT_EQ(status_of("!a = 1"), KALDRO_ERR_INVALID);
}

std::string dotted(int segments) {
  std::string s;
  for (int i = 0; i < segments; ++i) s += (i ? ".k" : "k") + std::to_string(i);
  return s;
}

TEST(Toml, SegmentAndNestingLimits) {
  // 64 segments are accepted in a key; a dot after the 64th is a capacity failure, even
  // when nothing valid follows it.
  EXPECT_EQ(status_of(dotted(63) + " = 1"), KALDRO_OK);
  EXPECT_EQ(status_of(dotted(64) + " = 1"), KALDRO_OK);  // 63 tables, the deepest at 63
  EXPECT_EQ(status_of(dotted(65) + " = 1"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of(dotted(64) + ". = 1"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of(dotted(63) + ". = 1"), KALDRO_ERR_INVALID);
  // Tables: 63 levels below the root convert, 64 do not.
  EXPECT_EQ(status_of("[" + dotted(63) + "]"), KALDRO_OK);
  EXPECT_EQ(status_of("[" + dotted(64) + "]"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("[" + dotted(40) + "]\n" + dotted(24) + " = 1"), KALDRO_OK);
  EXPECT_EQ(status_of("[" + dotted(40) + "]\n" + dotted(25) + " = 1"), KALDRO_ERR_CAPACITY);
  // Each array-of-tables element counts two levels: t at 1 holds elements at 2.
  EXPECT_EQ(status_of("[[t]]\n[t." + dotted(61) + "]"), KALDRO_OK);        // deepest 63
  EXPECT_EQ(status_of("[[t]]\n[t." + dotted(62) + "]"), KALDRO_ERR_CAPACITY);  // 64
  // Arrays and inline tables: 64 nested accepted, 65 refused.
  EXPECT_EQ(status_of("a = " + std::string(64, '[') + std::string(64, ']')), KALDRO_OK);
  EXPECT_EQ(status_of("a = " + std::string(65, '[') + std::string(65, ']')), KALDRO_ERR_CAPACITY);
  std::string inl64, inl65;
  for (int i = 0; i < 64; ++i) inl64 += "{x = ";
  inl64 += "1" + std::string(64, '}');
  for (int i = 0; i < 65; ++i) inl65 += "{x = ";
  inl65 += "1" + std::string(65, '}');
  EXPECT_EQ(status_of("a = " + inl64), KALDRO_OK);
  EXPECT_EQ(status_of("a = " + inl65), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = [" + inl64 + "]"), KALDRO_ERR_CAPACITY);
  // An unclosed deep array is still a capacity failure when the limit comes first.
  EXPECT_EQ(status_of("a = " + std::string(70, '[')), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = " + std::string(10, '[')), KALDRO_ERR_INVALID);
}

TEST(Toml, Integers) {
  EXPECT_EQ(tree_of("a = 1_000"), "{a=1000}");
  EXPECT_EQ(tree_of("a = 1__0_"), "{a=10}");  // underscores are dropped wherever they stand
  EXPECT_EQ(tree_of("a = +42\nb = -0\nc = 007"), "{a=42,b=0,c=7}");
  EXPECT_EQ(status_of("a = 0x10"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 0o7"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1979-05-27"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = +"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = --1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = _"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = inf"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = nan"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("a = 9223372036854775807"), "{a=9223372036854775807}");
  EXPECT_EQ(status_of("a = 9223372036854775808"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(tree_of("a = -9223372036854775808"), "{a=-9223372036854775808}");
  EXPECT_EQ(status_of("a = -9223372036854775809"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = 18446744073709551615"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = 18446744073709551616"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = " + std::string(40, '9')), KALDRO_ERR_CAPACITY);
  // A malformed token is invalid even where its digits would also overflow.
  EXPECT_EQ(status_of("a = " + std::string(40, '9') + "-"), KALDRO_ERR_INVALID);
  // 63 characters besides underscores are allowed; the 64th is not.
  EXPECT_EQ(status_of("a = " + std::string(63, '0')), KALDRO_OK);
  EXPECT_EQ(status_of("a = " + std::string(64, '0')), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = " + std::string(63, '0') + "____"), KALDRO_OK);
  EXPECT_EQ(status_of("a = 0." + std::string(62, '5')), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 0." + std::string(61, '5')), KALDRO_OK);
}

// The float rule written out independently: digits accumulate in a double, divide by
// the scale, then multiply or divide by 10 once per exponent step.
double reference_float(double sign, const std::string &digits, int fraction_digits, int exp10) {
  double m = 0, scale = 1;
  for (char c : digits) m = m * 10 + (c - '0');
  for (int i = 0; i < fraction_digits; ++i) scale *= 10;
  double v = sign * m / scale;
  for (int i = 0; i < exp10; ++i) v *= 10;
  for (int i = 0; i > exp10; --i) v /= 10;
  return v;
}

double float_of(const std::string &token) {
  uint64_t arena[256];
  kaldro_toml_node *root = nullptr;
  const std::string text = "v = " + token;
  EXPECT_EQ(kaldro_toml_parse(text.data(), text.size(), arena, sizeof arena, &root), KALDRO_OK)
      << token;
  if (root == nullptr) return NAN;
  const kaldro_toml_node *v = kaldro_toml_table_get(root, "v");
  EXPECT_EQ(v->kind, KALDRO_TOML_FLOAT) << token;
  return v->as.number;
}

TEST(Toml, Floats) {
  EXPECT_EQ(float_of("1."), 1.0);
  EXPECT_EQ(float_of(".5"), 0.5);
  EXPECT_EQ(float_of("+.5"), 0.5);
  EXPECT_EQ(float_of("-2.5"), -2.5);
  EXPECT_TRUE(std::signbit(float_of("-0.0")));
  EXPECT_EQ(float_of("1e3"), 1000.0);
  EXPECT_EQ(float_of("1E+3"), 1000.0);
  EXPECT_EQ(float_of("2.5e-3"), reference_float(1, "25", 1, -3));
  EXPECT_EQ(float_of("1_000.000_5"), reference_float(1, "10000005", 4, 0));
  EXPECT_EQ(float_of("3.14159265358979"), reference_float(1, "314159265358979", 14, 0));
  EXPECT_EQ(float_of("6.02214076e23"), reference_float(1, "602214076", 8, 23));
  EXPECT_EQ(float_of("-1.7e308"), reference_float(-1, "17", 1, 308));
  EXPECT_EQ(float_of("1e308"), reference_float(1, "1", 0, 308));
  EXPECT_EQ(float_of("1.5e-320"), reference_float(1, "15", 1, -320));
  EXPECT_EQ(float_of("1e-400"), 0.0);
  EXPECT_EQ(float_of("1e-" + std::string(55, '9')), 0.0);  // long exponents end promptly
  EXPECT_EQ(status_of("a = 1e309"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = 0e999"), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(status_of("a = ."), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = +."), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = e5"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = .e5"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1e"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1e+"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1.5.3"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1e5.0"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1e5e5"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1e999-1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 1-2.0"), KALDRO_ERR_INVALID);
  // Random decimal texts against the written-out rule.
  std::mt19937_64 rng(11);
  for (int i = 0; i < 2000; ++i) {
    std::string whole = std::to_string(rng() % 100000);
    std::string frac;
    for (int k = int(rng() % 18); k > 0; --k) frac += char('0' + rng() % 10);
    const int e = int(rng() % 80) - 40;
    const bool neg = rng() & 1;
    const std::string tok = (neg ? "-" : "") + whole + "." + frac + "e" + std::to_string(e);
    EXPECT_EQ(float_of(tok), reference_float(neg ? -1 : 1, whole + frac, int(frac.size()), e))
        << tok;
  }
}

TEST(Toml, Booleans) {
  EXPECT_EQ(tree_of("a = true\nb = false"), "{a=true,b=false}");
  EXPECT_EQ(tree_of("a = [true,false]"), "{a=[true,false]}");
  EXPECT_EQ(status_of("a = tru"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = True"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = [trueabc]"), KALDRO_ERR_INVALID);
}

TEST(Toml, Strings) {
  EXPECT_EQ(tree_of("a = 'C:\\dir\\x'"), "{a=\"C:\\x5cdir\\x5cx\"}");
  EXPECT_EQ(status_of("a = \"bad \\x escape\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("a = \"q\\\" b\\\\ \\b\\f\\n\\r\\t\""),
            "{a=\"q\\x22 b\\x5c \\x08\\x0c\\x0a\\x0d\\x09\"}");
  EXPECT_EQ(tree_of("a = \"\\u0041\\u00e9\\u20AC\\u0000z\""),
            "{a=\"A\\xc3\\xa9\\xe2\\x82\\xac\\x00z\"}");
  EXPECT_EQ(status_of("a = \"\\uD800\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = \"\\udfff\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("a = \"\\ud7ff\\ue000\""), "{a=\"\\xed\\x9f\\xbf\\xee\\x80\\x80\"}");
  EXPECT_EQ(status_of("a = \"\\u12\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = \"\\u12g4\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = \"\\U0001F600\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = \"\\"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = \"\"\"x\\\ny\"\"\""), KALDRO_ERR_INVALID);  // no line-ending backslash
  EXPECT_EQ(status_of("a = \"open"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = \"line\nfeed\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = 'line\nfeed'"), KALDRO_ERR_INVALID);
  // Single-line strings copy carriage returns and other control bytes as they are.
  EXPECT_EQ(tree_of("a = \"x\ry\x01\""), "{a=\"x\\x0dy\\x01\"}");
  EXPECT_EQ(tree_of("a = \"\"\nb = ''"), "{a=\"\",b=\"\"}");
  // Multi-line: the line break right after the opening quotes is dropped, CR LF is
  // stored as LF, a lone CR is kept, and the first run of three quotes closes.
  EXPECT_EQ(tree_of("a = \"\"\"\nfirst\nsecond\"\"\""), "{a=\"first\\x0asecond\"}");
  EXPECT_EQ(tree_of("a = \"\"\"\r\nx\r\ny\rz\"\"\""), "{a=\"x\\x0ay\\x0dz\"}");
  EXPECT_EQ(tree_of("a = \"\"\"\rx\"\"\""), "{a=\"x\"}");
  EXPECT_EQ(tree_of("a = \"\"\"\n\nx\"\"\""), "{a=\"\\x0ax\"}");
  EXPECT_EQ(tree_of("a = '''\n\\n 'q' ''x'''"), "{a=\"\\x5cn 'q' ''x\"}");
  EXPECT_EQ(tree_of("a = \"\"\"say \"hi\" \\\"\"\"\""), "{a=\"say \\x22hi\\x22 \\x22\"}");
  EXPECT_EQ(status_of("a = \"\"\"x\"\"\"\""), KALDRO_ERR_INVALID);  // the fourth quote is left over
  EXPECT_EQ(tree_of("a = \"\"\"\"\"\""), "{a=\"\"}");
  EXPECT_EQ(status_of("a = \"\"\"x\"\""), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = '''x"), KALDRO_ERR_INVALID);
  // len excludes the NUL that follows the bytes.
  uint64_t arena[256];
  kaldro_toml_node *root = nullptr;
  const char text[] = "s = \"ab\\u0000c\"";
  ASSERT_EQ(kaldro_toml_parse(text, sizeof text - 1, arena, sizeof arena, &root), KALDRO_OK);
  const kaldro_toml_node *s = kaldro_toml_table_get(root, "s");
  ASSERT_EQ(s->kind, KALDRO_TOML_STRING);
  EXPECT_EQ(s->as.string.len, 4u);
  EXPECT_EQ(std::memcmp(s->as.string.str, "ab\0c\0", 5), 0);
}

// A string's block is zero past its bytes, to the end of the block (which reaches the end
// of the text).
TEST(Toml, StringBlocksAreZeroFilled) {
  const std::string text = "a = \"xy\\tz\"\n# padding to the end of the text....";
  Arena arena(4096);
  kaldro_toml_node *root = nullptr;
  ASSERT_EQ(kaldro_toml_parse(text.data(), text.size(), arena.data(), arena.bytes, &root), KALDRO_OK);
  // root table 24, key "a" 8, then the string block of (r rounded down to 8) + 8 bytes.
  const size_t r = text.size() - 5, block = (r & ~size_t(7)) + 8;
  const uint8_t *b = arena.data() + 32;
  EXPECT_EQ(reinterpret_cast<const uint8_t *>(node_at(slot(node_at(root).as.table.values, 0)).as.string.str), b);
  EXPECT_EQ(std::memcmp(b, "xy\tz", 4), 0);
  for (size_t i = 4; i < block; ++i) ASSERT_EQ(b[i], 0) << i;
}

TEST(Toml, ArraysAndInlineTables) {
  EXPECT_EQ(tree_of("a = [1 2 3]"), "{a=[1,2,3]}");
  EXPECT_EQ(tree_of("a = [1, 2, 3,]"), "{a=[1,2,3]}");
  EXPECT_EQ(tree_of("a = [ ]"), "{a=[]}");
  EXPECT_EQ(tree_of("a = [\n  1, # one\n  'two',\r\n  [3.5, {x = 4}], # c\n]"),
            "{a=[1,\"two\",[f3.5,{x=4}]]}");
  EXPECT_EQ(status_of("a = [,]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = [1,,2]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = [1, 2"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = [1, 2 # ]"), KALDRO_ERR_INVALID);
  EXPECT_EQ(tree_of("a = {x = 1, y = 'z'}"), "{a={x=1,y=\"z\"}}");
  EXPECT_EQ(tree_of("a = {x = 1 y = 2,}"), "{a={x=1,y=2}}");
  EXPECT_EQ(tree_of("a = {\n  x = 1, \n  y = {}\n  # c\n}"), "{a={x=1,y={}}}");
  EXPECT_EQ(tree_of("a = { }"), "{a={}}");
  EXPECT_EQ(status_of("a = {x = 1, x = 2}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {x.y = 1}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {'x' = 1}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {x 1}"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {x = 1"), KALDRO_ERR_INVALID);
  EXPECT_EQ(status_of("a = {x = 1,"), KALDRO_ERR_INVALID);
  // A comment right after a comma is read as a key.
  EXPECT_EQ(status_of("a = {x = 1, # c\n y = 2}"), KALDRO_ERR_INVALID);
  uint64_t arena[512];
  kaldro_toml_node *root = nullptr;
  const char text[] = "a = [1, 'b', [], {}]";
  ASSERT_EQ(kaldro_toml_parse(text, sizeof text - 1, arena, sizeof arena, &root), KALDRO_OK);
  const kaldro_toml_node *a = kaldro_toml_table_get(root, "a");
  ASSERT_EQ(a->kind, KALDRO_TOML_ARRAY);
  ASSERT_EQ(a->as.array.count, 4u);
  EXPECT_EQ(a->as.array.items[2]->as.array.items, nullptr);
  EXPECT_EQ(a->as.array.items[2]->as.array.count, 0u);
  EXPECT_EQ(a->as.array.items[3]->kind, KALDRO_TOML_TABLE);
  EXPECT_EQ(a->as.array.items[3]->as.table.keys, nullptr);
  EXPECT_EQ(a->as.array.items[3]->as.table.count, 0u);
}

// ---- random documents of the subset against Python's tomllib --------------------------

// Our tree as JSON with tagged values, for the comparison script.
std::string tagged(const kaldro_toml_node *n) {
  char buf[64];
  switch (n->kind) {
    case KALDRO_TOML_STRING: {
      std::string s = "[\"s\",\"";
      for (uint32_t i = 0; i < n->as.string.len; ++i) {
        std::snprintf(buf, sizeof buf, "%02x", static_cast<unsigned char>(n->as.string.str[i]));
        s += buf;
      }
      return s + "\"]";
    }
    case KALDRO_TOML_INT:
      std::snprintf(buf, sizeof buf, "[\"i\",\"%lld\"]", static_cast<long long>(n->as.integer));
      return buf;
    case KALDRO_TOML_FLOAT:
      std::snprintf(buf, sizeof buf, "[\"f\",\"%.17g\"]", n->as.number);
      return buf;
    case KALDRO_TOML_BOOL:
      return n->as.boolean ? "[\"b\",1]" : "[\"b\",0]";
    case KALDRO_TOML_ARRAY: {
      std::string s = "[\"a\",[";
      for (uint32_t i = 0; i < n->as.array.count; ++i) s += (i ? "," : "") + tagged(n->as.array.items[i]);
      return s + "]]";
    }
    default: {
      std::string s = "[\"t\",[";
      for (uint32_t i = 0; i < n->as.table.count; ++i)
        s += std::string(i ? "," : "") + "[\"" + n->as.table.keys[i] + "\"," +
             tagged(n->as.table.values[i]) + "]";
      return s + "]]";
    }
  }
}

struct DocGen {
  std::mt19937_64 rng;
  int uniq = 0;
  explicit DocGen(uint64_t seed) : rng(seed) {}
  uint64_t r(uint64_t n) { return rng() % n; }
  std::string key() {
    static const char *words[] = {"name", "port", "max_nodes", "level", "x", "Y2", "a-b", "c_d", "v"};
    return std::string(words[r(9)]) + "_" + std::to_string(uniq++);
  }
  std::string blanks() { return std::string(r(3), r(2) ? ' ' : '\t'); }
  std::string integer() {
    switch (r(4)) {
      case 0: return std::to_string(int64_t(rng()));
      case 1: return std::to_string(int(r(2000)) - 1000);
      case 2: return "1_000_" + std::to_string(100 + r(900));
      default: return (r(2) ? "+" : "-") + std::to_string(r(100000));
    }
  }
  std::string floating() {
    std::string s = r(4) == 0 ? "-" : "";
    s += std::to_string(r(100000)) + "." + std::to_string(r(1000000));
    if (r(3) == 0) s += std::string(r(2) ? "e" : "E") + (r(2) ? "-" : "+") + std::to_string(r(30));
    return s;
  }
  std::string basic_char() {
    static const char *pieces[] = {"a", "Z", " ", "\\n", "\\t", "\\\"", "\\\\", "\\u00e9",
                                   "\\u20AC", "'", "#", "=", "[", "\xc3\xbc", "\\r", "\\b"};
    return pieces[r(16)];
  }
  std::string literal_char() {
    static const char *pieces[] = {"a", "Z", " ", "\\", "\"", "#", "{", "\xe2\x82\xac", "\\n"};
    return pieces[r(9)];
  }
  std::string string() {
    std::string body;
    const int n = int(r(12));
    switch (r(4)) {
      case 0:
        for (int i = 0; i < n; ++i) body += basic_char();
        return "\"" + body + "\"";
      case 1:
        for (int i = 0; i < n; ++i) body += literal_char();
        return "'" + body + "'";
      case 2:
        for (int i = 0; i < n; ++i) body += r(4) ? basic_char() : "\n";
        return "\"\"\"" + std::string(r(2) ? "\n" : "") + body + "x\"\"\"";
      default:
        for (int i = 0; i < n; ++i) body += r(4) ? literal_char() : "\n";
        return "'''" + std::string(r(2) ? "\n" : "") + body + "x'''";
    }
  }
  std::string value(int depth) {
    switch (r(depth < 3 ? 7 : 5)) {
      case 0: return integer();
      case 1: return floating();
      case 2: return r(2) ? "true" : "false";
      case 3:
      case 4: return string();
      case 5: {
        std::string s = "[";
        const int n = int(r(4));
        for (int i = 0; i < n; ++i) s += (i ? "," : "") + blanks() + value(depth + 1);
        if (n && r(2)) s += ",";
        return s + (r(2) ? "\n" : "") + "]";
      }
      default: {
        std::string s = "{";
        const int n = int(r(4));
        for (int i = 0; i < n; ++i) s += (i ? ", " : " ") + key() + " = " + value(depth + 1);
        return s + " }";
      }
    }
  }
  std::string eol() {
    std::string s = blanks();
    if (r(4) == 0) s += "# note = \"x\" [y]";
    return s + (r(5) == 0 ? "\r\n" : "\n") + (r(4) == 0 ? "\n" : "");
  }
  std::string pairs() {
    std::string s;
    for (int i = int(r(5)); i > 0; --i) {
      std::string k = key();
      if (r(4) == 0) k += blanks() + "." + blanks() + key();
      s += k + blanks() + "=" + blanks() + value(0) + eol();
    }
    return s;
  }
  std::string document() {
    std::string s = pairs();
    std::vector<std::string> arrays;
    for (int t = int(r(5)); t > 0; --t) {
      if (!arrays.empty() && r(3) == 0) {
        s += "[[" + arrays[r(arrays.size())] + "]]" + eol();
      } else if (r(3) == 0) {
        arrays.push_back(key() + (r(2) ? "." + key() : ""));
        s += "[[" + arrays.back() + "]]" + eol();
      } else {
        s += "[" + key() + (r(2) ? "." + key() : "") + "]" + eol();
      }
      s += pairs();
    }
    return s;
  }
};

TEST(Toml, RandomDocumentsAgreeWithTomllib) {
  if (std::system("python3 -c 'import tomllib' >/dev/null 2>&1") != 0)
    GTEST_SKIP() << "python3 with tomllib is not available";
  char dir_template[] = "/tmp/kaldro_toml_XXXXXX";
  ASSERT_NE(mkdtemp(dir_template), nullptr);
  const std::string dir = dir_template;
  DocGen gen(2024);
  const int docs = 300;
  std::vector<uint64_t> arena(1 << 18);
  for (int i = 0; i < docs; ++i) {
    const std::string doc = gen.document();
    kaldro_toml_node *root = nullptr;
    ASSERT_EQ(kaldro_toml_parse(doc.data(), doc.size(), arena.data(), arena.size() * 8, &root),
              KALDRO_OK)
        << doc;
    std::ofstream(dir + "/" + std::to_string(i) + ".toml", std::ios::binary) << doc;
    std::ofstream(dir + "/" + std::to_string(i) + ".json", std::ios::binary) << tagged(root);
  }
  std::ofstream(dir + "/control.toml") << "a = [1, 2.5, 'x']\n";
  std::ofstream(dir + "/control.json") << "[\"t\",[[\"a\",[\"a\",[[\"i\",\"1\"],[\"f\",\"2.5000001\"],[\"s\",\"78\"]]]]]]";
  const std::string script = R"PY(
import json, math, sys, tomllib
def tag(v):
    if isinstance(v, dict): return ["t", [[k, tag(x)] for k, x in v.items()]]
    if isinstance(v, list): return ["a", [tag(x) for x in v]]
    if isinstance(v, bool): return ["b", int(v)]
    if isinstance(v, int): return ["i", str(v)]
    if isinstance(v, float): return ["f", v]
    return ["s", v.encode("utf-8").hex()]
def same(a, b):
    if a[0] != b[0]: return False
    if a[0] == "f":
        x = float(b[1]); y = a[1]
        return x == y or abs(x - y) <= 1e-13 * max(abs(x), abs(y))
    if a[0] in "tc":
        return len(a[1]) == len(b[1]) and all(p[0] == q[0] and same(p[1], q[1]) for p, q in zip(a[1], b[1]))
    if a[0] == "a":
        return len(a[1]) == len(b[1]) and all(same(p, q) for p, q in zip(a[1], b[1]))
    return a[1] == b[1]
bad = 0
for i in range(int(sys.argv[2])):
    base = "%s/%d" % (sys.argv[1], i)
    ref = tag(tomllib.load(open(base + ".toml", "rb")))
    ours = json.load(open(base + ".json"))
    if not same(ref, ours):
        bad += 1
        print("mismatch in", base + ".toml")
# The control pair differs on purpose: a comparison that accepts it proves nothing.
control = same(tag(tomllib.load(open(sys.argv[1] + "/control.toml", "rb"))),
               json.load(open(sys.argv[1] + "/control.json")))
print("compared", sys.argv[2], "bad", bad, "control caught", not control)
sys.exit(1 if bad or control else 0)
)PY";
  std::ofstream(dir + "/compare.py") << script;
  const std::string cmd = "python3 " + dir + "/compare.py " + dir + " " + std::to_string(docs);
  EXPECT_EQ(std::system(cmd.c_str()), 0) << "documents kept in " << dir;
  if (!HasFailure()) std::system(("rm -rf " + dir).c_str());
}

}  // namespace
