// Files, read streams and directory listing: thin wrappers over the system's buffered
// file streams and directory streams that fix the open modes, the treatment of short
// reads and writes, and the mapping of every failure to a status.
#include "platform/platform.h"

#include <dirent.h>
#include <errno.h>
#include <stdio.h>
#include <string.h>
#include <sys/stat.h>
#include <sys/types.h>

namespace {

// One read request of up to `len` bytes. A read interrupted by a signal before any byte
// arrived is not a failure of the file: the error indicator is cleared and the request
// goes on, so the count falls short of `len` only at the end of the file or on a real
// read error (left in the stream's error indicator).
uint64_t read_request(FILE *f, void *buf, uint64_t len) {
  uint8_t *at = static_cast<uint8_t *>(buf);
  uint64_t got = 0;
  while (got < len) {
    errno = 0;
    const size_t n = fread(at + got, 1, static_cast<size_t>(len - got), f);
    got += n;
    if (got == len) break;
    if (ferror(f) && errno == EINTR) {
      clearerr(f);
      continue;
    }
    break;
  }
  return got;
}

bool is_directory(FILE *f) {
  struct stat st;
  return fstat(fileno(f), &st) == 0 && S_ISDIR(st.st_mode);
}

}  // namespace

extern "C" {

KALDRO_API int kaldro_plat_has_filesystem(void) { return 1; }
KALDRO_API int kaldro_plat_has_dirlist(void) { return 1; }

KALDRO_API kaldro_status kaldro_plat_file_read(const char *path, void *buffer, uint64_t capacity,
                                               uint64_t *out_len) {
  FILE *f = fopen(path, "rb");
  if (!f) return KALDRO_ERR_IO;
  uint8_t *buf = static_cast<uint8_t *>(buffer);
  uint64_t total = 0;
  while (total < capacity) {
    const uint64_t n = read_request(f, buf + total, capacity - total);
    if (n == 0) break;
    total += n;
  }
  // A full buffer says nothing about the file's length: probe for one byte more.
  bool longer = false;
  if (total == capacity) {
    uint8_t probe;
    longer = read_request(f, &probe, 1) == 1;
  }
  const bool failed = ferror(f) != 0;
  fclose(f);
  if (failed) return KALDRO_ERR_IO;
  if (longer) return KALDRO_ERR_CAPACITY;
  *out_len = total;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_file_read_region(const char *path, uint64_t offset,
                                                      void *buffer, uint64_t length) {
  FILE *f = fopen(path, "rb");
  if (!f) return KALDRO_ERR_IO;
  // The offset is a signed file position: 2^63 and above cannot be reached.
  if (offset > static_cast<uint64_t>(INT64_MAX) ||
      fseeko(f, static_cast<off_t>(offset), SEEK_SET) != 0) {
    fclose(f);
    return KALDRO_ERR_IO;
  }
  uint64_t got = 0;
  if (length != 0) got = read_request(f, buffer, length);
  fclose(f);
  return got == length ? KALDRO_OK : KALDRO_ERR_IO;
}

KALDRO_API kaldro_status kaldro_plat_file_write(const char *path, int append, const void *data,
                                                uint64_t length) {
  FILE *f = fopen(path, append ? "ab" : "wb");
  if (!f) return KALDRO_ERR_IO;
  uint64_t put = 0;
  if (length != 0) put = fwrite(data, 1, static_cast<size_t>(length), f);
  const bool close_failed = fclose(f) != 0;
  return close_failed || put != length ? KALDRO_ERR_IO : KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_file_size(const char *path, uint64_t *out_size) {
  FILE *f = fopen(path, "rb");
  if (!f) return KALDRO_ERR_IO;
  // A directory opens and seeks like a file on some file systems and then reports a
  // meaningless end position; it has no size in bytes.
  if (is_directory(f) || fseeko(f, 0, SEEK_END) != 0) {
    fclose(f);
    return KALDRO_ERR_IO;
  }
  const off_t end = ftello(f);
  fclose(f);
  if (end < 0) return KALDRO_ERR_IO;
  *out_size = static_cast<uint64_t>(end);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_rstream_open(const char *path, kaldro_plat_rstream *stream) {
  FILE *f = fopen(path, "rb");
  if (!f) return KALDRO_ERR_IO;
  stream->handle = f;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_rstream_read(kaldro_plat_rstream *stream, void *buffer,
                                                  uint64_t length, uint64_t *out_got) {
  FILE *f = static_cast<FILE *>(stream->handle);
  uint64_t got = 0;
  if (length != 0) got = read_request(f, buffer, length);
  *out_got = got;
  if (got < length && ferror(f)) return KALDRO_ERR_IO;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_rstream_close(kaldro_plat_rstream *stream) {
  if (stream->handle) fclose(static_cast<FILE *>(stream->handle));
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_dir_open(const char *path, kaldro_plat_dir *dir) {
  dir->state = 0;
  DIR *d = opendir(path);
  if (!d) return KALDRO_ERR_IO;
  dir->handle = d;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_dir_next(kaldro_plat_dir *dir, char *name, uint64_t capacity,
                                              int32_t *has_entry) {
  // The end of the listing leaves errno alone; a failing read of the directory sets
  // it, and must not pass for the end, or a caller would take a partial listing for
  // the whole directory.
  errno = 0;
  const struct dirent *entry = readdir(static_cast<DIR *>(dir->handle));
  if (!entry) {
    if (errno != 0) return KALDRO_ERR_IO;
    *has_entry = 0;
    return KALDRO_OK;
  }
  const uint64_t len = strlen(entry->d_name);
  if (len + 1 > capacity) return KALDRO_ERR_CAPACITY;
  memcpy(name, entry->d_name, len + 1);
  *has_entry = 1;
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_plat_dir_close(kaldro_plat_dir *dir) {
  if (dir->handle) closedir(static_cast<DIR *>(dir->handle));
  dir->state = 0;
  return KALDRO_OK;
}

}  // extern "C"
