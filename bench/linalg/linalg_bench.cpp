// Linear algebra: the dense solve against LAPACK dgesv, the Jacobi eigenvalues and the
// Hermitian decomposition against dsyev and zheev (with the floating-point rate of the
// fixed Jacobi method against this core's peak), and one Fiedler iteration over a
// million-vertex graph against the memory and page-cache bandwidth of streaming the
// same bytes. LAPACK runs single-threaded.
#include <benchmark/benchmark.h>

#include <kaldro.h>
#include <lapacke.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>
#include <fcntl.h>
#include <unistd.h>

#include "linalg/linalg.h"
#include "ratio.h"

extern "C" void openblas_set_num_threads(int);

namespace {

std::vector<double> random_vector(size_t n, uint64_t seed) {
  std::mt19937_64 rng(seed);
  std::uniform_real_distribution<double> u(-1.0, 1.0);
  std::vector<double> v(n);
  for (auto &x : v) x = u(rng);
  return v;
}

std::vector<double> symmetric(uint32_t n, uint64_t seed) {
  auto a = random_vector(size_t(n) * n, seed);
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < i; ++j) a[i * n + j] = a[j * n + i];
  return a;
}

std::vector<double> hermitian(uint32_t n, uint64_t seed) {
  auto a = random_vector(2 * size_t(n) * n, seed);
  for (uint32_t i = 0; i < n; ++i) {
    a[2 * (i * n + i) + 1] = 0.0;
    for (uint32_t j = 0; j < i; ++j) {
      a[2 * (i * n + j)] = a[2 * (j * n + i)];
      a[2 * (i * n + j) + 1] = -a[2 * (j * n + i) + 1];
    }
  }
  return a;
}

// Peak double-precision rate of one core: two 4-wide FMA pipes, from the current clock.
double peak_gflops() {
  double mhz = 0;
  if (FILE *f = std::fopen("/proc/cpuinfo", "r")) {
    char line[256];
    while (std::fgets(line, sizeof line, f))
      if (std::sscanf(line, "cpu MHz : %lf", &mhz) == 1) break;
    std::fclose(f);
  }
  return mhz * 1e-3 * 16.0;
}

void dense_solve(uint32_t n, uint32_t m) {
  const auto a = random_vector(size_t(n) * n, 1), b = random_vector(size_t(n) * m, 2);
  std::vector<double> x(size_t(n) * m), ws_a(a), ws_b(b);
  std::vector<unsigned char> ws(kaldro_dense_solve_arena_bytes(n, m));
  std::vector<lapack_int> piv(n);
  const double lib = bench::seconds_per_call([&] {
    kaldro_dense_solve_f64_ws(n, m, a.data(), b.data(), x.data(), ws.data(), ws.size());
  }, 3);
  const double peer = bench::seconds_per_call([&] {
    std::memcpy(ws_a.data(), a.data(), a.size() * 8);
    std::memcpy(ws_b.data(), b.data(), b.size() * 8);
    LAPACKE_dgesv(LAPACK_ROW_MAJOR, n, m, ws_a.data(), n, piv.data(), ws_b.data(), m);
  }, 3);
  char name[64];
  std::snprintf(name, sizeof name, "dense_solve_n%u_m%u", n, m);
  bench::print_ratio(name, "lapack_dgesv", lib, peer);
}

void jacobi(uint32_t n) {
  const auto a = symmetric(n, 3);
  std::vector<double> w(a), eig(n);
  uint32_t sweeps = 0;
  kaldro::linalg::jacobi_eigvals(kaldro::linalg::active_kernels(), n, w.data(), 100, eig.data(),
                                 1e-12, &sweeps);
  const double lib = bench::seconds_per_call([&] {
    std::memcpy(w.data(), a.data(), a.size() * 8);
    kaldro_jacobi_eigvals(n, w.data(), 100, eig.data(), 1e-12);
  }, 1, 3);
  const double peer = bench::seconds_per_call([&] {
    std::memcpy(w.data(), a.data(), a.size() * 8);
    LAPACKE_dsyev(LAPACK_ROW_MAJOR, 'N', 'U', n, w.data(), n, eig.data());
  }, 3, 3);
  char name[64];
  std::snprintf(name, sizeof name, "jacobi_eigvals_n%u", n);
  bench::print_ratio(name, "lapack_dsyev", lib, peer);
  // Each rotation: two rows and two columns of n entries, 6 flops per entry pair.
  const double flops = double(sweeps) * n * (n - 1) / 2 * 12.0 * n;
  std::printf("rate %s %u sweeps %.2f GFLOP/s of %.1f peak (%.1f%%)\n", name, sweeps,
              flops / lib * 1e-9, peak_gflops(), 100 * flops / lib * 1e-9 / peak_gflops());
}

void hermitian_decompose(uint32_t n) {
  const auto a = hermitian(n, 4);
  std::vector<double> eig(n), vec(2 * size_t(n) * n), ws(2 * size_t(n) * n), za(a);
  const double lib = bench::seconds_per_call([&] {
    kaldro_hermitian_eigendecompose_ws(n, a.data(), eig.data(), vec.data(), ws.data(), ws.size());
  }, 1, 3);
  const double peer = bench::seconds_per_call([&] {
    std::memcpy(za.data(), a.data(), a.size() * 8);
    LAPACKE_zheev(LAPACK_ROW_MAJOR, 'V', 'U', n, reinterpret_cast<lapack_complex_double *>(za.data()),
                  n, eig.data());
  }, 3, 3);
  char name[64];
  std::snprintf(name, sizeof name, "hermitian_eigendecompose_n%u", n);
  bench::print_ratio(name, "lapack_zheev", lib, peer);
  uint32_t sweeps = 0;
  kaldro::linalg::hermitian_eigendecompose(kaldro::linalg::active_kernels(), n, a.data(),
                                           eig.data(), vec.data(), ws.data(), ws.size(), &sweeps);
  // Each rotation updates two rows and two columns of W and two columns of V; per
  // complex pair 8 multiplications and 8 fused multiply-adds, 24 flops.
  const double flops = double(sweeps) * n * (n - 1) / 2 * 3 * 24.0 * n;
  std::printf("rate %s %u sweeps %.2f GFLOP/s of %.1f peak (%.1f%%)\n", name, sweeps,
              flops / lib * 1e-9, peak_gflops(), 100 * flops / lib * 1e-9 / peak_gflops());
}

struct EdgeRecord {
  uint32_t src, dst;
  double w;
};

void fiedler(uint32_t n, uint32_t edges) {
  std::mt19937_64 rng(5);
  std::uniform_int_distribution<uint32_t> v(0, n - 1);
  std::vector<uint32_t> src(edges), dst(edges);
  for (uint32_t e = 0; e < edges; ++e) src[e] = v(rng), dst[e] = v(rng);
  std::vector<double> out(n), ws(8 * size_t(n));
  auto run = [&](uint32_t it) {
    return bench::seconds_per_call([&] {
      kaldro_laplacian_fiedler_sparse(n, edges, src.data(), dst.data(), nullptr, it, out.data(),
                                      ws.data(), ws.size());
    }, 1, 3);
  };
  const double one = run(2) - run(1);
  // Streaming the edge arrays once, the bytes an iteration must read at the least.
  volatile uint64_t sink = 0;
  const double stream = bench::seconds_per_call([&] {
    uint64_t s = 0;
    for (uint32_t e = 0; e < edges; ++e) s += src[e] ^ dst[e];
    sink = sink + s;
  }, 1, 3);
  const double bytes = 8.0 * edges;
  bench::print_ratio("fiedler_iteration_memory", "stream_edge_arrays", one, stream);
  std::printf("rate fiedler_iteration_memory %.2f GB/s of edges (stream %.2f GB/s)\n",
              bytes / one * 1e-9, bytes / stream * 1e-9);

  const std::string path = "/tmp/kaldro_bench_edges_" + std::to_string(getpid()) + ".bin";
  {
    std::vector<EdgeRecord> rec(edges);
    for (uint32_t e = 0; e < edges; ++e) rec[e] = {src[e], dst[e], 1.0};
    FILE *f = std::fopen(path.c_str(), "wb");
    std::fwrite(rec.data(), sizeof(EdgeRecord), edges, f);
    std::fclose(f);
  }
  auto run_file = [&](uint32_t it) {
    return bench::seconds_per_call([&] {
      kaldro_laplacian_fiedler_sparse_file(n, path.c_str(), it, out.data(), ws.data(), ws.size());
    }, 1, 3);
  };
  const double one_file = run_file(2) - run_file(1);
  // Reading the (cached) file once in large requests.
  std::vector<unsigned char> buf(1 << 20);
  const double cache = bench::seconds_per_call([&] {
    const int fd = open(path.c_str(), O_RDONLY);
    while (read(fd, buf.data(), buf.size()) > 0) {
    }
    close(fd);
  }, 1, 3);
  const double fbytes = 16.0 * edges;
  bench::print_ratio("fiedler_iteration_file", "page_cache_read", one_file, cache);
  std::printf("rate fiedler_iteration_file %.2f GB/s of records (page cache %.2f GB/s)\n",
              fbytes / one_file * 1e-9, fbytes / cache * 1e-9);
  unlink(path.c_str());
}

void BM_DenseSolve(benchmark::State &state) {
  const uint32_t n = uint32_t(state.range(0));
  const auto a = random_vector(size_t(n) * n, 1), b = random_vector(n, 2);
  std::vector<double> x(n);
  std::vector<unsigned char> ws(kaldro_dense_solve_arena_bytes(n, 1));
  for (auto _ : state)
    kaldro_dense_solve_f64_ws(n, 1, a.data(), b.data(), x.data(), ws.data(), ws.size());
}
BENCHMARK(BM_DenseSolve)->Arg(128)->Arg(512)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char **argv) {
  openblas_set_num_threads(1);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  dense_solve(512, 1);
  dense_solve(512, 512);
  jacobi(128);
  jacobi(256);
  hermitian_decompose(128);
  hermitian_decompose(256);
  fiedler(1000000, 8000000);
  return 0;
}
