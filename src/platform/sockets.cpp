// Local stream sockets: listening on and connecting to the named socket under the
// user's home directory, accepting connections, and exact reads and writes that resume
// after interruptions and never raise SIGPIPE.
#include "platform/streams.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <stdlib.h>
#include <string.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/uio.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstddef>

namespace {

static_assert(sizeof(kaldro_plat_stream_server) == 528, "server record is 528 bytes");
static_assert(sizeof(kaldro_plat_stream_conn) == 16, "connection record is 16 bytes");
static_assert(offsetof(kaldro_plat_stream_server, fd) == 512, "descriptor follows the path");

constexpr size_t kPathCapacity = sizeof(kaldro_plat_stream_server::path);  // 511 + NUL
// The portable local socket address holds 104 path bytes, its NUL included.
constexpr size_t kSocketPathField = 104;
constexpr socklen_t kAddressLength = offsetof(sockaddr_un, sun_path) + kSocketPathField;
static_assert(sizeof(sockaddr_un::sun_path) >= kSocketPathField, "socket path field too small");
static_assert(kAddressLength == 106, "family field plus 104 path bytes");

// One system call moves at most this much, well inside ssize_t on every platform.
constexpr uint64_t kMaxChunk = uint64_t(1) << 30;

// HOME, or null when it is unset or empty.
const char *home_dir() {
  const char *home = getenv("HOME");
  return home && *home ? home : nullptr;
}

// Formats "<home>/.kaldro/bus-<name>.sock" into out[kPathCapacity]; false (out cleared)
// when it would exceed 511 characters.
bool format_socket_path(char *out, const char *home, const char *name) {
  const int n = snprintf(out, kPathCapacity, "%s/.kaldro/bus-%s.sock", home, name);
  if (n < 0 || static_cast<size_t>(n) >= kPathCapacity) {
    memset(out, 0, kPathCapacity);
    return false;
  }
  return true;
}

// The socket address of `path`; false when the path does not fit its 104-byte field.
bool socket_address(const char *path, sockaddr_un *addr) {
  memset(addr, 0, sizeof *addr);
  addr->sun_family = AF_UNIX;
  const size_t len = strlen(path);
  if (len >= kSocketPathField) return false;
  memcpy(addr->sun_path, path, len);
  return true;
}

int new_stream_socket(int extra_flags = 0) {
  return socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | extra_flags, 0);
}

// The socket directory keeps everyone else away from the socket file, so it must be a
// real directory of this user, closed to group and others. One of the user's own that
// is open to them is tightened to 0700.
bool socket_directory_is_private(const char *home) {
  char dir[kPathCapacity];
  const int n = snprintf(dir, sizeof dir, "%s/.kaldro", home);
  if (n < 0 || static_cast<size_t>(n) >= sizeof dir) return false;
  struct stat st;
  if (lstat(dir, &st) != 0 || !S_ISDIR(st.st_mode)) return false;  // links included
  if (st.st_uid != geteuid()) return false;
  if ((st.st_mode & 077) != 0 && chmod(dir, st.st_mode & 0700) != 0) return false;
  return true;
}

enum class Probe { silent, answers, failed };

// Whether a server is listening at the address: a non-blocking connect succeeds, or
// finds the backlog full, only when one is. No server (a stale file, or no file) is
// refused at once.
Probe probe_server(const sockaddr_un *addr) {
  const int s = new_stream_socket(SOCK_NONBLOCK);
  if (s < 0) return Probe::failed;
  int rc;
  do {
    rc = connect(s, reinterpret_cast<const sockaddr *>(addr), kAddressLength);
  } while (rc != 0 && errno == EINTR);
  const bool answers = rc == 0 || errno == EAGAIN || errno == EINPROGRESS || errno == EISCONN;
  close(s);
  return answers ? Probe::answers : Probe::silent;
}

void store_conn(kaldro_plat_stream_conn *conn, int fd) {
  memset(conn, 0, sizeof *conn);
  conn->fd = fd;
}

}  // namespace

namespace kaldro {

bool stream_name_is_valid(const char *name) { return strchr(name, '/') == nullptr; }

kaldro_status stream_read(int fd, void *buf, uint64_t len) {
  uint8_t *at = static_cast<uint8_t *>(buf);
  while (len > 0) {
    const ssize_t n = read(fd, at, static_cast<size_t>(len < kMaxChunk ? len : kMaxChunk));
    if (n > 0) {
      at += n;
      len -= static_cast<uint64_t>(n);
    } else if (n == 0 || errno != EINTR) {
      return KALDRO_ERR_IO;  // the peer closed, or a real error
    }
  }
  return KALDRO_OK;
}

uint64_t stream_read_some(int fd, void *first, uint64_t first_len, void *second,
                          uint64_t second_len) {
  iovec iov[2] = {{first, static_cast<size_t>(first_len < kMaxChunk ? first_len : kMaxChunk)},
                  {second, static_cast<size_t>(second_len < kMaxChunk ? second_len : kMaxChunk)}};
  for (;;) {
    const ssize_t n = readv(fd, iov, 2);
    if (n > 0) return static_cast<uint64_t>(n);
    if (n == 0 || errno != EINTR) return 0;
  }
}

kaldro_status stream_write(int fd, const WritePiece *pieces, size_t count) {
  constexpr size_t kMaxVector = 4;
  size_t piece = 0;     // the piece the cursor is in
  uint64_t offset = 0;  // bytes of that piece already written
  for (;;) {
    // Gather up to kMaxVector pending pieces from the cursor, skipping empty ones.
    iovec iov[kMaxVector];
    size_t used = 0;
    uint64_t off = offset;
    for (size_t i = piece; i < count && used < kMaxVector; ++i, off = 0) {
      const uint64_t rest = pieces[i].len - off;
      if (rest == 0) continue;
      iov[used].iov_base = const_cast<uint8_t *>(static_cast<const uint8_t *>(pieces[i].data) + off);
      iov[used].iov_len = static_cast<size_t>(rest < kMaxChunk ? rest : kMaxChunk);
      ++used;
    }
    if (used == 0) return KALDRO_OK;
    msghdr msg;
    memset(&msg, 0, sizeof msg);
    msg.msg_iov = iov;
    msg.msg_iovlen = used;
    const ssize_t n = sendmsg(fd, &msg, MSG_NOSIGNAL);
    if (n < 0) {
      if (errno == EINTR) continue;
      return KALDRO_ERR_IO;
    }
    // Move the cursor past what went out.
    uint64_t sent = static_cast<uint64_t>(n);
    while (piece < count) {
      const uint64_t rest = pieces[piece].len - offset;
      if (sent < rest) {
        offset += sent;
        break;
      }
      sent -= rest;
      ++piece;
      offset = 0;
    }
  }
}

}  // namespace kaldro

extern "C" {

KALDRO_API int kaldro_plat_has_streams(void) { return 1; }

KALDRO_API kaldro_status kaldro_plat_stream_listen(const char *name,
                                                   kaldro_plat_stream_server *server) {
  if (!name || !server) return KALDRO_ERR_NULL;
  memset(server, 0, sizeof *server);
  server->fd = -1;
  if (!kaldro::stream_name_is_valid(name)) return KALDRO_ERR_INVALID;

  // Create the socket directory; it may well exist already.
  const char *home = home_dir();
  if (home) {
    char dir[kPathCapacity];
    const int n = snprintf(dir, sizeof dir, "%s/.kaldro", home);
    if (n >= 0 && static_cast<size_t>(n) < sizeof dir) mkdir(dir, 0700);
  }

  home = home_dir();
  if (!home) return KALDRO_ERR_INVALID;
  char *path = server->path;
  if (!format_socket_path(path, home, name)) return KALDRO_ERR_CAPACITY;

  const int fd = new_stream_socket();
  if (fd < 0) {
    memset(path, 0, kPathCapacity);
    return KALDRO_ERR_IO;
  }
  // Every check comes before the stale file is removed: a refused listen removes
  // nothing, and leaves no path behind for a later close to remove either.
  kaldro_status status = KALDRO_OK;
  sockaddr_un addr;
  if (!socket_address(path, &addr)) {
    status = KALDRO_ERR_CAPACITY;
  } else if (!socket_directory_is_private(home)) {
    status = KALDRO_ERR_IO;
  } else {
    // A live server keeps its name; only a file that nobody answers at is replaced.
    switch (probe_server(&addr)) {
      case Probe::answers:
      case Probe::failed:
        status = KALDRO_ERR_IO;
        break;
      case Probe::silent:
        unlink(path);
        break;
    }
  }
  if (status == KALDRO_OK &&
      (bind(fd, reinterpret_cast<const sockaddr *>(&addr), kAddressLength) != 0 ||
       listen(fd, 8) != 0)) {
    status = KALDRO_ERR_IO;
  }
  if (status != KALDRO_OK) {
    close(fd);
    memset(path, 0, kPathCapacity);
    return status;
  }
  chmod(path, 0600);
  server->fd = fd;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_stream_accept(kaldro_plat_stream_server *server,
                                                   kaldro_plat_stream_conn *conn) {
  if (!server || !conn) return KALDRO_ERR_NULL;
  const int fd = accept4(server->fd, nullptr, nullptr, SOCK_CLOEXEC);
  if (fd < 0) return KALDRO_ERR_IO;
  store_conn(conn, fd);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_stream_server_close(kaldro_plat_stream_server *server) {
  if (!server) return KALDRO_ERR_NULL;
  if (server->fd >= 0) close(server->fd);
  server->fd = -1;
  if (server->path[0] != '\0') unlink(server->path);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_stream_connect(const char *name,
                                                    kaldro_plat_stream_conn *conn) {
  if (!name || !conn) return KALDRO_ERR_NULL;
  if (!kaldro::stream_name_is_valid(name)) return KALDRO_ERR_INVALID;
  const char *home = home_dir();
  if (!home) return KALDRO_ERR_INVALID;
  char path[kPathCapacity];
  if (!format_socket_path(path, home, name)) return KALDRO_ERR_CAPACITY;
  const int fd = new_stream_socket();
  if (fd < 0) return KALDRO_ERR_IO;
  sockaddr_un addr;
  if (!socket_address(path, &addr)) {
    close(fd);
    return KALDRO_ERR_CAPACITY;
  }
  if (connect(fd, reinterpret_cast<const sockaddr *>(&addr), kAddressLength) != 0) {
    close(fd);
    return KALDRO_ERR_IO;
  }
  store_conn(conn, fd);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_stream_read_exact(kaldro_plat_stream_conn *conn,
                                                       void *buffer, uint64_t length) {
  if (length == 0) return KALDRO_OK;
  if (!conn || !buffer) return KALDRO_ERR_NULL;
  return kaldro::stream_read(conn->fd, buffer, length);
}

KALDRO_API kaldro_status kaldro_plat_stream_write_all(kaldro_plat_stream_conn *conn,
                                                      const void *data, uint64_t length) {
  if (length == 0) return KALDRO_OK;
  if (!conn || !data) return KALDRO_ERR_NULL;
  const kaldro::WritePiece piece = {data, length};
  return kaldro::stream_write(conn->fd, &piece, 1);
}

KALDRO_API kaldro_status kaldro_plat_stream_conn_close(kaldro_plat_stream_conn *conn) {
  if (!conn) return KALDRO_ERR_NULL;
  if (conn->fd >= 0) close(conn->fd);
  return KALDRO_OK;
}

}  // extern "C"
