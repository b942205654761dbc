// Internals shared by the JSON parser, builder and writer: the arena rule (blocks at
// multiples of 8 from the arena's start, nothing given back), the byte classes of JSON
// text and the word-at-a-time scans used by the portable paths.
#pragma once

#include "frame/internal.h"

#include <cstring>

namespace kaldro::json {

// Helpers that are compiled into the instruction-set files as well live in an unnamed
// namespace, so that no out-of-line copy built with wider instructions can be shared
// with the portable code.
namespace {

inline uint64_t align8(uint64_t x) { return x > UINT64_MAX - 7 ? UINT64_MAX & ~uint64_t(7) : (x + 7) & ~uint64_t(7); }

// Takes `bytes` from the arena [base, base + size) whose used offset is `used`: the
// offset first moves to the next multiple of 8 (and stays there on failure, never past
// the end of the arena), then the block is taken when it fits. Null when it does not.
inline uint8_t *arena_take(uint8_t *base, uint64_t size, uint64_t &used, uint64_t bytes) {
  const uint64_t at = align8(used);
  if (at > size) {
    used = size;
    return nullptr;
  }
  used = at;
  if (size - at < bytes) return nullptr;
  used = at + bytes;
  return base + at;
}

// Copies n bytes; short copies (the usual key, string and number sizes) are done with
// two overlapping loads and stores that stay inside both ranges, saving a call.
[[gnu::always_inline]] inline void copy_bytes(void *dst, const void *src, uint64_t n) {
  auto *d = static_cast<uint8_t *>(dst);
  const auto *s = static_cast<const uint8_t *>(src);
  if (n >= 8) {
    if (n > 32) {
      std::memcpy(d, s, n);
    } else if (n > 16) {
      uint8_t a[16], b[16];
      std::memcpy(a, s, 16);
      std::memcpy(b, s + n - 16, 16);
      std::memcpy(d, a, 16);
      std::memcpy(d + n - 16, b, 16);
    } else {
      uint64_t a, b;
      std::memcpy(&a, s, 8);
      std::memcpy(&b, s + n - 8, 8);
      std::memcpy(d, &a, 8);
      std::memcpy(d + n - 8, &b, 8);
    }
  } else if (n >= 4) {
    uint32_t a, b;
    std::memcpy(&a, s, 4);
    std::memcpy(&b, s + n - 4, 4);
    std::memcpy(d, &a, 4);
    std::memcpy(d + n - 4, &b, 4);
  } else if (n >= 2) {
    uint16_t a, b;
    std::memcpy(&a, s, 2);
    std::memcpy(&b, s + n - 2, 2);
    std::memcpy(d, &a, 2);
    std::memcpy(d + n - 2, &b, 2);
  } else if (n == 1) {
    *d = *s;
  }
}

inline bool is_ws(uint8_t c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r'; }

// Bytes that end a plain run inside a string: the quotation mark, the backslash and the
// control bytes below 0x20 (the parser rejects them, the writer escapes them).
struct SpecialBytes {
  bool of[256];
  constexpr SpecialBytes() : of() {
    for (int c = 0; c < 256; ++c) of[c] = c == '"' || c == '\\' || c < 0x20;
  }
};
constexpr SpecialBytes kSpecialBytes{};
inline bool is_special(uint8_t c) { return kSpecialBytes.of[c]; }

inline uint64_t load64(const uint8_t *p) {
  uint64_t v;
  std::memcpy(&v, p, 8);
  return v;
}

constexpr uint64_t kOnes = 0x0101010101010101ull;
constexpr uint64_t kHighs = 0x8080808080808080ull;

// A word with the high bit set in (at least) the lowest byte of `v` that is special;
// the lowest set bit always marks the first special byte. Little-endian only.
inline uint64_t special_mask64(uint64_t v) {
  const uint64_t q = v ^ (kOnes * '"');
  const uint64_t b = v ^ (kOnes * '\\');
  const uint64_t zq = (q - kOnes) & ~q;
  const uint64_t zb = (b - kOnes) & ~b;
  const uint64_t lt = (v - kOnes * 0x20) & ~v;
  return (zq | zb | lt) & kHighs;
}

// Same for the quotation mark and the backslash only (the pre-scan of a string).
inline uint64_t quote_mask64(uint64_t v) {
  const uint64_t q = v ^ (kOnes * '"');
  const uint64_t b = v ^ (kOnes * '\\');
  return (((q - kOnes) & ~q) | ((b - kOnes) & ~b)) & kHighs;
}

#if defined(__BYTE_ORDER__) && __BYTE_ORDER__ == __ORDER_LITTLE_ENDIAN__
#define KALDRO_JSON_SWAR 1
#else
#define KALDRO_JSON_SWAR 0
#endif

// First special byte in [p, end), or end.
inline const uint8_t *find_special_portable(const uint8_t *p, const uint8_t *end) {
#if KALDRO_JSON_SWAR
  while (end - p >= 8) {
    const uint64_t m = special_mask64(load64(p));
    if (m) return p + (__builtin_ctzll(m) >> 3);
    p += 8;
  }
#endif
  while (p < end && !is_special(*p)) ++p;
  return p;
}

// First quotation mark or backslash in [p, end), or end.
inline const uint8_t *find_quote_portable(const uint8_t *p, const uint8_t *end) {
#if KALDRO_JSON_SWAR
  while (end - p >= 8) {
    const uint64_t m = quote_mask64(load64(p));
    if (m) return p + (__builtin_ctzll(m) >> 3);
    p += 8;
  }
#endif
  while (p < end && *p != '"' && *p != '\\') ++p;
  return p;
}

// Copies the plain bytes of [s, end) to w up to the first special byte, whose position
// it returns; whole words are stored, so up to 7 bytes past that position may be
// written too, never more than end - s bytes in all.
inline const uint8_t *copy_plain_portable(uint8_t *w, const uint8_t *s, const uint8_t *end) {
#if KALDRO_JSON_SWAR
  while (end - s >= 8) {
    const uint64_t v = load64(s);
    std::memcpy(w, &v, 8);
    const uint64_t m = special_mask64(v);
    if (m) return s + (__builtin_ctzll(m) >> 3);
    s += 8;
    w += 8;
  }
#endif
  while (s < end && !is_special(*s)) *w++ = *s++;
  return s;
}

// The portable scans: a word at a time where that pays.
struct ScanPortable {
  static const uint8_t *find_special(const uint8_t *p, const uint8_t *end) {
    return find_special_portable(p, end);
  }
  static const uint8_t *find_quote(const uint8_t *p, const uint8_t *end) {
    return find_quote_portable(p, end);
  }
  static const uint8_t *skip_ws(const uint8_t *p, const uint8_t *end) {
    while (p < end && is_ws(*p)) ++p;
    return p;
  }
  static const uint8_t *copy_plain(uint8_t *w, const uint8_t *s, const uint8_t *end) {
    return copy_plain_portable(w, s, end);
  }
};

}  // namespace

// Parses with the given scan tier (0 portable, 2 AVX2), clamped to what the processor
// has. Exposed so that the tests can compare every tier.
kaldro_status parse_tier(int tier, const void *text, uint64_t text_len, void *arena,
                         uint64_t arena_bytes, kaldro_json_node **out_root);
// Writes with the given scan tier (0 portable, 2 AVX2), clamped likewise.
kaldro_status write_tier(int tier, const kaldro_json_node *root, void *out, uint64_t out_cap,
                         uint64_t *out_len, void *workspace, uint64_t workspace_bytes);

}  // namespace kaldro::json
