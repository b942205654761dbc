// Byte search (first and last occurrence) and dispatch matching over a pattern table.
// The portable search finds candidates by the needle's first byte with memchr/memrchr;
// the AVX2 search, chosen when the processor has it, by its first and last bytes.
#include "hash/byte_search.h"

#include <cstring>

#include "frame/internal.h"

namespace kaldro {

int64_t search_first_portable(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                              size_t needle_len) {
  const size_t starts = hay_len - needle_len + 1;  // candidate start positions
  const uint8_t *p = hay;
  const uint8_t *const end = hay + starts;
  while (p < end) {
    p = static_cast<const uint8_t *>(std::memchr(p, needle[0], size_t(end - p)));
    if (p == nullptr) return -1;
    if (std::memcmp(p + 1, needle + 1, needle_len - 1) == 0) return p - hay;
    ++p;
  }
  return -1;
}

int64_t search_last_portable(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                             size_t needle_len) {
  size_t starts = hay_len - needle_len + 1;
  while (starts > 0) {
    const void *hit = memrchr(hay, needle[0], starts);
    if (hit == nullptr) return -1;
    const uint8_t *p = static_cast<const uint8_t *>(hit);
    if (std::memcmp(p + 1, needle + 1, needle_len - 1) == 0) return p - hay;
    starts = size_t(p - hay);
  }
  return -1;
}

int64_t search_first(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                     size_t needle_len) {
#if defined(__x86_64__)
  if (cpu_has(Cpu::avx2)) return search_first_avx2(hay, hay_len, needle, needle_len);
#endif
  return search_first_portable(hay, hay_len, needle, needle_len);
}

int64_t search_last(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                    size_t needle_len) {
#if defined(__x86_64__)
  if (cpu_has(Cpu::avx2)) return search_last_avx2(hay, hay_len, needle, needle_len);
#endif
  return search_last_portable(hay, hay_len, needle, needle_len);
}

namespace {

kaldro_status check(const uint8_t *hay, uint32_t hay_len, const uint8_t *needle,
                    uint32_t needle_len, const int32_t *index) {
  if (index == nullptr) return KALDRO_ERR_NULL;
  if (needle == nullptr && needle_len != 0) return KALDRO_ERR_NULL;
  if (hay == nullptr && hay_len != 0) return KALDRO_ERR_NULL;
  return KALDRO_OK;
}

// The index travels as a signed 32-bit value: a position beyond INT32_MAX cannot be
// reported and is refused rather than wrapped into a negative number.
kaldro_status report(int64_t position, int32_t *index) {
  if (position > INT32_MAX) return KALDRO_ERR_CAPACITY;
  *index = int32_t(position);
  return KALDRO_OK;
}

}  // namespace
}  // namespace kaldro

extern "C" {

KALDRO_API kaldro_status kaldro_byte_search(const uint8_t *hay, uint32_t hay_len,
                                            const uint8_t *needle, uint32_t needle_len,
                                            int32_t *index) {
  KALDRO_TRY(kaldro::check(hay, hay_len, needle, needle_len, index));
  if (needle_len == 0) return kaldro::report(0, index);
  if (needle_len > hay_len) return kaldro::report(-1, index);
  return kaldro::report(kaldro::search_first(hay, hay_len, needle, needle_len), index);
}

KALDRO_API kaldro_status kaldro_byte_search_backward(const uint8_t *hay, uint32_t hay_len,
                                                     const uint8_t *needle,
                                                     uint32_t needle_len, int32_t *index) {
  KALDRO_TRY(kaldro::check(hay, hay_len, needle, needle_len, index));
  if (needle_len == 0) return kaldro::report(hay_len, index);
  if (needle_len > hay_len) return kaldro::report(-1, index);
  return kaldro::report(kaldro::search_last(hay, hay_len, needle, needle_len), index);
}

KALDRO_API kaldro_status kaldro_dispatch_match(const uint8_t *hay, uint32_t hay_len,
                                               const uint8_t *blob, const uint32_t *offsets,
                                               const uint32_t *lengths, const int32_t *ids,
                                               uint32_t count, uint8_t *found, int32_t *id) {
  if (found == nullptr || id == nullptr) return KALDRO_ERR_NULL;
  *found = 0;
  *id = 0;
  if (count == 0) return hay == nullptr && hay_len != 0 ? KALDRO_ERR_NULL : KALDRO_OK;
  if (offsets == nullptr || lengths == nullptr || ids == nullptr) return KALDRO_ERR_NULL;
  if (hay == nullptr && hay_len != 0) return KALDRO_ERR_NULL;
  for (uint32_t i = 0; i < count; ++i) {
    const uint32_t len = lengths[i];
    bool match;
    if (len == 0) {
      match = true;  // an empty pattern occurs at position 0 of every haystack
    } else if (blob == nullptr) {
      return KALDRO_ERR_NULL;
    } else {
      match = len <= hay_len && kaldro::search_first(hay, hay_len, blob + offsets[i], len) >= 0;
    }
    if (match) {
      *found = 1;
      *id = ids[i];
      return KALDRO_OK;
    }
  }
  return KALDRO_OK;
}

}  // extern "C"
