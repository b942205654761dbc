// Fuzzes the bus server with whatever bytes a peer may send: each input is written
// over a fresh connection whose writing side is then shut, and the server must serve
// it without crashing or leaking a descriptor, answering exactly as a plain model of
// the framing says (every frame in turn, until a frame, the handler or the stream ends
// the connection). Every eighth input (the first of a process included, so a single
// input rerun checks it too) a well-formed request on a second connection must then be
// answered as ever. No thread is started: an input of at most 64 frames and 64 KiB is
// sent whole before the server reads a byte, and its replies fit the socket's buffer
// until the server is done, so the replies are read afterwards. (A peer that sends more
// and reads nothing stalls the server, which writes each reply before it reads on.)
#include <fcntl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "kaldro.h"

namespace {

kaldro_bus_server *server = nullptr;

// Replies with the request reversed; a request starting with 'X' is declined and one
// starting with 'O' over-reports its reply.
kaldro_status handler(const uint8_t *req, uint64_t len, uint8_t *reply, uint64_t *reply_len,
                      void *) {
  if (len > *reply_len) return KALDRO_ERR_CAPACITY;
  if (len && req[0] == 'X') return KALDRO_ERR_INVALID;
  for (uint64_t i = 0; i < len; ++i) reply[i] = req[len - 1 - i];
  *reply_len = (len && req[0] == 'O') ? *reply_len + 1 : len;
  return KALDRO_OK;
}

// The two lowest free descriptors: a descriptor left open by a connection's end would
// take one of them (the client's and the server's end of a connection are the two that
// open next).
struct FreePair {
  int a, b;
  bool operator!=(const FreePair &o) const { return a != o.a || b != o.b; }
};
FreePair lowest_free() {
  const int a = fcntl(0, F_DUPFD_CLOEXEC, 0);
  const int b = fcntl(0, F_DUPFD_CLOEXEC, 0);
  if (a < 0 || b < 0) abort();
  close(a);
  close(b);
  return {a, b};
}

uint64_t inputs = 0;

constexpr size_t kMaxFrames = 64;
constexpr size_t kMaxInput = 64 << 10;
constexpr uint32_t kMaxRequest = 1048576;

uint32_t be32(const uint8_t *p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}

// The input cut after its 64th whole frame.
size_t first_frames(const uint8_t *data, size_t size) {
  size_t pos = 0;
  for (size_t frames = 0; frames < kMaxFrames; ++frames) {
    if (size - pos < 4) return size;
    const uint64_t len = be32(data + pos);
    if (len > size - pos - 4) return size;
    pos += 4 + len;
  }
  return pos;
}

// The reply stream the handler's answers make: one frame per request until a request
// is too long or cut short, is declined ('X') or over-reports its reply ('O').
std::string model(const uint8_t *data, size_t size) {
  std::string out;
  size_t pos = 0;
  while (size - pos >= 4) {
    const uint32_t len = be32(data + pos);
    if (len > kMaxRequest || len > size - pos - 4) break;
    const uint8_t *req = data + pos + 4;
    if (len && (req[0] == 'X' || req[0] == 'O')) break;
    out.append(reinterpret_cast<const char *>(data + pos), 4);
    for (uint32_t i = 0; i < len; ++i) out.push_back(char(req[len - 1 - i]));
    pos += 4 + len;
  }
  return out;
}

// Everything the server sent until it closed the connection.
std::string drain(int fd) {
  std::string got;
  char buf[8192];
  for (;;) {
    const ssize_t n = read(fd, buf, sizeof buf);
    if (n < 0) abort();
    if (n == 0) return got;
    got.append(buf, size_t(n));
  }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  struct stat st;
  std::string root = stat("/dev/shm", &st) == 0 ? "/dev/shm" : "/tmp";
  std::string home = root + "/kaldro-fuzz-bus-" + std::to_string(getpid());
  mkdir(home.c_str(), 0700);
  setenv("HOME", home.c_str(), 1);
  if (kaldro_bus_serve("fuzz", handler, nullptr, &server) != KALDRO_OK) abort();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size > kMaxInput) return 0;
  size = first_frames(data, size);
  const FreePair before = lowest_free();
  // The fuzzed connection: everything is sent (it fits the socket's buffer) and the
  // writing side is shut, so that the server sees the end of the stream after it.
  kaldro_plat_stream_conn conn;
  if (kaldro_plat_stream_connect("fuzz", &conn) != KALDRO_OK) abort();
  if (size && kaldro_plat_stream_write_all(&conn, data, size) != KALDRO_OK) abort();
  shutdown(conn.fd, SHUT_WR);
  if (kaldro_bus_server_accept_one(server) != KALDRO_OK) abort();
  if (drain(conn.fd) != model(data, size)) abort();
  kaldro_plat_stream_conn_close(&conn);

  if (lowest_free() != before) abort();  // no descriptor left behind
  if (inputs++ % 8 != 0) return 0;

  // Then a well-formed request on a new connection is answered as ever.
  kaldro_plat_stream_conn good;
  if (kaldro_plat_stream_connect("fuzz", &good) != KALDRO_OK) abort();
  const uint8_t frame[] = {0, 0, 0, 3, 'a', 'b', 'c'};
  if (kaldro_plat_stream_write_all(&good, frame, sizeof frame) != KALDRO_OK) abort();
  shutdown(good.fd, SHUT_WR);
  if (kaldro_bus_server_accept_one(server) != KALDRO_OK) abort();
  uint8_t reply[7];
  if (kaldro_plat_stream_read_exact(&good, reply, 7) != KALDRO_OK) abort();
  const uint8_t want[] = {0, 0, 0, 3, 'c', 'b', 'a'};
  if (memcmp(reply, want, 7) != 0) abort();
  kaldro_plat_stream_conn_close(&good);

  if (lowest_free() != before) abort();
  return 0;
}
