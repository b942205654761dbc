// Hex text of byte strings: lowercase on output, either case on input. Table driven, two
// characters per byte, so long regions encode and decode at memory speed.
#include "frame/internal.h"

namespace kaldro {
namespace {

struct HexTables {
  char pairs[256][2];
  int8_t value[256];
  constexpr HexTables() : pairs(), value() {
    const char digits[] = "0123456789abcdef";
    for (int i = 0; i < 256; ++i) {
      pairs[i][0] = digits[i >> 4];
      pairs[i][1] = digits[i & 15];
      value[i] = -1;
    }
    for (int i = 0; i < 10; ++i) value['0' + i] = int8_t(i);
    for (int i = 0; i < 6; ++i) {
      value['a' + i] = int8_t(10 + i);
      value['A' + i] = int8_t(10 + i);
    }
  }
};
constexpr HexTables kHex;

}  // namespace

void hex_encode(const uint8_t *in, size_t n, char *out) {
  for (size_t i = 0; i < n; ++i) {
    out[2 * i] = kHex.pairs[in[i]][0];
    out[2 * i + 1] = kHex.pairs[in[i]][1];
  }
}

bool hex_decode(const char *in, size_t n_bytes, uint8_t *out) {
  for (size_t i = 0; i < n_bytes; ++i) {
    const int hi = kHex.value[static_cast<uint8_t>(in[2 * i])];
    const int lo = kHex.value[static_cast<uint8_t>(in[2 * i + 1])];
    if ((hi | lo) < 0) return false;
    out[i] = static_cast<uint8_t>((hi << 4) | lo);
  }
  return true;
}

}  // namespace kaldro
