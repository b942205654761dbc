// Fuzzes TLV packing: one record of the fuzzed value, into buffers of every fitting and
// one short capacity.
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "kaldro.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  int tag = int(int8_t(data[0])) * 77;
  const uint8_t *value = data + 1;
  uint32_t len = uint32_t(size - 1);
  uint8_t *out = static_cast<uint8_t *>(malloc(len + 5));
  uint32_t out_len = 0;
  if (kaldro_tlv_pack(tag, value, len, out, len + 5, &out_len) != KALDRO_OK ||
      out_len != len + 5)
    abort();
  if (out[0] != uint8_t(tag) || out[1] != uint8_t(len >> 24) || out[2] != uint8_t(len >> 16) ||
      out[3] != uint8_t(len >> 8) || out[4] != uint8_t(len) || memcmp(out + 5, value, len) != 0)
    abort();
  free(out);
  uint8_t *shortbuf = static_cast<uint8_t *>(malloc(len + 4));
  memset(shortbuf, 0xA5, len + 4);
  out_len = 99;
  if (kaldro_tlv_pack(tag, value, len, shortbuf, len + 4, &out_len) != KALDRO_ERR_CAPACITY)
    abort();
  for (uint32_t i = 0; i < len + 4; ++i)
    if (shortbuf[i] != 0xA5) abort();  // nothing written
  free(shortbuf);
  return 0;
}
