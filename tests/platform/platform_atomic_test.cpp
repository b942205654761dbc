// The durable atomic file replacement: the new bytes in full, the umask's mode, no
// temporary file left behind after success or failure, the old file kept whole when the
// write or the rename fails, and concurrent writers that never mix their contents.
#include "platform_test_util.h"

#include "platform/platform.h"

#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <set>
#include <thread>

namespace {

using platform_test::get_file;
using platform_test::names_in;
using platform_test::put_file;
using platform_test::random_bytes;
using platform_test::ScratchDir;

std::set<std::string> listing(const std::string &dir) {
  const auto v = names_in(dir);
  return std::set<std::string>(v.begin(), v.end());
}

TEST(AtomicWrite, CreatesAndReplacesLeavingOnlyTheTarget) {
  ScratchDir dir;
  const std::string p = dir.file("manifest.json");
  ASSERT_EQ(kaldro::file_write_atomic(p.c_str(), "first", 5), KALDRO_OK);
  EXPECT_EQ(get_file(p), "first");
  const std::string big = random_bytes((2 << 20) + 5, 4);
  ASSERT_EQ(kaldro::file_write_atomic(p.c_str(), big.data(), big.size()), KALDRO_OK);
  EXPECT_EQ(get_file(p), big);
  ASSERT_EQ(kaldro::file_write_atomic(p.c_str(), nullptr, 0), KALDRO_OK);
  EXPECT_EQ(get_file(p), "");
  EXPECT_EQ(listing(dir.path()), std::set<std::string>{"manifest.json"});
}

TEST(AtomicWrite, PiecesAreConcatenated) {
  ScratchDir dir;
  const std::string p = dir.file("doc");
  ASSERT_EQ(kaldro::file_write_atomic(p.c_str(), "{\"a\":1}", 7, "\n", 1), KALDRO_OK);
  EXPECT_EQ(get_file(p), "{\"a\":1}\n");
  const std::string a = random_bytes(70000, 1), c = random_bytes(3, 2);
  const kaldro::WritePiece pieces[] = {{a.data(), a.size()}, {nullptr, 0}, {c.data(), c.size()}};
  ASSERT_EQ(kaldro::file_write_atomic_gather(p.c_str(), pieces, 3), KALDRO_OK);
  EXPECT_EQ(get_file(p), a + c);
  ASSERT_EQ(kaldro::file_write_atomic_gather(p.c_str(), pieces, 0), KALDRO_OK);
  EXPECT_EQ(get_file(p), "");
}

TEST(AtomicWrite, NewFileModeFollowsTheUmask) {
  ScratchDir dir;
  const mode_t old_mask = umask(027);
  const kaldro_status st = kaldro::file_write_atomic(dir.file("m").c_str(), "x", 1);
  umask(old_mask);
  ASSERT_EQ(st, KALDRO_OK);
  struct stat sb;
  ASSERT_EQ(stat(dir.file("m").c_str(), &sb), 0);
  EXPECT_EQ(sb.st_mode & 0777, 0640u);
}

TEST(AtomicWrite, RenameOntoADirectoryFailsAndKeepsIt) {
  ScratchDir dir;
  const std::string target = dir.file("target");
  ASSERT_EQ(mkdir(target.c_str(), 0700), 0);
  put_file(target + "/inside", "kept");
  EXPECT_EQ(kaldro::file_write_atomic(target.c_str(), "new", 3), KALDRO_ERR_IO);
  struct stat sb;
  ASSERT_EQ(stat(target.c_str(), &sb), 0);
  EXPECT_TRUE(S_ISDIR(sb.st_mode));
  EXPECT_EQ(get_file(target + "/inside"), "kept");
  EXPECT_EQ(listing(dir.path()), std::set<std::string>{"target"});
}

TEST(AtomicWrite, FailedWriteKeepsTheOldFileWhole) {
  ScratchDir dir;
  const std::string p = dir.file("turns.bin");
  put_file(p, "old contents");
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct sigaction ignore{}, old_action{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &old_action), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 65536;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string big = random_bytes(200000, 6);
  const kaldro_status st = kaldro::file_write_atomic(p.c_str(), big.data(), big.size());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_EQ(st, KALDRO_ERR_IO);
  EXPECT_EQ(get_file(p), "old contents");
  EXPECT_EQ(listing(dir.path()), std::set<std::string>{"turns.bin"});
}

TEST(AtomicWrite, UnusablePathsFailWithoutCreatingAnything) {
  ScratchDir dir;
  EXPECT_EQ(kaldro::file_write_atomic(dir.file("missing/f").c_str(), "x", 1), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro::file_write_atomic((dir.path() + "/").c_str(), "x", 1), KALDRO_ERR_IO);
  put_file(dir.file("plain"), "p");
  EXPECT_EQ(kaldro::file_write_atomic(dir.file("plain/f").c_str(), "x", 1), KALDRO_ERR_IO);
  EXPECT_EQ(listing(dir.path()), std::set<std::string>{"plain"});
  EXPECT_EQ(get_file(dir.file("plain")), "p");
}

TEST(AtomicWrite, BareNameGoesToTheCurrentDirectory) {
  ScratchDir dir;
  char cwd[4096];
  ASSERT_NE(getcwd(cwd, sizeof cwd), nullptr);
  ASSERT_EQ(chdir(dir.path().c_str()), 0);
  const kaldro_status st = kaldro::file_write_atomic("bare", "here", 4);
  ASSERT_EQ(chdir(cwd), 0);
  EXPECT_EQ(st, KALDRO_OK);
  EXPECT_EQ(get_file(dir.file("bare")), "here");
  EXPECT_EQ(listing(dir.path()), std::set<std::string>{"bare"});
}

TEST(AtomicWrite, ConcurrentWritersNeverMixContents) {
  ScratchDir dir;
  const std::string p = dir.file("shared");
  constexpr int kWriters = 4, kRounds = 8;
  std::vector<std::string> contents;
  for (int w = 0; w < kWriters; ++w) contents.push_back(random_bytes(50000 + w * 1000, 100 + w));
  std::vector<std::thread> writers;
  std::vector<int> failures(kWriters, 0);
  for (int w = 0; w < kWriters; ++w) {
    writers.emplace_back([&, w] {
      for (int r = 0; r < kRounds; ++r)
        if (kaldro::file_write_atomic(p.c_str(), contents[w].data(), contents[w].size()) !=
            KALDRO_OK)
          ++failures[w];
    });
  }
  // A reader meanwhile sees whole versions only.
  int seen = 0;
  for (int i = 0; i < 200; ++i) {
    const std::string now = get_file(p);
    if (now.empty()) continue;
    ++seen;
    bool whole = false;
    for (const auto &c : contents) whole = whole || now == c;
    ASSERT_TRUE(whole) << "a reader saw a mixed or partial file of " << now.size() << " bytes";
  }
  for (auto &t : writers) t.join();
  for (int f : failures) EXPECT_EQ(f, 0);
  const std::string last = get_file(p);
  bool whole = false;
  for (const auto &c : contents) whole = whole || last == c;
  EXPECT_TRUE(whole);
  EXPECT_EQ(listing(dir.path()), std::set<std::string>{"shared"});
  (void)seen;
}

}  // namespace
