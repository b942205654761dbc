// TLV records: one tag byte, the value length as 4 bytes big-endian, then the value.
#include "frame/internal.h"

#include <cstring>

extern "C" {

KALDRO_API kaldro_status kaldro_tlv_pack(int tag, const uint8_t *value, uint32_t value_len,
                                         uint8_t *out, uint32_t out_cap, uint32_t *out_len) {
  if (out == nullptr || out_len == nullptr || (value == nullptr && value_len != 0))
    return KALDRO_ERR_NULL;
  const uint64_t total = uint64_t(value_len) + 5;
  if (uint64_t(out_cap) < total) return KALDRO_ERR_CAPACITY;
  // The value may already sit inside out (packing in place): move it before the header.
  if (value_len != 0) std::memmove(out + 5, value, value_len);
  out[0] = uint8_t(tag & 0xFF);
  out[1] = uint8_t(value_len >> 24);
  out[2] = uint8_t(value_len >> 16);
  out[3] = uint8_t(value_len >> 8);
  out[4] = uint8_t(value_len);
  *out_len = uint32_t(total);
  return KALDRO_OK;
}

}  // extern "C"
