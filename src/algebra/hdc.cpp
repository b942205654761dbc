// Binary hypervectors: bind by exclusive or, bundle by bitwise majority, permute by bit
// rotation, similarity from the Hamming distance. The long loops (popcount, majority)
// take the widest path the processor offers.
#include <cstring>

#include "algebra/hdc_kernels.h"
#include "frame/internal.h"

namespace kaldro::hdc {

uint64_t xor_popcount_portable(const uint8_t *a, const uint8_t *b, uint64_t n) {
  uint64_t c0 = 0, c1 = 0, c2 = 0, c3 = 0;
  uint64_t k = 0;
  for (; k + 32 <= n; k += 32) {
    uint64_t x[4], y[4];
    std::memcpy(x, a + k, 32);
    std::memcpy(y, b + k, 32);
    c0 += uint64_t(__builtin_popcountll(x[0] ^ y[0]));
    c1 += uint64_t(__builtin_popcountll(x[1] ^ y[1]));
    c2 += uint64_t(__builtin_popcountll(x[2] ^ y[2]));
    c3 += uint64_t(__builtin_popcountll(x[3] ^ y[3]));
  }
  for (; k + 8 <= n; k += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    c0 += uint64_t(__builtin_popcountll(x ^ y));
  }
  for (; k < n; ++k) c1 += uint64_t(__builtin_popcount(unsigned(a[k] ^ b[k])));
  return c0 + c1 + c2 + c3;
}

namespace {

// Bit-sliced counting over one 64-bit word position of every vector: plane p holds bit p
// of the per-bit count. The (k+1)-th vector can only carry into planes below
// bit_length(k + 1), so the ripple stops there.
uint64_t majority_word(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                       unsigned planes, uint64_t offset, unsigned bytes) {
  uint64_t plane[32] = {};
  unsigned reach = 1;
  for (uint32_t v = 0; v < count; ++v) {
    if (reach < planes && ((uint64_t(v) + 1) >> reach) != 0) ++reach;
    uint64_t carry = 0;
    std::memcpy(&carry, vectors[v] + offset, bytes);
    for (unsigned p = 0; p < reach; ++p) {
      const uint64_t t = plane[p] & carry;
      plane[p] ^= carry;
      carry = t;
    }
  }
  // count >= threshold, bit-sliced, from the top plane down.
  uint64_t greater = 0, equal = ~uint64_t(0);
  for (unsigned p = planes; p-- > 0;) {
    if ((threshold >> p) & 1) {
      equal &= plane[p];
    } else {
      greater |= equal & plane[p];
      equal &= ~plane[p];
    }
  }
  return greater | equal;
}

}  // namespace

void majority_portable(const uint8_t *const *vectors, uint32_t count, uint64_t threshold,
                       uint64_t begin, uint64_t end, uint8_t *out) {
  const unsigned planes = counter_planes(count);
  uint64_t k = begin;
  for (; k + 8 <= end; k += 8) {
    const uint64_t word = majority_word(vectors, count, threshold, planes, k, 8);
    std::memcpy(out + k, &word, 8);
  }
  if (k < end) {
    const unsigned rest = unsigned(end - k);
    const uint64_t word = majority_word(vectors, count, threshold, planes, k, rest);
    std::memcpy(out + k, &word, rest);
  }
}

namespace {

uint64_t xor_popcount(const uint8_t *a, const uint8_t *b, uint64_t n) {
#if defined(__x86_64__)
  if (cpu_has(Cpu::avx2)) return xor_popcount_avx2(a, b, n);
#endif
  return xor_popcount_portable(a, b, n);
}

void majority(const uint8_t *const *vectors, uint32_t count, uint64_t threshold, uint64_t n,
              uint8_t *out) {
#if defined(__x86_64__)
  if (cpu_has(Cpu::avx2)) return majority_avx2(vectors, count, threshold, n, out);
#endif
  majority_portable(vectors, count, threshold, 0, n, out);
}

}  // namespace
}  // namespace kaldro::hdc

extern "C" {

KALDRO_API kaldro_status kaldro_hdc_bind(const uint8_t *a, const uint8_t *b, uint32_t len,
                                         uint8_t *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  uint32_t k = 0;
  for (; k + 8 <= len; k += 8) {
    uint64_t x, y;
    std::memcpy(&x, a + k, 8);
    std::memcpy(&y, b + k, 8);
    x ^= y;
    std::memcpy(out + k, &x, 8);
  }
  for (; k < len; ++k) out[k] = uint8_t(a[k] ^ b[k]);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_hdc_bundle(const uint8_t *const *vectors, uint32_t count,
                                           uint32_t len, uint8_t *out) {
  if (vectors == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  for (uint32_t v = 0; v < count; ++v)
    if (vectors[v] == nullptr) return KALDRO_ERR_NULL;
  if (count % 2 == 0 || len == 0) return KALDRO_ERR_INVALID;
  // The strict majority of an odd count; 64-bit so that count = 2^32 - 1 cannot wrap.
  const uint64_t threshold = (uint64_t(count) + 1) / 2;
  kaldro::hdc::majority(vectors, count, threshold, len, out);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_hdc_permute(const uint8_t *in, uint32_t len, int32_t shift,
                                            uint8_t *out) {
  if (in == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  // The dimension reaches 2^35 - 8, so the rotation is reduced in 64-bit arithmetic.
  const int64_t dim = int64_t(len) * 8;
  int64_t r = int64_t(shift) % dim;
  if (r < 0) r += dim;
  const uint64_t bytes = uint64_t(r) / 8;
  const unsigned bits = unsigned(r % 8);
  // Byte k of the result takes its high bits from in[k - bytes] and, for a shift that is
  // not whole bytes, its low bits from the top of the byte before that (cyclically).
  uint64_t src = (len - bytes) % len;  // index of in[k - bytes] for k = 0
  uint64_t prev = (src + len - 1) % len;
  for (uint64_t k = 0; k < len; ++k) {
    if (bits == 0) {
      out[k] = in[src];
    } else {
      out[k] = uint8_t((in[src] << bits) | (in[prev] >> (8 - bits)));
    }
    prev = src;
    if (++src == len) src = 0;
  }
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_hdc_similarity(const uint8_t *a, const uint8_t *b,
                                               uint32_t len, double *out) {
  if (a == nullptr || b == nullptr || out == nullptr) return KALDRO_ERR_NULL;
  if (len == 0) return KALDRO_ERR_INVALID;
  const uint64_t h = kaldro::hdc::xor_popcount(a, b, len);
  // The dimension in 64 bits: 8 * len overflows 32 bits from len = 2^29 on.
  const uint64_t dim = uint64_t(len) * 8;
  *out = 1.0 - 2.0 * double(h) / double(dim);
  return KALDRO_OK;
}

}  // extern "C"
