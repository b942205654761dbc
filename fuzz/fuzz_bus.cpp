// Fuzzes the bus server with whatever bytes a peer may send: each input is written
// over a fresh connection whose writing side is then shut, and the server must serve
// it without crashing or leaking a descriptor; every eighth input (the first of a
// process included, so a single input rerun checks it too) a well-formed request on a
// second connection must then be answered as ever. No thread is started: the input
// fits the socket's buffer, so it is sent whole before the server reads a byte.
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
  const FreePair before = lowest_free();
  // The fuzzed connection: everything is sent (it fits the socket's buffer) and the
  // writing side is shut, so that the server sees the end of the stream after it.
  kaldro_plat_stream_conn conn;
  if (kaldro_plat_stream_connect("fuzz", &conn) != KALDRO_OK) abort();
  if (size && kaldro_plat_stream_write_all(&conn, data, size) != KALDRO_OK) abort();
  shutdown(conn.fd, SHUT_WR);
  if (kaldro_bus_server_accept_one(server) != KALDRO_OK) abort();
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
