// Shared pieces of the fuzz targets that work on files: a scratch directory in memory
// (tmpfs, where syncs cost nothing) made once per process and removed at exit, whole-file
// writes and reads with plain system calls, and one reusable workspace whose bytes past
// the size handed out are poisoned, so that the address sanitizer reports any step past
// a workspace's end without a heap block (and its page faults) per execution.
#pragma once

#include <dirent.h>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

#if defined(__has_feature)
#if __has_feature(address_sanitizer)
#include <sanitizer/asan_interface.h>
#define FUZZ_POISON(p, n) ASAN_POISON_MEMORY_REGION(p, n)
#define FUZZ_UNPOISON(p, n) ASAN_UNPOISON_MEMORY_REGION(p, n)
#endif
#endif
#ifndef FUZZ_POISON
#define FUZZ_POISON(p, n) ((void)(p), (void)(n))
#define FUZZ_UNPOISON(p, n) ((void)(p), (void)(n))
#endif

namespace fuzz {

inline std::string scratch_root() {
  struct stat st;
  return stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
             ? "/dev/shm"
             : "/tmp";
}

// Removes the plain files of a directory (not recursing); false if one cannot go.
inline bool clear_dir(const std::string &dir) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return false;
  bool ok = true;
  while (const struct dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    if (unlinkat(dirfd(d), e->d_name, 0) != 0) ok = false;
  }
  closedir(d);
  return ok;
}

// Number of entries of a directory besides "." and ".."; -1 when it cannot be listed.
// `allowed` (null-terminated list) names the entries that may be there: another name
// makes the count -2 (a temporary file left behind, say).
inline int count_entries(const std::string &dir, const char *const *allowed) {
  DIR *d = opendir(dir.c_str());
  if (d == nullptr) return -1;
  int n = 0;
  while (const struct dirent *e = readdir(d)) {
    if (strcmp(e->d_name, ".") == 0 || strcmp(e->d_name, "..") == 0) continue;
    bool ok = allowed == nullptr;
    for (const char *const *a = allowed; a && *a; ++a) ok = ok || strcmp(*a, e->d_name) == 0;
    if (!ok) {
      n = -2;
      break;
    }
    ++n;
  }
  closedir(d);
  return n;
}

// A directory under the scratch root for this process, made at first use.
class ScratchDir {
 public:
  explicit ScratchDir(const char *tag)
      : path_(scratch_root() + "/kaldro-fuzz-" + tag + "-" + std::to_string(getpid())) {
    mkdir(path_.c_str(), 0700);
  }
  ~ScratchDir() {
    clear_dir(path_);
    rmdir(path_.c_str());
  }
  // A subdirectory, made when missing; removed with its files at exit by `remove`.
  std::string sub(const char *name) const {
    std::string p = path_ + "/" + name;
    mkdir(p.c_str(), 0700);
    return p;
  }
  static void remove(const std::string &dir) {
    clear_dir(dir);
    rmdir(dir.c_str());
  }
  const std::string &path() const { return path_; }

 private:
  std::string path_;
};

inline void put_file(const std::string &path, const void *data, size_t len) {
  const int fd = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) abort();
  const uint8_t *p = static_cast<const uint8_t *>(data);
  while (len > 0) {
    const ssize_t n = write(fd, p, len);
    if (n <= 0) abort();
    p += n;
    len -= size_t(n);
  }
  close(fd);
}

// Reads a whole file into `buf` (capacity `cap`); -1 when it cannot be opened, cap + 1
// when it is longer than `cap`.
inline long get_file(const std::string &path, uint8_t *buf, size_t cap) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return -1;
  size_t got = 0;
  for (;;) {
    uint8_t probe;
    uint8_t *at = got < cap ? buf + got : &probe;
    const ssize_t n = read(fd, at, got < cap ? cap - got : 1);
    if (n < 0) abort();
    if (n == 0) break;
    got += size_t(n);
    if (got > cap) break;
  }
  close(fd);
  return long(got);
}

// True when the file holds exactly these bytes.
inline bool file_is(const std::string &path, const uint8_t *data, size_t len, uint8_t *scratch,
                    size_t scratch_cap) {
  const long got = get_file(path, scratch, scratch_cap);
  return got >= 0 && size_t(got) == len && (len == 0 || memcmp(scratch, data, len) == 0);
}

// One static region handed out again and again: `take(n)` returns its start with exactly
// n bytes usable (16-byte aligned); everything after them stays poisoned.
template <size_t Bytes>
class Region {
 public:
  Region() { FUZZ_POISON(bytes_, Bytes); }
  uint8_t *take(size_t n) {
    if (n > Bytes) return nullptr;
    FUZZ_POISON(bytes_, used_);
    FUZZ_UNPOISON(bytes_, n);
    used_ = n;
    return bytes_;
  }
  static constexpr size_t capacity() { return Bytes; }

 private:
  alignas(64) uint8_t bytes_[Bytes];
  size_t used_ = 0;
};

}  // namespace fuzz
