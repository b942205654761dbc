// The JSON parser, written once over a scan policy (how runs of plain string bytes and
// white space are skipped) and compiled for each instruction-set tier. Iterative: a
// 64-entry container stack and every list live in the caller's arena.
#pragma once

#include "text/json_internal.h"

#include <charconv>
#include <cstdlib>
#include <system_error>

namespace kaldro::json {
namespace {

inline bool is_digit(uint8_t c) { return uint8_t(c - '0') < 10; }
inline bool is_number_char(uint8_t c) {
  return is_digit(c) || c == '+' || c == '-' || c == '.' || c == 'e' || c == 'E';
}
inline int hex_value(uint8_t c) {
  if (is_digit(c)) return c - '0';
  if (uint8_t((c | 0x20) - 'a') < 6) return (c | 0x20) - 'a' + 10;
  return -1;
}

// An open container: 40 bytes, 64 of them fill the 2560-byte stack block.
struct Frame {
  kaldro_json_node *node;
  kaldro_json_node **values;
  const char **keys;
  uint32_t count;
  uint32_t cap_eighths;  // working-list capacity / 8 (capacities are 8 * 2^k)
  uint32_t is_object;
  uint32_t local;  // first entry in the parser's local list, or kSpilled
};
static_assert(sizeof(Frame) == 40, "stack entries are 40 bytes");
constexpr uint32_t kMaxDepth = 64;
// Entries of open containers are gathered in a local list while it has room; the
// working lists in the arena are still allocated (the arena's accounting does not
// change) but only written when a container's entries no longer fit locally.
constexpr uint32_t kLocalEntries = 256;
constexpr uint32_t kSpilled = UINT32_MAX;
constexpr uint64_t kStackBytes = 2560;
constexpr uint64_t kMaxToken = 63;

// Converts an integer token the way strtoll(token, NULL, 10) does: an optional minus,
// then digits up to the first other character, saturating at the ends of the range.
// Tokens without digits give 0.
inline int64_t token_to_int(const uint8_t *s, const uint8_t *end) {
  bool neg = false;
  if (s < end && *s == '-') {
    neg = true;
    ++s;
  }
  uint64_t mag = 0;
  const uint64_t limit = neg ? uint64_t(INT64_MAX) + 1 : uint64_t(INT64_MAX);
  bool saturated = false;
  for (; s < end && is_digit(*s); ++s) {
    const uint64_t d = uint64_t(*s - '0');
    if (!saturated) {
      if (mag > (limit - d) / 10) {
        saturated = true;
      } else {
        mag = mag * 10 + d;
      }
    }
  }
  if (saturated) return neg ? INT64_MIN : INT64_MAX;
  return neg ? int64_t(0 - mag) : int64_t(mag);
}

// Exact powers of ten that a double holds.
constexpr double kPow10[23] = {1e0,  1e1,  1e2,  1e3,  1e4,  1e5,  1e6,  1e7,
                               1e8,  1e9,  1e10, 1e11, 1e12, 1e13, 1e14, 1e15,
                               1e16, 1e17, 1e18, 1e19, 1e20, 1e21, 1e22};

// Powers of five up to 5^22, all below 2^52.
struct Pow5Table {
  uint64_t of[23];
  constexpr Pow5Table() : of() {
    uint64_t v = 1;
    for (int k = 0; k < 23; ++k, v *= 5) of[k] = v;
  }
};
constexpr Pow5Table kPow5{};

constexpr uint64_t kPow10Int[9] = {1, 10, 100, 1000, 10000, 100000, 1000000, 10000000, 100000000};

inline int bit_length(unsigned __int128 v) {
  const uint64_t hi = uint64_t(v >> 64);
  return hi ? 128 - __builtin_clzll(hi) : 64 - __builtin_clzll(uint64_t(v) | 1) - (uint64_t(v) == 0);
}

// The double nearest to top' * 2^exp2, where top' is the integer `top` (at most 128
// bits, non-zero) followed by a sticky bit for non-zero bits below it: rounded to 53
// bits, ties to even. The result must be a normal double.
inline double round_to_double(unsigned __int128 top, bool sticky, int exp2) {
  const int bl = bit_length(top);
  uint64_t sig;
  if (bl <= 53) {
    sig = uint64_t(top) << (53 - bl);
    exp2 -= 53 - bl;
  } else {
    const int drop = bl - 53;
    sig = uint64_t(top >> drop);
    const unsigned __int128 rest = top & ((static_cast<unsigned __int128>(1) << drop) - 1);
    const unsigned __int128 half = static_cast<unsigned __int128>(1) << (drop - 1);
    if (rest > half || (rest == half && (sticky || (sig & 1)))) ++sig;
    exp2 += drop;
    if (sig >> 53) {
      sig >>= 1;
      ++exp2;
    }
  }
  // sig is in [2^52, 2^53) and the value is sig * 2^exp2.
  const uint64_t bits = (uint64_t(exp2 + 52 + 1023) << 52) | (sig & ((uint64_t(1) << 52) - 1));
  double v;
  std::memcpy(&v, &bits, 8);
  return v;
}

// Floor of (hi * 2^64 + lo) / d and the remainder, for hi < d.
inline uint64_t divide_128(uint64_t hi, uint64_t lo, uint64_t d, uint64_t *rem) {
#if defined(__x86_64__)
  uint64_t q, r;
  __asm__("divq %4" : "=a"(q), "=d"(r) : "a"(lo), "d"(hi), "rm"(d));
  *rem = r;
  return q;
#else
  const unsigned __int128 n = (static_cast<unsigned __int128>(hi) << 64) | lo;
  *rem = uint64_t(n % d);
  return uint64_t(n / d);
#endif
}

// mant * 10^e10 correctly rounded, for 0 < mant < 2^64 and |e10| <= 22, in integers:
// mant * 5^e10 exactly when e10 >= 0, otherwise a quotient of at least 63 bits by 5^-e10
// with the remainder as the sticky bit. The results are far inside the normal range.
inline double decimal_to_double(uint64_t mant, int e10) {
  if (e10 >= 0) {
    const unsigned __int128 p = static_cast<unsigned __int128>(mant) * kPow5.of[e10];
    return round_to_double(p, false, e10);
  }
  const int k = -e10;
  const uint64_t d = kPow5.of[k];
  const int d_bits = 64 - __builtin_clzll(d);
  const int m_bits = 64 - __builtin_clzll(mant);
  const int sh = 64 - m_bits + d_bits - 1;  // mant * 2^sh < d * 2^64
  const unsigned __int128 n = static_cast<unsigned __int128>(mant) << sh;
  uint64_t rem;
  const uint64_t q = divide_128(uint64_t(n >> 64), uint64_t(n), d, &rem);
  return round_to_double(q, rem != 0, -sh - k);
}

// Converts a floating token exactly as strtod would: from_chars reads the same longest
// decimal prefix and rounds it the same way; what it refuses (values out of range, a
// token without digits) goes to strtod itself on a NUL-terminated copy.
inline double token_to_double(const uint8_t *start, const uint8_t *end) {
  double v;
  const auto r = std::from_chars(reinterpret_cast<const char *>(start),
                                 reinterpret_cast<const char *>(end), v);
  if (r.ec == std::errc()) return v;
  char buf[kMaxToken + 1];
  const size_t n = size_t(end - start);
  std::memcpy(buf, start, n);
  buf[n] = '\0';
  return std::strtod(buf, nullptr);
}

// The byte each one-letter escape stands for, by the letter; 0 for the others.
struct UnescapeTable {
  uint8_t of[256];
  constexpr UnescapeTable() : of() {
    of[uint8_t('"')] = 0x22;
    of[uint8_t('\\')] = 0x5C;
    of[uint8_t('/')] = 0x2F;
    of[uint8_t('b')] = 0x08;
    of[uint8_t('f')] = 0x0C;
    of[uint8_t('n')] = 0x0A;
    of[uint8_t('r')] = 0x0D;
    of[uint8_t('t')] = 0x09;
  }
};
constexpr UnescapeTable kUnescape{};

// Appends the UTF-8 form of code point cp (below 0x110000) at w; returns the new end.
inline uint8_t *put_utf8(uint8_t *w, uint32_t cp) {
  if (cp < 0x80) {
    *w++ = uint8_t(cp);
  } else if (cp < 0x800) {
    *w++ = uint8_t(0xC0 | (cp >> 6));
    *w++ = uint8_t(0x80 | (cp & 0x3F));
  } else if (cp < 0x10000) {
    *w++ = uint8_t(0xE0 | (cp >> 12));
    *w++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    *w++ = uint8_t(0x80 | (cp & 0x3F));
  } else {
    *w++ = uint8_t(0xF0 | (cp >> 18));
    *w++ = uint8_t(0x80 | ((cp >> 12) & 0x3F));
    *w++ = uint8_t(0x80 | ((cp >> 6) & 0x3F));
    *w++ = uint8_t(0x80 | (cp & 0x3F));
  }
  return w;
}

// Reads four hex digits at p (at least four bytes must remain); -1 when one is not hex.
inline int32_t read_hex4(const uint8_t *p) {
  int32_t v = 0;
  for (int i = 0; i < 4; ++i) {
    const int h = hex_value(p[i]);
    if (h < 0) return -1;
    v = (v << 4) | h;
  }
  return v;
}

template <typename Scan>
class Parser {
 public:
  Parser(const uint8_t *text, uint64_t len, uint8_t *arena, uint64_t arena_bytes)
      : p_(text), end_(text + len), base_(arena), size_(arena_bytes) {}

  kaldro_status run(kaldro_json_node **out_root) {
    kaldro_json_node *root;
    KALDRO_TRY(value(&root));
    if (root->kind == KALDRO_JSON_ARRAY || root->kind == KALDRO_JSON_OBJECT) {
      stack_ = static_cast<Frame *>(take(kStackBytes));
      if (!stack_) return KALDRO_ERR_CAPACITY;
      KALDRO_TRY(push(root));
      KALDRO_TRY(containers());
    }
    skip_ws();
    if (p_ != end_) return KALDRO_ERR_INVALID;
    *out_root = root;
    return KALDRO_OK;
  }

 private:
  const uint8_t *p_;
  const uint8_t *end_;
  uint8_t *base_;
  uint64_t size_;
  uint64_t used_ = 0;
  Frame *stack_ = nullptr;
  uint32_t depth_ = 0;
  struct Entry {
    kaldro_json_node *value;
    const char *key;
  };
  Entry local_[kLocalEntries];
  uint32_t local_top_ = 0;

  void *take(uint64_t bytes) { return arena_take(base_, size_, used_, bytes); }
  void skip_ws() { p_ = Scan::skip_ws(p_, end_); }

  kaldro_json_node *new_node() {
    auto *n = static_cast<kaldro_json_node *>(take(sizeof(kaldro_json_node)));
    if (n) std::memset(static_cast<void *>(n), 0, sizeof *n);
    return n;
  }

  // The value step: white space, the node, then the value by its first character.
  // A container is only opened here; its members are read by containers().
  [[gnu::always_inline]] kaldro_status value(kaldro_json_node **out) {
    skip_ws();
    if (p_ == end_) return KALDRO_ERR_INVALID;
    kaldro_json_node *n = new_node();
    if (!n) return KALDRO_ERR_CAPACITY;
    *out = n;
    const uint8_t c = *p_;
    if (c == '"') {
      ++p_;
      uint8_t *bytes;
      uint64_t len;
      KALDRO_TRY(string(&bytes, &len, false));
      n->kind = KALDRO_JSON_STRING;
      n->str = reinterpret_cast<const char *>(bytes);
      n->len = uint32_t(len);
      return KALDRO_OK;
    }
    if (c == '-' || is_digit(c)) return number(n);
    if (c == '[') {
      ++p_;
      n->kind = KALDRO_JSON_ARRAY;
      return KALDRO_OK;
    }
    if (c == '{') {
      ++p_;
      n->kind = KALDRO_JSON_OBJECT;
      return KALDRO_OK;
    }
    const uint64_t left = uint64_t(end_ - p_);
    if (left >= 4 && std::memcmp(p_, "true", 4) == 0) {
      n->kind = KALDRO_JSON_BOOL;
      n->boolean = 1;
      p_ += 4;
    } else if (left >= 5 && std::memcmp(p_, "false", 5) == 0) {
      n->kind = KALDRO_JSON_BOOL;
      p_ += 5;
    } else if (left >= 4 && std::memcmp(p_, "null", 4) == 0) {
      p_ += 4;
    } else {
      return KALDRO_ERR_INVALID;
    }
    return KALDRO_OK;
  }

  // Numbers are read in one pass over the usual shape (-? digits (. digits)? (e sign?
  // digits)?), gathering up to 19 digits on the way. A token of that shape whose value
  // is exact this way is converted on the spot; any other token (odd characters, more
  // digits) goes through the conversions that follow strtoll and strtod to the letter.
  kaldro_status number(kaldro_json_node *n) {
    const uint8_t *start = p_;
    const uint8_t *s = p_;
    const bool neg = *s == '-';
    if (neg) ++s;
    uint64_t mant = 0;
    const uint8_t *int_start = s;
    s = digits(s, mant, 0);
    const int int_digits = int(s - int_start);
    int frac_digits = 0;
    bool floating = false;
    bool shaped = int_digits > 0;
    int64_t exp10 = 0;
    if (s < end_ && *s == '.') {
      floating = true;
      const uint8_t *f = s + 1;
      s = digits(f, mant, int_digits);
      frac_digits = int(s - f);
      shaped = int_digits + frac_digits > 0;
    }
    if (s < end_ && (*s == 'e' || *s == 'E')) {
      floating = true;
      const uint8_t *e = s + 1;
      bool eneg = false;
      if (e < end_ && (*e == '+' || *e == '-')) {
        eneg = *e == '-';
        ++e;
      }
      if (e < end_ && is_digit(*e)) {
        int64_t ev = 0;
        for (; e < end_ && is_digit(*e); ++e) {
          if (ev < 100000) ev = ev * 10 + (*e - '0');
        }
        exp10 = eneg ? -ev : ev;
        s = e;
      } else {
        shaped = false;
        s = e;
      }
    }
    // The token runs on over every number character.
    const uint8_t *t = s;
    while (t < end_ && is_number_char(*t)) ++t;
    p_ = t;
    if (uint64_t(t - start) >= kMaxToken) return KALDRO_ERR_CAPACITY;
    if (t != s) {
      shaped = false;
      for (const uint8_t *c = s; c < t; ++c) floating |= (*c == '.' || *c == 'e' || *c == 'E');
    }
    if (!floating) {
      n->kind = KALDRO_JSON_INT;
      if (shaped && int_digits <= 19) {
        // Up to 19 digits fit 64 bits unsigned; strtoll saturates at the range's ends.
        if (neg) {
          n->integer = mant <= uint64_t(INT64_MAX) ? -int64_t(mant) : INT64_MIN;
        } else {
          n->integer = mant <= uint64_t(INT64_MAX) ? int64_t(mant) : INT64_MAX;
        }
      } else {
        n->integer = token_to_int(start, t);
      }
      return KALDRO_OK;
    }
    n->kind = KALDRO_JSON_DOUBLE;
    if (shaped && int_digits + frac_digits <= 19) {
      if (mant == 0) {
        n->number = neg ? -0.0 : 0.0;
        return KALDRO_OK;
      }
      const int64_t e10 = exp10 - frac_digits;
      if (e10 >= -22 && e10 <= 22) {
        double v;
        if (mant <= (uint64_t(1) << 53)) {
          // Both operands are exact doubles, so one rounding gives the nearest value.
          v = double(mant);
          v = e10 < 0 ? v / kPow10[-e10] : v * kPow10[e10];
        } else {
          v = decimal_to_double(mant, int(e10));
        }
        n->number = neg ? -v : v;
        return KALDRO_OK;
      }
    }
    n->number = token_to_double(start, t);
    return KALDRO_OK;
  }

  // Gathers the digits from s into mant (which already holds `have` digits) while the
  // total stays within 19, then steps over any further digits; returns the end.
  const uint8_t *digits(const uint8_t *s, uint64_t &mant, int have) {
    const uint8_t *first = s;
#if KALDRO_JSON_SWAR
    while (end_ - s >= 8) {
      const uint64_t v = load64(s);
      // A non-zero byte marks a non-digit; bytes above the first one may be marked
      // wrongly (a carry), which never matters.
      const uint64_t odd = ((v & 0xF0F0F0F0F0F0F0F0ull) ^ 0x3030303030303030ull) |
                           (((v + 0x0606060606060606ull) & 0xF0F0F0F0F0F0F0F0ull) ^
                            0x3030303030303030ull);
      const int run = odd ? __builtin_ctzll(odd) >> 3 : 8;
      if (run == 0) return s;
      if (have + int(s - first) + run > 19) break;
      // The run's digits moved to the top bytes (zeros before them), then combined
      // pairwise: 2 x 4 x 2 partial sums.
      uint64_t t = (v - 0x3030303030303030ull) << (8 * (8 - run));
      t = (t * 10) + (t >> 8);
      t = (((t & 0x000000FF000000FFull) * (100 + (1000000ull << 32))) +
           (((t >> 16) & 0x000000FF000000FFull) * (1 + (10000ull << 32)))) >>
          32;
      mant = mant * kPow10Int[run] + (t & 0xFFFFFFFFull);
      s += run;
      if (run < 8) return s;
    }
#endif
    while (s < end_ && is_digit(*s)) {
      if (have + int(s - first) < 19) mant = mant * 10 + uint64_t(*s - '0');
      ++s;
    }
    return s;
  }

  // Reads a string whose opening quote has been consumed. The scratch block of r + 1
  // bytes is reserved first; a key (as_key) then gets its own copy with a NUL, and
  // *bytes points at that copy instead of the scratch block.
  [[gnu::always_inline]] kaldro_status string(uint8_t **bytes, uint64_t *len, bool as_key) {
    const uint8_t *s = p_;
    const uint8_t *stop = Scan::find_special(s, end_);
    if (stop < end_ && *stop == '"') {
      // Plain string: no escape, no control byte.
      const uint64_t r = uint64_t(stop - s);
      uint8_t *block = static_cast<uint8_t *>(take(r + 1));
      if (!block) return KALDRO_ERR_CAPACITY;
      if (r > UINT32_MAX) return KALDRO_ERR_CAPACITY;
      if (as_key) {
        block = static_cast<uint8_t *>(take(r + 1));
        if (!block) return KALDRO_ERR_CAPACITY;
        block[r] = 0;
      }
      copy_bytes(block, s, r);
      p_ = stop + 1;
      *bytes = block;
      *len = r;
      return KALDRO_OK;
    }
    return string_escaped(bytes, len, as_key, stop);
  }

  // The rest of string() for a string with an escape or a byte that ends it early;
  // `stop` is its first special byte (or the end of the text).
  [[gnu::noinline]] kaldro_status string_escaped(uint8_t **bytes, uint64_t *len, bool as_key,
                                                 const uint8_t *stop) {
    const uint8_t *s = p_;
    // Pre-scan to the closing quote, stepping over the byte after each backslash.
    const uint8_t *q = stop;
    while (q < end_) {
      q = Scan::find_quote(q, end_);
      if (q == end_ || *q == '"') break;
      if (end_ - q < 2) {
        q = end_;
        break;
      }
      q += 2;
    }
    const uint64_t r = uint64_t(q - s);
    uint8_t *block = static_cast<uint8_t *>(take(r + 1));
    if (!block) return KALDRO_ERR_CAPACITY;
    if (s == end_) return KALDRO_ERR_INVALID;
    // The bytes before `stop` are plain.
    const uint64_t plain = uint64_t(stop - s);
    std::memcpy(block, s, plain);
    uint8_t *w = block + plain;
    const uint8_t *c = stop;  // a special byte or the end
    const bool spare = size_ - used_ >= 32;
    for (;;) {
      if (c == end_) return KALDRO_ERR_INVALID;
      const uint8_t b = *c;
      if (b == '"') {
        ++c;
        break;
      }
      if (b < 0x20) return KALDRO_ERR_INVALID;
      // A backslash.
      if (end_ - c < 2) return KALDRO_ERR_INVALID;
      const uint8_t e = c[1];
      c += 2;
      if (const uint8_t d = kUnescape.of[e]) {
        *w++ = d;
      } else if (e == 'u') {
        if (end_ - c < 4) return KALDRO_ERR_INVALID;
        const int32_t unit = read_hex4(c);
        if (unit < 0) return KALDRO_ERR_INVALID;
        c += 4;
        if (unit >= 0xD800 && unit <= 0xDBFF) {
          if (end_ - c < 6 || c[0] != '\\' || c[1] != 'u') return KALDRO_ERR_INVALID;
          const int32_t low = read_hex4(c + 2);
          if (low < 0xDC00 || low > 0xDFFF) return KALDRO_ERR_INVALID;
          c += 6;
          w = put_utf8(w, 0x10000u + uint32_t(unit - 0xD800) * 1024u + uint32_t(low - 0xDC00));
        } else if (unit >= 0xDC00 && unit <= 0xDFFF) {
          return KALDRO_ERR_INVALID;
        } else {
          w = put_utf8(w, uint32_t(unit));
        }
      } else {
        return KALDRO_ERR_INVALID;
      }
      // Plain bytes up to the next special one; with 32 spare arena bytes past the
      // block, whole blocks are stored (the bytes past the decoded ones are scratch).
      const uint8_t *next;
      if (spare) {
        next = Scan::copy_plain(w, c, end_);
      } else {
        next = Scan::find_special(c, end_);
        copy_bytes(w, c, uint64_t(next - c));
      }
      w += next - c;
      c = next;
    }
    p_ = c;
    const uint64_t n = uint64_t(w - block);
    if (n > UINT32_MAX) return KALDRO_ERR_CAPACITY;
    if (as_key) {
      uint8_t *key = static_cast<uint8_t *>(take(n + 1));
      if (!key) return KALDRO_ERR_CAPACITY;
      std::memcpy(key, block, n);
      key[n] = 0;
      block = key;
    }
    *bytes = block;
    *len = n;
    return KALDRO_OK;
  }

  // Opens a container: its frame with fresh working lists (values, then keys).
  kaldro_status push(kaldro_json_node *n) {
    if (depth_ == kMaxDepth) return KALDRO_ERR_CAPACITY;
    Frame &f = stack_[depth_];
    f.node = n;
    f.count = 0;
    f.cap_eighths = 1;
    f.is_object = n->kind == KALDRO_JSON_OBJECT;
    f.local = local_top_;
    f.keys = nullptr;
    f.values = static_cast<kaldro_json_node **>(take(64));
    if (!f.values) return KALDRO_ERR_CAPACITY;
    if (f.is_object) {
      f.keys = static_cast<const char **>(take(64));
      if (!f.keys) return KALDRO_ERR_CAPACITY;
    }
    ++depth_;
    return KALDRO_OK;
  }

  // Adds one entry to the top frame, doubling its lists (values, then keys) when full.
  kaldro_status append(Frame &f, kaldro_json_node *v, const char *key) {
    const uint64_t cap = uint64_t(f.cap_eighths) * 8;
    if (f.count == cap) {
      if (f.count == UINT32_MAX) return KALDRO_ERR_CAPACITY;
      auto *nv = static_cast<kaldro_json_node **>(take(cap * 2 * 8));
      if (!nv) return KALDRO_ERR_CAPACITY;
      if (f.local == kSpilled) std::memcpy(static_cast<void *>(nv), f.values, cap * 8);
      f.values = nv;
      if (f.is_object) {
        auto *nk = static_cast<const char **>(take(cap * 2 * 8));
        if (!nk) return KALDRO_ERR_CAPACITY;
        if (f.local == kSpilled) std::memcpy(static_cast<void *>(nk), f.keys, cap * 8);
        f.keys = nk;
      }
      f.cap_eighths *= 2;
    }
    if (f.local != kSpilled) {
      if (local_top_ < kLocalEntries) {
        local_[local_top_++] = {v, key};
        ++f.count;
        return KALDRO_OK;
      }
      // The local list is full: this container's entries move to its working lists.
      for (uint32_t i = 0; i < f.count; ++i) {
        f.values[i] = local_[f.local + i].value;
        if (f.is_object) f.keys[i] = local_[f.local + i].key;
      }
      local_top_ = f.local;
      f.local = kSpilled;
    }
    f.values[f.count] = v;
    if (f.is_object) f.keys[f.count] = key;
    ++f.count;
    return KALDRO_OK;
  }

  // Closes the top container: final arrays (keys, then values), then pop.
  [[gnu::always_inline]] kaldro_status close(Frame &f) {
    ++p_;
    const uint64_t bytes = f.count ? uint64_t(f.count) * 8 : 8;
    kaldro_json_node *n = f.node;
    const Entry *local = f.local == kSpilled ? nullptr : local_ + f.local;
    if (f.is_object) {
      auto *keys = static_cast<const char **>(take(bytes));
      if (!keys) return KALDRO_ERR_CAPACITY;
      auto *vals = static_cast<kaldro_json_node **>(take(bytes));
      if (!vals) return KALDRO_ERR_CAPACITY;
      if (local) {
        for (uint32_t i = 0; i < f.count; ++i) {
          keys[i] = local[i].key;
          vals[i] = local[i].value;
        }
      } else {
        std::memcpy(static_cast<void *>(keys), f.keys, uint64_t(f.count) * 8);
        std::memcpy(static_cast<void *>(vals), f.values, uint64_t(f.count) * 8);
      }
      n->keys = keys;
      n->values = vals;
      n->member_count = f.count;
    } else {
      auto *items = static_cast<kaldro_json_node **>(take(bytes));
      if (!items) return KALDRO_ERR_CAPACITY;
      if (local) {
        for (uint32_t i = 0; i < f.count; ++i) items[i] = local[i].value;
      } else {
        std::memcpy(static_cast<void *>(items), f.values, uint64_t(f.count) * 8);
      }
      n->items = items;
      n->count = f.count;
    }
    if (local) local_top_ = f.local;
    --depth_;
    return KALDRO_OK;
  }

  kaldro_status containers() {
    while (depth_ > 0) {
      Frame &f = stack_[depth_ - 1];
      skip_ws();
      const char *key = nullptr;
      if (f.is_object) {
        if (p_ < end_ && *p_ == '}') {
          KALDRO_TRY(close(f));
          continue;
        }
        if (f.count) {
          if (p_ == end_ || *p_ != ',') return KALDRO_ERR_INVALID;
          ++p_;
          skip_ws();
        }
        if (p_ == end_ || *p_ != '"') return KALDRO_ERR_INVALID;
        ++p_;
        uint8_t *k;
        uint64_t klen;
        KALDRO_TRY(string(&k, &klen, true));
        key = reinterpret_cast<const char *>(k);
        skip_ws();
        if (p_ == end_ || *p_ != ':') return KALDRO_ERR_INVALID;
        ++p_;
      } else {
        if (p_ < end_ && *p_ == ']') {
          KALDRO_TRY(close(f));
          continue;
        }
        if (f.count) {
          if (p_ == end_ || *p_ != ',') return KALDRO_ERR_INVALID;
          ++p_;
        }
      }
      kaldro_json_node *v;
      KALDRO_TRY(value(&v));
      KALDRO_TRY(append(f, v, key));
      if (v->kind == KALDRO_JSON_ARRAY || v->kind == KALDRO_JSON_OBJECT) KALDRO_TRY(push(v));
    }
    return KALDRO_OK;
  }
};

template <typename Scan>
kaldro_status parse_with(const void *text, uint64_t text_len, void *arena, uint64_t arena_bytes,
                         kaldro_json_node **out_root) {
  Parser<Scan> parser(static_cast<const uint8_t *>(text), text_len,
                      static_cast<uint8_t *>(arena), arena_bytes);
  return parser.run(out_root);
}

}  // namespace

#if defined(__x86_64__)
kaldro_status parse_avx2(const void *text, uint64_t text_len, void *arena, uint64_t arena_bytes,
                         kaldro_json_node **out_root);
#endif

}  // namespace kaldro::json
