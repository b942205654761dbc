// Shared pieces of the socket and bus tests: a private HOME per test, a watchdog that
// ends a test that would hang, raw socket peers written directly against the system,
// a thread that keeps a bus server answering, and a count of open descriptors.
#pragma once

#include <gtest/gtest.h>

#include <kaldro.h>

#include <dirent.h>
#include <errno.h>
#include <fcntl.h>
#include <poll.h>
#include <signal.h>
#include <stdlib.h>
#include <string.h>
#include <sys/resource.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <string>
#include <thread>
#include <vector>

namespace bus_test {

constexpr uid_t kNobody = 65534;

// Every test gets a fresh HOME under /tmp and a watchdog: a test still running after
// 20 seconds is ended by SIGALRM instead of hanging the suite.
class BusTest : public ::testing::Test {
 protected:
  void SetUp() override {
    alarm(20);
    char tmpl[] = "/tmp/kaldro-bus-XXXXXX";
    ASSERT_NE(mkdtemp(tmpl), nullptr);
    home_ = tmpl;
    setenv("HOME", home_.c_str(), 1);
  }
  void TearDown() override {
    std::error_code ec;
    std::filesystem::remove_all(home_, ec);
    alarm(0);
  }

  // The socket path of a bus name, formatted here independently of the library.
  std::string sock_path(const std::string &name) const {
    return home_ + "/.kaldro/bus-" + name + ".sock";
  }
  std::string sock_dir() const { return home_ + "/.kaldro"; }
  // A name whose socket path is exactly `path_len` bytes long.
  std::string name_for_path_length(size_t path_len) const {
    const size_t fixed = sock_path("").size();
    return std::string(path_len - fixed, 'n');
  }

  std::string home_;
};

inline bool exists(const std::string &path) {
  struct stat st;
  return lstat(path.c_str(), &st) == 0;
}

inline sockaddr_un address_of(const std::string &path) {
  sockaddr_un addr;
  memset(&addr, 0, sizeof addr);
  addr.sun_family = AF_UNIX;
  memcpy(addr.sun_path, path.data(), path.size());
  return addr;
}

// A raw client socket connected to `path`, or -1.
inline int raw_connect(const std::string &path) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un addr = address_of(path);
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0) {
    close(fd);
    return -1;
  }
  return fd;
}

// A raw socket bound at `path` (listening when `listening`), or -1.
inline int raw_bind(const std::string &path, bool listening) {
  const int fd = socket(AF_UNIX, SOCK_STREAM, 0);
  const sockaddr_un addr = address_of(path);
  if (bind(fd, reinterpret_cast<const sockaddr *>(&addr), sizeof addr) != 0 ||
      (listening && listen(fd, 8) != 0)) {
    close(fd);
    return -1;
  }
  return fd;
}

inline bool raw_write(int fd, const std::string &bytes) {
  size_t done = 0;
  while (done < bytes.size()) {
    const ssize_t n = send(fd, bytes.data() + done, bytes.size() - done, MSG_NOSIGNAL);
    if (n <= 0) return false;
    done += static_cast<size_t>(n);
  }
  return true;
}

// Reads until the peer closes (or resets) the stream, or `timeout_ms` pass without data;
// `closed` tells which.
inline std::string raw_read_to_end(int fd, bool *closed, int timeout_ms = 3000) {
  std::string got;
  *closed = false;
  char buf[65536];
  for (;;) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, timeout_ms) <= 0) return got;
    const ssize_t n = recv(fd, buf, sizeof buf, 0);
    if (n <= 0) {
      *closed = n == 0 || errno == ECONNRESET;
      return got;
    }
    got.append(buf, static_cast<size_t>(n));
  }
}

// Reads exactly n bytes, or fewer when the stream ends or stays silent for 3 s.
inline std::string raw_read(int fd, size_t n) {
  std::string got;
  char buf[65536];
  while (got.size() < n) {
    pollfd p = {fd, POLLIN, 0};
    if (poll(&p, 1, 3000) <= 0) break;
    const size_t want = n - got.size() < sizeof buf ? n - got.size() : sizeof buf;
    const ssize_t r = recv(fd, buf, want, 0);
    if (r <= 0) break;
    got.append(buf, static_cast<size_t>(r));
  }
  return got;
}

inline std::string be32(uint32_t v) {
  const char b[4] = {char(v >> 24), char(v >> 16), char(v >> 8), char(v)};
  return std::string(b, 4);
}

inline std::string frame(const std::string &payload) {
  return be32(static_cast<uint32_t>(payload.size())) + payload;
}

// The number of descriptors open in this process (the entries of /proc/self/fd), or -1.
inline int open_descriptors() {
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  int n = 0;
  while (const dirent *e = readdir(d))
    if (e->d_name[0] != '.') ++n;
  closedir(d);
  return n;
}

// Runs accept_one on its own thread until the listening socket is shut down, counting
// the calls that returned KALDRO_OK.
class ServerThread {
 public:
  explicit ServerThread(kaldro_bus_server *server) : server_(server) {
    thread_ = std::thread([this] {
      while (kaldro_bus_server_accept_one(server_) == KALDRO_OK) served_.fetch_add(1);
    });
  }
  ~ServerThread() { finish(); }
  // Wakes the pending accept and waits for the thread; the server stays valid.
  void finish() {
    if (!thread_.joinable()) return;
    shutdown(server_->stream.fd, SHUT_RDWR);
    thread_.join();
  }
  int served() const { return served_.load(); }

 private:
  kaldro_bus_server *server_;
  std::atomic<int> served_{0};
  std::thread thread_;
};

// Uses up every free descriptor below a low limit, so that creating a socket fails;
// everything is given back on destruction.
class NoFreeDescriptors {
 public:
  NoFreeDescriptors() {
    getrlimit(RLIMIT_NOFILE, &saved_);
    rlimit low = saved_;
    low.rlim_cur = 64;
    setrlimit(RLIMIT_NOFILE, &low);
    for (;;) {
      const int fd = open("/dev/null", O_RDONLY);
      if (fd < 0) break;
      held_.push_back(fd);
    }
  }
  ~NoFreeDescriptors() {
    for (int fd : held_) close(fd);
    setrlimit(RLIMIT_NOFILE, &saved_);
  }

 private:
  rlimit saved_;
  std::vector<int> held_;
};

}  // namespace bus_test
