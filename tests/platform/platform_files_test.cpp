// Whole-file reads and writes, region reads, size queries and read streams: the listed
// edge cases, failures and what they leave untouched, files larger than the buffer and
// around the 64 KiB boundary, and pipes that deliver data in pieces or are interrupted
// by signals.
#include "platform_test_util.h"

#include <kaldro.h>

#include <fcntl.h>
#include <pthread.h>
#include <signal.h>
#include <sys/resource.h>
#include <sys/stat.h>

#include <atomic>
#include <chrono>
#include <cstring>
#include <thread>

namespace {

using platform_test::get_file;
using platform_test::put_file;
using platform_test::random_bytes;
using platform_test::ScratchDir;

constexpr uint64_t kUntouched = 0xdeadbeefcafef00dull;

TEST(FileRead, ExactFitRule) {
  ScratchDir dir;
  const std::string p = dir.file("ten");
  put_file(p, "0123456789");
  char buf[20];
  uint64_t len = kUntouched;
  EXPECT_EQ(kaldro_plat_file_read(p.c_str(), buf, 10, &len), KALDRO_OK);
  EXPECT_EQ(len, 10u);
  EXPECT_EQ(std::string(buf, 10), "0123456789");

  len = kUntouched;
  EXPECT_EQ(kaldro_plat_file_read(p.c_str(), buf, 9, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, kUntouched);

  std::memset(buf, 'x', sizeof buf);
  EXPECT_EQ(kaldro_plat_file_read(p.c_str(), buf, 20, &len), KALDRO_OK);
  EXPECT_EQ(len, 10u);
  EXPECT_EQ(std::string(buf, 10), "0123456789");
  EXPECT_EQ(buf[10], 'x');
}

TEST(FileRead, EmptyBufferAndEmptyFile) {
  ScratchDir dir;
  put_file(dir.file("empty"), "");
  put_file(dir.file("one"), "z");
  char buf[1] = {'q'};
  uint64_t len = kUntouched;
  EXPECT_EQ(kaldro_plat_file_read(dir.file("empty").c_str(), buf, 0, &len), KALDRO_OK);
  EXPECT_EQ(len, 0u);
  len = kUntouched;
  EXPECT_EQ(kaldro_plat_file_read(dir.file("one").c_str(), buf, 0, &len), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(len, kUntouched);
  EXPECT_EQ(buf[0], 'q');
  EXPECT_EQ(kaldro_plat_file_read(dir.file("empty").c_str(), buf, 1, &len), KALDRO_OK);
  EXPECT_EQ(len, 0u);
}

TEST(FileRead, ReadErrorWinsOverCapacity) {
  // A directory opens for reading but every read of it fails: even with a zero-size
  // buffer, where only the one-byte probe is made, the error decides the status.
  ScratchDir dir;
  char buf[16];
  uint64_t len = kUntouched;
  EXPECT_EQ(kaldro_plat_file_read(dir.path().c_str(), buf, 0, &len), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read(dir.path().c_str(), buf, sizeof buf, &len), KALDRO_ERR_IO);
  EXPECT_EQ(len, kUntouched);
}

TEST(FileRead, MissingFileFailsEverywhere) {
  ScratchDir dir;
  const std::string p = dir.file("absent");
  char buf[8];
  uint64_t v = kUntouched;
  EXPECT_EQ(kaldro_plat_file_read(p.c_str(), buf, sizeof buf, &v), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 0, buf, 0), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_size(p.c_str(), &v), KALDRO_ERR_IO);
  EXPECT_EQ(v, kUntouched);
  kaldro_plat_rstream s;
  s.handle = &v;
  EXPECT_EQ(kaldro_plat_rstream_open(p.c_str(), &s), KALDRO_ERR_IO);
  EXPECT_EQ(s.handle, static_cast<void *>(&v));
  kaldro_plat_dir d;
  d.handle = &v;
  d.state = 9;
  EXPECT_EQ(kaldro_plat_dir_open(p.c_str(), &d), KALDRO_ERR_IO);
  EXPECT_EQ(d.handle, static_cast<void *>(&v));
  EXPECT_EQ(d.state, 0u);
}

TEST(FileRead, FilesAroundBufferAndPageBoundaries) {
  ScratchDir dir;
  const uint64_t sizes[] = {1, 4095, 4096, 4097, 8192, 65535, 65536, 65537, (1u << 20) + 17};
  for (uint64_t size : sizes) {
    SCOPED_TRACE(size);
    const std::string content = random_bytes(size, size);
    const std::string p = dir.file("f" + std::to_string(size));
    put_file(p, content);
    std::vector<char> buf(size + 70000);
    for (uint64_t cap : {size - 1, size, size + 1, uint64_t{65536}, size + 65536}) {
      SCOPED_TRACE(cap);
      uint64_t len = kUntouched;
      const kaldro_status st = kaldro_plat_file_read(p.c_str(), buf.data(), cap, &len);
      if (cap < size) {
        EXPECT_EQ(st, KALDRO_ERR_CAPACITY);
        EXPECT_EQ(len, kUntouched);
      } else {
        ASSERT_EQ(st, KALDRO_OK);
        ASSERT_EQ(len, size);
        EXPECT_EQ(std::string(buf.data(), size), content);
      }
    }
  }
}

TEST(FileReadRegion, RegionsMustLieInsideTheFile) {
  ScratchDir dir;
  const std::string p = dir.file("ten");
  put_file(p, "0123456789");
  char buf[8] = "-------";
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 8, buf, 4), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 6, buf, 4), KALDRO_OK);
  EXPECT_EQ(std::string(buf, 4), "6789");
  char whole[16];
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 0, whole, 11), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 0, whole, 10), KALDRO_OK);
  EXPECT_EQ(std::string(whole, 10), "0123456789");
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 10, buf, 1), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 11, buf, 1), KALDRO_ERR_IO);
  // Zero-length regions read nothing, wherever the offset lies.
  std::memcpy(buf, "abcdefg", 8);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 10, buf, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), 1000, buf, 0), KALDRO_OK);
  EXPECT_STREQ(buf, "abcdefg");
  // Offsets beyond the signed file position range cannot be reached.
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), uint64_t{1} << 63, buf, 0), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), UINT64_MAX, buf, 1), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_read_region(dir.path().c_str(), 0, buf, 1), KALDRO_ERR_IO);
}

TEST(FileReadRegion, MatchesTheFileAtRandomOffsets) {
  ScratchDir dir;
  const std::string content = random_bytes(300000, 7);
  const std::string p = dir.file("big");
  put_file(p, content);
  std::mt19937_64 rng(11);
  std::vector<char> buf(content.size());
  for (int i = 0; i < 200; ++i) {
    const uint64_t off = rng() % content.size();
    const uint64_t len = rng() % (content.size() - off + 1);
    ASSERT_EQ(kaldro_plat_file_read_region(p.c_str(), off, buf.data(), len), KALDRO_OK);
    ASSERT_EQ(std::string(buf.data(), len), content.substr(off, len));
    if (len < content.size() - off) continue;
    EXPECT_EQ(kaldro_plat_file_read_region(p.c_str(), off, buf.data(), len + 1), KALDRO_ERR_IO);
  }
}

TEST(FileWrite, CreateTruncateAndAppend) {
  ScratchDir dir;
  const std::string p = dir.file("w");
  EXPECT_EQ(kaldro_plat_file_write(p.c_str(), 0, "0123456789", 10), KALDRO_OK);
  EXPECT_EQ(get_file(p), "0123456789");
  uint64_t size = kUntouched;
  EXPECT_EQ(kaldro_plat_file_write(p.c_str(), 1, "abc", 3), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_file_size(p.c_str(), &size), KALDRO_OK);
  EXPECT_EQ(size, 13u);
  EXPECT_EQ(get_file(p), "0123456789abc");
  EXPECT_EQ(kaldro_plat_file_write(p.c_str(), 0, "xy", 2), KALDRO_OK);
  EXPECT_EQ(get_file(p), "xy");
  // A zero-length write does not touch data and truncates to empty.
  EXPECT_EQ(kaldro_plat_file_write(p.c_str(), 0, nullptr, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_file_size(p.c_str(), &size), KALDRO_OK);
  EXPECT_EQ(size, 0u);
  // Appending creates a missing file; appending nothing leaves content alone.
  const std::string q = dir.file("appended");
  EXPECT_EQ(kaldro_plat_file_write(q.c_str(), 7, "hello", 5), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_file_write(q.c_str(), 1, nullptr, 0), KALDRO_OK);
  EXPECT_EQ(get_file(q), "hello");

  const std::string big = random_bytes(3 << 20, 3);
  EXPECT_EQ(kaldro_plat_file_write(p.c_str(), 0, big.data(), big.size()), KALDRO_OK);
  EXPECT_EQ(get_file(p), big);
}

TEST(FileWrite, FailuresAreIo) {
  ScratchDir dir;
  EXPECT_EQ(kaldro_plat_file_write(dir.file("no/such/dir").c_str(), 0, "a", 1), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_write(dir.path().c_str(), 0, "a", 1), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_file_write(dir.path().c_str(), 1, "a", 1), KALDRO_ERR_IO);
  // A device that refuses every byte: the loss only shows when the buffered bytes are
  // flushed by the close.
  if (access("/dev/full", W_OK) == 0) {
    EXPECT_EQ(kaldro_plat_file_write("/dev/full", 0, "abc", 3), KALDRO_ERR_IO);
  }
}

TEST(FileWrite, ShortWriteIsIo) {
  // The file-size limit stops the write part-way; what got out stays (no temporary file).
  ScratchDir dir;
  const std::string p = dir.file("limited");
  struct rlimit old_limit;
  ASSERT_EQ(getrlimit(RLIMIT_FSIZE, &old_limit), 0);
  struct sigaction ignore{}, old_action{};
  ignore.sa_handler = SIG_IGN;
  ASSERT_EQ(sigaction(SIGXFSZ, &ignore, &old_action), 0);
  struct rlimit small = old_limit;
  small.rlim_cur = 100000;
  ASSERT_EQ(setrlimit(RLIMIT_FSIZE, &small), 0);
  const std::string big = random_bytes(300000, 5);
  const kaldro_status st = kaldro_plat_file_write(p.c_str(), 0, big.data(), big.size());
  setrlimit(RLIMIT_FSIZE, &old_limit);
  sigaction(SIGXFSZ, &old_action, nullptr);
  EXPECT_EQ(st, KALDRO_ERR_IO);
  const std::string left = get_file(p);
  EXPECT_LE(left.size(), 100000u);
  EXPECT_EQ(left, big.substr(0, left.size()));
}

TEST(FileSize, SizesAndFailures) {
  ScratchDir dir;
  uint64_t size = kUntouched;
  put_file(dir.file("empty"), "");
  EXPECT_EQ(kaldro_plat_file_size(dir.file("empty").c_str(), &size), KALDRO_OK);
  EXPECT_EQ(size, 0u);
  put_file(dir.file("b"), random_bytes(65537, 1));
  EXPECT_EQ(kaldro_plat_file_size(dir.file("b").c_str(), &size), KALDRO_OK);
  EXPECT_EQ(size, 65537u);
  // A directory has no size in bytes, whatever its file system's seek reports.
  size = kUntouched;
  EXPECT_EQ(kaldro_plat_file_size(dir.path().c_str(), &size), KALDRO_ERR_IO);
  EXPECT_EQ(size, kUntouched);
}

TEST(ReadStream, ShortAndZeroCountsMarkTheEnd) {
  ScratchDir dir;
  const std::string p = dir.file("five");
  put_file(p, "abcde");
  kaldro_plat_rstream s{nullptr};
  ASSERT_EQ(kaldro_plat_rstream_open(p.c_str(), &s), KALDRO_OK);
  ASSERT_NE(s.handle, nullptr);
  char buf[4];
  uint64_t got = kUntouched;
  EXPECT_EQ(kaldro_plat_rstream_read(&s, buf, 0, &got), KALDRO_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(kaldro_plat_rstream_read(&s, buf, 4, &got), KALDRO_OK);
  EXPECT_EQ(got, 4u);
  EXPECT_EQ(std::string(buf, 4), "abcd");
  EXPECT_EQ(kaldro_plat_rstream_read(&s, buf, 4, &got), KALDRO_OK);
  EXPECT_EQ(got, 1u);
  EXPECT_EQ(buf[0], 'e');
  got = kUntouched;
  EXPECT_EQ(kaldro_plat_rstream_read(&s, buf, 4, &got), KALDRO_OK);
  EXPECT_EQ(got, 0u);
  EXPECT_EQ(kaldro_plat_rstream_close(&s), KALDRO_OK);
  EXPECT_NE(s.handle, nullptr);  // released, not cleared

  kaldro_plat_rstream none{nullptr};
  EXPECT_EQ(kaldro_plat_rstream_close(&none), KALDRO_OK);
}

TEST(ReadStream, ChunkedReadsReassembleTheFile) {
  ScratchDir dir;
  const std::string content = random_bytes((1 << 20) + 333, 21);
  const std::string p = dir.file("chunks");
  put_file(p, content);
  kaldro_plat_rstream s{nullptr};
  ASSERT_EQ(kaldro_plat_rstream_open(p.c_str(), &s), KALDRO_OK);
  std::mt19937_64 rng(5);
  std::string back;
  std::vector<char> buf(200000);
  for (;;) {
    const uint64_t want = rng() % 3 == 0 ? rng() % 17 : rng() % buf.size();
    uint64_t got = kUntouched;
    ASSERT_EQ(kaldro_plat_rstream_read(&s, buf.data(), want, &got), KALDRO_OK);
    ASSERT_LE(got, want);
    back.append(buf.data(), got);
    if (want != 0 && got == 0) break;
    if (got < want) {
      ASSERT_EQ(back.size(), content.size()) << "short count before the end";
    }
  }
  EXPECT_EQ(back, content);
  kaldro_plat_rstream_close(&s);
}

TEST(ReadStream, ReadErrorIsIoAndCountIsWritten) {
  ScratchDir dir;
  kaldro_plat_rstream s{nullptr};
  ASSERT_EQ(kaldro_plat_rstream_open(dir.path().c_str(), &s), KALDRO_OK);
  char buf[16];
  uint64_t got = kUntouched;
  EXPECT_EQ(kaldro_plat_rstream_read(&s, buf, sizeof buf, &got), KALDRO_ERR_IO);
  EXPECT_EQ(got, 0u);
  kaldro_plat_rstream_close(&s);
}

// --- pipes: data that arrives in pieces, and reads interrupted by a signal ---

std::atomic<int> g_signals{0};
void count_signal(int) { g_signals.fetch_add(1); }

// Installs a SIGUSR1 handler without automatic restart, so a blocked read returns with
// an interruption instead of resuming by itself. SIGPIPE is ignored meanwhile, so that a
// reader giving up early fails the test instead of killing the writer's process.
class InterruptingSignal {
 public:
  InterruptingSignal() {
    struct sigaction sa{};
    sa.sa_handler = count_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;
    sigaction(SIGUSR1, &sa, &old_usr1_);
    struct sigaction ignore{};
    ignore.sa_handler = SIG_IGN;
    sigaction(SIGPIPE, &ignore, &old_pipe_);
  }
  ~InterruptingSignal() {
    sigaction(SIGUSR1, &old_usr1_, nullptr);
    sigaction(SIGPIPE, &old_pipe_, nullptr);
  }

 private:
  struct sigaction old_usr1_{}, old_pipe_{};
};

// Writes `content` into the FIFO in pieces, pausing before each one; when `reader` is
// given, it is sent SIGUSR1 during each pause while it waits for data.
void feed_fifo(const std::string &fifo, const std::string &content, size_t piece,
               const pthread_t *reader) {
  const int fd = open(fifo.c_str(), O_WRONLY);
  if (fd < 0) return;
  for (size_t at = 0; at < content.size(); at += piece) {
    std::this_thread::sleep_for(std::chrono::milliseconds(15));
    if (reader) {
      pthread_kill(*reader, SIGUSR1);
      std::this_thread::sleep_for(std::chrono::milliseconds(15));
    }
    const size_t n = std::min(piece, content.size() - at);
    if (write(fd, content.data() + at, n) != static_cast<ssize_t>(n)) break;
  }
  close(fd);
}

TEST(ReadStream, PipeDeliveringPiecesGivesFullCounts) {
  ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  const std::string content = random_bytes(4000, 8);
  std::thread writer(feed_fifo, fifo, content, 700, nullptr);
  kaldro_plat_rstream s{nullptr};
  ASSERT_EQ(kaldro_plat_rstream_open(fifo.c_str(), &s), KALDRO_OK);
  std::vector<char> buf(1500);
  std::string back;
  uint64_t got = 0;
  do {
    ASSERT_EQ(kaldro_plat_rstream_read(&s, buf.data(), buf.size(), &got), KALDRO_OK);
    back.append(buf.data(), got);
    if (got != 0 && got < buf.size()) {
      EXPECT_EQ(back.size(), content.size());
    }
  } while (got != 0);
  kaldro_plat_rstream_close(&s);
  writer.join();
  EXPECT_EQ(back, content);
}

TEST(ReadStream, SignalDuringABlockedReadIsNotAnError) {
  ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  InterruptingSignal handler;
  g_signals = 0;
  const std::string content = random_bytes(3000, 9);
  const pthread_t self = pthread_self();
  std::thread writer(feed_fifo, fifo, content, 1000, &self);
  // The open returns as soon as the writer has opened its end, before any signal.
  kaldro_plat_rstream s{nullptr};
  ASSERT_EQ(kaldro_plat_rstream_open(fifo.c_str(), &s), KALDRO_OK);
  std::vector<char> buf(content.size() + 10);
  uint64_t got = kUntouched;
  EXPECT_EQ(kaldro_plat_rstream_read(&s, buf.data(), buf.size(), &got), KALDRO_OK);
  EXPECT_EQ(got, content.size());
  EXPECT_EQ(std::string(buf.data(), got), content);
  kaldro_plat_rstream_close(&s);
  writer.join();
  EXPECT_GE(g_signals.load(), 3);
}

TEST(FileRead, SignalDuringABlockedReadIsNotAnError) {
  ScratchDir dir;
  const std::string fifo = dir.file("fifo");
  ASSERT_EQ(mkfifo(fifo.c_str(), 0600), 0);
  InterruptingSignal handler;
  g_signals = 0;
  const std::string content = random_bytes(2000, 10);
  const pthread_t self = pthread_self();
  std::thread writer(feed_fifo, fifo, content, 500, &self);
  std::vector<char> buf(content.size());
  uint64_t len = kUntouched;
  const kaldro_status st = kaldro_plat_file_read(fifo.c_str(), buf.data(), buf.size(), &len);
  writer.join();
  EXPECT_EQ(st, KALDRO_OK);
  EXPECT_EQ(len, content.size());
  EXPECT_EQ(std::string(buf.data(), buf.size()), content);
  EXPECT_GE(g_signals.load(), 3);
}

}  // namespace
