// Binary hypervectors: similarity and bundling (15 vectors) over 10 000-bit and 1 Mbit
// vectors against a straightforward byte-at-a-time loop, with the throughput set beside
// this machine's streaming read bandwidth.
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <cstdio>
#include <random>
#include <vector>

#include "ratio.h"

namespace {

constexpr uint32_t kBundleCount = 15;

std::vector<uint8_t> random_bytes(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::vector<uint8_t> v(n);
  for (auto &x : v) x = uint8_t(rng());
  return v;
}

// The comparison points: one byte at a time.
double naive_similarity(const uint8_t *a, const uint8_t *b, uint32_t len) {
  uint64_t h = 0;
  for (uint32_t k = 0; k < len; ++k) h += uint64_t(__builtin_popcount(unsigned(a[k] ^ b[k])));
  return 1.0 - 2.0 * double(h) / (8.0 * len);
}

void naive_bundle(const uint8_t *const *vs, uint32_t count, uint32_t len, uint8_t *out) {
  const uint32_t threshold = (count + 1) / 2;
  for (uint32_t k = 0; k < len; ++k) {
    unsigned byte = 0;
    for (unsigned j = 0; j < 8; ++j) {
      uint32_t ones = 0;
      for (uint32_t v = 0; v < count; ++v) ones += (vs[v][k] >> j) & 1u;
      if (ones >= threshold) byte |= 1u << j;
    }
    out[k] = uint8_t(byte);
  }
}

struct Inputs {
  uint32_t len;
  std::vector<std::vector<uint8_t>> vectors;
  std::vector<const uint8_t *> pointers;
  std::vector<uint8_t> out;
  explicit Inputs(uint32_t bytes) : len(bytes), out(bytes) {
    for (uint32_t v = 0; v < kBundleCount; ++v) vectors.push_back(random_bytes(bytes, v + 1));
    for (const auto &v : vectors) pointers.push_back(v.data());
  }
};

void BM_Similarity(benchmark::State &state) {
  Inputs in(uint32_t(state.range(0)));
  double s = 0;
  for (auto _ : state) {
    kaldro_hdc_similarity(in.pointers[0], in.pointers[1], in.len, &s);
    benchmark::DoNotOptimize(s);
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * 2 * in.len);
}
BENCHMARK(BM_Similarity)->Arg(1250)->Arg(131072);

void BM_Bundle15(benchmark::State &state) {
  Inputs in(uint32_t(state.range(0)));
  for (auto _ : state) {
    kaldro_hdc_bundle(in.pointers.data(), kBundleCount, in.len, in.out.data());
    benchmark::DoNotOptimize(in.out.data());
  }
  state.SetBytesProcessed(int64_t(state.iterations()) * kBundleCount * in.len);
}
BENCHMARK(BM_Bundle15)->Arg(1250)->Arg(131072);

// Streaming read bandwidth: sum the 64-bit words of a buffer far larger than the caches.
double read_bandwidth_gbs() {
  const size_t words = size_t(1) << 26;  // 512 MiB
  std::vector<uint64_t> buf(words, 1);
  uint64_t sink = 0;
  const double s = bench::seconds_per_call([&] {
    uint64_t a = 0, b = 0, c = 0, d = 0;
    for (size_t k = 0; k < words; k += 4) {
      a += buf[k];
      b += buf[k + 1];
      c += buf[k + 2];
      d += buf[k + 3];
    }
    sink += a + b + c + d;
  }, 1, 3);
  benchmark::DoNotOptimize(sink);
  return double(words * 8) / s / 1e9;
}

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const double memory = read_bandwidth_gbs();
  std::printf("memory read bandwidth %.2f GB/s\n", memory);
  for (uint32_t bytes : {1250u, 131072u}) {
    Inputs in(bytes);
    const int reps = bytes < 10000 ? 20000 : 300;
    double s = 0, sink = 0;
    const double lib = bench::seconds_per_call([&] {
      kaldro_hdc_similarity(in.pointers[0], in.pointers[1], in.len, &s);
      sink += s;
    }, reps);
    const double peer = bench::seconds_per_call([&] {
      sink += naive_similarity(in.pointers[0], in.pointers[1], in.len);
    }, reps);
    benchmark::DoNotOptimize(sink);
    std::printf("hdc_similarity %u bits: %.2f GB/s (%.0f%% of memory bandwidth)\n",
                bytes * 8, 2.0 * bytes / lib / 1e9, 100.0 * 2.0 * bytes / lib / 1e9 / memory);
    char name[64];
    std::snprintf(name, sizeof name, "hdc_similarity_%ubit", bytes * 8);
    bench::print_ratio(name, "bytewise_popcount", lib, peer);

    const int bundle_reps = bytes < 10000 ? 2000 : 20;
    const double blib = bench::seconds_per_call([&] {
      kaldro_hdc_bundle(in.pointers.data(), kBundleCount, in.len, in.out.data());
      benchmark::DoNotOptimize(in.out.data());
    }, bundle_reps);
    const double bpeer = bench::seconds_per_call([&] {
      naive_bundle(in.pointers.data(), kBundleCount, in.len, in.out.data());
      benchmark::DoNotOptimize(in.out.data());
    }, bundle_reps);
    const double gbs = double(kBundleCount) * bytes / blib / 1e9;
    std::printf("hdc_bundle15 %u bits: %.2f GB/s read (%.0f%% of memory bandwidth)\n",
                bytes * 8, gbs, 100.0 * gbs / memory);
    std::snprintf(name, sizeof name, "hdc_bundle15_%ubit", bytes * 8);
    bench::print_ratio(name, "bytewise_count", blib, bpeer);
  }
  return 0;
}
