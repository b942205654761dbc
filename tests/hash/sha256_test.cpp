// SHA-256: the FIPS 180-4 example vectors, every length 0..300 and some large messages
// against OpenSSL on all three entry points and every tier this processor has, the
// argument checks and what they leave unwritten, and the lane kernels on their own.
#include <gtest/gtest.h>
#include <openssl/evp.h>

#include <kaldro.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

#include "frame/internal.h"
#include "hash/sha256.h"

namespace {

using Bytes = std::vector<uint8_t>;

Bytes openssl_sha256(const void *data, size_t len) {
  Bytes out(32);
  unsigned int n = 0;
  EXPECT_EQ(EVP_Digest(data, len, out.data(), &n, EVP_sha256(), nullptr), 1);
  return out;
}

std::string to_hex(const Bytes &b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t x : b) {
    s += digits[x >> 4];
    s += digits[x & 15];
  }
  return s;
}

Bytes random_bytes(size_t n, uint32_t seed) {
  std::mt19937 rng(seed);
  Bytes b(n);
  for (auto &x : b) x = uint8_t(rng());
  return b;
}

// Sets (or with nullptr unsets) an environment variable for the lifetime of the guard.
struct EnvGuard {
  std::string name;
  EnvGuard(const char *n, const char *value) : name(n) {
    if (value) setenv(n, value, 1);
    else unsetenv(n);
  }
  ~EnvGuard() { unsetenv(name.c_str()); }
};

// Tier settings to try: unset (the detected tier) and every forced value of interest.
const char *const kBatchTiers[] = {nullptr, "0", "1", "2", "7", "-1", "", "x"};
const char *const kShaniTiers[] = {nullptr, "0", "1", "5"};

std::string hex_of(const void *data, size_t len) {
  char out[65];
  EXPECT_EQ(kaldro_sha256_hex(data, len, out), KALDRO_OK);
  EXPECT_EQ(out[64], '\0');
  return std::string(out, 64);
}

Bytes shani_of(const void *data, size_t len) {
  Bytes d(32);
  EXPECT_EQ(kaldro_sha256_shani(data, len, d.data()), KALDRO_OK);
  return d;
}

// Digests of all messages through one batch call.
std::vector<Bytes> batch_of(const std::vector<Bytes> &msgs) {
  std::vector<const uint8_t *> ptrs;
  std::vector<size_t> lens;
  for (const auto &m : msgs) {
    ptrs.push_back(m.empty() ? nullptr : m.data());
    lens.push_back(m.size());
  }
  Bytes out(32 * msgs.size(), 0xee);
  EXPECT_EQ(kaldro_sha256_batch(ptrs.data(), lens.data(), msgs.size(), out.data()), KALDRO_OK);
  std::vector<Bytes> d;
  for (size_t i = 0; i < msgs.size(); ++i) d.emplace_back(out.begin() + 32 * i, out.begin() + 32 * i + 32);
  return d;
}

TEST(Sha256, StandardExampleVectors) {
  struct Vector {
    std::string msg;
    const char *hex;
  };
  const Vector vectors[] = {
      {"abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"", "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"abcdefghbcdefghicdefghijdefghijkefghijklfghijklmghijklmnhijklmnoijklmnopjklmnopqklm"
       "nopqrlmnopqrsmnopqrstnopqrstu",
       "cf5b16a778af8380036ce59e7b0492370b249b11e8f07a51afac45037afee9d1"},
      {std::string(1000000, 'a'),
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto &v : vectors) {
    const void *data = v.msg.empty() ? nullptr : v.msg.data();
    EXPECT_EQ(hex_of(data, v.msg.size()), v.hex);
    for (const char *tier : kShaniTiers) {
      EnvGuard env("KALDRO_SHANI_FORCE_TIER", tier);
      EXPECT_EQ(to_hex(shani_of(data, v.msg.size())), v.hex) << (tier ? tier : "unset");
    }
    for (const char *tier : kBatchTiers) {
      EnvGuard env("KALDRO_SHA256_FORCE_TIER", tier);
      EXPECT_EQ(to_hex(batch_of({Bytes(v.msg.begin(), v.msg.end())})[0]), v.hex);
    }
  }
}

TEST(Sha256, EveryLengthUpTo300MatchesOpenssl) {
  const Bytes data = random_bytes(300, 1);
  std::vector<Bytes> msgs, want;
  for (size_t len = 0; len <= 300; ++len) {
    msgs.emplace_back(data.begin(), data.begin() + len);
    want.push_back(openssl_sha256(data.data(), len));
    ASSERT_EQ(hex_of(len ? data.data() : nullptr, len), to_hex(want.back())) << len;
  }
  for (const char *tier : kShaniTiers) {
    EnvGuard env("KALDRO_SHANI_FORCE_TIER", tier);
    for (size_t len = 0; len <= 300; ++len)
      ASSERT_EQ(shani_of(data.data(), len), want[len]) << len << " tier " << (tier ? tier : "unset");
  }
  for (const char *tier : kBatchTiers) {
    EnvGuard env("KALDRO_SHA256_FORCE_TIER", tier);
    const auto got = batch_of(msgs);  // lanes of every length side by side
    for (size_t len = 0; len <= 300; ++len)
      ASSERT_EQ(got[len], want[len]) << len << " tier " << (tier ? tier : "unset");
    for (size_t len = 0; len <= 300; ++len)
      ASSERT_EQ(batch_of({msgs[len]})[0], want[len]) << len;
  }
}

TEST(Sha256, LargeMessagesMatchOpenssl) {
  const Bytes data = random_bytes((1 << 20) + 4099, 2);
  for (size_t len : {size_t(4096), size_t(65536 + 55), size_t(1 << 20), data.size()}) {
    const Bytes want = openssl_sha256(data.data(), len);
    EXPECT_EQ(hex_of(data.data(), len), to_hex(want)) << len;
    for (const char *tier : kShaniTiers) {
      EnvGuard env("KALDRO_SHANI_FORCE_TIER", tier);
      EXPECT_EQ(shani_of(data.data(), len), want) << len;
    }
  }
}

TEST(Sha256, BatchOfMixedLengthsOnEveryTier) {
  // Long messages next to short ones: lanes finish at different times and are refilled,
  // and the last few are finished one at a time.
  std::mt19937 rng(3);
  const Bytes pool = random_bytes(20000, 4);
  for (size_t n : {size_t(1), size_t(2), size_t(3), size_t(5), size_t(8), size_t(9), size_t(17), size_t(200)}) {
    std::vector<Bytes> msgs;
    for (size_t i = 0; i < n; ++i) {
      const size_t len = (rng() % 7 == 0) ? 2000 + rng() % 18000 : rng() % 260;
      const size_t off = rng() % (pool.size() - len + 1);
      msgs.emplace_back(pool.begin() + off, pool.begin() + off + len);
    }
    for (const char *tier : kBatchTiers) {
      EnvGuard env("KALDRO_SHA256_FORCE_TIER", tier);
      const auto got = batch_of(msgs);
      for (size_t i = 0; i < n; ++i)
        ASSERT_EQ(got[i], openssl_sha256(msgs[i].data(), msgs[i].size()))
            << "n " << n << " entry " << i << " tier " << (tier ? tier : "unset");
    }
  }
}

TEST(Sha256, BatchReadingItsOwnOutputKeepsIndexOrder) {
  // Message 1 is the digest slot of message 0, message 3 spans slots 1 and 2: digests
  // written in index order change them before they are read, on every tier alike.
  for (const char *tier : kBatchTiers) {
    EnvGuard env("KALDRO_SHA256_FORCE_TIER", tier);
    const size_t n = 12;
    Bytes out(32 * n, 0x5a);
    const Bytes text = random_bytes(500, 5);
    std::vector<const uint8_t *> ptrs(n, text.data());
    std::vector<size_t> lens(n);
    for (size_t i = 0; i < n; ++i) lens[i] = 40 * i + 3;
    ptrs[1] = out.data();
    lens[1] = 32;
    ptrs[3] = out.data() + 40;
    lens[3] = 50;

    // The model: one message after another, each reading the output as it stands.
    Bytes model = out;
    for (size_t i = 0; i < n; ++i) {
      const uint8_t *p = ptrs[i] == text.data() ? text.data() : model.data() + (ptrs[i] - out.data());
      const Bytes d = openssl_sha256(p, lens[i]);
      std::memcpy(model.data() + 32 * i, d.data(), 32);
    }
    ASSERT_EQ(kaldro_sha256_batch(ptrs.data(), lens.data(), n, out.data()), KALDRO_OK);
    EXPECT_EQ(out, model) << (tier ? tier : "unset");
  }
}

TEST(Sha256, ChecksAndWhatTheyLeaveUnwritten) {
  char hex[65];
  std::memset(hex, 'X', sizeof hex);
  const uint8_t byte = 'a';
  EXPECT_EQ(kaldro_sha256_hex(&byte, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_sha256_hex(nullptr, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_sha256_hex(nullptr, 1, hex), KALDRO_ERR_NULL);
  EXPECT_EQ(hex[0], 'X');
  EXPECT_EQ(hex[64], 'X');

  uint8_t digest[32];
  std::memset(digest, 0xcc, 32);
  EXPECT_EQ(kaldro_sha256_shani(&byte, 1, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_sha256_shani(nullptr, 5, digest), KALDRO_ERR_NULL);
  EXPECT_EQ(digest[0], 0xcc);
  ASSERT_EQ(kaldro_sha256_shani(nullptr, 0, digest), KALDRO_OK);
  EXPECT_EQ(Bytes(digest, digest + 32), openssl_sha256("", 0));

  EXPECT_EQ(kaldro_sha256_batch(nullptr, nullptr, 0, nullptr), KALDRO_OK);
  const uint8_t *ptrs[4] = {&byte, &byte, nullptr, &byte};
  size_t lens[4] = {1, 1, 3, 1};
  Bytes out(128, 0xcc);
  EXPECT_EQ(kaldro_sha256_batch(nullptr, lens, 4, out.data()), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_sha256_batch(ptrs, nullptr, 4, out.data()), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_sha256_batch(ptrs, lens, 4, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_sha256_batch(ptrs, lens, 4, out.data()), KALDRO_ERR_NULL);
  EXPECT_EQ(out, Bytes(128, 0xcc));  // the first two digests are not written either
  lens[2] = 0;                       // a null entry of length 0 is the empty message
  ASSERT_EQ(kaldro_sha256_batch(ptrs, lens, 4, out.data()), KALDRO_OK);
  EXPECT_EQ(Bytes(out.begin() + 64, out.begin() + 96), openssl_sha256("", 0));
  EXPECT_EQ(Bytes(out.begin(), out.begin() + 32), openssl_sha256("a", 1));
}

TEST(Sha256, HexIsLowercaseAndTerminated) {
  const Bytes data = random_bytes(4000, 6);
  for (size_t len = 0; len < 4000; len += 37) {
    char out[65];
    std::memset(out, 'Z', sizeof out);
    ASSERT_EQ(kaldro_sha256_hex(data.data(), len, out), KALDRO_OK);
    ASSERT_EQ(out[64], '\0');
    for (int i = 0; i < 64; ++i) ASSERT_TRUE(std::strchr("0123456789abcdef", out[i])) << out;
    ASSERT_EQ(std::string(out), to_hex(openssl_sha256(data.data(), len)));
  }
}

TEST(Sha256, ForcedTiersAreClampedToTheProcessor) {
  using kaldro::sha256_batch_lanes;
#if defined(__x86_64__)
  EXPECT_EQ(sha256_batch_lanes(2, true, true, true), 2);
  EXPECT_EQ(sha256_batch_lanes(2, true, true, false), 8);
  EXPECT_EQ(sha256_batch_lanes(1, true, true, true), 4);
  EXPECT_EQ(sha256_batch_lanes(2, true, false, false), 4);
  EXPECT_EQ(sha256_batch_lanes(1, false, false, true), 0);
  EXPECT_TRUE(kaldro::sha256_shani_selected(1, true));
  EXPECT_FALSE(kaldro::sha256_shani_selected(1, false));
#endif
  EXPECT_EQ(sha256_batch_lanes(0, true, true, true), 0);
  EXPECT_EQ(sha256_batch_lanes(2, false, false, false), 0);
  EXPECT_FALSE(kaldro::sha256_shani_selected(0, true));
}

#if defined(__x86_64__)
bool lanes_present(int lanes) {
  switch (lanes) {
    case 2: return kaldro::cpu_has(kaldro::Cpu::shani);
    case 4: return kaldro::cpu_has(kaldro::Cpu::sse2);
    case 8: return kaldro::cpu_has(kaldro::Cpu::avx2);
  }
  return false;
}

// Every multi-buffer path this processor has, whichever one its tiers pick, through the
// lane scheduler with messages of mixed lengths, finished with either compression.
TEST(Sha256, EveryLanePathThroughTheScheduler) {
  std::mt19937 rng(10);
  const Bytes pool = random_bytes(9000, 11);
  for (int lanes : {2, 4, 8}) {
    if (!lanes_present(lanes)) continue;
    for (size_t n : {size_t(1), size_t(3), size_t(7), size_t(8), size_t(33), size_t(150)}) {
      std::vector<const uint8_t *> ptrs;
      std::vector<size_t> lens;
      for (size_t i = 0; i < n; ++i) {
        const size_t len = (rng() % 5 == 0) ? rng() % 9000 : rng() % 200;
        ptrs.push_back(pool.data() + rng() % (pool.size() - len + 1));
        lens.push_back(len);
      }
      for (auto compress : {kaldro::sha256_compress_portable, kaldro::sha256_fastest_compress()}) {
        Bytes out(32 * n, 0xee);
        kaldro::sha256_batch_run(ptrs.data(), lens.data(), n, out.data(), lanes,
                                 kaldro::sha256_lane_kernel(lanes), compress);
        for (size_t i = 0; i < n; ++i)
          ASSERT_EQ(Bytes(out.begin() + 32 * i, out.begin() + 32 * i + 32),
                    openssl_sha256(ptrs[i], lens[i]))
              << lanes << " lanes, n " << n << ", entry " << i;
      }
    }
  }
}
#endif

TEST(Sha256, GenericScalarBuildMatchesOpenssl) {
  // The baseline build of the scalar rounds, whichever build the portable path uses.
  const Bytes data = random_bytes(64 * 40, 12);
  for (size_t blocks = 1; blocks <= 40; blocks += 13) {
    uint32_t s[8];
    std::memcpy(s, kaldro::kSha256Init, sizeof s);
    kaldro::sha256_compress_generic(s, data.data(), blocks - 1);
    uint8_t tail[64] = {0x80};
    const uint64_t bits = uint64_t(blocks - 1) * 512;
    for (int i = 0; i < 8; ++i) tail[56 + i] = uint8_t(bits >> (56 - 8 * i));
    kaldro::sha256_compress_generic(s, tail, 1);
    Bytes d;
    for (uint32_t w : s)
      for (int i = 3; i >= 0; --i) d.push_back(uint8_t(w >> (8 * i)));
    EXPECT_EQ(d, openssl_sha256(data.data(), 64 * (blocks - 1))) << blocks;
  }
}

TEST(Sha256, InternalRawDigestMatchesOpenssl) {
  const Bytes data = random_bytes(70000, 7);
  for (size_t len : {size_t(0), size_t(1), size_t(55), size_t(56), size_t(64), size_t(70000)}) {
    uint8_t d[32];
    kaldro::sha256_digest(len ? data.data() : nullptr, len, d);
    EXPECT_EQ(Bytes(d, d + 32), openssl_sha256(data.data(), len)) << len;
  }
}

#if defined(__x86_64__)
// The lane kernels and the SHA-NI compression against the portable compression, from
// arbitrary states, on every path this processor has.
TEST(Sha256, KernelsMatchThePortableCompression) {
  std::mt19937 rng(8);
  const Bytes blocks = random_bytes(64 * 8 * 3, 9);
  uint32_t start[8][8];
  for (auto &lane : start)
    for (auto &w : lane) w = rng();
  uint32_t want[8][8];
  for (int l = 0; l < 8; ++l) {
    std::memcpy(want[l], start[l], 32);
    kaldro::sha256_compress_portable(want[l], blocks.data() + 64 * 3 * l, 3);
  }
  for (int l = 0; l < 8; ++l) {
    uint32_t s[8];
    std::memcpy(s, start[l], 32);
    kaldro::sha256_compress_generic(s, blocks.data() + 64 * 3 * l, 3);
    EXPECT_EQ(0, std::memcmp(s, want[l], 32)) << l;
  }
  if (kaldro::cpu_has_x86_64_v3()) {
    for (int l = 0; l < 8; ++l) {
      uint32_t s[8];
      std::memcpy(s, start[l], 32);
      kaldro::sha256_compress_scalar_v3(s, blocks.data() + 64 * 3 * l, 3);
      EXPECT_EQ(0, std::memcmp(s, want[l], 32)) << l;
    }
  }
  if (kaldro::cpu_has(kaldro::Cpu::shani)) {
    for (int l = 0; l < 8; ++l) {
      uint32_t s[8];
      std::memcpy(s, start[l], 32);
      kaldro::sha256_compress_shani(s, blocks.data() + 64 * 3 * l, 3);
      EXPECT_EQ(0, std::memcmp(s, want[l], 32)) << l;
    }
  }
  struct Kernel {
    int lanes;
    kaldro::Sha256LaneKernel fn;
    bool present;
  };
  const Kernel kernels[] = {{4, kaldro::sha256_lanes4_sse2, kaldro::cpu_has(kaldro::Cpu::sse2)},
                            {8, kaldro::sha256_lanes8_avx2, kaldro::cpu_has(kaldro::Cpu::avx2)}};
  for (const auto &k : kernels) {
    if (!k.present) continue;
    uint32_t state[64];
    for (int w = 0; w < 8; ++w)
      for (int l = 0; l < k.lanes; ++l) state[w * k.lanes + l] = start[l][w];
    for (int b = 0; b < 3; ++b) {
      const uint8_t *ptrs[8];
      for (int l = 0; l < k.lanes; ++l) ptrs[l] = blocks.data() + 64 * (3 * l + b);
      k.fn(state, ptrs);
    }
    for (int w = 0; w < 8; ++w)
      for (int l = 0; l < k.lanes; ++l)
        EXPECT_EQ(state[w * k.lanes + l], want[l][w]) << k.lanes << " lanes, lane " << l;
  }
}
#endif

}  // namespace
