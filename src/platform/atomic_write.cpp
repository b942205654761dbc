// Durable, atomic replacement of a whole file: a fresh temporary file in the target's
// directory receives the bytes (in one call or piece by piece), is flushed to disk and
// renamed over the target, and the directory is flushed so that the rename survives a
// crash.
#include "platform/platform.h"

#include "frame/internal.h"

#include <errno.h>
#include <fcntl.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

namespace kaldro {
namespace {

constexpr size_t kPathBytes = 4096;
constexpr size_t kTempNameBytes = kAtomicTempNameBytes;
constexpr int kNameAttempts = 32;
// Temporary files are hidden names that no reader of the directory takes for data.
constexpr char kTempPrefix[] = ".kaldro-tmp-";
static_assert(kTempNameBytes == sizeof kTempPrefix - 1 + 16 + 1);

uint64_t mix64(uint64_t x) {
  x += 0x9e3779b97f4a7c15ull;
  x = (x ^ (x >> 30)) * 0xbf58476d1ce4e5b9ull;
  x = (x ^ (x >> 27)) * 0x94d049bb133111ebull;
  return x ^ (x >> 31);
}

// A name that no other process or thread is likely to choose at the same moment; the
// exclusive create below settles any collision.
void temp_name(char out[kAtomicTempNameBytes], int attempt, const void *salt) {
  struct timespec ts;
  clock_gettime(CLOCK_REALTIME, &ts);
  uint64_t seed = mix64(static_cast<uint64_t>(getpid()));
  seed = mix64(seed ^ static_cast<uint64_t>(reinterpret_cast<uintptr_t>(salt)));
  seed = mix64(seed ^ static_cast<uint64_t>(ts.tv_sec) * 1000000000ull ^
               static_cast<uint64_t>(ts.tv_nsec));
  seed = mix64(seed ^ static_cast<uint64_t>(attempt));
  uint8_t bytes[8];
  for (int i = 0; i < 8; ++i) bytes[i] = static_cast<uint8_t>(seed >> (8 * i));
  memcpy(out, kTempPrefix, sizeof kTempPrefix - 1);
  hex_encode(bytes, sizeof bytes, out + sizeof kTempPrefix - 1);
  out[kTempNameBytes - 1] = '\0';
}

bool write_all(int fd, const uint8_t *at, uint64_t len) {
  while (len > 0) {
    const size_t request = len > (1u << 30) ? (1u << 30) : static_cast<size_t>(len);
    const ssize_t n = write(fd, at, request);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    at += n;
    len -= static_cast<uint64_t>(n);
  }
  return true;
}

bool sync_fd(int fd) {
  while (fsync(fd) != 0) {
    if (errno != EINTR) return false;
  }
  return true;
}

}  // namespace

kaldro_status atomic_file_begin(AtomicFile *f, const char *path) {
  f->dir_fd = -1;
  f->fd = -1;
  f->ok = false;
  f->written = 0;
  // Split the path into its directory and final name.
  const char *slash = strrchr(path, '/');
  const char *base = slash ? slash + 1 : path;
  if (*base == '\0') return KALDRO_ERR_IO;
  char dir_path[kPathBytes];
  if (slash) {
    const size_t dir_len = static_cast<size_t>(base - path);  // keeps the slash: "/" stays "/"
    if (dir_len >= sizeof dir_path) return KALDRO_ERR_IO;
    memcpy(dir_path, path, dir_len);
    dir_path[dir_len] = '\0';
  } else {
    dir_path[0] = '.';
    dir_path[1] = '\0';
  }
  f->base = base;

  const int dir_fd = open(dir_path, O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  if (dir_fd < 0) return KALDRO_ERR_IO;
  int fd = -1;
  for (int attempt = 0; attempt < kNameAttempts && fd < 0; ++attempt) {
    temp_name(f->temp, attempt, f);
    // Mode 0666 less the umask, as any file the library creates.
    fd = openat(dir_fd, f->temp, O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0 && errno != EEXIST && errno != EINTR) break;
  }
  if (fd < 0) {
    close(dir_fd);
    return KALDRO_ERR_IO;
  }
  f->dir_fd = dir_fd;
  f->fd = fd;
  f->ok = true;
  return KALDRO_OK;
}

bool atomic_file_append(AtomicFile *f, const void *data, uint64_t len) {
  if (!f->ok) return false;
  if (len != 0 && !write_all(f->fd, static_cast<const uint8_t *>(data), len)) {
    f->ok = false;
    return false;
  }
  f->written += len;
  return true;
}

void atomic_file_abort(AtomicFile *f) {
  if (f->fd >= 0) close(f->fd);
  if (f->dir_fd >= 0) {
    unlinkat(f->dir_fd, f->temp, 0);
    close(f->dir_fd);
  }
  f->fd = -1;
  f->dir_fd = -1;
  f->ok = false;
}

kaldro_status atomic_file_commit(AtomicFile *f) {
  bool ok = f->ok && sync_fd(f->fd);
  // After a successful flush a close interrupted by a signal has still released the
  // descriptor, and the bytes are already on disk.
  if (close(f->fd) != 0 && errno != EINTR) ok = false;
  f->fd = -1;
  if (ok && renameat(f->dir_fd, f->temp, f->dir_fd, f->base) != 0) ok = false;
  if (!ok) {
    atomic_file_abort(f);
    return KALDRO_ERR_IO;
  }
  // The new name is in place; make the directory entry durable too.
  const bool synced = sync_fd(f->dir_fd);
  close(f->dir_fd);
  f->dir_fd = -1;
  return synced ? KALDRO_OK : KALDRO_ERR_IO;
}

kaldro_status file_write_atomic_gather(const char *path, const WritePiece *pieces, size_t count) {
  AtomicFile f;
  KALDRO_TRY(atomic_file_begin(&f, path));
  for (size_t i = 0; i < count; ++i) {
    if (!atomic_file_append(&f, pieces[i].data, pieces[i].len)) {
      atomic_file_abort(&f);
      return KALDRO_ERR_IO;
    }
  }
  return atomic_file_commit(&f);
}

bool path_is_directory(const char *path) {
  struct stat st;
  return stat(path, &st) == 0 && S_ISDIR(st.st_mode);
}

kaldro_status file_write_atomic(const char *path, const void *data, uint64_t len) {
  const WritePiece piece{data, len};
  return file_write_atomic_gather(path, &piece, 1);
}

kaldro_status file_write_atomic(const char *path, const void *first, uint64_t first_len,
                                const void *second, uint64_t second_len) {
  const WritePiece pieces[2] = {{first, first_len}, {second, second_len}};
  return file_write_atomic_gather(path, pieces, 2);
}

}  // namespace kaldro
