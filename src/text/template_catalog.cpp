// Catalog lookup by bisection over caller-supplied sorted key columns, and template
// rendering, which replaces each {name} placeholder by the bytes a catalog maps it to.
#include "frame/internal.h"

#include <cstring>

namespace kaldro {
namespace {

// Catalog order: bytes compared as unsigned over the shorter length, then the shorter
// key first. Returns <0, 0 or >0 for a before, equal to or after b.
int compare_keys(const uint8_t *a, uint32_t a_len, const uint8_t *b, uint32_t b_len) {
  const uint32_t common = a_len < b_len ? a_len : b_len;
  if (common != 0) {
    const int c = std::memcmp(a, b, common);
    if (c != 0) return c;
  }
  return a_len < b_len ? -1 : (a_len > b_len ? 1 : 0);
}

constexpr int kMaxProbes = 64;

}  // namespace
}  // namespace kaldro

extern "C" {

KALDRO_API kaldro_status kaldro_catalog_lookup(const uint8_t *key, uint32_t key_len,
                                               const uint8_t *key_pool,
                                               const uint32_t *key_offsets,
                                               const uint32_t *key_lens,
                                               const uint32_t *value_offsets,
                                               const uint32_t *value_lens, int32_t count,
                                               uint8_t *found, uint32_t *value_offset,
                                               uint32_t *value_len) {
  if (found == nullptr || value_offset == nullptr || value_len == nullptr) return KALDRO_ERR_NULL;
  *found = 0;
  *value_offset = 0;
  *value_len = 0;
  if (count == 0) return KALDRO_OK;
  // The key pool is dereferenced as much as the columns are, so it is checked with them.
  if (key_pool == nullptr || key_offsets == nullptr || key_lens == nullptr ||
      value_offsets == nullptr || value_lens == nullptr || (key == nullptr && key_len != 0))
    return KALDRO_ERR_NULL;
  if (count < 0) return KALDRO_OK;
  int64_t lo = 0, hi = int64_t(count) - 1;
  for (int probe = 0; probe < kaldro::kMaxProbes && lo <= hi; ++probe) {
    const int64_t mid = lo + (hi - lo) / 2;
    const int c = kaldro::compare_keys(key, key_len, key_pool + key_offsets[mid], key_lens[mid]);
    if (c == 0) {
      *found = 1;
      *value_offset = value_offsets[mid];
      *value_len = value_lens[mid];
      return KALDRO_OK;
    }
    if (c < 0)
      hi = mid - 1;
    else
      lo = mid + 1;
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_template_render(
    const uint8_t *tmpl, uint32_t tmpl_len, const uint8_t *key_pool,
    const uint32_t *key_offsets, const uint32_t *key_lens, const uint8_t *value_pool,
    const uint32_t *value_offsets, const uint32_t *value_lens, int32_t count, uint8_t *out,
    uint32_t out_cap, uint32_t *out_len) {
  if (out == nullptr || out_len == nullptr) return KALDRO_ERR_NULL;
  *out_len = 0;
  if (tmpl == nullptr && tmpl_len != 0) return KALDRO_ERR_NULL;
  uint32_t written = 0;
  uint32_t i = 0;
  while (i < tmpl_len) {
    // Ordinary bytes up to the next '{' are copied as one run, as far as they fit.
    const void *brace = std::memchr(tmpl + i, '{', tmpl_len - i);
    const uint32_t run_end =
        brace ? uint32_t(static_cast<const uint8_t *>(brace) - tmpl) : tmpl_len;
    const uint32_t run = run_end - i;
    if (run != 0) {
      const uint32_t room = out_cap - written;
      const uint32_t fits = run < room ? run : room;
      std::memcpy(out + written, tmpl + i, fits);
      written += fits;
      if (fits < run) return KALDRO_ERR_CAPACITY;
      i = run_end;
    }
    if (i == tmpl_len) break;
    // A placeholder: the name runs to the first '}' after the '{'.
    const uint32_t name_start = i + 1;
    const void *close =
        name_start < tmpl_len ? std::memchr(tmpl + name_start, '}', tmpl_len - name_start) : nullptr;
    if (close == nullptr) return KALDRO_ERR_INVALID;
    const uint32_t name_end = uint32_t(static_cast<const uint8_t *>(close) - tmpl);
    uint8_t found = 0;
    uint32_t voff = 0, vlen = 0;
    KALDRO_TRY(kaldro_catalog_lookup(tmpl + name_start, name_end - name_start, key_pool,
                                     key_offsets, key_lens, value_offsets, value_lens, count,
                                     &found, &voff, &vlen));
    if (!found) return KALDRO_ERR_INVALID;
    if (vlen > out_cap - written) return KALDRO_ERR_CAPACITY;
    if (vlen != 0) {
      if (value_pool == nullptr) return KALDRO_ERR_NULL;
      std::memcpy(out + written, value_pool + voff, vlen);
      written += vlen;
    }
    i = name_end + 1;
  }
  *out_len = written;
  return KALDRO_OK;
}

}  // extern "C"
