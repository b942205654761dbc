// Hamming single-error-correcting codes of length 2^r - 1, r from 2 to 16, one bit per
// byte. The syndrome is the exclusive or of the positions holding a 1: bit j of it is
// the parity over the positions whose number has bit j set.
#include "frame/internal.h"

namespace kaldro {
namespace {

constexpr uint32_t kMinParity = 2, kMaxParity = 16;

// r for a codeword length of the form 2^r - 1 with r in 2..16, else 0.
uint32_t parity_bits_for(uint64_t n) {
  for (uint32_t r = kMinParity; r <= kMaxParity; ++r)
    if (n == (uint64_t(1) << r) - 1) return r;
  return 0;
}

bool all_bits(const uint8_t *bytes, uint64_t count) {
  uint8_t high = 0;
  for (uint64_t i = 0; i < count; ++i) high |= bytes[i];
  return high <= 1;
}

// Exclusive or of the positions (from 1) whose byte is 1.
uint32_t position_xor(const uint8_t *codeword, uint64_t n) {
  uint32_t s = 0;
  for (uint64_t i = 0; i < n; ++i) s ^= uint32_t(i + 1) & (0u - codeword[i]);
  return s;
}

inline bool is_power_of_two(uint64_t x) { return (x & (x - 1)) == 0; }

}  // namespace
}  // namespace kaldro

extern "C" {

KALDRO_API kaldro_status kaldro_hamming_encode(const uint8_t *data, uint64_t k, uint32_t r,
                                               uint8_t *codeword) {
  if (data == nullptr || codeword == nullptr) return KALDRO_ERR_NULL;
  if (r < kaldro::kMinParity || r > kaldro::kMaxParity) return KALDRO_ERR_INVALID;
  const uint64_t n = (uint64_t(1) << r) - 1;
  if (k != n - r) return KALDRO_ERR_INVALID;
  if (!kaldro::all_bits(data, k)) return KALDRO_ERR_INVALID;
  uint64_t next = 0;
  for (uint64_t pos = 1; pos <= n; ++pos)
    codeword[pos - 1] = kaldro::is_power_of_two(pos) ? 0 : data[next++];
  // With every parity position still 0, bit j of the position xor is the parity the
  // bit at position 2^j must restore to even.
  const uint32_t s = kaldro::position_xor(codeword, n);
  for (uint32_t j = 0; j < r; ++j) codeword[(uint64_t(1) << j) - 1] = uint8_t((s >> j) & 1);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_hamming_syndrome(const uint8_t *codeword, uint64_t n,
                                                 int32_t *syndrome) {
  if (codeword == nullptr || syndrome == nullptr) return KALDRO_ERR_NULL;
  if (kaldro::parity_bits_for(n) == 0) return KALDRO_ERR_INVALID;
  if (!kaldro::all_bits(codeword, n)) return KALDRO_ERR_INVALID;
  *syndrome = int32_t(kaldro::position_xor(codeword, n));
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_hamming_decode_correct(const uint8_t *codeword, uint64_t n,
                                                       uint8_t *data, int32_t *syndrome) {
  if (codeword == nullptr || data == nullptr || syndrome == nullptr) return KALDRO_ERR_NULL;
  if (kaldro::parity_bits_for(n) == 0) return KALDRO_ERR_INVALID;
  int32_t s = 0;
  KALDRO_TRY(kaldro_hamming_syndrome(codeword, n, &s));
  uint64_t next = 0;
  for (uint64_t pos = 1; pos <= n; ++pos) {
    if (kaldro::is_power_of_two(pos)) continue;
    data[next++] = uint8_t(codeword[pos - 1] ^ (pos == uint64_t(s) ? 1 : 0));
  }
  *syndrome = s;
  return KALDRO_OK;
}

}  // extern "C"
