// Elementary functions against glibc's libm on the same arguments: latency (each call's
// argument depends on the previous result), throughput over an array with the public
// functions, and throughput of the internal batch forms.
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <cmath>
#include <random>
#include <vector>

#include "elementary/elementary.h"
#include "ratio.h"

namespace {

constexpr size_t kCount = 4096;

std::vector<double> args(double lo, double hi, bool log_uniform, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> d(lo, hi);
  std::vector<double> v(kCount);
  for (auto &x : v) x = log_uniform ? std::exp(d(rng)) : d(rng);
  return v;
}

struct Case {
  const char *name;
  kaldro_status (*lib)(double *, double);
  double (*peer)(double);
  void (*many)(const double *, double *, size_t);
  std::vector<double> x;
};

std::vector<Case> cases() {
  return {
      {"exp", kaldro_exp, [](double x) { return std::exp(x); }, kaldro::exp_many,
       args(-20, 20, false, 1)},
      {"log", kaldro_log, [](double x) { return std::log(x); }, kaldro::log_many,
       args(-20, 20, true, 2)},
      {"sin", kaldro_sin, [](double x) { return std::sin(x); }, kaldro::sin_many,
       args(-10, 10, false, 3)},
      {"cos", kaldro_cos, [](double x) { return std::cos(x); }, kaldro::cos_many,
       args(-10, 10, false, 4)},
      {"atan", kaldro_atan, [](double x) { return std::atan(x); }, kaldro::atan_many,
       args(-10, 10, false, 5)},
      {"sqrt", kaldro_rational_sqrt, [](double x) { return std::sqrt(x); }, nullptr,
       args(-20, 20, true, 6)},
  };
}

// The result times zero keeps the dependency without changing the argument.
double latency_lib(const Case &c) {
  double dep = 0;
  for (double x : c.x) {
    double y;
    c.lib(&y, x + dep * 0.0);
    dep = y;
  }
  return dep;
}
double latency_peer(const Case &c) {
  double dep = 0;
  for (double x : c.x) dep = c.peer(x + dep * 0.0);
  return dep;
}

void BM_Scalar(benchmark::State &state, Case c) {
  std::vector<double> out(kCount);
  for (auto _ : state) {
    for (size_t i = 0; i < kCount; ++i) c.lib(&out[i], c.x[i]);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
void BM_Many(benchmark::State &state, Case c) {
  std::vector<double> out(kCount);
  for (auto _ : state) {
    c.many(c.x.data(), out.data(), kCount);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}
void BM_Glibc(benchmark::State &state, Case c) {
  std::vector<double> out(kCount);
  for (auto _ : state) {
    for (size_t i = 0; i < kCount; ++i) out[i] = c.peer(c.x[i]);
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * kCount);
}

void BM_Autocorrelation(benchmark::State &state) {
  const auto x = args(-1, 1, false, 7);
  const size_t n = size_t(state.range(0));
  std::vector<double> out(n);
  for (auto _ : state) {
    kaldro_autocorrelation_f64(x.data(), n, out.data());
    benchmark::DoNotOptimize(out.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_Autocorrelation)->Arg(256)->Arg(2048);

void BM_ExactDft(benchmark::State &state) {
  const uint32_t n = uint32_t(state.range(0));
  std::vector<int64_t> x(n, 3), y(n, -1), xo(size_t(n) * n / 2), yo(size_t(n) * n / 2);
  for (auto _ : state) {
    kaldro_exact_dft_i64(n, 0, x.data(), y.data(), xo.data(), yo.data());
    benchmark::DoNotOptimize(xo.data());
  }
  state.SetItemsProcessed(state.iterations() * n * n);
}
BENCHMARK(BM_ExactDft)->Arg(64)->Arg(1024);

}  // namespace

int main(int argc, char **argv) {
  for (const Case &c : cases()) {
    benchmark::RegisterBenchmark((std::string("kaldro_") + c.name).c_str(), BM_Scalar, c);
    if (c.many) benchmark::RegisterBenchmark((std::string(c.name) + "_many").c_str(), BM_Many, c);
    benchmark::RegisterBenchmark((std::string("glibc_") + c.name).c_str(), BM_Glibc, c);
  }
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  double sink = 0;
  for (const Case &c : cases()) {
    std::vector<double> out(kCount);
    const std::string name = c.name;
    double lib = bench::seconds_per_call([&] { sink += latency_lib(c); }, 10, 61);
    double peer = bench::seconds_per_call([&] { sink += latency_peer(c); }, 10, 61);
    bench::print_ratio((name + "_latency").c_str(), "glibc", lib, peer);
    lib = bench::seconds_per_call([&] {
      for (size_t i = 0; i < kCount; ++i) c.lib(&out[i], c.x[i]);
      sink += out[7];
    }, 10, 61);
    peer = bench::seconds_per_call([&] {
      for (size_t i = 0; i < kCount; ++i) out[i] = c.peer(c.x[i]);
      sink += out[7];
    }, 10, 61);
    bench::print_ratio((name + "_throughput").c_str(), "glibc", lib, peer);
    if (c.many) {
      lib = bench::seconds_per_call([&] {
        c.many(c.x.data(), out.data(), kCount);
        sink += out[7];
      }, 10, 61);
      bench::print_ratio((name + "_many").c_str(), "glibc", lib, peer);
    }
  }
  benchmark::DoNotOptimize(sink);
  return 0;
}
