// Batched octonion binding over a million octonions: the time per element on every
// tier this processor can run (forced through KALDRO_LOOP_HD_FORCE_TIER).
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

#include "ratio.h"

namespace {

constexpr uint64_t kCount = 1000000;

std::vector<double> random_octonions(uint64_t count, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(8 * count);
  for (auto &x : v) x = u(rng);
  return v;
}

void force_tier(int tier) {
  char text[8];
  std::snprintf(text, sizeof text, "%d", tier);
  setenv("KALDRO_LOOP_HD_FORCE_TIER", text, 1);
}

void BM_BindHd(benchmark::State &state) {
  const auto a = random_octonions(kCount, 1), b = random_octonions(kCount, 2);
  std::vector<double> out(8 * kCount);
  force_tier(int(state.range(0)));
  for (auto _ : state) {
    kaldro_loop_bind_hd_f64(a.data(), b.data(), kCount, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  unsetenv("KALDRO_LOOP_HD_FORCE_TIER");
  state.SetItemsProcessed(int64_t(state.iterations()) * int64_t(kCount));
}
BENCHMARK(BM_BindHd)->Arg(0)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  const auto a = random_octonions(kCount, 1), b = random_octonions(kCount, 2);
  std::vector<double> out(8 * kCount);
  double per_tier[3];
  for (int tier = 0; tier < 3; ++tier) {
    force_tier(tier);
    per_tier[tier] = bench::seconds_per_call([&] {
      kaldro_loop_bind_hd_f64(a.data(), b.data(), kCount, out.data());
      benchmark::DoNotOptimize(out.data());
    }, 3, 3);
    std::printf("loop_bind_hd tier %d: %.2f ns per octonion\n", tier,
                per_tier[tier] / double(kCount) * 1e9);
  }
  unsetenv("KALDRO_LOOP_HD_FORCE_TIER");
  bench::print_ratio("loop_bind_hd_tier1", "tier0", per_tier[1], per_tier[0]);
  bench::print_ratio("loop_bind_hd_tier2", "tier0", per_tier[2], per_tier[0]);
  return 0;
}
