// Fuzzes the Hamming code: the first byte picks r, the rest is a received codeword.
// Decoding, re-encoding and flipping back the named bit must give the codeword again.
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "kaldro.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  uint32_t r = 2 + data[0] % 11;  // n up to 4095
  uint64_t n = (uint64_t(1) << r) - 1, k = n - r;
  std::vector<uint8_t> cw(n, 0);
  bool valid = true;
  for (uint64_t i = 0; i < n && i + 1 < size; ++i) cw[i] = data[i + 1];
  for (uint64_t i = 0; i < n; ++i) valid = valid && cw[i] <= 1;
  // A codeword whose length does not match is refused.
  int32_t syn = -1;
  if (kaldro_hamming_syndrome(cw.data(), n - 1, &syn) != KALDRO_ERR_INVALID || syn != -1)
    abort();

  uint8_t *word = static_cast<uint8_t *>(malloc(n));
  memcpy(word, cw.data(), n);
  kaldro_status st = kaldro_hamming_syndrome(word, n, &syn);
  if (!valid) {
    if (st != KALDRO_ERR_INVALID || syn != -1) abort();
    free(word);
    return 0;
  }
  if (st != KALDRO_OK) abort();
  int32_t model = 0;
  for (uint64_t i = 0; i < n; ++i)
    if (cw[i]) model ^= int32_t(i + 1);
  if (syn != model) abort();

  uint8_t *bits = static_cast<uint8_t *>(malloc(k));
  int32_t syn2 = -1;
  if (kaldro_hamming_decode_correct(word, n, bits, &syn2) != KALDRO_OK || syn2 != syn) abort();
  if (memcmp(word, cw.data(), n) != 0) abort();  // the codeword is left alone
  uint8_t *again = static_cast<uint8_t *>(malloc(n));
  if (kaldro_hamming_encode(bits, k, r, again) != KALDRO_OK) abort();
  if (syn) again[syn - 1] ^= 1;
  if (memcmp(again, cw.data(), n) != 0) abort();
  free(again);
  free(bits);
  free(word);
  return 0;
}
