// TOML reader for a practical subset, parsed in two passes inside the caller's arena: the
// first pass reads the text statement by statement into linked working tables, the final
// pass converts them into kaldro_toml_node trees with arrays of keys and values.
#include "frame/internal.h"

#include <cstring>

namespace kaldro {
namespace {

// The arena may start at any address (the configuration loader hands over the second
// half of its own buffer), so working records are moved in and out through memcpy.
template <typename T>
T load(const uint8_t *at) {
  T v;
  std::memcpy(&v, at, sizeof v);
  return v;
}
template <typename T>
void store(uint8_t *at, const T &v) {
  std::memcpy(at, &v, sizeof v);
}

// Working table: a singly linked list of member entries.
struct WorkTable {
  uint8_t *first;
  uint8_t *last;
  uint64_t count;
};
struct MemberEntry {
  const char *key;
  uint8_t *holder;
  uint8_t *next;
};
enum : uint64_t { kHoldValue = 0, kHoldTable = 1, kHoldTableArray = 2 };
// What a member holds: a finished value, a working table, or a list of working tables.
struct Holder {
  uint64_t what;
  kaldro_toml_node value;
  uint8_t *table;
  uint8_t *first;
  uint8_t *last;
  uint64_t count;
};
// One element of an array or of an array of tables.
struct Link {
  uint8_t *item;
  uint8_t *next;
};
static_assert(sizeof(kaldro_toml_node) == 32, "a node is 32 bytes");
static_assert(sizeof(WorkTable) == 24 && sizeof(MemberEntry) == 24, "24-byte records");
static_assert(sizeof(Holder) == 72 && sizeof(Link) == 16, "holder and link sizes");

constexpr int kMaxSegments = 64;
constexpr int kMaxNesting = 64;    // arrays and inline tables
constexpr uint64_t kMaxLevel = 63; // tables below the root
constexpr int kMaxToken = 63;      // number characters other than '_'

bool is_bare(uint8_t c) {
  return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= '0' && c <= '9') ||
         c == '_' || c == '-';
}
bool is_blank(uint8_t c) { return c == ' ' || c == '\t'; }
bool is_digit(uint8_t c) { return c >= '0' && c <= '9'; }
bool is_number_char(uint8_t c) {
  return is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E' || c == '_';
}
int hex_value(uint8_t c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

kaldro_toml_node make_node(kaldro_toml_kind kind) {
  kaldro_toml_node n;
  std::memset(&n, 0, sizeof n);
  n.kind = kind;
  return n;
}

struct Parser {
  const uint8_t *text;
  uint64_t len;
  uint64_t pos;
  uint8_t *arena;
  uint64_t size;
  uint64_t used;
  uint8_t *root;

  // Arena blocks: every request is a multiple of 8 and taken at the running offset.
  kaldro_status take(uint64_t bytes, uint8_t **out) {
    if (bytes > size - used) return KALDRO_ERR_CAPACITY;
    *out = arena + used;
    used += bytes;
    return KALDRO_OK;
  }

  bool at_end() const { return pos >= len; }
  bool peek_is(uint8_t c) const { return pos < len && text[pos] == c; }

  void skip_blanks_comments() {
    for (;;) {
      while (pos < len && is_blank(text[pos])) ++pos;
      if (!peek_is('#')) return;
      const void *lf = std::memchr(text + pos, '\n', len - pos);
      pos = lf ? uint64_t(static_cast<const uint8_t *>(lf) - text) : len;
    }
  }
  void skip_space() {
    while (pos < len && (is_blank(text[pos]) || text[pos] == '\n' || text[pos] == '\r')) ++pos;
  }
  void skip_space_comments() {
    for (;;) {
      skip_space();
      if (!peek_is('#')) return;
      const void *lf = std::memchr(text + pos, '\n', len - pos);
      pos = lf ? uint64_t(static_cast<const uint8_t *>(lf) - text) : len;
    }
  }

  // --- keys -----------------------------------------------------------------------

  kaldro_status read_segment(const char **out) {
    const uint64_t start = pos;
    while (pos < len && is_bare(text[pos])) ++pos;
    const uint64_t n = pos - start;
    if (n == 0) return KALDRO_ERR_INVALID;
    const uint64_t bytes = (n & ~uint64_t(7)) + 8;
    uint8_t *block;
    KALDRO_TRY(take(bytes, &block));
    std::memcpy(block, text + start, n);
    std::memset(block + n, 0, bytes - n);
    *out = reinterpret_cast<const char *>(block);
    return KALDRO_OK;
  }

  kaldro_status read_dotted_key(const char **segs, int *count) {
    int n = 0;
    for (;;) {
      KALDRO_TRY(read_segment(&segs[n]));
      ++n;
      while (pos < len && is_blank(text[pos])) ++pos;
      if (!peek_is('.')) break;
      if (n == kMaxSegments) return KALDRO_ERR_CAPACITY;
      ++pos;
      while (pos < len && is_blank(text[pos])) ++pos;
    }
    *count = n;
    return KALDRO_OK;
  }

  // --- working tables ---------------------------------------------------------------

  static uint8_t *find_member(uint8_t *table, const char *key) {
    const WorkTable t = load<WorkTable>(table);
    for (uint8_t *m = t.first; m != nullptr;) {
      const MemberEntry e = load<MemberEntry>(m);
      if (std::strcmp(e.key, key) == 0) return m;
      m = e.next;
    }
    return nullptr;
  }

  // Appends a member: its holder (72 bytes), then its entry (24 bytes).
  kaldro_status add_member(uint8_t *table, const char *key, const Holder &h, uint8_t **holder) {
    uint8_t *hp, *ep;
    KALDRO_TRY(take(sizeof(Holder), &hp));
    KALDRO_TRY(take(sizeof(MemberEntry), &ep));
    store(hp, h);
    store(ep, MemberEntry{key, hp, nullptr});
    WorkTable t = load<WorkTable>(table);
    if (t.last != nullptr)
      store(t.last + offsetof(MemberEntry, next), ep);
    else
      t.first = ep;
    t.last = ep;
    ++t.count;
    store(table, t);
    if (holder != nullptr) *holder = hp;
    return KALDRO_OK;
  }

  kaldro_status new_work_table(uint8_t **out) {
    KALDRO_TRY(take(sizeof(WorkTable), out));
    store(*out, WorkTable{nullptr, nullptr, 0});
    return KALDRO_OK;
  }

  static Holder holder_of(uint64_t what) {
    Holder h;
    std::memset(&h, 0, sizeof h);
    h.what = what;
    return h;
  }

  // Appends an empty working table to an array of tables; returns the new table.
  kaldro_status add_table_element(uint8_t *holder, uint8_t **out) {
    uint8_t *table, *link;
    KALDRO_TRY(new_work_table(&table));
    KALDRO_TRY(take(sizeof(Link), &link));
    store(link, Link{table, nullptr});
    Holder h = load<Holder>(holder);
    if (h.last != nullptr)
      store(h.last + offsetof(Link, next), link);
    else
      h.first = link;
    h.last = link;
    ++h.count;
    store(holder, h);
    *out = table;
    return KALDRO_OK;
  }

  // Walks `n` segments from `table`: into tables, into the last element of arrays of
  // tables, creating empty tables for missing keys. Any other value is in the way.
  kaldro_status resolve(uint8_t *table, const char *const *segs, int n, uint8_t **out) {
    for (int i = 0; i < n; ++i) {
      uint8_t *m = find_member(table, segs[i]);
      if (m != nullptr) {
        const Holder h = load<Holder>(load<MemberEntry>(m).holder);
        if (h.what == kHoldTable)
          table = h.table;
        else if (h.what == kHoldTableArray)
          table = load<Link>(h.last).item;
        else
          return KALDRO_ERR_INVALID;
      } else {
        uint8_t *child;
        KALDRO_TRY(new_work_table(&child));
        Holder h = holder_of(kHoldTable);
        h.table = child;
        KALDRO_TRY(add_member(table, segs[i], h, nullptr));
        table = child;
      }
    }
    *out = table;
    return KALDRO_OK;
  }

  // --- statements ---------------------------------------------------------------------

  kaldro_status read_header(uint8_t **current) {
    ++pos;  // '['
    const bool table_array = peek_is('[');
    if (table_array) ++pos;
    skip_blanks_comments();
    const char *segs[kMaxSegments];
    int n = 0;
    KALDRO_TRY(read_dotted_key(segs, &n));
    skip_blanks_comments();
    if (!table_array) {
      if (!peek_is(']')) return KALDRO_ERR_INVALID;
      ++pos;
      return resolve(root, segs, n, current);
    }
    if (!(pos + 1 < len && text[pos] == ']' && text[pos + 1] == ']')) return KALDRO_ERR_INVALID;
    pos += 2;
    uint8_t *parent;
    KALDRO_TRY(resolve(root, segs, n - 1, &parent));
    uint8_t *holder;
    uint8_t *m = find_member(parent, segs[n - 1]);
    if (m != nullptr) {
      holder = load<MemberEntry>(m).holder;
      if (load<Holder>(holder).what != kHoldTableArray) return KALDRO_ERR_INVALID;
    } else {
      KALDRO_TRY(add_member(parent, segs[n - 1], holder_of(kHoldTableArray), &holder));
    }
    return add_table_element(holder, current);
  }

  kaldro_status read_key_value(uint8_t *current) {
    const char *segs[kMaxSegments];
    int n = 0;
    KALDRO_TRY(read_dotted_key(segs, &n));
    uint8_t *target = current;
    if (n >= 2) KALDRO_TRY(resolve(current, segs, n - 1, &target));
    skip_blanks_comments();
    if (!peek_is('=')) return KALDRO_ERR_INVALID;
    ++pos;
    skip_blanks_comments();
    Holder h = holder_of(kHoldValue);
    KALDRO_TRY(read_value(0, &h.value));
    if (find_member(target, segs[n - 1]) != nullptr) return KALDRO_ERR_INVALID;
    return add_member(target, segs[n - 1], h, nullptr);
  }

  // --- values ---------------------------------------------------------------------------

  kaldro_status read_value(int depth, kaldro_toml_node *out) {
    if (pos < len) {
      const uint8_t c = text[pos];
      if (c == '"' || c == '\'') return read_string(out);
      if (c == '[') return read_array(depth, out);
      if (c == '{') return read_inline_table(depth, out);
      if (len - pos >= 4 && std::memcmp(text + pos, "true", 4) == 0) {
        pos += 4;
        *out = make_node(KALDRO_TOML_BOOL);
        out->as.boolean = 1;
        return KALDRO_OK;
      }
      if (len - pos >= 5 && std::memcmp(text + pos, "false", 5) == 0) {
        pos += 5;
        *out = make_node(KALDRO_TOML_BOOL);
        out->as.boolean = 0;
        return KALDRO_OK;
      }
    }
    return read_number(out);
  }

  // Decodes one escape after a backslash of a basic string into dst; returns the count.
  kaldro_status read_escape(uint8_t *dst, uint64_t *written) {
    ++pos;  // the backslash
    if (pos >= len) return KALDRO_ERR_INVALID;
    const uint8_t e = text[pos++];
    uint8_t simple = 0;
    switch (e) {
      case '"': simple = 0x22; break;
      case '\\': simple = 0x5C; break;
      case 'b': simple = 0x08; break;
      case 'f': simple = 0x0C; break;
      case 'n': simple = 0x0A; break;
      case 'r': simple = 0x0D; break;
      case 't': simple = 0x09; break;
      case 'u': {
        if (len - pos < 4) return KALDRO_ERR_INVALID;
        uint32_t cp = 0;
        for (int i = 0; i < 4; ++i) {
          const int v = hex_value(text[pos + i]);
          if (v < 0) return KALDRO_ERR_INVALID;
          cp = cp << 4 | uint32_t(v);
        }
        pos += 4;
        if (cp >= 0xD800 && cp <= 0xDFFF) return KALDRO_ERR_INVALID;
        if (cp < 0x80) {
          dst[0] = uint8_t(cp);
          *written = 1;
        } else if (cp < 0x800) {
          dst[0] = uint8_t(0xC0 | cp >> 6);
          dst[1] = uint8_t(0x80 | (cp & 0x3F));
          *written = 2;
        } else {
          dst[0] = uint8_t(0xE0 | cp >> 12);
          dst[1] = uint8_t(0x80 | (cp >> 6 & 0x3F));
          dst[2] = uint8_t(0x80 | (cp & 0x3F));
          *written = 3;
        }
        return KALDRO_OK;
      }
      default:
        return KALDRO_ERR_INVALID;
    }
    dst[0] = simple;
    *written = 1;
    return KALDRO_OK;
  }

  kaldro_status read_string(kaldro_toml_node *out) {
    const uint8_t quote = text[pos];
    const bool basic = quote == '"';
    const bool multi = len - pos >= 3 && text[pos + 1] == quote && text[pos + 2] == quote;
    if (multi) {
      pos += 3;
      if (peek_is('\r')) ++pos;
      if (peek_is('\n')) ++pos;
    } else {
      ++pos;
    }
    // The block is sized before the closing quote is known: up to the end of the text,
    // which bounds the decoded bytes (escapes only shrink) plus their NUL.
    const uint64_t room = len - pos;
    const uint64_t block_bytes = (room & ~uint64_t(7)) + 8;
    uint8_t *block;
    KALDRO_TRY(take(block_bytes, &block));
    uint64_t n = 0;
    for (;;) {
      if (pos >= len) return KALDRO_ERR_INVALID;
      const uint8_t c = text[pos];
      if (c == quote) {
        if (!multi) {
          ++pos;
          break;
        }
        if (len - pos >= 3 && text[pos + 1] == quote && text[pos + 2] == quote) {
          pos += 3;
          break;
        }
      } else if (c == '\\' && basic) {
        uint64_t w = 0;
        KALDRO_TRY(read_escape(block + n, &w));
        n += w;
        continue;
      } else if (c == '\n' && !multi) {
        return KALDRO_ERR_INVALID;
      } else if (c == '\r' && multi && len - pos >= 2 && text[pos + 1] == '\n') {
        block[n++] = '\n';
        pos += 2;
        continue;
      }
      block[n++] = c;
      ++pos;
    }
    if (n > UINT32_MAX) return KALDRO_ERR_CAPACITY;  // len is a 32-bit field
    // The rest of the block, the NUL included, is zero.
    std::memset(block + n, 0, block_bytes - n);
    *out = make_node(KALDRO_TOML_STRING);
    out->as.string.str = reinterpret_cast<const char *>(block);
    out->as.string.len = uint32_t(n);
    return KALDRO_OK;
  }

  kaldro_status read_array(int depth, kaldro_toml_node *out) {
    if (depth >= kMaxNesting) return KALDRO_ERR_CAPACITY;
    ++pos;  // '['
    uint8_t *first = nullptr, *last = nullptr;
    uint64_t count = 0;
    for (;;) {
      skip_space_comments();
      if (pos >= len) return KALDRO_ERR_INVALID;
      if (text[pos] == ']') {
        ++pos;
        break;
      }
      kaldro_toml_node item;
      KALDRO_TRY(read_value(depth + 1, &item));
      uint8_t *link, *node;
      KALDRO_TRY(take(sizeof(Link), &link));
      KALDRO_TRY(take(sizeof(kaldro_toml_node), &node));
      store(node, item);
      store(link, Link{node, nullptr});
      if (last != nullptr)
        store(last + offsetof(Link, next), link);
      else
        first = link;
      last = link;
      ++count;
      skip_space_comments();
      if (peek_is(',')) ++pos;
    }
    if (count > UINT32_MAX) return KALDRO_ERR_CAPACITY;
    *out = make_node(KALDRO_TOML_ARRAY);
    if (count != 0) {
      uint8_t *items;
      KALDRO_TRY(take(8 * count, &items));
      uint64_t i = 0;
      for (uint8_t *l = first; l != nullptr; ++i) {
        const Link k = load<Link>(l);
        store(items + 8 * i, k.item);
        l = k.next;
      }
      out->as.array.items = reinterpret_cast<kaldro_toml_node **>(items);
      out->as.array.count = uint32_t(count);
    }
    return KALDRO_OK;
  }

  // Lays out a finished table: keys, values, then one node per member, each a copy of
  // what `node_of` gives for the member.
  template <typename NodeOf>
  kaldro_status finish_table(uint8_t *table, kaldro_toml_node *out, NodeOf &&node_of) {
    const WorkTable t = load<WorkTable>(table);
    *out = make_node(KALDRO_TOML_TABLE);
    if (t.count == 0) return KALDRO_OK;
    if (t.count > UINT32_MAX) return KALDRO_ERR_CAPACITY;
    uint8_t *keys, *values, *nodes;
    KALDRO_TRY(take(8 * t.count, &keys));
    KALDRO_TRY(take(8 * t.count, &values));
    KALDRO_TRY(take(32 * t.count, &nodes));
    uint64_t i = 0;
    for (uint8_t *m = t.first; m != nullptr; ++i) {
      const MemberEntry e = load<MemberEntry>(m);
      kaldro_toml_node n;
      KALDRO_TRY(node_of(load<Holder>(e.holder), &n));
      store(nodes + 32 * i, n);
      store(keys + 8 * i, e.key);
      store(values + 8 * i, nodes + 32 * i);
      m = e.next;
    }
    out->as.table.keys = reinterpret_cast<const char **>(keys);
    out->as.table.values = reinterpret_cast<kaldro_toml_node **>(values);
    out->as.table.count = uint32_t(t.count);
    return KALDRO_OK;
  }

  kaldro_status read_inline_table(int depth, kaldro_toml_node *out) {
    if (depth >= kMaxNesting) return KALDRO_ERR_CAPACITY;
    ++pos;  // '{'
    uint8_t *table;
    KALDRO_TRY(new_work_table(&table));
    skip_space_comments();
    for (;;) {
      if (pos >= len) return KALDRO_ERR_INVALID;
      if (text[pos] == '}') {
        ++pos;
        break;
      }
      const char *key;
      KALDRO_TRY(read_segment(&key));
      skip_blanks_comments();
      if (!peek_is('=')) return KALDRO_ERR_INVALID;
      ++pos;
      skip_blanks_comments();
      Holder h = holder_of(kHoldValue);
      KALDRO_TRY(read_value(depth + 1, &h.value));
      if (find_member(table, key) != nullptr) return KALDRO_ERR_INVALID;
      KALDRO_TRY(add_member(table, key, h, nullptr));
      skip_space_comments();
      if (peek_is(',')) {
        ++pos;
        skip_space();
      }
    }
    return finish_table(table, out, [](const Holder &h, kaldro_toml_node *n) {
      *n = h.value;
      return kaldro_status(KALDRO_OK);
    });
  }

  kaldro_status read_number(kaldro_toml_node *out) {
    char tok[kMaxToken];
    int n = 0;
    while (pos < len && is_number_char(text[pos])) {
      const uint8_t c = text[pos++];
      if (c == '_') continue;
      if (n == kMaxToken) return KALDRO_ERR_INVALID;
      tok[n++] = char(c);
    }
    if (n == 0) return KALDRO_ERR_INVALID;
    bool is_float = false;
    for (int i = 0; i < n; ++i)
      if (tok[i] == '.' || tok[i] == 'e' || tok[i] == 'E') is_float = true;
    return is_float ? parse_float(tok, n, out) : parse_integer(tok, n, out);
  }

  static kaldro_status parse_integer(const char *tok, int n, kaldro_toml_node *out) {
    int i = 0;
    bool negative = false;
    if (tok[0] == '+' || tok[0] == '-') {
      negative = tok[0] == '-';
      ++i;
    }
    if (i == n) return KALDRO_ERR_INVALID;
    for (int j = i; j < n; ++j)
      if (!is_digit(uint8_t(tok[j]))) return KALDRO_ERR_INVALID;
    uint64_t mag = 0;
    for (; i < n; ++i) {
      const uint64_t d = uint64_t(tok[i] - '0');
      if (mag > (UINT64_MAX - d) / 10) return KALDRO_ERR_CAPACITY;
      mag = mag * 10 + d;
    }
    const uint64_t limit = negative ? uint64_t(1) << 63 : (uint64_t(1) << 63) - 1;
    if (mag > limit) return KALDRO_ERR_CAPACITY;
    *out = make_node(KALDRO_TOML_INT);
    out->as.integer = negative ? int64_t(0 - mag) : int64_t(mag);
    return KALDRO_OK;
  }

  // Decimal digits accumulate in a double one at a time, and the exponent is applied by
  // repeated multiplication or division by 10: the same text always gives the same bits.
  static kaldro_status parse_float(const char *tok, int n, kaldro_toml_node *out) {
    int i = 0;
    double sign = 1.0;
    if (tok[0] == '+' || tok[0] == '-') {
      if (tok[0] == '-') sign = -1.0;
      ++i;
    }
    double m = 0.0, scale = 1.0;
    int whole = 0, fraction = 0;
    for (; i < n && is_digit(uint8_t(tok[i])); ++i, ++whole) m = m * 10.0 + double(tok[i] - '0');
    if (i < n && tok[i] == '.') {
      ++i;
      for (; i < n && is_digit(uint8_t(tok[i])); ++i, ++fraction) {
        m = m * 10.0 + double(tok[i] - '0');
        scale *= 10.0;
      }
    }
    if (whole == 0 && fraction == 0) return KALDRO_ERR_INVALID;
    double v = sign * m / scale;
    if (i < n) {
      if (tok[i] != 'e' && tok[i] != 'E') return KALDRO_ERR_INVALID;
      ++i;
      bool negative = false;
      if (i < n && (tok[i] == '+' || tok[i] == '-')) {
        negative = tok[i] == '-';
        ++i;
      }
      if (i == n) return KALDRO_ERR_INVALID;
      uint32_t exponent = 0;
      for (; i < n; ++i) {
        if (!is_digit(uint8_t(tok[i]))) return KALDRO_ERR_INVALID;
        if (exponent < 100000) exponent = exponent * 10 + uint32_t(tok[i] - '0');
      }
      if (!negative && exponent > 308) return KALDRO_ERR_CAPACITY;
      if (negative) {
        // Once the value reaches zero further divisions change nothing.
        for (uint32_t k = 0; k < exponent && v != 0.0; ++k) v /= 10.0;
      } else {
        for (uint32_t k = 0; k < exponent; ++k) v *= 10.0;
      }
    }
    *out = make_node(KALDRO_TOML_FLOAT);
    out->as.number = v;
    return KALDRO_OK;
  }

  // --- final conversion -------------------------------------------------------------

  kaldro_status convert(uint8_t *table, uint64_t level, kaldro_toml_node *out) {
    if (level > kMaxLevel) return KALDRO_ERR_CAPACITY;
    return finish_table(table, out, [this, level](const Holder &h, kaldro_toml_node *n) {
      if (h.what == kHoldValue) {
        *n = h.value;
        return kaldro_status(KALDRO_OK);
      }
      if (h.what == kHoldTable) return convert(h.table, level + 1, n);
      return convert_table_array(h, level, n);
    });
  }

  kaldro_status convert_table_array(const Holder &h, uint64_t level, kaldro_toml_node *out) {
    if (h.count > UINT32_MAX) return KALDRO_ERR_CAPACITY;
    uint8_t *items, *nodes;
    KALDRO_TRY(take(8 * h.count, &items));
    KALDRO_TRY(take(32 * h.count, &nodes));
    uint64_t i = 0;
    for (uint8_t *l = h.first; l != nullptr; ++i) {
      const Link k = load<Link>(l);
      kaldro_toml_node n;
      KALDRO_TRY(convert(k.item, level + 2, &n));
      store(nodes + 32 * i, n);
      store(items + 8 * i, nodes + 32 * i);
      l = k.next;
    }
    *out = make_node(KALDRO_TOML_ARRAY);
    out->as.array.items = reinterpret_cast<kaldro_toml_node **>(items);
    out->as.array.count = uint32_t(h.count);
    return KALDRO_OK;
  }

  kaldro_status run(kaldro_toml_node **out_root) {
    KALDRO_TRY(new_work_table(&root));
    uint8_t *current = root;
    for (;;) {
      skip_space_comments();
      if (pos >= len) break;
      const uint8_t c = text[pos];
      if (c == '[')
        KALDRO_TRY(read_header(&current));
      else if (is_bare(c))
        KALDRO_TRY(read_key_value(current));
      else
        return KALDRO_ERR_INVALID;
      skip_blanks_comments();
      if (pos < len && text[pos] != '\n' && text[pos] != '\r') return KALDRO_ERR_INVALID;
    }
    uint8_t *node;
    KALDRO_TRY(take(sizeof(kaldro_toml_node), &node));
    kaldro_toml_node n;
    KALDRO_TRY(convert(root, 0, &n));
    store(node, n);
    *out_root = reinterpret_cast<kaldro_toml_node *>(node);
    return KALDRO_OK;
  }
};

}  // namespace
}  // namespace kaldro

extern "C" {

KALDRO_API kaldro_status kaldro_toml_parse(const char *text, uint64_t text_len, void *arena,
                                           uint64_t arena_bytes, kaldro_toml_node **out_root) {
  if (arena == nullptr || out_root == nullptr || (text == nullptr && text_len != 0))
    return KALDRO_ERR_NULL;
  *out_root = nullptr;
  if (arena_bytes < 24) return KALDRO_ERR_CAPACITY;
  kaldro::Parser p{reinterpret_cast<const uint8_t *>(text), text_len, 0,
                   static_cast<uint8_t *>(arena), arena_bytes, 0, nullptr};
  kaldro_toml_node *root = nullptr;
  const kaldro_status st = p.run(&root);
  if (st == KALDRO_OK) *out_root = root;
  return st;
}

KALDRO_API const kaldro_toml_node *kaldro_toml_table_get(const kaldro_toml_node *table,
                                                         const char *key) {
  if (table == nullptr || key == nullptr) return nullptr;
  // Read through memcpy: a tree carved from an unaligned arena is still readable here.
  const kaldro_toml_node t = kaldro::load<kaldro_toml_node>(reinterpret_cast<const uint8_t *>(table));
  if (t.kind != KALDRO_TOML_TABLE || t.as.table.count == 0) return nullptr;
  const uint8_t *keys = reinterpret_cast<const uint8_t *>(t.as.table.keys);
  const uint8_t *values = reinterpret_cast<const uint8_t *>(t.as.table.values);
  for (uint32_t i = 0; i < t.as.table.count; ++i) {
    const char *k = kaldro::load<const char *>(keys + 8 * uint64_t(i));
    if (std::strcmp(k, key) == 0) return kaldro::load<const kaldro_toml_node *>(values + 8 * uint64_t(i));
  }
  return nullptr;
}

}  // extern "C"
