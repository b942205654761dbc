// The stream layer: record layouts, the socket path and its limits in check order, the
// socket directory rules, stale and live sockets, accept and connect, exact reads and
// writes resumed after signals, and closed peers reported without SIGPIPE.
#include "bus_test_util.h"

#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>

#include <chrono>
#include <cstddef>

namespace {

using namespace bus_test;
using namespace std::chrono_literals;

class Stream : public BusTest {};

bool all_bytes(const void *p, size_t n, uint8_t v) {
  const uint8_t *b = static_cast<const uint8_t *>(p);
  for (size_t i = 0; i < n; ++i)
    if (b[i] != v) return false;
  return true;
}

// Fills a server record with a marker so that what listen writes shows.
void mark(kaldro_plat_stream_server *s) { memset(s, 0xab, sizeof *s); }

// A record is "zeroed with no descriptor" as a refused listen leaves it.
void expect_cleared(const kaldro_plat_stream_server &s) {
  EXPECT_EQ(s.fd, -1);
  EXPECT_TRUE(all_bytes(s.path, sizeof s.path, 0));
  EXPECT_TRUE(all_bytes(s.reserved, sizeof s.reserved, 0));
}

TEST(StreamRecords, Layout) {
  EXPECT_EQ(sizeof(kaldro_plat_stream_server), 528u);
  EXPECT_EQ(offsetof(kaldro_plat_stream_server, fd), 512u);
  EXPECT_EQ(sizeof(kaldro_plat_stream_conn), 16u);
  EXPECT_EQ(offsetof(kaldro_plat_stream_conn, fd), 0u);
  EXPECT_EQ(sizeof(kaldro_bus_server), 576u);
  EXPECT_EQ(offsetof(kaldro_bus_server, stop), 528u);
  EXPECT_EQ(offsetof(kaldro_bus_server, reply_capacity), 568u);
  EXPECT_EQ(sizeof(kaldro_bus_client), 16u);
  EXPECT_EQ(kaldro_plat_has_streams(), 1);
}

TEST_F(Stream, ListenMakesPrivateDirectoryAndSocket) {
  const mode_t old_mask = umask(0);  // the modes must not depend on the caller's mask
  kaldro_plat_stream_server s;
  mark(&s);
  ASSERT_EQ(kaldro_plat_stream_listen("alpha", &s), KALDRO_OK);
  umask(old_mask);
  EXPECT_EQ(std::string(s.path), sock_path("alpha"));
  EXPECT_TRUE(all_bytes(s.path + strlen(s.path), sizeof s.path - strlen(s.path), 0));
  EXPECT_TRUE(all_bytes(s.reserved, sizeof s.reserved, 0));
  EXPECT_GE(s.fd, 0);
  EXPECT_NE(fcntl(s.fd, F_GETFD) & FD_CLOEXEC, 0);
  struct stat st;
  ASSERT_EQ(lstat(sock_dir().c_str(), &st), 0);
  EXPECT_TRUE(S_ISDIR(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  ASSERT_EQ(lstat(sock_path("alpha").c_str(), &st), 0);
  EXPECT_TRUE(S_ISSOCK(st.st_mode));
  EXPECT_EQ(st.st_mode & 07777, 0600u);

  EXPECT_EQ(kaldro_plat_stream_server_close(&s), KALDRO_OK);
  EXPECT_EQ(s.fd, -1);
  EXPECT_FALSE(exists(sock_path("alpha")));
  EXPECT_EQ(kaldro_plat_stream_server_close(nullptr), KALDRO_ERR_NULL);
}

TEST_F(Stream, NullArgumentsWriteNothing) {
  kaldro_plat_stream_server s;
  mark(&s);
  EXPECT_EQ(kaldro_plat_stream_listen(nullptr, &s), KALDRO_ERR_NULL);
  EXPECT_TRUE(all_bytes(&s, sizeof s, 0xab));
  EXPECT_EQ(kaldro_plat_stream_listen("x", nullptr), KALDRO_ERR_NULL);
  EXPECT_FALSE(exists(sock_dir()));
  kaldro_plat_stream_conn c;
  memset(&c, 0xab, sizeof c);
  EXPECT_EQ(kaldro_plat_stream_connect(nullptr, &c), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_plat_stream_connect("x", nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_plat_stream_accept(nullptr, &c), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_plat_stream_accept(&s, nullptr), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_plat_stream_conn_close(nullptr), KALDRO_ERR_NULL);
  EXPECT_TRUE(all_bytes(&c, sizeof c, 0xab));
}

TEST_F(Stream, HomeUnsetOrEmpty) {
  for (const char *value : {static_cast<const char *>(nullptr), ""}) {
    if (value) setenv("HOME", value, 1); else unsetenv("HOME");
    kaldro_plat_stream_server s;
    mark(&s);
    EXPECT_EQ(kaldro_plat_stream_listen("beta", &s), KALDRO_ERR_INVALID);
    expect_cleared(s);
    kaldro_plat_stream_conn c;
    memset(&c, 0xab, sizeof c);
    EXPECT_EQ(kaldro_plat_stream_connect("beta", &c), KALDRO_ERR_INVALID);
    EXPECT_TRUE(all_bytes(&c, sizeof c, 0xab));
  }
  EXPECT_FALSE(exists(sock_dir()));
}

TEST_F(Stream, PathOf103BytesFitsAnd104DoesNot) {
  const std::string fits = name_for_path_length(103);
  const std::string too_long = name_for_path_length(104);
  kaldro_plat_stream_server s;
  ASSERT_EQ(kaldro_plat_stream_listen(fits.c_str(), &s), KALDRO_OK);
  EXPECT_EQ(strlen(s.path), 103u);
  kaldro_plat_stream_conn c;
  EXPECT_EQ(kaldro_plat_stream_connect(fits.c_str(), &c), KALDRO_OK);
  kaldro_plat_stream_conn_close(&c);
  kaldro_plat_stream_server_close(&s);

  mark(&s);
  EXPECT_EQ(kaldro_plat_stream_listen(too_long.c_str(), &s), KALDRO_ERR_CAPACITY);
  expect_cleared(s);
  memset(&c, 0xab, sizeof c);
  EXPECT_EQ(kaldro_plat_stream_connect(too_long.c_str(), &c), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(all_bytes(&c, sizeof c, 0xab));
}

TEST_F(Stream, LengthChecksAroundSocketCreation) {
  // With no descriptor to spare, a path over 511 characters is still refused as too
  // long (checked before the socket), while one of 511 meets the failing socket first.
  const std::string name511 = name_for_path_length(511);
  const std::string name512 = name_for_path_length(512);
  kaldro_plat_stream_server s;
  kaldro_plat_stream_conn c;
  {
    NoFreeDescriptors none;
    EXPECT_EQ(kaldro_plat_stream_listen(name512.c_str(), &s), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(kaldro_plat_stream_listen(name511.c_str(), &s), KALDRO_ERR_IO);
    expect_cleared(s);
    EXPECT_EQ(kaldro_plat_stream_connect(name512.c_str(), &c), KALDRO_ERR_CAPACITY);
    EXPECT_EQ(kaldro_plat_stream_connect(name511.c_str(), &c), KALDRO_ERR_IO);
  }
  EXPECT_EQ(kaldro_plat_stream_listen(name511.c_str(), &s), KALDRO_ERR_CAPACITY);
  EXPECT_EQ(kaldro_plat_stream_connect(name511.c_str(), &c), KALDRO_ERR_CAPACITY);
}

TEST_F(Stream, RefusedLongPathRemovesNothing) {
  const std::string name = name_for_path_length(120);
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  const int fd = open(sock_path(name).c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  kaldro_plat_stream_server s;
  EXPECT_EQ(kaldro_plat_stream_listen(name.c_str(), &s), KALDRO_ERR_CAPACITY);
  EXPECT_TRUE(exists(sock_path(name)));
  EXPECT_EQ(kaldro_plat_stream_server_close(&s), KALDRO_OK);
  EXPECT_TRUE(exists(sock_path(name)));
}

// A name holding '/' would put the socket outside the socket directory: listen would
// remove whatever file sat at the resulting path and bind there, and connect would reach
// any socket of the user. Such names are refused before anything is made or removed.
TEST_F(Stream, NameWithSlashRefused) {
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  ASSERT_EQ(mkdir((sock_dir() + "/bus-x").c_str(), 0700), 0);
  const std::string victim = home_ + "/victim.sock";  // reached by "x/../../victim"
  const int fd = open(victim.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  const int outside = raw_bind(home_ + "/outside.sock", true);  // by "x/../../outside"
  ASSERT_GE(outside, 0);

  for (const char *name : {"x/../../victim", "x/../../outside", "/", "a/b", "x/", "/x",
                           "../../victim", "x/../../../../../../tmp/kaldro-escape"}) {
    kaldro_plat_stream_server s;
    mark(&s);
    EXPECT_EQ(kaldro_plat_stream_listen(name, &s), KALDRO_ERR_INVALID) << name;
    expect_cleared(s);
    EXPECT_EQ(kaldro_plat_stream_server_close(&s), KALDRO_OK);
    kaldro_plat_stream_conn c;
    memset(&c, 0xab, sizeof c);
    EXPECT_EQ(kaldro_plat_stream_connect(name, &c), KALDRO_ERR_INVALID) << name;
    EXPECT_TRUE(all_bytes(&c, sizeof c, 0xab));
  }
  struct stat st;
  ASSERT_EQ(lstat(victim.c_str(), &st), 0);
  EXPECT_TRUE(S_ISREG(st.st_mode));  // not removed, not replaced by a socket
  EXPECT_FALSE(exists("/tmp/kaldro-escape.sock"));
  pollfd p = {outside, POLLIN, 0};
  EXPECT_EQ(poll(&p, 1, 0), 0);  // nobody connected to the outside socket
  close(outside);

  // The refusal comes before the socket directory is made.
  const std::string fresh = home_ + "/fresh";
  ASSERT_EQ(mkdir(fresh.c_str(), 0700), 0);
  setenv("HOME", fresh.c_str(), 1);
  kaldro_plat_stream_server s;
  EXPECT_EQ(kaldro_plat_stream_listen("a/b", &s), KALDRO_ERR_INVALID);
  EXPECT_FALSE(exists(fresh + "/.kaldro"));
  // A null name is still reported first.
  EXPECT_EQ(kaldro_plat_stream_listen(nullptr, &s), KALDRO_ERR_NULL);

  // Dots and empty names stay inside the directory and are served as ever.
  for (const char *name : {"", ".", "..", "a..b"}) {
    ASSERT_EQ(kaldro_plat_stream_listen(name, &s), KALDRO_OK) << name;
    EXPECT_EQ(std::string(s.path), fresh + "/.kaldro/bus-" + name + ".sock");
    kaldro_plat_stream_conn c;
    EXPECT_EQ(kaldro_plat_stream_connect(name, &c), KALDRO_OK) << name;
    kaldro_plat_stream_conn_close(&c);
    kaldro_plat_stream_server_close(&s);
  }
}

TEST_F(Stream, OpenDirectoryIsTightened) {
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  ASSERT_EQ(chmod(sock_dir().c_str(), 0757), 0);
  kaldro_plat_stream_server s;
  ASSERT_EQ(kaldro_plat_stream_listen("gamma", &s), KALDRO_OK);
  struct stat st;
  ASSERT_EQ(stat(sock_dir().c_str(), &st), 0);
  EXPECT_EQ(st.st_mode & 07777, 0700u);
  kaldro_plat_stream_server_close(&s);
}

TEST_F(Stream, DirectoryOfAnotherUserRefused) {
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  const int fd = open(sock_path("delta").c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  ASSERT_EQ(chown(sock_dir().c_str(), kNobody, kNobody), 0);
  kaldro_plat_stream_server s;
  mark(&s);
  EXPECT_EQ(kaldro_plat_stream_listen("delta", &s), KALDRO_ERR_IO);
  expect_cleared(s);
  EXPECT_TRUE(exists(sock_path("delta")));  // nothing removed
  EXPECT_EQ(kaldro_plat_stream_server_close(&s), KALDRO_OK);
  EXPECT_TRUE(exists(sock_path("delta")));
  struct stat st;
  ASSERT_EQ(stat(sock_dir().c_str(), &st), 0);
  EXPECT_EQ(st.st_uid, kNobody);  // not taken over either
  EXPECT_EQ(st.st_mode & 07777, 0700u);
}

TEST_F(Stream, SymbolicLinkDirectoryRefused) {
  const std::string real = home_ + "/elsewhere";
  ASSERT_EQ(mkdir(real.c_str(), 0700), 0);
  ASSERT_EQ(symlink(real.c_str(), sock_dir().c_str()), 0);
  const std::string victim = real + "/bus-eps.sock";
  const int fd = open(victim.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  close(fd);
  kaldro_plat_stream_server s;
  EXPECT_EQ(kaldro_plat_stream_listen("eps", &s), KALDRO_ERR_IO);
  expect_cleared(s);
  EXPECT_TRUE(exists(victim));

  // A plain file where the directory should be is refused the same way.
  ASSERT_EQ(unlink(sock_dir().c_str()), 0);
  const int f = open(sock_dir().c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(f, 0);
  close(f);
  EXPECT_EQ(kaldro_plat_stream_listen("eps", &s), KALDRO_ERR_IO);
}

TEST_F(Stream, StaleSocketReplaced) {
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  const int stale = raw_bind(sock_path("zeta"), true);
  ASSERT_GE(stale, 0);
  close(stale);  // the file stays, with nobody listening
  ASSERT_TRUE(exists(sock_path("zeta")));
  ASSERT_EQ(raw_connect(sock_path("zeta")), -1);

  kaldro_plat_stream_server s;
  ASSERT_EQ(kaldro_plat_stream_listen("zeta", &s), KALDRO_OK);
  const int client = raw_connect(sock_path("zeta"));
  ASSERT_GE(client, 0);
  kaldro_plat_stream_conn c;
  ASSERT_EQ(kaldro_plat_stream_accept(&s, &c), KALDRO_OK);
  ASSERT_TRUE(raw_write(client, "hi"));
  char got[2];
  EXPECT_EQ(kaldro_plat_stream_read_exact(&c, got, 2), KALDRO_OK);
  EXPECT_EQ(std::string(got, 2), "hi");
  close(client);
  kaldro_plat_stream_conn_close(&c);
  kaldro_plat_stream_server_close(&s);
}

TEST_F(Stream, LiveServerKeepsItsName) {
  kaldro_plat_stream_server first;
  ASSERT_EQ(kaldro_plat_stream_listen("eta", &first), KALDRO_OK);
  struct stat before, after;
  ASSERT_EQ(lstat(sock_path("eta").c_str(), &before), 0);

  kaldro_plat_stream_server second;
  mark(&second);
  EXPECT_EQ(kaldro_plat_stream_listen("eta", &second), KALDRO_ERR_IO);
  expect_cleared(second);
  EXPECT_EQ(kaldro_plat_stream_server_close(&second), KALDRO_OK);
  ASSERT_EQ(lstat(sock_path("eta").c_str(), &after), 0);
  EXPECT_EQ(before.st_ino, after.st_ino);

  // The first server still answers at its name. (The refused listen's probe connection
  // is queued ahead; the first server sees it end without a byte.)
  kaldro_plat_stream_conn probe, c, client;
  ASSERT_EQ(kaldro_plat_stream_accept(&first, &probe), KALDRO_OK);
  uint8_t b;
  EXPECT_EQ(kaldro_plat_stream_read_exact(&probe, &b, 1), KALDRO_ERR_IO);
  kaldro_plat_stream_conn_close(&probe);
  ASSERT_EQ(kaldro_plat_stream_connect("eta", &client), KALDRO_OK);
  ASSERT_EQ(kaldro_plat_stream_accept(&first, &c), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_stream_write_all(&client, "k", 1), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_stream_read_exact(&c, &b, 1), KALDRO_OK);
  EXPECT_EQ(b, 'k');
  kaldro_plat_stream_conn_close(&client);
  kaldro_plat_stream_conn_close(&c);
  kaldro_plat_stream_server_close(&first);
}

TEST_F(Stream, ConnectFailures) {
  kaldro_plat_stream_conn c;
  memset(&c, 0xab, sizeof c);
  EXPECT_EQ(kaldro_plat_stream_connect("theta", &c), KALDRO_ERR_IO);  // no directory
  ASSERT_EQ(mkdir(sock_dir().c_str(), 0700), 0);
  EXPECT_EQ(kaldro_plat_stream_connect("theta", &c), KALDRO_ERR_IO);  // no socket
  const int stale = raw_bind(sock_path("theta"), false);
  close(stale);
  EXPECT_EQ(kaldro_plat_stream_connect("theta", &c), KALDRO_ERR_IO);  // nobody listens
  EXPECT_TRUE(all_bytes(&c, sizeof c, 0xab));
  EXPECT_TRUE(exists(sock_path("theta")));  // connect removes nothing
}

TEST_F(Stream, AcceptAndConnectExchangeBytes) {
  kaldro_plat_stream_server s;
  ASSERT_EQ(kaldro_plat_stream_listen("iota", &s), KALDRO_OK);
  kaldro_plat_stream_conn client, served;
  memset(&client, 0xab, sizeof client);
  memset(&served, 0xab, sizeof served);
  ASSERT_EQ(kaldro_plat_stream_connect("iota", &client), KALDRO_OK);
  ASSERT_EQ(kaldro_plat_stream_accept(&s, &served), KALDRO_OK);
  EXPECT_TRUE(all_bytes(client.reserved, sizeof client.reserved, 0));
  EXPECT_TRUE(all_bytes(served.reserved, sizeof served.reserved, 0));

  // Larger than a socket buffer in both directions, so both sides loop.
  const std::string up(3 << 20, 'u');
  std::string down(3 << 20, '\0');
  for (size_t i = 0; i < down.size(); ++i) down[i] = static_cast<char>(i * 131 + 7);
  std::string got_up(up.size(), '\0');
  kaldro_status st_server = -1;
  std::thread server([&] {
    st_server = kaldro_plat_stream_read_exact(&served, got_up.data(), got_up.size());
    if (st_server == KALDRO_OK)
      st_server = kaldro_plat_stream_write_all(&served, down.data(), down.size());
  });
  EXPECT_EQ(kaldro_plat_stream_write_all(&client, up.data(), up.size()), KALDRO_OK);
  std::string got_down(down.size(), '\0');
  EXPECT_EQ(kaldro_plat_stream_read_exact(&client, got_down.data(), got_down.size()), KALDRO_OK);
  server.join();
  EXPECT_EQ(st_server, KALDRO_OK);
  EXPECT_TRUE(got_up == up);
  EXPECT_TRUE(got_down == down);

  // Closing a connection leaves its field as it was; the peer then sees the end.
  const int fd = served.fd;
  EXPECT_EQ(kaldro_plat_stream_conn_close(&served), KALDRO_OK);
  EXPECT_EQ(served.fd, fd);
  char b;
  EXPECT_EQ(kaldro_plat_stream_read_exact(&client, &b, 1), KALDRO_ERR_IO);
  kaldro_plat_stream_conn_close(&client);

  // Accept on a closed server fails and leaves the record alone.
  kaldro_plat_stream_server_close(&s);
  kaldro_plat_stream_conn none;
  memset(&none, 0xab, sizeof none);
  EXPECT_EQ(kaldro_plat_stream_accept(&s, &none), KALDRO_ERR_IO);
  EXPECT_TRUE(all_bytes(&none, sizeof none, 0xab));
}

TEST(StreamIo, LengthZeroAndEndOfStream) {
  EXPECT_EQ(kaldro_plat_stream_read_exact(nullptr, nullptr, 0), KALDRO_OK);
  EXPECT_EQ(kaldro_plat_stream_write_all(nullptr, nullptr, 0), KALDRO_OK);
  char buf[4];
  EXPECT_EQ(kaldro_plat_stream_read_exact(nullptr, buf, 1), KALDRO_ERR_NULL);
  int sv[2];
  ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv), 0);
  kaldro_plat_stream_conn c = {sv[0], {0}};
  EXPECT_EQ(kaldro_plat_stream_read_exact(&c, nullptr, 1), KALDRO_ERR_NULL);
  EXPECT_EQ(kaldro_plat_stream_write_all(&c, nullptr, 1), KALDRO_ERR_NULL);
  ASSERT_EQ(write(sv[1], "abc", 3), 3);
  close(sv[1]);
  memset(buf, 'x', sizeof buf);
  EXPECT_EQ(kaldro_plat_stream_read_exact(&c, buf, 4), KALDRO_ERR_IO);  // 3 of 4, then end
  EXPECT_EQ(std::string(buf, 3), "abc");
  close(sv[0]);
  // A descriptor that is not open is a read error, not a crash.
  kaldro_plat_stream_conn bad = {-1, {0}};
  EXPECT_EQ(kaldro_plat_stream_read_exact(&bad, buf, 1), KALDRO_ERR_IO);
  EXPECT_EQ(kaldro_plat_stream_write_all(&bad, "a", 1), KALDRO_ERR_IO);
}

// Signals delivered to a thread blocked in a read or write interrupt the system call
// (the handler is installed without SA_RESTART); the stream calls must carry on.
std::atomic<int> g_signals{0};
void count_signal(int) { g_signals.fetch_add(1); }

class Interrupted : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(20);
    struct sigaction sa;
    memset(&sa, 0, sizeof sa);
    sa.sa_handler = count_signal;
    sigemptyset(&sa.sa_mask);
    sa.sa_flags = 0;  // no SA_RESTART: blocked calls fail with EINTR
    sigaction(SIGUSR1, &sa, &saved_);
    g_signals = 0;
    ASSERT_EQ(socketpair(AF_UNIX, SOCK_STREAM, 0, sv_), 0);
  }
  void TearDown() override {
    close(sv_[0]);
    close(sv_[1]);
    sigaction(SIGUSR1, &saved_, nullptr);
    alarm(0);
  }
  struct sigaction saved_;
  int sv_[2];
};

TEST_F(Interrupted, ReadIsResumed) {
  const std::string data = std::string(5000, 'r') + "end";
  std::string got(data.size(), '\0');
  kaldro_plat_stream_conn c = {sv_[0], {0}};
  std::atomic<kaldro_status> st{-1};
  std::thread reader([&] { st = kaldro_plat_stream_read_exact(&c, got.data(), got.size()); });
  const pthread_t target = reader.native_handle();
  // Signal the reader while it waits with nothing, then with part of the data.
  for (size_t sent = 0; sent < data.size(); sent += 1000) {
    std::this_thread::sleep_for(20ms);
    pthread_kill(target, SIGUSR1);
    std::this_thread::sleep_for(20ms);
    pthread_kill(target, SIGUSR1);
    const size_t n = std::min<size_t>(1000, data.size() - sent);
    EXPECT_EQ(write(sv_[1], data.data() + sent, n), static_cast<ssize_t>(n));
  }
  shutdown(sv_[1], SHUT_WR);  // ends a reader that gave up early or wants more
  reader.join();
  EXPECT_EQ(st.load(), KALDRO_OK);
  EXPECT_TRUE(got == data);
  EXPECT_GE(g_signals.load(), 10);
}

TEST_F(Interrupted, WriteIsResumed) {
  // Fill the socket first, so that the write blocks before its first byte and each
  // signal fails the call outright; then drain slowly, signalling on the way.
  int small = 4096;
  setsockopt(sv_[0], SOL_SOCKET, SO_SNDBUF, &small, sizeof small);
  std::string prefill;
  const std::string chunk(512, 'f');
  while (send(sv_[0], chunk.data(), chunk.size(), MSG_DONTWAIT) == static_cast<ssize_t>(chunk.size()))
    prefill += chunk;
  std::string data(1 << 20, '\0');
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i ^ (i >> 9));
  kaldro_plat_stream_conn c = {sv_[0], {0}};
  std::atomic<kaldro_status> st{-1};
  std::thread writer([&] { st = kaldro_plat_stream_write_all(&c, data.data(), data.size()); });
  const pthread_t target = writer.native_handle();
  for (int i = 0; i < 5; ++i) {
    std::this_thread::sleep_for(10ms);
    pthread_kill(target, SIGUSR1);
  }
  const std::string expected = prefill + data;
  std::string got;
  char buf[8192];
  int rounds = 0;
  while (got.size() < expected.size()) {
    if (rounds < 40) {
      std::this_thread::sleep_for(2ms);
      pthread_kill(target, SIGUSR1);
      ++rounds;
    }
    pollfd p = {sv_[1], POLLIN, 0};
    const ssize_t n = poll(&p, 1, 3000) > 0 ? read(sv_[1], buf, rounds < 40 ? 1024 : sizeof buf) : -1;
    if (n <= 0) {
      ADD_FAILURE() << "the write stopped after " << got.size() << " bytes";
      shutdown(sv_[1], SHUT_RDWR);  // lets a writer that is still blocked return
      break;
    }
    got.append(buf, static_cast<size_t>(n));
  }
  writer.join();
  EXPECT_EQ(st.load(), KALDRO_OK);
  EXPECT_TRUE(got == expected);
  EXPECT_GE(g_signals.load(), 5);
}

// Starts `body` in a child with SIGPIPE at its default action and unblocked; the child
// exits with what body returns.
template <typename Body>
pid_t start_child_with_default_sigpipe(Body body) {
  const pid_t pid = fork();
  if (pid == 0) {
    alarm(10);
    signal(SIGPIPE, SIG_DFL);
    sigset_t set;
    sigemptyset(&set);
    sigaddset(&set, SIGPIPE);
    sigprocmask(SIG_UNBLOCK, &set, nullptr);
    _exit(body());
  }
  return pid;
}

// The child's exit code, or minus the signal that ended it.
int wait_child(pid_t pid) {
  int status = 0;
  waitpid(pid, &status, 0);
  return WIFEXITED(status) ? WEXITSTATUS(status) : -WTERMSIG(status);
}

TEST(StreamIo, ClosedPeerIsAnErrorNotSigpipe) {
  const pid_t pid = start_child_with_default_sigpipe([] {
    int sv[2];
    if (socketpair(AF_UNIX, SOCK_STREAM, 0, sv) != 0) return 100;
    close(sv[1]);
    kaldro_plat_stream_conn c = {sv[0], {0}};
    return static_cast<int>(kaldro_plat_stream_write_all(&c, "ping", 4));
  });
  EXPECT_EQ(wait_child(pid), KALDRO_ERR_IO);
}

TEST_F(Stream, ClosedPeerOfAcceptedConnection) {
  kaldro_plat_stream_server s;
  ASSERT_EQ(kaldro_plat_stream_listen("kappa", &s), KALDRO_OK);
  const pid_t pid = start_child_with_default_sigpipe([] {
    kaldro_plat_stream_conn c;
    if (kaldro_plat_stream_connect("kappa", &c) != KALDRO_OK) return 100;
    char b;
    // Wait for the server to close, then write into the dead connection.
    if (kaldro_plat_stream_read_exact(&c, &b, 1) != KALDRO_ERR_IO) return 101;
    const std::string big(1 << 20, 'w');
    return static_cast<int>(kaldro_plat_stream_write_all(&c, big.data(), big.size()));
  });
  kaldro_plat_stream_conn served;
  ASSERT_EQ(kaldro_plat_stream_accept(&s, &served), KALDRO_OK);
  kaldro_plat_stream_conn_close(&served);
  EXPECT_EQ(wait_child(pid), KALDRO_ERR_IO);
  kaldro_plat_stream_server_close(&s);
}

}  // namespace
