// Parallel sector dispatch: sector outputs against a model of S_k(op(S_k(src))) for a
// copy, a prefix-sum and an order-sensitive operator, status order (the capacity check
// must not wrap), a failing sector, empty input, and the fallback to the caller's thread
// when threads are refused (provoked in a child process under an address-space limit).
#include <gtest/gtest.h>

#include <kaldro.h>

#include <pthread.h>
#include <sys/resource.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <random>
#include <vector>

namespace {

// What the operators record, per sector (the sector is known from the output slice).
struct Probe {
  const double *out_base = nullptr;
  uint64_t n = 0;
  uint64_t fail_mask = 0;          // sectors whose call fails
  kaldro_status fail_status[4] = {0, 0, 0, 0};
  std::atomic<int> calls[4] = {0, 0, 0, 0};
  pthread_t thread[4] = {};
  std::atomic<int> zero_length_calls{0};
};

int sector_of(const Probe &p, const double *out) {
  return p.n == 0 ? 0 : static_cast<int>((out - p.out_base) / static_cast<ptrdiff_t>(p.n));
}

kaldro_status record(Probe *p, const double *out, uint64_t n) {
  if (n == 0) {
    p->zero_length_calls++;
    return p->fail_status[0];
  }
  const int k = sector_of(*p, out);
  p->calls[k]++;
  p->thread[k] = pthread_self();
  return (p->fail_mask >> k) & 1 ? p->fail_status[k] : KALDRO_OK;
}

kaldro_status copy_op(const double *in, uint64_t n, double *out, void *ctx) {
  for (uint64_t i = 0; i < n; ++i) out[i] = in[i];
  return record(static_cast<Probe *>(ctx), out, n);
}

kaldro_status prefix_sum_op(const double *in, uint64_t n, double *out, void *ctx) {
  double s = 0;
  for (uint64_t i = 0; i < n; ++i) out[i] = s += in[i];
  return record(static_cast<Probe *>(ctx), out, n);
}

// Neither odd nor reversal-symmetric: out[i] = (i + 1) * in[i] + in[0] * in[0].
kaldro_status skew_op(const double *in, uint64_t n, double *out, void *ctx) {
  for (uint64_t i = 0; i < n; ++i) out[i] = static_cast<double>(i + 1) * in[i] + in[0] * in[0];
  return record(static_cast<Probe *>(ctx), out, n);
}

using Op = kaldro_status (*)(const double *, uint64_t, double *, void *);

// The model: S_k(op(S_k(src))), with S_k built here from its definition.
std::vector<double> model(Op op, const std::vector<double> &src, int k) {
  const bool reverse = k >= 2, negate = (k & 1) != 0;
  const uint64_t n = src.size();
  std::vector<double> in(n), out(n);
  for (uint64_t i = 0; i < n; ++i) {
    const double v = src[reverse ? n - 1 - i : i];
    in[i] = negate ? -v : v;
  }
  Probe unused;
  unused.out_base = out.data();
  unused.n = n;
  op(in.data(), n, out.data(), &unused);
  std::vector<double> r(n);
  for (uint64_t i = 0; i < n; ++i) {
    const double v = out[reverse ? n - 1 - i : i];
    r[i] = negate ? -v : v;
  }
  return r;
}

std::vector<double> slice(const std::vector<double> &v, uint64_t n, int k) {
  return std::vector<double>(v.begin() + static_cast<ptrdiff_t>(k * n),
                             v.begin() + static_cast<ptrdiff_t>((k + 1) * n));
}

TEST(Dispatch, CopyOperatorGivesSourceInEverySector) {
  const std::vector<double> src = {1.5, -2, 3, 0.25, 7};
  const uint64_t n = src.size();
  std::vector<double> out(4 * n, 99), scratch(4 * n, 99);
  Probe p;
  p.out_base = out.data();
  p.n = n;
  ASSERT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src.data(), n, 4, out.data(),
                                                    scratch.data(), 4 * n),
            KALDRO_OK);
  for (int k = 0; k < 4; ++k) {
    EXPECT_EQ(slice(out, n, k), src) << "sector " << k;
    EXPECT_EQ(p.calls[k], 1);
    // Each sector ran on a thread of its own, not on the caller's.
    EXPECT_FALSE(pthread_equal(p.thread[k], pthread_self())) << "sector " << k;
  }
}

TEST(Dispatch, PrefixSumOperator) {
  const std::vector<double> src = {1, 2, 3, 4};
  const uint64_t n = src.size();
  std::vector<double> out(4 * n), scratch(4 * n);
  Probe p;
  p.out_base = out.data();
  p.n = n;
  ASSERT_EQ(kaldro_cascade_parallel_sector_dispatch(prefix_sum_op, &p, src.data(), n, 4,
                                                    out.data(), scratch.data(), 4 * n),
            KALDRO_OK);
  EXPECT_EQ(slice(out, n, 0), (std::vector<double>{1, 3, 6, 10}));
  EXPECT_EQ(slice(out, n, 1), (std::vector<double>{1, 3, 6, 10}));   // negated twice
  EXPECT_EQ(slice(out, n, 2), (std::vector<double>{10, 9, 7, 4}));   // suffix sums
  EXPECT_EQ(slice(out, n, 3), (std::vector<double>{10, 9, 7, 4}));
}

TEST(Dispatch, EverySectorCountMatchesTheModel) {
  std::mt19937_64 rng(4);
  std::uniform_real_distribution<double> u(-10, 10);
  for (uint32_t sectors = 1; sectors <= 4; ++sectors) {
    for (uint64_t n : {1u, 2u, 7u, 64u, 1000u}) {
      for (Op op : {copy_op, prefix_sum_op, skew_op}) {
        std::vector<double> src(n);
        for (auto &v : src) v = u(rng);
        // Slack past sectors * n must stay untouched.
        std::vector<double> out(sectors * n + 3, 42), scratch(sectors * n + 3, 42);
        Probe p;
        p.out_base = out.data();
        p.n = n;
        ASSERT_EQ(kaldro_cascade_parallel_sector_dispatch(op, &p, src.data(), n, sectors,
                                                          out.data(), scratch.data(),
                                                          out.size()),
                  KALDRO_OK);
        for (uint32_t k = 0; k < sectors; ++k) {
          ASSERT_EQ(slice(out, n, static_cast<int>(k)), model(op, src, static_cast<int>(k)))
              << "sectors " << sectors << " n " << n << " sector " << k;
          ASSERT_EQ(p.calls[k], 1);
        }
        for (uint32_t k = sectors; k < 4; ++k) ASSERT_EQ(p.calls[k], 0);
        for (uint64_t i = sectors * n; i < out.size(); ++i) {
          ASSERT_EQ(out[i], 42);
          ASSERT_EQ(scratch[i], 42);
        }
      }
    }
  }
}

TEST(Dispatch, StatusOrder) {
  double src[4] = {1, 2, 3, 4}, out[16], scratch[16];
  Probe p;
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(nullptr, &p, src, 4, 0, out, scratch, 0),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 4, 0, nullptr, scratch, 0),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 4, 0, out, nullptr, 0),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, nullptr, 1, 0, out, scratch, 0),
            KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 4, 0, out, scratch, 0),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 4, 5, out, scratch, 0),
            KALDRO_ERR_INVALID);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 4, 3, out, scratch, 11),
            KALDRO_ERR_CAPACITY);
  // sectors * n must not wrap: 4 * (2^62 + 1) is 4 modulo 2^64, and 2 * 2^63 is 0.
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, (1ull << 62) + 1, 4, out,
                                                    scratch, 16),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 1ull << 63, 2, out,
                                                    scratch, 16),
            KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, UINT64_MAX / 3 + 1, 3,
                                                    out, scratch, UINT64_MAX),
            KALDRO_ERR_CAPACITY);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(p.calls[k], 0);
  EXPECT_EQ(p.zero_length_calls, 0);

  // Exactly sectors * n fits.
  p.out_base = out;
  p.n = 4;
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, src, 4, 3, out, scratch, 12),
            KALDRO_OK);
}

TEST(Dispatch, EmptyInputCallsTheOperatorOncePerSector) {
  double out[1] = {5}, scratch[1] = {5};
  Probe p;
  ASSERT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &p, nullptr, 0, 4, out, scratch, 0),
            KALDRO_OK);
  EXPECT_EQ(p.zero_length_calls, 4);
  EXPECT_TRUE(out[0] == 5 && scratch[0] == 5);
  Probe q;
  q.fail_status[0] = 7;
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &q, nullptr, 0, 3, out, scratch, 0),
            7);
  EXPECT_EQ(q.zero_length_calls, 3);
}

TEST(Dispatch, FailingSectorsReportTheFirstInSectorOrder) {
  const std::vector<double> src = {1, 2, 3, 4, 5, 6};
  const uint64_t n = src.size();
  std::vector<double> out(4 * n, 0), scratch(4 * n, 0);
  Probe p;
  p.out_base = out.data();
  p.n = n;
  p.fail_mask = 1u << 2;
  p.fail_status[2] = KALDRO_ERR_INVALID;
  ASSERT_EQ(kaldro_cascade_parallel_sector_dispatch(skew_op, &p, src.data(), n, 4, out.data(),
                                                    scratch.data(), 4 * n),
            KALDRO_ERR_INVALID);
  for (int k : {0, 1, 3}) EXPECT_EQ(slice(out, n, k), model(skew_op, src, k)) << k;
  for (int k = 0; k < 4; ++k) EXPECT_EQ(p.calls[k], 1);
  // The failed sector's output is what the operator left, not transformed back.
  std::vector<double> reversed(src.rbegin(), src.rend()), left(n);
  Probe unused;
  unused.n = n;
  unused.out_base = left.data();
  skew_op(reversed.data(), n, left.data(), &unused);
  EXPECT_EQ(slice(out, n, 2), left);

  // Sectors 1 and 3 fail with different statuses: sector 1's is returned.
  Probe q;
  q.out_base = out.data();
  q.n = n;
  q.fail_mask = (1u << 1) | (1u << 3);
  q.fail_status[1] = 9;
  q.fail_status[3] = KALDRO_ERR_CAPACITY;
  EXPECT_EQ(kaldro_cascade_parallel_sector_dispatch(copy_op, &q, src.data(), n, 4, out.data(),
                                                    scratch.data(), 4 * n),
            9);
  for (int k = 0; k < 4; ++k) EXPECT_EQ(q.calls[k], 1);
  EXPECT_EQ(slice(out, n, 0), src);
  EXPECT_EQ(slice(out, n, 2), src);
}

// Child side of the fallback test: under an address-space limit no thread stack can be
// mapped, so every spawn is refused and every sector must run on the caller's thread.
int refused_threads_child() {
  const std::vector<double> src = {1, 2, 3, 4, 5};
  const uint64_t n = src.size();
  std::vector<double> out(4 * n, 0), scratch(4 * n, 0);
  Probe p;
  p.out_base = out.data();
  p.n = n;
  p.fail_mask = 1u << 2;
  p.fail_status[2] = KALDRO_ERR_CAPACITY;

  long pages = 0;
  FILE *f = fopen("/proc/self/statm", "r");
  if (f == nullptr || fscanf(f, "%ld", &pages) != 1) return 10;
  fclose(f);
  const rlim_t limit = static_cast<rlim_t>(pages) * sysconf(_SC_PAGESIZE) + (4u << 20);
  const rlimit rl = {limit, limit};
  if (setrlimit(RLIMIT_AS, &rl) != 0) return 11;

  kaldro_plat_thread probe;
  if (kaldro_plat_thread_spawn([](void *) {}, nullptr, &probe) != KALDRO_ERR_RESOURCE) {
    return 12;  // the limit did not refuse a thread: nothing would be tested
  }
  const kaldro_status st = kaldro_cascade_parallel_sector_dispatch(
      skew_op, &p, src.data(), n, 4, out.data(), scratch.data(), 4 * n);
  if (st != KALDRO_ERR_CAPACITY) return 13;
  for (int k = 0; k < 4; ++k) {
    if (p.calls[k] != 1) return 14;
    if (!pthread_equal(p.thread[k], pthread_self())) return 15;
  }
  for (int k : {0, 1, 3}) {
    if (slice(out, n, k) != model(skew_op, src, k)) return 16;
  }
  return 0;
}

TEST(Dispatch, FallsBackToTheCallersThreadWhenThreadsAreRefused) {
  if (getenv("KALDRO_DISPATCH_REFUSED_CHILD") != nullptr) {
    const int code = refused_threads_child();
    fflush(nullptr);
    _exit(code);
  }
#if defined(__SANITIZE_ADDRESS__)
  GTEST_SKIP() << "an address-space limit cannot be combined with AddressSanitizer";
#else
  // A fresh process, so that no thread stacks are cached from earlier tests. The
  // program's own path is resolved first: under valgrind or an emulator /proc/self/exe
  // names the tool, while readlink reports the program it runs.
  char self[4096];
  const ssize_t self_len = readlink("/proc/self/exe", self, sizeof self - 1);
  ASSERT_GT(self_len, 0);
  self[self_len] = '\0';
  const pid_t pid = fork();
  ASSERT_GE(pid, 0);
  if (pid == 0) {
    setenv("KALDRO_DISPATCH_REFUSED_CHILD", "1", 1);
    execl(self, "dispatch-child",
          "--gtest_filter=Dispatch.FallsBackToTheCallersThreadWhenThreadsAreRefused",
          static_cast<char *>(nullptr));
    _exit(20);
  }
  int status = 0;
  ASSERT_EQ(waitpid(pid, &status, 0), pid);
  ASSERT_TRUE(WIFEXITED(status));
  // Under a user-mode emulator the program cannot start itself again without the
  // system's help (code 20), and the emulator keeps the address-space limit to itself,
  // so that no spawn is refused (code 12): the fallback cannot be reached there.
  if (WEXITSTATUS(status) == 20) GTEST_SKIP() << "the program cannot execute itself here";
  if (WEXITSTATUS(status) == 12) GTEST_SKIP() << "the address-space limit does not refuse threads here";
  EXPECT_EQ(WEXITSTATUS(status), 0) << "child check failed with code " << WEXITSTATUS(status);
#endif
}

}  // namespace
