// Fuzzes the JSON parser and the canonical writer: any text either parses or is refused,
// and a parsed tree written out parses again to a tree that writes the same bytes.
// Arenas come from static regions poisoned past the size handed out (no heap block and
// page faults per execution for them), so a step past an arena's end is still reported.
#include <cmath>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kaldro.h"
#include "scratch.h"

namespace {

constexpr size_t kMaxInput = 1 << 16;  // longer inputs are cut here
fuzz::Region<16384 + 256 * kMaxInput> arena_region, arena2_region;
fuzz::Region<kMaxInput> tight_region;

bool all_finite(const kaldro_json_node *n) {
  switch (n->kind) {
    case KALDRO_JSON_DOUBLE: return std::isfinite(n->number);
    case KALDRO_JSON_ARRAY:
      for (uint32_t i = 0; i < n->count; ++i)
        if (!all_finite(n->items[i])) return false;
      return true;
    case KALDRO_JSON_OBJECT:
      for (uint32_t i = 0; i < n->member_count; ++i)
        if (!all_finite(n->values[i])) return false;
      return true;
    default: return true;
  }
}

// Writes the tree with an exactly sized workspace and output, each in its own heap block
// so that the address sanitizer sees any step past either end.
std::vector<char> write(const kaldro_json_node *root, kaldro_status *st) {
  uint64_t ws_bytes = kaldro_json_write_arena_bytes(root);
  std::vector<uint8_t> ws(ws_bytes);
  uint64_t len = 0;
  *st = kaldro_json_write_ws(root, nullptr, 0, &len, ws.data(), ws.size());
  if (*st != KALDRO_OK) return {};
  char *out = static_cast<char *>(malloc(len ? len : 1));
  uint64_t len2 = 0;
  if (kaldro_json_write_ws(root, out, len, &len2, ws.data(), ws.size()) != KALDRO_OK ||
      len2 != len)
    abort();
  std::vector<char> text(out, out + len);
  // An undersized buffer gets a prefix of the full text and the full length.
  if (len > 1) {
    uint64_t cap = len / 2, len3 = 0;
    char *half = static_cast<char *>(malloc(cap));
    if (kaldro_json_write_ws(root, half, cap, &len3, ws.data(), ws.size()) !=
            KALDRO_ERR_CAPACITY || len3 != len)
      abort();
    free(half);
  }
  free(out);
  return text;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > kMaxInput) return 0;
  // A tight arena first: parsing must fail cleanly or succeed, never overrun it.
  uint64_t small = size / 2;
  void *tight = tight_region.take(small);
  kaldro_json_node *root = nullptr;
  kaldro_status st = kaldro_json_parse(data, size, tight, small, &root);
  if (st != KALDRO_OK && st != KALDRO_ERR_INVALID && st != KALDRO_ERR_CAPACITY) abort();

  uint64_t arena_bytes = 16384 + 256 * uint64_t(size);
  void *arena = arena_region.take(arena_bytes);
  root = nullptr;
  st = kaldro_json_parse(data, size, arena, arena_bytes, &root);
  if (st == KALDRO_OK) {
    if (root == nullptr) abort();
    kaldro_status wst;
    std::vector<char> text = write(root, &wst);
    // Non-finite numbers are written as inf or nan, which is not JSON and does not parse
    // back; every other tree must survive the round trip.
    if (wst == KALDRO_OK && all_finite(root)) {
      uint64_t arena2_bytes = 16384 + 256 * uint64_t(text.size());
      void *arena2 = arena2_region.take(arena2_bytes);
      if (arena2 == nullptr) return 0;  // a text longer than any input
      kaldro_json_node *again = nullptr;
      if (kaldro_json_parse(text.data(), text.size(), arena2, arena2_bytes, &again) !=
          KALDRO_OK)
        abort();
      kaldro_status wst2;
      std::vector<char> text2 = write(again, &wst2);
      if (wst2 != KALDRO_OK || text2 != text) abort();
    } else if (wst != KALDRO_OK && wst != KALDRO_ERR_CAPACITY) {
      abort();
    }
  } else if (root != nullptr) {
    abort();
  }
  return 0;
}
