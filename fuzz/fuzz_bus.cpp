// Fuzzes the bus server with whatever bytes a peer may send: each input is written
// over a fresh connection, which is closed (or first half-read), and the server must
// serve it without crashing, leaking a descriptor, or failing the next client.
#include <dirent.h>
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

int open_descriptors() {
  int n = 0;
  DIR *d = opendir("/proc/self/fd");
  if (d == nullptr) return -1;
  while (readdir(d) != nullptr) ++n;
  closedir(d);
  return n;
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
  const int before = open_descriptors();
  // The fuzzed connection: everything is sent (it fits the socket's buffer) and the
  // writing side is shut, so that the server sees the end of the stream after it.
  kaldro_plat_stream_conn conn;
  if (kaldro_plat_stream_connect("fuzz", &conn) != KALDRO_OK) abort();
  if (size && kaldro_plat_stream_write_all(&conn, data, size) != KALDRO_OK) abort();
  shutdown(conn.fd, SHUT_WR);
  if (kaldro_bus_server_accept_one(server) != KALDRO_OK) abort();
  kaldro_plat_stream_conn_close(&conn);

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

  if (open_descriptors() != before) abort();  // no descriptor left behind
  return 0;
}
