// Fixed ordering patterns over caller buffers: the reversal permutation as an index
// array, and the mirror image of a byte sequence. Both fill from index 0 upwards.
#include "frame/internal.h"

// Largest n whose reversal indices (up to n - 1) all fit a signed 32-bit entry.
static constexpr uint32_t kMaxReverseOrder = uint32_t{1} << 31;

extern "C" {

KALDRO_API kaldro_status kaldro_reverse_order(uint32_t n, int32_t *out) {
  if (n == 0) return KALDRO_OK;
  if (out == nullptr) return KALDRO_ERR_NULL;
  // Indices of 2^31 or more would be written as negative numbers; refuse before writing.
  if (n > kMaxReverseOrder) return KALDRO_ERR_CAPACITY;
  for (uint32_t i = 0; i < n; ++i) out[i] = static_cast<int32_t>(n - 1 - i);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_mirror_pattern(const uint8_t *in, uint32_t n, uint8_t *out) {
  if (n == 0) return KALDRO_OK;
  if (in == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  for (uint32_t i = 0; i < n; ++i) out[i] = in[n - 1 - i];
  return KALDRO_OK;
}

}  // extern "C"
