// Substring search internals: first and last occurrence of a non-empty needle no longer
// than the haystack, portable and AVX2 forms. Positions are 64-bit so that callers can
// tell a position past INT32_MAX from a miss (-1).
#pragma once

#include <cstddef>
#include <cstdint>

namespace kaldro {

// Both require 1 <= needle_len <= hay_len; return the position or -1.
int64_t search_first(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                     size_t needle_len);
int64_t search_last(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                    size_t needle_len);

int64_t search_first_portable(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                              size_t needle_len);
int64_t search_last_portable(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                             size_t needle_len);

#if defined(__x86_64__)
int64_t search_first_avx2(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                          size_t needle_len);
int64_t search_last_avx2(const uint8_t *hay, size_t hay_len, const uint8_t *needle,
                         size_t needle_len);
#endif

}  // namespace kaldro
