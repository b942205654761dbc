// A reference JSON reader and canonical writer for the tests, written separately from
// the library from the rules of the format: recursive, on std containers, with its own
// simulation of the arena (every allocation's offset is recorded so that the tests can
// compare where the library placed each node and string).
#pragma once

#include <kaldro.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

namespace model {

struct Value {
  int kind = KALDRO_JSON_NULL;
  bool boolean = false;
  int64_t integer = 0;
  double number = 0;
  std::string str;  // decoded string bytes
  std::vector<Value> items;
  std::vector<std::string> keys;  // decoded key bytes (possibly with zero bytes)
  std::vector<Value> values;
  uint64_t node_offset = 0;  // where the node was allocated
  uint64_t str_offset = 0;   // where a string value's bytes were allocated
  std::vector<uint64_t> key_offsets;
};

// The reader. `limit` is the arena size; `used` the offset after the parse.
class Reader {
 public:
  Reader(const std::string &text, uint64_t limit) : t_(text), limit_(limit) {}

  int parse(Value &root) {
    int st = value(root);
    if (st) return st;
    if (root.kind == KALDRO_JSON_ARRAY || root.kind == KALDRO_JSON_OBJECT) {
      uint64_t off;
      if (!alloc(2560, off)) return KALDRO_ERR_CAPACITY;
      depth_ = 0;
      st = container(root);
      if (st) return st;
    }
    ws();
    if (i_ != t_.size()) return KALDRO_ERR_INVALID;
    return KALDRO_OK;
  }
  uint64_t used() const { return used_; }

 private:
  const std::string &t_;
  uint64_t limit_;
  uint64_t used_ = 0;
  size_t i_ = 0;
  int depth_ = 0;

  bool alloc(uint64_t bytes, uint64_t &off) {
    used_ = (used_ + 7) / 8 * 8;
    if (used_ > limit_ || limit_ - used_ < bytes) return false;
    off = used_;
    used_ += bytes;
    return true;
  }
  bool at_end() const { return i_ >= t_.size(); }
  unsigned char cur() const { return (unsigned char)t_[i_]; }
  void ws() {
    while (!at_end() && (cur() == ' ' || cur() == '\t' || cur() == '\n' || cur() == '\r')) ++i_;
  }

  int value(Value &v) {
    ws();
    if (at_end()) return KALDRO_ERR_INVALID;
    if (!alloc(32, v.node_offset)) return KALDRO_ERR_CAPACITY;
    const unsigned char c = cur();
    if (c == '"') {
      ++i_;
      v.kind = KALDRO_JSON_STRING;
      return string(v.str, v.str_offset);
    }
    if (c == '-' || (c >= '0' && c <= '9')) return number(v);
    if (c == '[') {
      ++i_;
      v.kind = KALDRO_JSON_ARRAY;
      return 0;
    }
    if (c == '{') {
      ++i_;
      v.kind = KALDRO_JSON_OBJECT;
      return 0;
    }
    const std::string rest = t_.substr(i_, 5);
    if (rest.compare(0, 4, "true") == 0 && rest.size() >= 4) {
      v.kind = KALDRO_JSON_BOOL;
      v.boolean = true;
      i_ += 4;
    } else if (rest == "false") {
      v.kind = KALDRO_JSON_BOOL;
      i_ += 5;
    } else if (rest.size() >= 4 && rest.compare(0, 4, "null") == 0) {
      v.kind = KALDRO_JSON_NULL;
      i_ += 4;
    } else {
      return KALDRO_ERR_INVALID;
    }
    return 0;
  }

  int number(Value &v) {
    const size_t start = i_;
    if (cur() == '-') ++i_;
    bool floating = false;
    while (!at_end() && std::strchr("0123456789+-.eE", cur()) && cur()) {
      if (cur() == '.' || cur() == 'e' || cur() == 'E') floating = true;
      ++i_;
    }
    const std::string token = t_.substr(start, i_ - start);
    if (token.size() >= 63) return KALDRO_ERR_CAPACITY;
    if (floating) {
      v.kind = KALDRO_JSON_DOUBLE;
      v.number = std::strtod(token.c_str(), nullptr);
    } else {
      v.kind = KALDRO_JSON_INT;
      v.integer = std::strtoll(token.c_str(), nullptr, 10);
    }
    return 0;
  }

  static int hex(unsigned char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
  }
  bool unit(size_t at, long &u) const {
    if (t_.size() - at < 4) return false;
    u = 0;
    for (size_t k = 0; k < 4; ++k) {
      const int h = hex((unsigned char)t_[at + k]);
      if (h < 0) return false;
      u = u * 16 + h;
    }
    return true;
  }
  static void utf8(std::string &out, unsigned long cp) {
    if (cp < 0x80) {
      out += char(cp);
    } else if (cp < 0x800) {
      out += char(0xC0 | (cp >> 6));
      out += char(0x80 | (cp & 63));
    } else if (cp < 0x10000) {
      out += char(0xE0 | (cp >> 12));
      out += char(0x80 | ((cp >> 6) & 63));
      out += char(0x80 | (cp & 63));
    } else {
      out += char(0xF0 | (cp >> 18));
      out += char(0x80 | ((cp >> 12) & 63));
      out += char(0x80 | ((cp >> 6) & 63));
      out += char(0x80 | (cp & 63));
    }
  }

  // After the opening quote.
  int string(std::string &out, uint64_t &off) {
    size_t j = i_;
    while (j < t_.size() && t_[j] != '"') j += (t_[j] == '\\') ? 2 : 1;
    if (j > t_.size()) j = t_.size();
    if (!alloc(j - i_ + 1, off)) return KALDRO_ERR_CAPACITY;
    if (at_end()) return KALDRO_ERR_INVALID;
    out.clear();
    for (;;) {
      if (at_end()) return KALDRO_ERR_INVALID;
      const unsigned char c = cur();
      if (c == '"') {
        ++i_;
        return 0;
      }
      if (c < 0x20) return KALDRO_ERR_INVALID;
      if (c != '\\') {
        out += char(c);
        ++i_;
        continue;
      }
      if (i_ + 1 >= t_.size()) return KALDRO_ERR_INVALID;
      const unsigned char e = (unsigned char)t_[i_ + 1];
      i_ += 2;
      const char *from = "\"\\/bfnrt";
      const char *to = "\x22\x5c\x2f\x08\x0c\x0a\x0d\x09";
      const char *hit = e ? std::strchr(from, e) : nullptr;
      if (hit) {
        out += to[hit - from];
        continue;
      }
      if (e != 'u') return KALDRO_ERR_INVALID;
      long u;
      if (!unit(i_, u)) return KALDRO_ERR_INVALID;
      i_ += 4;
      if (u >= 0xD800 && u <= 0xDBFF) {
        long low;
        if (t_.size() - i_ < 6 || t_[i_] != '\\' || t_[i_ + 1] != 'u' || !unit(i_ + 2, low) ||
            low < 0xDC00 || low > 0xDFFF)
          return KALDRO_ERR_INVALID;
        i_ += 6;
        utf8(out, 65536 + (u - 0xD800) * 1024 + (low - 0xDC00));
      } else if (u >= 0xDC00 && u <= 0xDFFF) {
        return KALDRO_ERR_INVALID;
      } else {
        utf8(out, (unsigned long)u);
      }
    }
  }

  // Members of an open container: the lists, growth and final arrays as the reader
  // allocates them.
  int container(Value &v) {
    if (depth_ == 64) return KALDRO_ERR_CAPACITY;
    ++depth_;
    const bool obj = v.kind == KALDRO_JSON_OBJECT;
    uint64_t off;
    uint64_t cap = 8;
    if (!alloc(64, off)) return KALDRO_ERR_CAPACITY;
    if (obj && !alloc(64, off)) return KALDRO_ERR_CAPACITY;
    std::vector<Value> &list = obj ? v.values : v.items;
    for (;;) {
      ws();
      if (!at_end() && cur() == (obj ? '}' : ']')) {
        ++i_;
        break;
      }
      if (!list.empty()) {
        if (at_end() || cur() != ',') return KALDRO_ERR_INVALID;
        ++i_;
      }
      if (obj) {
        ws();
        if (at_end() || cur() != '"') return KALDRO_ERR_INVALID;
        ++i_;
        std::string key;
        uint64_t scratch, keyoff;
        int st = string(key, scratch);
        if (st) return st;
        if (!alloc(key.size() + 1, keyoff)) return KALDRO_ERR_CAPACITY;
        v.keys.push_back(key);
        v.key_offsets.push_back(keyoff);
        ws();
        if (at_end() || cur() != ':') return KALDRO_ERR_INVALID;
        ++i_;
      }
      Value child;
      int st = value(child);
      if (st) return st;
      if (list.size() == cap) {
        if (!alloc(cap * 16, off)) return KALDRO_ERR_CAPACITY;
        if (obj && !alloc(cap * 16, off)) return KALDRO_ERR_CAPACITY;
        cap *= 2;
      }
      list.push_back(std::move(child));
      Value &added = list.back();
      if (added.kind == KALDRO_JSON_ARRAY || added.kind == KALDRO_JSON_OBJECT) {
        st = container(added);
        if (st) return st;
      }
    }
    const uint64_t fin = list.empty() ? 8 : 8 * list.size();
    if (!alloc(fin, off)) return KALDRO_ERR_CAPACITY;
    if (obj && !alloc(fin, off)) return KALDRO_ERR_CAPACITY;
    --depth_;
    return 0;
  }
};

// The status of a parse of `text` into an arena of `limit` bytes, the tree and the
// bytes used.
inline int read(const std::string &text, uint64_t limit, Value &root, uint64_t *used = nullptr) {
  Reader r(text, limit);
  const int st = r.parse(root);
  if (used) *used = r.used();
  return st;
}

// ---- the canonical writer, as a list of pieces ----

inline std::string escape_byte(unsigned char c) {
  switch (c) {
    case 0x22: return "\\\"";
    case 0x5C: return "\\\\";
    case 0x08: return "\\b";
    case 0x09: return "\\t";
    case 0x0A: return "\\n";
    case 0x0C: return "\\f";
    case 0x0D: return "\\r";
    default: break;
  }
  if (c < 0x20) {
    char b[8];
    std::snprintf(b, sizeof b, "\\u%04x", c);
    return b;
  }
  return std::string(1, char(c));
}

inline void string_pieces(std::vector<std::string> &out, const std::string &s) {
  out.push_back("\"");
  for (unsigned char c : s) out.push_back(escape_byte(c));
  out.push_back("\"");
}

inline void pieces(std::vector<std::string> &out, const kaldro_json_node *n) {
  char buf[64];
  switch (n->kind) {
    case KALDRO_JSON_NULL: out.push_back("null"); return;
    case KALDRO_JSON_BOOL: out.push_back(n->boolean ? "true" : "false"); return;
    case KALDRO_JSON_INT:
      std::snprintf(buf, sizeof buf, "%lld", (long long)n->integer);
      out.push_back(buf);
      return;
    case KALDRO_JSON_DOUBLE: {
      std::snprintf(buf, sizeof buf, "%.17g", n->number);
      out.push_back(buf);
      if (!std::strpbrk(buf, ".eEin")) out.push_back(".0");
      return;
    }
    case KALDRO_JSON_STRING: string_pieces(out, std::string(n->str, n->len)); return;
    case KALDRO_JSON_ARRAY:
      out.push_back("[");
      for (uint32_t i = 0; i < n->count; ++i) {
        if (i) out.push_back(", ");
        pieces(out, n->items[i]);
      }
      out.push_back("]");
      return;
    case KALDRO_JSON_OBJECT: {
      std::vector<uint32_t> order(n->member_count);
      for (uint32_t i = 0; i < n->member_count; ++i) order[i] = i;
      std::stable_sort(order.begin(), order.end(), [&](uint32_t a, uint32_t b) {
        const std::string ka = n->keys[a], kb = n->keys[b];
        const int c = std::memcmp(ka.data(), kb.data(), std::min(ka.size(), kb.size()));
        return c != 0 ? c < 0 : ka.size() < kb.size();
      });
      out.push_back("{");
      for (uint32_t i = 0; i < n->member_count; ++i) {
        if (i) out.push_back(", ");
        string_pieces(out, n->keys[order[i]]);
        out.push_back(": ");
        pieces(out, n->values[order[i]]);
      }
      out.push_back("}");
      return;
    }
    default: return;
  }
}

inline std::string canonical(const kaldro_json_node *n) {
  std::vector<std::string> p;
  pieces(p, n);
  std::string s;
  for (auto &x : p) s += x;
  return s;
}

// The longest prefix made of whole pieces that fits in cap bytes.
inline std::string prefix(const kaldro_json_node *n, uint64_t cap) {
  std::vector<std::string> p;
  pieces(p, n);
  std::string s;
  for (auto &x : p) {
    if (s.size() + x.size() > cap) break;
    s += x;
  }
  return s;
}

// D and M of the writer's workspace rule.
inline void shape(const kaldro_json_node *n, uint32_t depth, uint32_t &d, uint32_t &m) {
  if (n->kind != KALDRO_JSON_ARRAY && n->kind != KALDRO_JSON_OBJECT) return;
  if (depth > 64) return;
  d = std::max(d, depth);
  const bool obj = n->kind == KALDRO_JSON_OBJECT;
  if (obj) m = std::max(m, n->member_count);
  const uint32_t c = obj ? n->member_count : n->count;
  for (uint32_t i = 0; i < c; ++i) shape(obj ? n->values[i] : n->items[i], depth + 1, d, m);
}

}  // namespace model
