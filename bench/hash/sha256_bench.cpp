// SHA-256 against OpenSSL's EVP interface in the same process: 1 MiB messages through
// the SHA-NI entry point and the hex entry point, 100 000 messages of 64 bytes through
// the batch, and the portable path against OpenSSL with its SHA extensions masked off
// (OPENSSL_ia32cap is read when OpenSSL loads, so that comparison runs in a child).
#include <benchmark/benchmark.h>
#include <openssl/evp.h>
#include <sys/wait.h>
#include <unistd.h>

#include <kaldro.h>

#include <cstdlib>
#include <cstring>
#include <random>
#include <vector>

#include "cpu_timing.h"
#include "hash/sha256.h"
#include "ratio.h"

namespace {

constexpr size_t kMiB = size_t(1) << 20;
constexpr size_t kBatch = 100000, kBatchLen = 64;

std::vector<uint8_t> random_bytes(size_t n) {
  std::mt19937 rng(42);
  std::vector<uint8_t> v(n);
  for (auto &x : v) x = uint8_t(rng());
  return v;
}

// One reused context, as a caller digesting message after message would keep it.
struct Evp {
  EVP_MD_CTX *ctx = EVP_MD_CTX_new();
  EVP_MD *md = EVP_MD_fetch(nullptr, "SHA256", nullptr);
  ~Evp() {
    EVP_MD_free(md);
    EVP_MD_CTX_free(ctx);
  }
  void digest(const uint8_t *data, size_t len, uint8_t *out) {
    unsigned int n = 0;
    EVP_DigestInit_ex(ctx, md, nullptr);
    EVP_DigestUpdate(ctx, data, len);
    EVP_DigestFinal_ex(ctx, out, &n);
  }
};

struct BatchInput {
  std::vector<uint8_t> pool = random_bytes(kBatch * kBatchLen);
  std::vector<const uint8_t *> ptrs;
  std::vector<size_t> lens;
  std::vector<uint8_t> out = std::vector<uint8_t>(32 * kBatch);
  BatchInput() {
    for (size_t i = 0; i < kBatch; ++i) {
      ptrs.push_back(pool.data() + kBatchLen * i);
      lens.push_back(kBatchLen);
    }
  }
};

void BM_Shani1MiB(benchmark::State &state) {
  const auto data = random_bytes(kMiB);
  uint8_t d[32];
  for (auto _ : state) {
    kaldro_sha256_shani(data.data(), data.size(), d);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kMiB));
}
BENCHMARK(BM_Shani1MiB);

void BM_Hex1MiB(benchmark::State &state) {
  const auto data = random_bytes(kMiB);
  char hex[65];
  for (auto _ : state) {
    kaldro_sha256_hex(data.data(), data.size(), hex);
    benchmark::DoNotOptimize(hex);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kMiB));
}
BENCHMARK(BM_Hex1MiB);

void BM_Batch64(benchmark::State &state) {
  BatchInput in;
  for (auto _ : state) {
    kaldro_sha256_batch(in.ptrs.data(), in.lens.data(), kBatch, in.out.data());
    benchmark::DoNotOptimize(in.out.data());
  }
  state.SetItemsProcessed(int64_t(state.iterations() * kBatch));
}
BENCHMARK(BM_Batch64)->Unit(benchmark::kMillisecond);

void BM_Openssl1MiB(benchmark::State &state) {
  const auto data = random_bytes(kMiB);
  Evp evp;
  uint8_t d[32];
  for (auto _ : state) {
    evp.digest(data.data(), data.size(), d);
    benchmark::DoNotOptimize(d);
  }
  state.SetBytesProcessed(int64_t(state.iterations() * kMiB));
}
BENCHMARK(BM_Openssl1MiB);

// Seconds per 1 MiB digest for the library's SHA-NI entry point (at whatever tier the
// environment selects) and for OpenSSL.
void compare_1mib(const char *name, const char *peer_name) {
  const auto data = random_bytes(kMiB);
  Evp evp;
  uint8_t d[32];
  double lib = 0, peer = 0;
  bench::alternate_best([&] { kaldro_sha256_shani(data.data(), data.size(), d); },
                        [&] { evp.digest(data.data(), data.size(), d); }, 10, 7, lib, peer);
  bench::print_ratio(name, peer_name, lib, peer);
}

// The portable path against OpenSSL without SHA extensions; runs in the child.
int masked_comparison() {
  setenv("KALDRO_SHANI_FORCE_TIER", "0", 1);
  compare_1mib("sha256_portable_1mib", "openssl_evp_no_shaext");
  return 0;
}

void run_masked_child(const char *self) {
  std::fflush(stdout);
  const pid_t pid = fork();
  if (pid == 0) {
    setenv("OPENSSL_ia32cap", ":~0x20000000", 1);  // CPUID(7).EBX bit 29: SHA
    execl(self, self, "--masked", static_cast<char *>(nullptr));
    _exit(127);
  }
  int status = 0;
  if (pid > 0) waitpid(pid, &status, 0);
}

}  // namespace

int main(int argc, char **argv) {
  if (argc > 1 && std::strcmp(argv[1], "--masked") == 0) return masked_comparison();
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  compare_1mib("sha256_shani_1mib", "openssl_evp");
  {
    const auto data = random_bytes(kMiB);
    Evp evp;
    uint8_t d[32];
    char hex[65];
    double lib = 0, peer = 0;
    bench::alternate_best([&] { kaldro_sha256_hex(data.data(), data.size(), hex); },
                          [&] { evp.digest(data.data(), data.size(), d); }, 10, 7, lib, peer);
    bench::print_ratio("sha256_hex_1mib", "openssl_evp", lib, peer);
  }

  // The batch at its detected tier (two SHA-NI lanes where the processor has them),
  // forced to tier 1 (four SSE2 lanes), and the eight AVX2 lanes on their own.
  BatchInput in;
  Evp evp;
  auto peer_each = [&] {
    for (size_t i = 0; i < kBatch; ++i) evp.digest(in.ptrs[i], in.lens[i], in.out.data() + 32 * i);
  };
  auto batch = [&] { kaldro_sha256_batch(in.ptrs.data(), in.lens.data(), kBatch, in.out.data()); };
  double lib = 0, peer = 0;
  bench::alternate_best(batch, peer_each, 1, 5, lib, peer);
  bench::print_ratio("sha256_batch_64b", "openssl_evp_each", lib, peer);
  setenv("KALDRO_SHA256_FORCE_TIER", "1", 1);
  bench::alternate_best(batch, peer_each, 1, 5, lib, peer);
  bench::print_ratio("sha256_batch_64b_tier1_sse2", "openssl_evp_each", lib, peer);
  unsetenv("KALDRO_SHA256_FORCE_TIER");
  if (kaldro_simd_has_avx2()) {
    bench::alternate_best(
        [&] {
          kaldro::sha256_batch_run(in.ptrs.data(), in.lens.data(), kBatch, in.out.data(), 8,
                                   kaldro::sha256_lane_kernel(8), kaldro::sha256_fastest_compress());
        },
        peer_each, 1, 5, lib, peer);
    bench::print_ratio("sha256_batch_64b_avx2_lanes", "openssl_evp_each", lib, peer);
  }

  run_masked_child("/proc/self/exe");
  return 0;
}
