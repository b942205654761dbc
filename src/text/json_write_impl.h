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

inline bool is_container(const kaldro_json_node *n) {
  return n->kind == KALDRO_JSON_ARRAY || n->kind == KALDRO_JSON_OBJECT;
}

// Both traversals read a tree that usually lies in document order: parsed nodes, keys
// and strings run forward through the arena, and the pointer arrays of closed
// containers run backward within each finished subtree. Two cursors keep hints a fixed
// distance ahead of each stream; a jump elsewhere (a tree built
// by hand, another subtree) restarts a cursor. Hints never fault, so the addresses
// need not lie inside the tree.
struct Streams {
  static constexpr uintptr_t kAhead = 3072;
  static constexpr uintptr_t kBehind = 512;
  uintptr_t fwd = 0;
  uintptr_t bwd = 0;

  // A fixed number of hints a call, with no loop whose trip count would have to be
  // guessed: the cursors move at most that far a call, and a cursor that falls behind
  // restarts.
  static constexpr uintptr_t kStep = 3 * 64;
  [[gnu::always_inline]] void node(const void *n) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(n) & ~uintptr_t(63);
    if (__builtin_expect(a > fwd || a + kAhead < fwd, 0)) fwd = a + kAhead / 2;
    for (uintptr_t k = 0; k < kStep; k += 64)
      __builtin_prefetch(reinterpret_cast<const void *>(fwd + k));
    fwd += fwd < a + kAhead ? kStep : 0;
  }
  [[gnu::always_inline]] void list(const void *l) {
    const uintptr_t a = reinterpret_cast<uintptr_t>(l) & ~uintptr_t(63);
    if (__builtin_expect(a < bwd || a > bwd + kBehind, 0)) bwd = a;
    bwd -= bwd + kBehind > a ? 64 : 0;
    __builtin_prefetch(reinterpret_cast<const void *>(bwd));
  }
};

// Depth D and widest object M of a tree, counted down to depth 64; `broken` is set when
// a container within those levels holds a null array, item, key or value pointer.
struct Shape {
  uint32_t depth = 1;
  uint32_t members = 0;
  bool broken = false;
};

// The walk is a chain of dependent loads (node, its pointer array, the next node), so
// it runs in two lanes that walk disjoint subtrees side by side and keep two chains of
// loads in flight. Each lane is a stack of ranges of siblings; its bottom entry is a
// range taken from the other lane. An idle lane takes the later half of the shallowest
// range with two or more children left that is not the other lane's innermost one
// (so a flat array of scalars stays with one lane). D, M and `broken` do not
// depend on the order of the visits. A lane keeps one stack entry per container with
// children still to visit: the container whose last child is entered gives its entry
// to that child, so a chain of one-child containers takes one entry, and each entry
// records its own depth.
constexpr uint32_t kMeasureLanes = 2;
constexpr uint32_t kStealEvery = 16;  // steps between attempts while a lane is idle

inline Shape measure_tree(const kaldro_json_node *root) {
  Shape shape;
  if (!is_container(root)) return shape;
  struct Level {
    kaldro_json_node *const *kids;
    const char *const *keys;  // for arrays the items again, so every check reads a pointer
    uint32_t left;            // children not yet visited
    uint32_t depth;
  };
  struct Lane {
    uint32_t sp = 0;
    Streams streams;
    Level levels[kWriteMaxDepth];
  } lanes[kMeasureLanes];
  uint32_t depth = 1, members = 0;
  bool broken = false;
  auto enter = [&](Lane &ln, Level &l, const kaldro_json_node *n, uint32_t d)
                   __attribute__((always_inline)) {
    const bool object = n->kind == KALDRO_JSON_OBJECT;
    const uint32_t count = object ? n->member_count : n->count;
    kaldro_json_node *const *kids = object ? n->values : n->items;
    const char *const *keys = object ? n->keys : reinterpret_cast<const char *const *>(n->items);
    depth = d > depth ? d : depth;
    if (object && count > members) members = count;
    const bool readable = kids && keys;
    broken |= count && !readable;
    if (!count || !readable) return false;
    ln.streams.list(kids);
    l = {kids, keys, count, d};
    return true;
  };
  auto step = [&](Lane &ln) __attribute__((always_inline)) {
    Level &top = ln.levels[ln.sp - 1];
    if (!top.left) {
      --ln.sp;
      return;
    }
    --top.left;
    const kaldro_json_node *child = *top.kids++;
    const char *key = *top.keys++;
    broken |= !key || !child;
    if (!child) return;
    ln.streams.node(child);
    if (is_container(child) && top.depth < kWriteMaxDepth) {
      Level &slot = top.left ? ln.levels[ln.sp] : top;
      if (enter(ln, slot, child, top.depth + 1)) {
        if (&slot != &top) ++ln.sp;
      }
    }
  };
  auto steal = [&](Lane &ln) {
    uint32_t deepest = 0;
    for (const Lane &v : lanes) deepest = v.sp > deepest ? v.sp : deepest;
    for (uint32_t k = 0; k + 1 < deepest; ++k) {
      for (Lane &v : lanes) {
        if (k + 1 >= v.sp) continue;
        Level &from = v.levels[k];
        if (from.left < 2) continue;
        const uint32_t take = from.left / 2;
        from.left -= take;
        ln.levels[0] = {from.kids + from.left, from.keys + from.left, take, from.depth};
        ln.sp = 1;
        return true;
      }
    }
    return false;
  };
  lanes[0].sp = enter(lanes[0], lanes[0].levels[0], root, 1) ? 1 : 0;
  for (;;) {
    uint32_t busy = 0;
    for (const Lane &ln : lanes) busy += ln.sp != 0;
    if (busy == kMeasureLanes) {
      // Every lane has work: one step of each in turn, their loads overlapping.
      for (uint32_t r = 0; r < kStealEvery; ++r) {
#pragma GCC unroll 8
        for (Lane &ln : lanes) {
          if (ln.sp) step(ln);
        }
      }
      continue;
    }
    if (busy == 0) break;  // nothing is left anywhere
    // Some lane is idle: the busy ones run on alone for a while, then the idle ones
    // look for a range to take.
    for (Lane &ln : lanes) {
      for (uint32_t r = 0; r < kStealEvery && ln.sp; ++r) step(ln);
    }
    for (Lane &ln : lanes) {
      if (!ln.sp && !steal(ln)) break;
    }
  }
  shape.depth = depth;
  shape.members = members;
  shape.broken = broken;
  return shape;
}

// Bounded output: every piece is stored whole or, from the first piece that does not
// fit, nothing more; the length always grows by the piece's size. While storing, `w`
// runs from the buffer's start towards `limit`; once nothing more is to be stored (or
// there is no buffer) `w` and `limit` are null and `extra` counts the length past what
// was stored. room() is what may still be stored directly: the writers store a whole
// item at once when its longest possible text fits, and go piece by piece otherwise.
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
  uint64_t room() const { return uint64_t(limit - w); }

  [[gnu::always_inline]] void piece(const void *src, uint64_t n) {
    if (room() >= n && w) {
      copy_bytes(w, src, n);
      w += n;
    } else {
      miss(n);
    }
  }
  [[gnu::always_inline]] void byte(uint8_t c) {
    if (w != limit) {
      *w++ = c;
    } else {
      miss(1);
    }
  }
  // A run of plain bytes is a run of one-byte pieces: as many as fit are stored.
  void run(const uint8_t *src, uint64_t n) {
    if (room() >= n) {
      if (n) std::memcpy(w, src, n);
      w += n;
    } else {
      const uint64_t left = room();
      if (left) std::memcpy(w, src, left);
      w += left;
      miss(n - left);
    }
  }

 private:
  uint64_t stored = 0;
  [[gnu::noinline]] void miss(uint64_t n) {
    if (w) {
      stored = uint64_t(w - start);
      w = nullptr;
      limit = nullptr;
      overflow = true;
    }
    extra += n;
  }
};

// The escape of a byte that needs one, at e; returns its length (2 or 6).
inline uint32_t escape_text(uint8_t *e, uint8_t c) {
  static constexpr char kShort[32] = {0, 0, 0, 0, 0, 0, 0, 0, 'b', 't', 'n', 0, 'f', 'r'};
  static const char kHex[] = "0123456789abcdef";
  e[0] = '\\';
  if (c == '"' || c == '\\') {
    e[1] = c;
    return 2;
  }
  if (kShort[c]) {
    e[1] = uint8_t(kShort[c]);
    return 2;
  }
  std::memcpy(e + 1, "u00", 3);
  e[4] = uint8_t(kHex[c >> 4]);
  e[5] = uint8_t(kHex[c & 15]);
  return 6;
}

inline void write_escape(Sink &out, uint8_t c) {
  uint8_t e[6];
  out.piece(e, escape_text(e, c));
}

// Bytes of [s, end) escaped, piece by piece (the exact path near the buffer's end and
// for length queries).
template <typename Scan>
inline void write_escaped_pieces(Sink &out, const uint8_t *s, const uint8_t *end) {
  while (s < end) {
    const uint8_t *stop = Scan::find_special(s, end);
    if (stop != s) out.run(s, uint64_t(stop - s));
    if (stop == end) break;
    write_escape(out, *stop);
    s = stop + 1;
  }
}

// Bytes of [s, end) escaped, stored at w without checks (the caller has room for six
// bytes per input byte); returns the new end.
template <typename Scan>
inline uint8_t *put_escaped(uint8_t *w, const uint8_t *s, const uint8_t *end) {
  while (s < end) {
    const uint8_t *stop = Scan::copy_plain(w, s, end);
    w += stop - s;
    if (stop == end) break;
    w += escape_text(w, *stop);
    s = stop + 1;
  }
  return w;
}

template <typename Scan>
inline void write_string(Sink &out, const uint8_t *s, uint64_t n) {
  if (out.room() >= 6 * n + 2) {
    uint8_t *w = out.w;
    *w++ = '"';
    w = put_escaped<Scan>(w, s, s + n);
    *w++ = '"';
    out.w = w;
    return;
  }
  out.byte('"');
  write_escaped_pieces<Scan>(out, s, s + n);
  out.byte('"');
}

// A member's separator (after the first), quoted key (escaped like a string, up to its
// NUL) and colon.
// `plain` is the key's plain length when known (below 255), else 255.
template <typename Scan>
inline void write_member_key(Sink &out, bool first, const uint8_t *k, uint8_t plain_known) {
  const uint8_t *p = k;
  if (plain_known != 255) {
    p += plain_known;
  } else {
    while (!is_special(*p)) ++p;
  }
  const uint64_t plain = uint64_t(p - k);
  if (*p == 0 && out.room() >= plain + 6) {
    uint8_t *w = out.w;
    if (!first) {
      w[0] = ',';
      w[1] = ' ';
      w += 2;
    }
    *w++ = '"';
    copy_bytes(w, k, plain);
    w += plain;
    w[0] = '"';
    w[1] = ':';
    w[2] = ' ';
    out.w = w + 3;
    return;
  }
  if (!first) out.piece(", ", 2);
  out.byte('"');
  for (;;) {
    if (p != k) out.run(k, uint64_t(p - k));
    if (*p == 0) break;
    write_escape(out, *p);
    k = p + 1;
    p = k;
    while (!is_special(*p)) ++p;
  }
  out.byte('"');
  out.piece(": ", 2);
}

constexpr char kDigitPairs[201] =
    "00010203040506070809101112131415161718192021222324252627282930313233343536373839"
    "40414243444546474849505152535455565758596061626364656667686970717273747576777879"
    "8081828384858687888990919293949596979899";

// The 8 decimal digits of v (below 10^8), leading zeros included.
inline void put_digits8(char *w, uint32_t v) {
  const uint32_t hi = v / 10000, lo = v % 10000;
  std::memcpy(w, kDigitPairs + (hi / 100) * 2, 2);
  std::memcpy(w + 2, kDigitPairs + (hi % 100) * 2, 2);
  std::memcpy(w + 4, kDigitPairs + (lo / 100) * 2, 2);
  std::memcpy(w + 6, kDigitPairs + (lo % 100) * 2, 2);
}

// The decimal text of v as "%lld" gives it; returns its length (at most 20).
inline uint64_t format_int(char *buf, int64_t v) {
  uint64_t m = v < 0 ? 0 - uint64_t(v) : uint64_t(v);
  uint64_t n = 0;
  if (v < 0) buf[n++] = '-';
  // Number of digits: from the bit length, corrected by one comparison.
  static constexpr uint64_t kPow10[20] = {1ull, 10ull, 100ull, 1000ull, 10000ull, 100000ull,
                                          1000000ull, 10000000ull, 100000000ull,
                                          1000000000ull, 10000000000ull, 100000000000ull,
                                          1000000000000ull, 10000000000000ull,
                                          100000000000000ull, 1000000000000000ull,
                                          10000000000000000ull, 100000000000000000ull,
                                          1000000000000000000ull, 10000000000000000000ull};
  const uint32_t bits = 64 - uint32_t(__builtin_clzll(m | 1));
  uint32_t digits = (bits * 1233) >> 12;  // floor(log10(2^bits)), off by at most one
  digits += m >= kPow10[digits];
  if (digits == 0) digits = 1;
  char *w = buf + n + digits;
  while (m >= 100) {
    const uint64_t q = m / 100;
    w -= 2;
    std::memcpy(w, kDigitPairs + (m - q * 100) * 2, 2);
    m = q;
  }
  if (m >= 10) {
    w -= 2;
    std::memcpy(w, kDigitPairs + m * 2, 2);
  } else {
    *--w = char('0' + m);
  }
  return n + digits;
}
// Powers of ten up to 10^21 (all below 2^75, so m * 10^k fits 128 bits for m < 2^53).
struct Pow10Table {
  unsigned __int128 of[22];
  constexpr Pow10Table() : of() {
    unsigned __int128 v = 1;
    for (int k = 0; k < 22; ++k, v *= 10) of[k] = v;
  }
};
constexpr Pow10Table kPow10U128{};

// Writes the 17-significant-digit "%.17g" text of a finite positive double whose
// decimal exponent is between -5 and 16, computed exactly in 128-bit integers; returns
// 0 (nothing written) outside that range or when the rounding is an exact tie, which
// are left to the standard formatter. *plain is set when the text has neither a point
// nor an exponent (the writer then appends .0).
inline int format_g17_fast(char *buf, double v, bool *plain = nullptr) {
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
    const unsigned __int128 p = static_cast<unsigned __int128>(m) * kPow10U128.of[k];
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
  char dig[24];
  const uint64_t top = d / 100000000u;  // the first 9 digits
  put_digits8(dig + 9, uint32_t(d - top * 100000000u));
  put_digits8(dig + 1, uint32_t(top % 100000000u));
  dig[0] = char('0' + top / 100000000u);
  int nd = 17;
  while (nd > 1 && dig[nd - 1] == '0') --nd;
  if (plain) *plain = false;
  if (x < -4) {  // d.ddde-05
    buf[0] = dig[0];
    buf[1] = '.';
    std::memcpy(buf + 2, dig + 1, 16);
    int n = nd > 1 ? nd + 1 : 1;
    std::memcpy(buf + n, "e-05", 4);
    return n + 4;
  }
  if (x >= 0) {  // ddd.ddd or ddd
    const int int_len = x + 1;
    std::memcpy(buf, dig, 17);
    if (nd <= int_len) {
      if (plain) *plain = true;
      return int_len;
    }
    buf[int_len] = '.';
    copy_bytes(buf + int_len + 1, dig + int_len, uint64_t(nd - int_len));
    return nd + 1;
  }
  // 0.000ddd
  std::memcpy(buf, "0.0000", 6);
  const int lead = 1 - x;  // "0." and -x - 1 zeros
  std::memcpy(buf + lead, dig, 17);
  return lead + nd;
}

// "%.17g", then .0 when the text has no point, exponent, infinity or NaN in it.
// Returns the text's length; *number_len is the length of the number piece.
inline int format_double(char *buf, double v, int *number_len) {
  int n = 0;
  bool plain = false;
  if (__builtin_isfinite(v)) {
    if (v != 0) {
      char *w = buf;
      double a = v;
      if (v < 0) {
        *w++ = '-';
        a = -v;
      }
      const int f = format_g17_fast(w, a, &plain);
      if (f) n = int(w - buf) + f;
    }
    if (!n) {
      const auto r = std::to_chars(buf, buf + 40, v, std::chars_format::general, 17);
      n = int(r.ptr - buf);
      plain = true;
      for (int i = 0; i < n; ++i) {
        const char c = buf[i];
        if (c == '.' || c == 'e' || c == 'E') plain = false;
      }
    }
  } else {
    n = std::snprintf(buf, 40, "%.17g", v);
  }
  *number_len = n;
  if (!plain) return n;
  buf[n] = '.';
  buf[n + 1] = '0';
  return n + 2;
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
      if (out.room() >= 20) {
        out.w += format_int(reinterpret_cast<char *>(out.w), n->integer);
      } else {
        char buf[24];
        out.piece(buf, format_int(buf, n->integer));
      }
      break;
    }
    case KALDRO_JSON_DOUBLE: {
      char buf[48];
      int number_len;
      const int total = format_double(buf, n->number, &number_len);
      if (out.room() >= uint64_t(total)) {
        copy_bytes(out.w, buf, uint64_t(total));
        out.w += total;
      } else {
        out.piece(buf, uint64_t(number_len));
        if (total != number_len) out.piece(".0", 2);
      }
      break;
    }
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

// The prefix word of key_prefix and, in *plain, the number of bytes before the key's
// first byte that needs an escape (its NUL at the latest), capped at 255: one pass over
// the key serves the sort and the writer.
inline uint64_t key_scan(const char *k, uint8_t *plain) {
  const uint8_t *u = reinterpret_cast<const uint8_t *>(k);
  uint32_t i = 0;
  while (!is_special(u[i])) ++i;
  *plain = uint8_t(i < 255 ? i : 255);
  if (i < 8 && u[i] != 0) return key_prefix(k);  // an escaped byte among the first 8
  const uint32_t take = i < 8 ? i : 8;
  uint64_t v = 0;
  for (uint32_t j = 0; j < 8; ++j) {
    const uint64_t c = j < take ? u[j < take ? j : 0] : 0;
    v = (v << 8) | c;
  }
  return v;
}

// Key order: bytewise as unsigned values, a key that is a prefix of another first.
inline bool key_greater(uint64_t pa, const char *a, uint64_t pb, const char *b) {
  if (pa != pb) return pa > pb;
  if ((pa & 0xFF) == 0) return false;  // both keys end within their first 8 bytes
  return std::strcmp(a + 8, b + 8) > 0;
}

// The order of an object sorted earlier, kept while its prefix words were pairwise
// distinct: the sort then depended on those words alone, so a later object with the
// same words in the same places (records of one shape, one after another) takes the
// same order without sorting. The writer keeps a few, chosen by depth and member count.
constexpr uint32_t kMemoMembers = 16;
constexpr uint32_t kMemoSlots = 16;
struct SortMemo {
  uint32_t n = 0;  // 0: nothing kept
  uint64_t pre[kMemoMembers];
  uint32_t idx[kMemoMembers];
};

// Sorts member indices 0..n-1 by key, equal keys keeping their stored order: the result
// of a plain insertion sort (each entry moves left while the one before it is strictly
// greater). Objects of up to kSortLocal members sort prefix words on the stack and
// leave each key's plain length (see key_scan) in plain[], by member index; `memo`
// (may be null) serves objects of up to kMemoMembers.
constexpr uint32_t kSortLocal = 64;

inline void sort_members(const char *const *keys, uint8_t *order, uint32_t n, uint8_t *plain,
                         SortMemo *memo) {
  if (n <= 1) {
    if (n) store_index(order, 0, 0);
    return;
  }
  if (n <= kSortLocal) {
    uint64_t mine[kSortLocal];
    for (uint32_t i = 0; i < n; ++i) __builtin_prefetch(keys[i]);
    for (uint32_t i = 0; i < n; ++i) mine[i] = key_scan(keys[i], plain + i);
    if (memo && n > kMemoMembers) memo = nullptr;
    if (memo && memo->n == n && std::memcmp(memo->pre, mine, 8 * uint64_t(n)) == 0) {
      for (uint32_t i = 0; i < n; ++i) store_index(order, i, memo->idx[i]);
      return;
    }
    uint64_t pre[kSortLocal];
    uint32_t idx[kSortLocal];
    bool distinct = true;
    for (uint32_t i = 0; i < n; ++i) {
      const uint64_t p = mine[i];
      uint32_t j = i;
      while (j > 0 && key_greater(pre[j - 1], keys[idx[j - 1]], p, keys[i])) {
        pre[j] = pre[j - 1];
        idx[j] = idx[j - 1];
        --j;
      }
      if (j > 0 && pre[j - 1] == p) distinct = false;
      if (j < i && pre[j + 1] == p) distinct = false;
      pre[j] = p;
      idx[j] = i;
    }
    for (uint32_t i = 0; i < n; ++i) store_index(order, i, idx[i]);
    if (memo) {
      memo->n = distinct ? n : 0;
      if (distinct) {
        std::memcpy(memo->pre, mine, 8 * uint64_t(n));
        std::memcpy(memo->idx, idx, 4 * uint64_t(n));
      }
    }
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
    // As in measure_tree, a container whose last entry is a container hands its stack
    // entry to it; the closing brackets of the containers that entry stood for are
    // written together when it is done. closers[64 - d] is the bracket of depth d.
    struct Level {
      kaldro_json_node *const *kids;
      const char *const *keys;  // null for arrays
      const uint8_t *order;     // null for arrays and one-member objects
      const uint8_t *plain;     // keys' plain lengths by member, or null
      uint32_t next;
      uint32_t count;
      uint32_t depth;
      uint32_t outer;  // depth of the innermost open container around this entry's chain
    } levels[kWriteMaxDepth];
    uint8_t closers[kWriteMaxDepth];
    uint8_t plain[kWriteMaxDepth][kSortLocal];
    SortMemo memos[kMemoSlots];
    Streams streams;
    uint32_t sp = 0;
    // Opens container n at depth d into entry l: its bracket, and for an object the
    // order of its members.
    auto open = [&](Level &l, const kaldro_json_node *n, uint32_t d) __attribute__((always_inline)) {
      streams.list(n->items);
      l.next = 0;
      l.order = nullptr;
      l.plain = nullptr;
      l.depth = d;
      if (n->kind == KALDRO_JSON_OBJECT) {
        sink.byte('{');
        closers[kWriteMaxDepth - d] = '}';
        l.kids = n->values;
        l.keys = n->keys;
        l.count = n->member_count;
        if (l.count > 1) {
          uint8_t *order = orders + uint64_t(d - 1) * order_bytes;
          sort_members(l.keys, order, l.count, plain[d - 1], &memos[(d * 5 + l.count) % kMemoSlots]);
          l.order = order;
          if (l.count <= kSortLocal) l.plain = plain[d - 1];
        }
      } else {
        sink.byte('[');
        closers[kWriteMaxDepth - d] = ']';
        l.kids = n->items;
        l.keys = nullptr;
        l.count = n->count;
      }
    };
    levels[0].outer = 0;
    open(levels[sp++], root, 1);
    while (sp) {
      Level &top = levels[sp - 1];
      if (top.next == top.count) {
        // Closing brackets are one-byte pieces: a run of them.
        sink.run(closers + kWriteMaxDepth - top.depth, top.depth - top.outer);
        --sp;
        continue;
      }
      const uint32_t i = top.next++;
      const kaldro_json_node *child;
      if (top.keys) {
        const uint32_t m = top.order ? load_index(top.order, i) : i;
        write_member_key<Scan>(sink, i == 0, reinterpret_cast<const uint8_t *>(top.keys[m]),
                               top.plain ? top.plain[m] : 255);
        child = top.kids[m];
      } else {
        if (i) sink.piece(", ", 2);
        child = top.kids[i];
      }
      streams.node(child);
      if (is_container(child)) {
        if (top.depth == shape.depth) return KALDRO_ERR_CAPACITY;
        if (top.next == top.count) {
          open(top, child, top.depth + 1);  // outer stays
        } else {
          Level &l = levels[sp++];
          l.outer = top.depth;
          open(l, child, top.depth + 1);
        }
      } else {
        write_scalar<Scan>(sink, child);
      }
    }
  }
  *out_len = sink.length();
  return sink.overflow ? KALDRO_ERR_CAPACITY : KALDRO_OK;
}

}  // namespace

#if defined(__x86_64__)
kaldro_status write_avx2(const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes);
#endif

}  // namespace kaldro::json
