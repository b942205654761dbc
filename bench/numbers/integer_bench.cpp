// Integer arithmetic: the doubling modular product and power against 128-bit hardware
// arithmetic (the library deliberately does not use it; the ratio shows the price).
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <random>
#include <vector>

#include "ratio.h"

namespace {

std::vector<uint64_t> inputs(size_t n) {
  std::mt19937_64 rng(7);
  std::vector<uint64_t> v(n);
  for (auto &x : v) x = rng();
  return v;
}

void BM_ModMul(benchmark::State &state) {
  const auto v = inputs(1024);
  const uint64_t m = UINT64_MAX - 58;
  for (auto _ : state) {
    uint64_t acc = 0;
    for (size_t i = 0; i + 1 < v.size(); ++i) {
      uint64_t r;
      kaldro_mod_mul(v[i], v[i + 1], m, &r);
      acc ^= r;
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetItemsProcessed(state.iterations() * 1023);
}
BENCHMARK(BM_ModMul);

void BM_ModPow(benchmark::State &state) {
  const auto v = inputs(64);
  const uint64_t m = UINT64_MAX - 58;
  for (auto _ : state) {
    uint64_t acc = 0;
    for (size_t i = 0; i + 1 < v.size(); ++i) {
      uint64_t r;
      kaldro_mod_pow(v[i], v[i + 1], m, &r);
      acc ^= r;
    }
    benchmark::DoNotOptimize(acc);
  }
  state.SetItemsProcessed(state.iterations() * 63);
}
BENCHMARK(BM_ModPow);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const auto v = inputs(1024);
  const uint64_t m = UINT64_MAX - 58;
  uint64_t sink = 0;
  const double lib = bench::seconds_per_call([&] {
    for (size_t i = 0; i + 1 < v.size(); ++i) {
      uint64_t r;
      kaldro_mod_mul(v[i], v[i + 1], m, &r);
      sink ^= r;
    }
  }, 200);
  const double peer = bench::seconds_per_call([&] {
    for (size_t i = 0; i + 1 < v.size(); ++i)
      sink ^= uint64_t((unsigned __int128)v[i] * v[i + 1] % m);
  }, 200);
  benchmark::DoNotOptimize(sink);
  bench::print_ratio("mod_mul", "int128", lib, peer);
  return 0;
}
