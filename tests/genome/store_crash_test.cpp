// Crash safety of saves and edits: a child process saves and edits a genome in a loop
// and is killed with SIGKILL at random moments, hundreds of times. After every kill each
// file must be exactly its old or its new content, and load must return the genome the
// files describe, or report the digest mismatch of the one window that remains (a new
// body under the old manifest). Leftover temporary files must not disturb later saves.
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mman.h>
#include <sys/wait.h>
#include <sched.h>
#include <time.h>

#include <kaldro.h>

#include <atomic>
#include <chrono>
#include <map>
#include <random>

#include "store_reference.h"

namespace {

using namespace store_ref;

constexpr uint32_t kLd = 16;
// Forking a process under the address sanitizer costs a hundred times more; the
// sanitizer build kills fewer children.
#if defined(__SANITIZE_ADDRESS__)
constexpr int kKills = 100;
#else
constexpr int kKills = 300;
#endif
constexpr uint64_t kNone = UINT64_MAX;

struct Chrom {
  std::string label;
  Bytes region;
};
using Model = std::vector<Chrom>;

Bytes body_of(const Model &m) {
  Bytes b;
  for (const Chrom &c : m) b.insert(b.end(), c.region.begin(), c.region.end());
  return b;
}

Chrom make(uint64_t g, const std::string &label) {
  std::string tags;
  for (uint64_t k = 0; k < 1 + g % 5; ++k) tags.push_back("xGyz"[(g + k) % 4]);
  return {label, chromosome(kLd, label, tags, uint32_t(g * 7919 + 1))};
}

// Generation g of the genome, and the edit that makes it from generation g - 1.
enum class Op { Save, Append, Replace, Remove };
Op op_of(uint64_t g) { return Op(g % 4); }

struct History {
  std::vector<Model> states;
  const Model &at(uint64_t g) {
    if (states.empty()) states.push_back({make(0, "a"), make(1, "b"), make(2, "c")});
    while (states.size() <= g) {
      const uint64_t n = states.size();
      Model m = states.back();
      switch (op_of(n)) {
        case Op::Save: m[0] = make(n, m[0].label); break;
        case Op::Append: m.push_back(make(n, "g" + std::to_string(n))); break;
        case Op::Replace: m[n % m.size()] = make(n, m[n % m.size()].label); break;
        case Op::Remove: m.erase(m.begin() + long(n % m.size())); break;
      }
      states.push_back(m);
    }
    return states[g];
  }
};

struct Shared {
  std::atomic<uint64_t> started;
  std::atomic<uint64_t> done;
  std::atomic<int> failed;
};

kaldro_status save(const char *dir, const Model &m, const Bytes &one) {
  const Bytes b = body_of(m);
  Workspace ws(kaldro_genome_arena_bytes(b.size(), 64, 0));
  return kaldro_genome_save(dir, b.data(), b.size(), kLd, one.data(), one.size(), ws.p, ws.n);
}

// Carries out generation g from generation g - 1 on disk.
kaldro_status step(const char *dir, History &h, uint64_t g, const Bytes &one) {
  const Model &prev = h.at(g - 1);
  const Model next = h.at(g);
  Workspace ws(kaldro_genome_arena_bytes(body_of(next).size() + body_of(prev).size(), 64, 0));
  switch (op_of(g)) {
    case Op::Save: return save(dir, next, one);
    case Op::Append: {
      const Chrom &c = next.back();
      return kaldro_genome_append(dir, c.label.c_str(), c.region.data(), c.region.size(), kLd,
                                  one.data(), one.size(), ws.p, ws.n);
    }
    case Op::Replace: {
      const Chrom &c = next[g % prev.size()];
      return kaldro_genome_replace(dir, c.label.c_str(), c.region.data(), c.region.size(), kLd,
                                   one.data(), one.size(), ws.p, ws.n);
    }
    case Op::Remove:
      return kaldro_genome_remove(dir, prev[g % prev.size()].label.c_str(), one.data(), one.size(),
                                  ws.p, ws.n);
  }
  return KALDRO_ERR_INVALID;
}

[[noreturn]] void child(const char *dir, History &h, uint64_t g0, const Bytes &one, Shared *sh) {
  sh->started.store(g0);
  if (save(dir, h.at(g0), one) != KALDRO_OK) sh->failed.store(1);
  sh->done.store(g0);
  for (uint64_t g = g0 + 1;; ++g) {
    sh->started.store(g);
    if (step(dir, h, g, one) != KALDRO_OK) sh->failed.store(int(g));
    sh->done.store(g);
  }
}

struct Files {
  std::optional<std::string> turns, manifest;
  bool operator==(const Files &) const = default;
};
Files files_of(const TempDir &d) {
  return {read_file(d.file("turns.bin")), read_file(d.file("manifest.json"))};
}
Files expected_files(const Model &m, const Bytes &one) {
  const Bytes b = body_of(m);
  return {as_string(b), manifest_file(b, kLd, one)};
}

TEST(StoreCrash, KilledSavesAndEditsLeaveWholeFiles) {
  TempDir d;
  History h;
  const Bytes one = the_one_of(kLd);
  auto *sh = static_cast<Shared *>(
      mmap(nullptr, sizeof(Shared), PROT_READ | PROT_WRITE, MAP_SHARED | MAP_ANONYMOUS, -1, 0));
  ASSERT_NE(sh, MAP_FAILED);
  new (sh) Shared{};
  h.at(4000);  // computed once, before any fork

  // Pace the kills by how long one generation takes here.
  const auto t0 = std::chrono::steady_clock::now();
  for (uint64_t g = 1; g <= 8; ++g) ASSERT_EQ(g == 1 ? save(d.c_str(), h.at(1), one) : step(d.c_str(), h, g, one), KALDRO_OK);
  const double per_op_us =
      std::chrono::duration<double, std::micro>(std::chrono::steady_clock::now() - t0).count() / 8;

  std::mt19937_64 rng(0x6b616c64726fULL);
  std::uniform_real_distribution<double> delay(0.0, 3.0 * per_op_us);
  Files disk = files_of(d);
  uint64_t g0 = 9;
  int kills = 0, mid_op = 0, window = 0, old_state = 0, new_state = 0;
  std::map<std::string, int> outcomes;
  for (; kills < kKills; ++kills) {
    sh->started.store(kNone);
    sh->done.store(kNone);
    const pid_t pid = fork();
    ASSERT_GE(pid, 0);
    if (pid == 0) child(d.c_str(), h, g0, one, sh);
    // The random moment is counted from the child's first operation, not from the fork.
    while (sh->started.load() == kNone) sched_yield();
    const long ns = long(delay(rng) * 1000.0);
    const timespec ts{ns / 1000000000L, ns % 1000000000L};
    nanosleep(&ts, nullptr);
    kill(pid, SIGKILL);
    int status = 0;
    ASSERT_EQ(waitpid(pid, &status, 0), pid);
    ASSERT_TRUE(WIFSIGNALED(status));
    ASSERT_EQ(sh->failed.load(), 0) << "an operation of the child failed";

    const uint64_t s = sh->started.load(), done = sh->done.load();
    const Files now = files_of(d);
    if (s == kNone) {
      EXPECT_EQ(now, disk) << "files changed before the child began";
      continue;
    }
    const Files before = s == g0 ? disk : expected_files(h.at(s - 1), one);
    const Files after = expected_files(h.at(s), one);
    if (done == s) {
      EXPECT_EQ(now, after);
    } else {
      ++mid_op;
      EXPECT_TRUE(now.turns == before.turns || now.turns == after.turns) << "torn turns.bin at kill " << kills;
      EXPECT_TRUE(now.manifest == before.manifest || now.manifest == after.manifest)
          << "torn manifest.json at kill " << kills;
      // The body is always replaced first.
      EXPECT_FALSE(now.turns == before.turns && now.manifest == after.manifest && before.turns != after.turns);
      if (now.turns == after.turns && now.manifest == before.manifest && before.manifest != after.manifest) ++window;
      else if (now == after) ++new_state;
      else ++old_state;
    }
    // Load returns the genome the files hold, or reports the mismatch of the window.
    ASSERT_TRUE(now.turns && now.manifest);
    const bool consistent = *now.manifest == manifest_file(Bytes(now.turns->begin(), now.turns->end()), kLd, one);
    Workspace ws(kaldro_genome_arena_bytes(now.turns->size(), 64, 0));
    std::vector<uint8_t> body(now.turns->size() + 1);
    size_t len = 0;
    const kaldro_status st = kaldro_genome_load(d.c_str(), body.data(), body.size(), &len, nullptr, 0, ws.p, ws.n);
    if (consistent) {
      EXPECT_EQ(st, KALDRO_OK);
      EXPECT_EQ(std::string(body.begin(), body.begin() + long(len)), *now.turns);
    } else {
      EXPECT_EQ(st, KALDRO_ERR_INVALID);
    }
    disk = now;
    g0 = s + 1;
  }
  // Temporary files a kill left behind are hidden names that later saves never reuse.
  int leftovers = 0;
  for (const std::string &n : list_dir(d.path))
    if (n != "turns.bin" && n != "manifest.json") ++leftovers;
  ASSERT_EQ(save(d.c_str(), h.at(g0), one), KALDRO_OK);
  EXPECT_EQ(files_of(d), expected_files(h.at(g0), one));
  printf("last generation %llu; kills %d: %d mid-operation (%d old, %d new, %d in the window between the renames), "
         "%d leftover temporary files; %.0f us per generation\n",
         (unsigned long long)g0, kills, mid_op, old_state, new_state, window, leftovers, per_op_us);
  RecordProperty("window_hits", window);
  munmap(sh, sizeof(Shared));
}

}  // namespace
