// The streamed SHA-256 of a body: bytes are digested in pieces as they are written or
// read, and a digest taken part-way can be continued over other bytes, so that an edit
// digests only what it changed after the prefix it kept.
#include <cstring>

#include "frame/internal.h"
#include "genome/genome.h"
#include "hash/sha256.h"

namespace kaldro::genome {

void BodyDigest::start() {
  memcpy(state, kSha256Init, sizeof state);
  total = 0;
  buffered = 0;
  compress = sha256_fastest_compress();
}

void BodyDigest::update(const uint8_t *data, uint64_t len) {
  total += len;
  if (buffered > 0) {
    const uint64_t take = len < 64 - buffered ? len : 64 - buffered;
    memcpy(buf + buffered, data, size_t(take));
    buffered += uint32_t(take);
    data += take;
    len -= take;
    if (buffered < 64) return;
    compress(state, buf, 1);
    buffered = 0;
  }
  const uint64_t whole = len / 64;
  if (whole > 0) compress(state, data, size_t(whole));
  data += whole * 64;
  len -= whole * 64;
  if (len > 0) {
    memcpy(buf, data, size_t(len));
    buffered = uint32_t(len);
  }
}

void BodyDigest::finish_hex(char hex[65]) const {
  uint32_t s[8];
  memcpy(s, state, sizeof s);
  uint8_t tail[128] = {};
  memcpy(tail, buf, buffered);
  tail[buffered] = 0x80;
  const uint32_t blocks = buffered < 56 ? 1 : 2;
  const uint64_t bits = total * 8;
  for (int i = 0; i < 8; ++i) tail[blocks * 64 - 1 - i] = uint8_t(bits >> (8 * i));
  compress(s, tail, blocks);
  uint8_t digest[32];
  for (int i = 0; i < 8; ++i) {
    digest[4 * i] = uint8_t(s[i] >> 24);
    digest[4 * i + 1] = uint8_t(s[i] >> 16);
    digest[4 * i + 2] = uint8_t(s[i] >> 8);
    digest[4 * i + 3] = uint8_t(s[i]);
  }
  hex_encode(digest, 32, hex);
  hex[64] = '\0';
}

}  // namespace kaldro::genome
