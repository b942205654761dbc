// The canonical JSON writer, written once over a scan policy (how runs of bytes that
// need no escape are found) and compiled for each instruction-set tier. Iterative: the
// traversal stack is local (at most 64 levels) and the key-order arrays live in the
// caller's workspace.
#pragma once

#include "text/json_internal.h"

#include <charconv>
#include <cstdio>

namespace kaldro::json {
namespace {

constexpr uint32_t kWriteMaxDepth = 64;
// How many children ahead the traversals ask the memory system for (prefetch hints
// never fault, so null and stale pointers are harmless here).
constexpr uint32_t kPrefetchAhead = 8;

inline bool is_container(const kaldro_json_node *n) {
  return n->kind == KALDRO_JSON_ARRAY || n->kind == KALDRO_JSON_OBJECT;
}
inline uint32_t entry_count(const kaldro_json_node *n) {
  return n->kind == KALDRO_JSON_ARRAY ? n->count : n->member_count;
}

// Parsed trees lie in document order: nodes run forward through the arena while the
// pointer arrays of closed containers run backward from its far end. On entering a
// container the traversals hint both streams ahead, which hides much of the latency
// of deep chains of small containers. Hints never fault, so the addresses need not be
// inside the tree.
inline void prefetch_streams(const kaldro_json_node *n) {
  const uintptr_t node = reinterpret_cast<uintptr_t>(n);
  const uintptr_t list = reinterpret_cast<uintptr_t>(n->items);
  __builtin_prefetch(reinterpret_cast<const void *>(node + 512));
  __builtin_prefetch(reinterpret_cast<const void *>(node + 1024));
  __builtin_prefetch(reinterpret_cast<const void *>(list - 128));
  __builtin_prefetch(reinterpret_cast<const void *>(list - 256));
}

// Depth D and widest object M of a tree, counted down to depth 64; `broken` is set when
// a container within those levels holds a null array, item, key or value pointer.
struct Shape {
  uint32_t depth = 1;
  uint32_t members = 0;
  bool broken = false;
};

inline Shape measure_tree(const kaldro_json_node *root) {
  Shape shape;
  if (!is_container(root)) return shape;
  struct Level {
    const kaldro_json_node *node;
    uint32_t next;
  } levels[kWriteMaxDepth];
  uint32_t sp = 0;
  const kaldro_json_node *enter = root;
  for (;;) {
    if (enter) {
      // A container at depth sp + 1 (at most 64).
      const uint32_t n = entry_count(enter);
      if (sp + 1 > shape.depth) shape.depth = sp + 1;
      if (enter->kind == KALDRO_JSON_OBJECT) {
        if (n > shape.members) shape.members = n;
        if (n && (!enter->keys || !enter->values)) {
          shape.broken = true;
          enter = nullptr;
          if (sp == 0) break;
          continue;
        }
      } else if (n && !enter->items) {
        shape.broken = true;
        enter = nullptr;
        if (sp == 0) break;
        continue;
      }
      // The children are read one after another; ask for the first few at once.
      prefetch_streams(enter);
      kaldro_json_node *const *kids = enter->kind == KALDRO_JSON_OBJECT ? enter->values : enter->items;
      for (uint32_t k = 0; k < n && k < kPrefetchAhead; ++k) __builtin_prefetch(kids[k]);
      levels[sp++] = {enter, 0};
      enter = nullptr;
    }
    if (sp == 0) break;
    Level &top = levels[sp - 1];
    const kaldro_json_node *node = top.node;
    const uint32_t n = entry_count(node);
    if (top.next == n) {
      --sp;
      continue;
    }
    const uint32_t i = top.next++;
    const kaldro_json_node *child;
    if (node->kind == KALDRO_JSON_OBJECT) {
      if (!node->keys[i]) shape.broken = true;
      child = node->values[i];
      if (i + kPrefetchAhead < n) __builtin_prefetch(node->values[i + kPrefetchAhead]);
    } else {
      child = node->items[i];
      if (i + kPrefetchAhead < n) __builtin_prefetch(node->items[i + kPrefetchAhead]);
    }
    if (!child) {
      shape.broken = true;
      continue;
    }
    if (is_container(child) && sp < kWriteMaxDepth) enter = child;
  }
  return shape;
}

// Bounded output: every piece is stored whole or, from the first piece that does not
// fit, nothing more; the length always grows by the piece's size. While storing, `w`
// runs from the buffer's start towards `limit`; once nothing more is to be stored (or
// there is no buffer) `w` is null and `extra` counts the length past what was stored.
struct Sink {
  uint8_t *start;
  uint8_t *w;
  uint8_t *limit;
  uint64_t extra = 0;
  bool overflow = false;

  Sink(void *out, uint64_t cap) : start(static_cast<uint8_t *>(out)), w(start), limit(nullptr) {
    if (out) {
      const uintptr_t room = UINTPTR_MAX - uintptr_t(out);
      limit = reinterpret_cast<uint8_t *>(uintptr_t(out) + (cap < room ? cap : room));
    }
  }

  uint64_t length() const { return (w ? uint64_t(w - start) : stored) + extra; }

  [[gnu::always_inline]] void piece(const void *src, uint64_t n) {
    if (w && uint64_t(limit - w) >= n) {
      copy_bytes(w, src, n);
      w += n;
    } else {
      miss(n);
    }
  }
  [[gnu::always_inline]] void byte(uint8_t c) {
    if (w && w != limit) {
      *w++ = c;
    } else {
      miss(1);
    }
  }
  // A run of plain bytes is a run of one-byte pieces: as many as fit are stored.
  [[gnu::always_inline]] void run(const uint8_t *src, uint64_t n) {
    if (w && uint64_t(limit - w) >= n) {
      copy_bytes(w, src, n);
      w += n;
    } else {
      if (w) {
        const uint64_t left = uint64_t(limit - w);
        std::memcpy(w, src, left);
        w += left;
        n -= left;
      }
      miss(n);
    }
  }

 private:
  uint64_t stored = 0;
  void miss(uint64_t n) {
    if (w) {
      stored = uint64_t(w - start);
      w = nullptr;
      overflow = true;
    }
    extra += n;
  }
};

inline void write_escape(Sink &out, uint8_t c) {
  char e[6] = {'\\', 0, 0, 0, 0, 0};
  switch (c) {
    case '"': e[1] = '"'; break;
    case '\\': e[1] = '\\'; break;
    case 0x08: e[1] = 'b'; break;
    case 0x09: e[1] = 't'; break;
    case 0x0A: e[1] = 'n'; break;
    case 0x0C: e[1] = 'f'; break;
    case 0x0D: e[1] = 'r'; break;
    default: {
      static const char kHex[] = "0123456789abcdef";
      e[1] = 'u';
      e[2] = '0';
      e[3] = '0';
      e[4] = kHex[c >> 4];
      e[5] = kHex[c & 15];
      out.piece(e, 6);
      return;
    }
  }
  out.piece(e, 2);
}

// A key: escaped like a string, up to its NUL (found on the way, not measured first).
inline void write_key(Sink &out, const uint8_t *s) {
  out.byte('"');
  for (;;) {
    const uint8_t *p = s;
    while (!is_special(*p)) ++p;
    if (p != s) out.run(s, uint64_t(p - s));
    if (*p == 0) break;
    write_escape(out, *p);
    s = p + 1;
  }
  out.byte('"');
}

template <typename Scan>
inline void write_string(Sink &out, const uint8_t *s, uint64_t n) {
  out.byte('"');
  const uint8_t *end = s + n;
  while (s < end) {
    const uint8_t *stop = Scan::find_special(s, end);
    if (stop != s) out.run(s, uint64_t(stop - s));
    if (stop == end) break;
    write_escape(out, *stop);
    s = stop + 1;
  }
  out.byte('"');
}

// The decimal text of v as "%lld" gives it; returns its length (at most 20).
inline uint64_t format_int(char *buf, int64_t v) {
  static constexpr char kPairs[201] =
      "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
      "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
      "8081828384858687888990919293949596979899";
  char tmp[20];
  char *w = tmp + sizeof tmp;
  uint64_t m = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
  while (m >= 100) {
    const uint64_t pair = m % 100;
    m /= 100;
    w -= 2;
    std::memcpy(w, kPairs + pair * 2, 2);
  }
  if (m >= 10) {
    w -= 2;
    std::memcpy(w, kPairs + m * 2, 2);
  } else {
    *--w = char('0' + m);
  }
  uint64_t n = 0;
  if (v < 0) buf[n++] = '-';
  const uint64_t digits = uint64_t(tmp + sizeof tmp - w);
  std::memcpy(buf + n, w, digits);
  return n + digits;
}

// Powers of ten up to 10^21 (all below 2^75, so m * 10^k fits 128 bits for m < 2^53).
constexpr unsigned __int128 pow10_u128(int k) {
  unsigned __int128 v = 1;
  for (int i = 0; i < k; ++i) v *= 10;
  return v;
}

// Writes the 17-significant-digit "%.17g" text of a finite positive double whose
// decimal exponent is between -5 and 16, computed exactly in 128-bit integers; returns
// 0 (nothing written) outside that range or when the rounding is an exact tie, which
// are left to the standard formatter.
inline int format_g17_fast(char *buf, double v) {
  uint64_t bits;
  std::memcpy(&bits, &v, 8);
  const int biased = int(bits >> 52) & 0x7FF;
  if (biased == 0) return 0;  // subnormals
  const uint64_t m = (bits & ((uint64_t(1) << 52) - 1)) | (uint64_t(1) << 52);
  const int e = biased - 1075;  // v = m * 2^e
  const int e2 = e + 52;        // floor(log2 v)
  // floor(log10 v) is x_est or x_est + 1.
  const int x_est = (e2 * 78913) >> 18;
  if (x_est < -6 || x_est > 16) return 0;
  constexpr unsigned __int128 kLow = 10000000000000000ull;   // 10^16
  constexpr unsigned __int128 kHigh = 100000000000000000ull;  // 10^17
  uint64_t d = 0;
  int x = x_est;
  for (int attempt = 0; attempt < 3 && !d; ++attempt) {
    const int k = 16 - x;  // d = round(v * 10^k), to have 17 digits
    if (k < 0 || k > 21) return 0;
    const unsigned __int128 p = static_cast<unsigned __int128>(m) * pow10_u128(k);
    unsigned __int128 q;
    if (e >= 0) {
      if (e > 60 || (p >> (127 - e)) != 0) return 0;
      q = p << e;  // v * 10^k is an integer
    } else {
      const int sh = -e;
      if (sh >= 127) return 0;
      q = p >> sh;
      const unsigned __int128 rem = p - (q << sh);
      const unsigned __int128 half = static_cast<unsigned __int128>(1) << (sh - 1);
      if (rem == half) return 0;  // an exact tie
      if (rem > half) q += 1;
    }
    if (q >= kHigh) {
      x += 1;  // too many digits (also when rounding carried into a new digit)
    } else if (q < kLow) {
      x -= 1;
    } else {
      d = uint64_t(q);
    }
  }
  if (d == 0 || x < -5 || x > 16) return 0;
  // The 17 digits of d, trailing zeros dropped.
  char dig[17];
  for (int i = 16; i >= 0; --i) {
    dig[i] = char('0' + d % 10);
    d /= 10;
  }
  int nd = 17;
  while (nd > 1 && dig[nd - 1] == '0') --nd;
  int n = 0;
  if (x < -4) {
    buf[n++] = dig[0];
    if (nd > 1) {
      buf[n++] = '.';
      std::memcpy(buf + n, dig + 1, size_t(nd - 1));
      n += nd - 1;
    }
    const int ax = -x;
    buf[n++] = 'e';
    buf[n++] = '-';
    buf[n++] = char('0' + ax / 10);
    buf[n++] = char('0' + ax % 10);
  } else if (x >= 0) {
    const int int_len = x + 1;
    std::memcpy(buf, dig, size_t(int_len));
    n = int_len;
    if (nd > int_len) {
      buf[n++] = '.';
      std::memcpy(buf + n, dig + int_len, size_t(nd - int_len));
      n += nd - int_len;
    }
  } else {
    buf[n++] = '0';
    buf[n++] = '.';
    for (int i = 0; i < -x - 1; ++i) buf[n++] = '0';
    std::memcpy(buf + n, dig, size_t(nd));
    n += nd;
  }
  return n;
}

inline void write_double(Sink &out, double v) {
  char buf[40];
  int n = 0;
  if (__builtin_isfinite(v)) {
    if (v != 0) {
      char *w = buf;
      double a = v;
      if (v < 0) {
        *w++ = '-';
        a = -v;
      }
      const int f = format_g17_fast(w, a);
      if (f) n = int(w - buf) + f;
    }
    if (!n) {
      const auto r = std::to_chars(buf, buf + sizeof buf, v, std::chars_format::general, 17);
      n = int(r.ptr - buf);
    }
  } else {
    n = std::snprintf(buf, sizeof buf, "%.17g", v);
  }
  out.piece(buf, uint64_t(n));
  for (int i = 0; i < n; ++i) {
    const char c = buf[i];
    if (c == '.' || c == 'e' || c == 'E' || c == 'i' || c == 'n') return;
  }
  out.piece(".0", 2);
}

template <typename Scan>
inline void write_scalar(Sink &out, const kaldro_json_node *n) {
  switch (n->kind) {
    case KALDRO_JSON_NULL: out.piece("null", 4); break;
    case KALDRO_JSON_BOOL:
      if (n->boolean) out.piece("true", 4);
      else out.piece("false", 5);
      break;
    case KALDRO_JSON_INT: {
      char buf[24];
      out.piece(buf, format_int(buf, n->integer));
      break;
    }
    case KALDRO_JSON_DOUBLE: write_double(out, n->number); break;
    case KALDRO_JSON_STRING:
      write_string<Scan>(out, reinterpret_cast<const uint8_t *>(n->str), n->len);
      break;
    default: break;  // other kinds, containers included here, are handled elsewhere
  }
}

// Order arrays are unsigned 32-bit indices at any byte alignment.
inline uint32_t load_index(const uint8_t *a, uint32_t i) {
  uint32_t v;
  std::memcpy(&v, a + uint64_t(i) * 4, 4);
  return v;
}
inline void store_index(uint8_t *a, uint32_t i, uint32_t v) { std::memcpy(a + uint64_t(i) * 4, &v, 4); }

// The first 8 bytes of a key as a big-endian word, zero-padded after its NUL: words
// compare like the keys unless both keys run on past 8 bytes with equal beginnings.
inline uint64_t key_prefix(const char *k) {
  uint64_t v = 0;
  int i = 0;
  for (; i < 8 && k[i]; ++i) v = (v << 8) | uint8_t(k[i]);
  return i == 0 ? 0 : v << (8 * (8 - i));
}

// Key order: bytewise as unsigned values, a key that is a prefix of another first.
inline bool key_greater(uint64_t pa, const char *a, uint64_t pb, const char *b) {
  if (pa != pb) return pa > pb;
  if ((pa & 0xFF) == 0) return false;  // both keys end within their first 8 bytes
  return std::strcmp(a + 8, b + 8) > 0;
}

// Sorts member indices 0..n-1 by key, equal keys keeping their stored order: the result
// of a plain insertion sort (each entry moves left while the one before it is strictly
// greater). Objects of up to kSortLocal members sort prefix words on the stack.
constexpr uint32_t kSortLocal = 64;

inline void sort_members(const char *const *keys, uint8_t *order, uint32_t n) {
  if (n <= 1) {
    if (n) store_index(order, 0, 0);
    return;
  }
  if (n <= kSortLocal) {
    uint64_t pre[kSortLocal];
    uint32_t idx[kSortLocal];
    for (uint32_t i = 0; i < n; ++i) __builtin_prefetch(keys[i]);
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t p = key_prefix(keys[i]);
      uint32_t j = i;
      while (j > 0 && key_greater(pre[j - 1], keys[idx[j - 1]], p, keys[i])) {
        pre[j] = pre[j - 1];
        idx[j] = idx[j - 1];
        --j;
      }
      pre[j] = p;
      idx[j] = i;
    }
    std::memcpy(order, idx, uint64_t(n) * 4);
    return;
  }
  for (uint32_t i = 0; i < n; ++i) store_index(order, i, i);
  for (uint32_t i = 1; i < n; ++i) {
    const char *key = keys[i];
    if (std::strcmp(keys[load_index(order, i - 1)], key) <= 0) continue;
    // The first position in [0, i - 1) whose key is strictly greater.
    uint32_t lo = 0, hi = i - 1;
    while (lo < hi) {
      const uint32_t mid = lo + (hi - lo) / 2;
      if (std::strcmp(keys[load_index(order, mid)], key) > 0) hi = mid;
      else lo = mid + 1;
    }
    std::memmove(order + uint64_t(lo) * 4 + 4, order + uint64_t(lo) * 4, uint64_t(i - lo) * 4);
    store_index(order, lo, i);
  }
}

template <typename Scan>
kaldro_status write_with(const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes) {
  if (!root || !out_len) return KALDRO_ERR_NULL;
  const Shape shape = measure_tree(root);
  const uint64_t need = uint64_t(shape.depth) * (24 + 4 * uint64_t(shape.members));
  if (!workspace || workspace_bytes < need || shape.broken) return KALDRO_ERR_INVALID;

  Sink sink(out, out_cap);
  if (!is_container(root)) {
    write_scalar<Scan>(sink, root);
  } else {
    uint8_t *orders = static_cast<uint8_t *>(workspace) + uint64_t(shape.depth) * 24;
    const uint64_t order_bytes = 4 * uint64_t(shape.members);
    struct Level {
      const kaldro_json_node *node;
      uint32_t next;
      uint32_t count;
      const uint8_t *order;
    } levels[kWriteMaxDepth];
    uint32_t sp = 0;
    auto open = [&](const kaldro_json_node *n) [[gnu::always_inline]] {
      prefetch_streams(n);
      Level &l = levels[sp];
      l.node = n;
      l.next = 0;
      l.count = entry_count(n);
      l.order = nullptr;
      if (n->kind == KALDRO_JSON_OBJECT) {
        sink.byte('{');
        uint8_t *order = orders + uint64_t(sp) * order_bytes;
        sort_members(n->keys, order, l.count);
        l.order = order;
      } else {
        sink.byte('[');
      }
      ++sp;
    };
    open(root);
    while (sp) {
      Level &top = levels[sp - 1];
      if (top.next == top.count) {
        sink.byte(top.node->kind == KALDRO_JSON_OBJECT ? '}' : ']');
        --sp;
        continue;
      }
      if (top.next) sink.piece(", ", 2);
      const kaldro_json_node *child;
      if (top.order) {
        if (top.next + 2 < top.count) {
          const kaldro_json_node *soon = top.node->values[load_index(top.order, top.next + 2)];
          __builtin_prefetch(soon->str);
        }
        const uint32_t m = load_index(top.order, top.next);
        write_key(sink, reinterpret_cast<const uint8_t *>(top.node->keys[m]));
        sink.piece(": ", 2);
        child = top.node->values[m];
      } else {
        child = top.node->items[top.next];
        if (top.next + 2 < top.count) __builtin_prefetch(top.node->items[top.next + 2]->str);
      }
      ++top.next;
      if (is_container(child)) {
        if (sp == shape.depth) return KALDRO_ERR_CAPACITY;
        open(child);
      } else {
        write_scalar<Scan>(sink, child);
      }
    }
  }
  *out_len = sink.length();
  return sink.overflow ? KALDRO_ERR_CAPACITY : KALDRO_OK;
}

struct WriteScanPortable {
  static const uint8_t *find_special(const uint8_t *p, const uint8_t *end) {
    return find_special_portable(p, end);
  }
};

}  // namespace

#if defined(__x86_64__)
kaldro_status write_avx2(const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes);
#endif

}  // namespace kaldro::json
