// Cascade dynamics: one Kuramoto step against the same O(n^2) loop written with the
// platform's double-precision sin, and the cost of the sector dispatch (threads started
// and joined) against running the four sectors one after another on one thread.
#include <benchmark/benchmark.h>

#include <kaldro.h>

#include <cmath>
#include <cstdio>
#include <random>
#include <vector>

#include "ratio.h"

namespace {

struct Oscillators {
  std::vector<double> theta, omega, out;
  explicit Oscillators(uint64_t n) : theta(n), omega(n), out(n) {
    std::mt19937_64 rng(5);
    std::uniform_real_distribution<double> u(-3.14159, 3.14159);
    for (uint64_t i = 0; i < n; ++i) theta[i] = u(rng), omega[i] = 0.1 * u(rng);
  }
};

// The peer: the textbook step with glibc's sin, same sums in the same order.
void plain_step(const double *theta, const double *omega, uint64_t n, double *out, double K,
                double dt) {
  const double kn = K / static_cast<double>(n);
  for (uint64_t i = 0; i < n; ++i) {
    double s = 0.0;
    for (uint64_t j = 0; j < n; ++j) s += std::sin(theta[j] - theta[i]);
    out[i] = theta[i] + dt * (omega[i] + kn * s);
  }
}

void BM_KuramotoStep(benchmark::State &state) {
  const uint64_t n = static_cast<uint64_t>(state.range(0));
  Oscillators o(n);
  for (auto _ : state) {
    kaldro_cascade_kuramoto_step_f64(o.theta.data(), o.omega.data(), n, o.out.data(), 1.5, 0.01);
    benchmark::DoNotOptimize(o.out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n * n));
}
BENCHMARK(BM_KuramotoStep)->Arg(256)->Arg(2048)->Unit(benchmark::kMicrosecond);

void BM_PlainSinStep(benchmark::State &state) {
  const uint64_t n = static_cast<uint64_t>(state.range(0));
  Oscillators o(n);
  for (auto _ : state) {
    plain_step(o.theta.data(), o.omega.data(), n, o.out.data(), 1.5, 0.01);
    benchmark::DoNotOptimize(o.out.data());
  }
  state.SetItemsProcessed(state.iterations() * static_cast<int64_t>(n * n));
}
BENCHMARK(BM_PlainSinStep)->Arg(256)->Arg(2048)->Unit(benchmark::kMicrosecond);

kaldro_status copy_op(const double *in, uint64_t n, double *out, void *) {
  for (uint64_t i = 0; i < n; ++i) out[i] = in[i];
  return KALDRO_OK;
}

struct SectorBuffers {
  std::vector<double> src, out, scratch;
  explicit SectorBuffers(uint64_t n) : src(n, 1.25), out(4 * n), scratch(4 * n) {}
};

// The same four sectors run in turn on the caller's thread, with the library's own
// flip and negation: what the dispatch costs without threads.
void serial_sectors(SectorBuffers &b, uint64_t n) {
  for (int k = 0; k < 4; ++k) {
    double *s = b.scratch.data() + k * n, *o = b.out.data() + k * n;
    for (uint64_t i = 0; i < n; ++i) s[i] = (k & 1) ? -b.src[i] : b.src[i];
    if (k >= 2) kaldro_cascade_chiral_flip_f64(s, n, s);
    copy_op(s, n, o, nullptr);
    if (k & 1) {
      for (uint64_t i = 0; i < n; ++i) o[i] = -o[i];
    }
    if (k >= 2) kaldro_cascade_chiral_flip_f64(o, n, o);
  }
}

void BM_SectorDispatch(benchmark::State &state) {
  const uint64_t n = static_cast<uint64_t>(state.range(0));
  SectorBuffers b(n);
  for (auto _ : state) {
    kaldro_cascade_parallel_sector_dispatch(copy_op, nullptr, b.src.data(), n, 4, b.out.data(),
                                            b.scratch.data(), 4 * n);
    benchmark::DoNotOptimize(b.out.data());
  }
}
BENCHMARK(BM_SectorDispatch)->Arg(16)->Arg(1000000)->Unit(benchmark::kMicrosecond);

void BM_SerialSectors(benchmark::State &state) {
  const uint64_t n = static_cast<uint64_t>(state.range(0));
  SectorBuffers b(n);
  for (auto _ : state) {
    serial_sectors(b, n);
    benchmark::DoNotOptimize(b.out.data());
  }
}
BENCHMARK(BM_SerialSectors)->Arg(16)->Arg(1000000)->Unit(benchmark::kMicrosecond);

}  // namespace

int main(int argc, char **argv) {
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();

  for (uint64_t n : {256u, 2048u}) {
    Oscillators o(n);
    const int reps = n == 256 ? 20 : 1;
    const double lib = bench::seconds_per_call([&] {
      kaldro_cascade_kuramoto_step_f64(o.theta.data(), o.omega.data(), n, o.out.data(), 1.5,
                                       0.01);
    }, reps, 3);
    const double peer = bench::seconds_per_call([&] {
      plain_step(o.theta.data(), o.omega.data(), n, o.out.data(), 1.5, 0.01);
    }, reps, 3);
    benchmark::DoNotOptimize(o.out.data());
    char name[48];
    std::snprintf(name, sizeof name, "kuramoto_step_%llu", static_cast<unsigned long long>(n));
    bench::print_ratio(name, "glibc_sin_loop", lib, peer);
  }
  for (uint64_t n : {16u, 1000000u}) {
    SectorBuffers b(n);
    const int reps = n == 16 ? 2000 : 5;
    const double lib = bench::seconds_per_call([&] {
      kaldro_cascade_parallel_sector_dispatch(copy_op, nullptr, b.src.data(), n, 4, b.out.data(),
                                              b.scratch.data(), 4 * n);
    }, reps, 3);
    const double peer = bench::seconds_per_call([&] { serial_sectors(b, n); }, reps, 3);
    benchmark::DoNotOptimize(b.out.data());
    char name[48];
    std::snprintf(name, sizeof name, "sector_dispatch_%llu", static_cast<unsigned long long>(n));
    bench::print_ratio(name, "serial_sectors", lib, peer);
  }
  return 0;
}
