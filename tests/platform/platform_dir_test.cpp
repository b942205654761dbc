// Directory listing: every entry once with "." and "..", names that do not fit are
// consumed without touching the caller's buffer, the state word, and a listing that
// fails part-way.
#include "platform_test_util.h"

#include <kaldro.h>

#include <dirent.h>
#include <errno.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>

#include <algorithm>
#include <cstring>
#include <set>

namespace {

using platform_test::put_file;
using platform_test::ScratchDir;

// Lists `path` with a name buffer of `capacity`; counts the entries refused for size.
std::multiset<std::string> list(const std::string &path, uint64_t capacity, int *refused) {
  std::multiset<std::string> names;
  kaldro_plat_dir d;
  d.state = 123;
  EXPECT_EQ(kaldro_plat_dir_open(path.c_str(), &d), KALDRO_OK);
  EXPECT_EQ(d.state, 0u);
  std::vector<char> buf(capacity + 1);
  *refused = 0;
  for (int guard = 0; guard < 100000; ++guard) {
    std::memset(buf.data(), '#', buf.size());
    int32_t has = 77;
    const kaldro_status st = kaldro_plat_dir_next(&d, buf.data(), capacity, &has);
    if (st == KALDRO_ERR_CAPACITY) {
      ++*refused;
      EXPECT_EQ(has, 77);
      EXPECT_TRUE(std::all_of(buf.begin(), buf.end(), [](char c) { return c == '#'; }));
      continue;
    }
    EXPECT_EQ(st, KALDRO_OK);
    if (st != KALDRO_OK) break;
    if (has == 0) break;
    EXPECT_EQ(has, 1);
    const size_t len = strlen(buf.data());
    EXPECT_LT(len, capacity);
    EXPECT_EQ(buf[len + 1], '#');  // the NUL ends what was written
    names.insert(buf.data());
  }
  d.state = 5;
  EXPECT_EQ(kaldro_plat_dir_close(&d), KALDRO_OK);
  EXPECT_EQ(d.state, 0u);
  return names;
}

TEST(DirList, ManyEntriesEachOnceWithDotAndDotDot) {
  ScratchDir dir;
  std::multiset<std::string> expected = {".", ".."};
  for (int i = 0; i < 600; ++i) {
    const std::string name = "entry-" + std::to_string(i * 7919 % 10007) + std::string(i % 40, 'q');
    put_file(dir.file(name), "");
    expected.insert(name);
  }
  ASSERT_EQ(mkdir(dir.file("sub").c_str(), 0700), 0);
  expected.insert("sub");
  int refused = 0;
  EXPECT_EQ(list(dir.path(), 256, &refused), expected);
  EXPECT_EQ(refused, 0);
}

TEST(DirList, NameThatDoesNotFitIsConsumed) {
  ScratchDir dir;
  put_file(dir.file("abcdefghij"), "");  // 10 bytes
  put_file(dir.file("x1"), "");
  put_file(dir.file("x2"), "");
  const std::multiset<std::string> without = {".", "..", "x1", "x2"};
  const std::multiset<std::string> with = {".", "..", "abcdefghij", "x1", "x2"};
  int refused = 0;
  EXPECT_EQ(list(dir.path(), 8, &refused), without);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(list(dir.path(), 10, &refused), without);
  EXPECT_EQ(refused, 1);
  EXPECT_EQ(list(dir.path(), 11, &refused), with);
  EXPECT_EQ(refused, 0);
  // With room for nothing, every entry is refused and the listing still ends.
  EXPECT_TRUE(list(dir.path(), 0, &refused).empty());
  EXPECT_EQ(refused, 5);
}

TEST(DirList, EndRepeatsAndEmptyDirectory) {
  ScratchDir dir;
  kaldro_plat_dir d;
  ASSERT_EQ(kaldro_plat_dir_open(dir.path().c_str(), &d), KALDRO_OK);
  char name[64];
  int32_t has = 1;
  int seen = 0;
  while (kaldro_plat_dir_next(&d, name, sizeof name, &has) == KALDRO_OK && has) ++seen;
  EXPECT_EQ(seen, 2);  // "." and ".."
  has = 1;
  EXPECT_EQ(kaldro_plat_dir_next(&d, name, sizeof name, &has), KALDRO_OK);
  EXPECT_EQ(has, 0);
  kaldro_plat_dir_close(&d);
}

TEST(DirList, OpenFailures) {
  ScratchDir dir;
  put_file(dir.file("plain"), "x");
  kaldro_plat_dir d;
  void *const before = &d;
  d.handle = before;
  d.state = 42;
  EXPECT_EQ(kaldro_plat_dir_open(dir.file("plain").c_str(), &d), KALDRO_ERR_IO);
  EXPECT_EQ(d.state, 0u);
  EXPECT_EQ(d.handle, before);
  kaldro_plat_dir none;
  none.handle = nullptr;
  none.state = 3;
  EXPECT_EQ(kaldro_plat_dir_close(&none), KALDRO_OK);
  EXPECT_EQ(none.state, 0u);
}

TEST(DirList, FailingListingIsNotTheEnd) {
  // The network directory of a process that has ended can no longer be read: the
  // system reports an error, which must not pass for the end of the listing.
  const pid_t child = fork();
  ASSERT_GE(child, 0);
  if (child == 0) {
    pause();
    _exit(0);
  }
  const std::string path = "/proc/" + std::to_string(child) + "/net";
  kaldro_plat_dir d;
  const kaldro_status opened = kaldro_plat_dir_open(path.c_str(), &d);
  DIR *probe = opendir(path.c_str());
  kill(child, SIGKILL);
  waitpid(child, nullptr, 0);
  if (opened != KALDRO_OK || probe == nullptr) {
    if (probe) closedir(probe);
    if (opened == KALDRO_OK) kaldro_plat_dir_close(&d);
    GTEST_SKIP() << "no per-process network directory here";
  }
  errno = 0;
  const bool platform_fails = readdir(probe) == nullptr && errno != 0;
  closedir(probe);
  if (!platform_fails) {
    kaldro_plat_dir_close(&d);
    GTEST_SKIP() << "this system lists a finished process's directory without error";
  }
  char name[256] = "untouched";
  int32_t has = 77;
  EXPECT_EQ(kaldro_plat_dir_next(&d, name, sizeof name, &has), KALDRO_ERR_IO);
  EXPECT_EQ(has, 77);
  EXPECT_STREQ(name, "untouched");
  kaldro_plat_dir_close(&d);
}

}  // namespace
