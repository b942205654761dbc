// What the genome benchmarks share: aligned zeroed buffers, scratch directories under
// $KALDRO_BENCH_DIR, files written plainly or durably (temporary file, fsync, rename,
// directory fsync, as the store replaces its files), and medians of timed rounds.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <new>
#include <string>
#include <vector>

namespace genome_bench {

struct Buffer {
  uint8_t *p = nullptr;
  size_t n = 0;
  explicit Buffer(size_t bytes) : n(bytes) {
    p = static_cast<uint8_t *>(::operator new(bytes ? bytes : 1, std::align_val_t(64)));
    memset(p, 0, n);
  }
  Buffer(const Buffer &) = delete;
  Buffer &operator=(const Buffer &) = delete;
  ~Buffer() { ::operator delete(p, std::align_val_t(64)); }
};

inline const char *bench_base() {
  const char *base = getenv("KALDRO_BENCH_DIR");
  return base ? base : "/tmp";
}

// A fresh directory kaldro_bench_<name>_<pid> under the benchmark base.
inline std::string bench_dir(const char *name) {
  std::string dir = std::string(bench_base()) + "/kaldro_bench_" + name + "_" + std::to_string(getpid());
  mkdir(dir.c_str(), 0700);
  return dir;
}

inline void remove_tree(const std::string &dir) {
  const std::string c = "rm -rf '" + dir + "'";
  (void)!system(c.c_str());
}

inline double now() {
  return std::chrono::duration<double>(std::chrono::steady_clock::now().time_since_epoch()).count();
}

inline int env_int(const char *name, int fallback) {
  const char *v = getenv(name);
  return v && atoi(v) > 0 ? atoi(v) : fallback;
}

// Writes n bytes to path; durably as the store replaces a file, or plainly (no sync).
inline void write_file(const std::string &path, const void *p, size_t n, bool durable) {
  const std::string tmp = durable ? path + ".tmp" : path;
  const int fd = open(tmp.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
  if (fd < 0) abort();
  for (size_t at = 0; at < n;) {
    const ssize_t got = write(fd, static_cast<const uint8_t *>(p) + at, n - at);
    if (got <= 0) abort();
    at += size_t(got);
  }
  if (durable) fsync(fd);
  close(fd);
  if (durable) {
    rename(tmp.c_str(), path.c_str());
    const int dfd = open(path.substr(0, path.rfind('/')).c_str(), O_RDONLY | O_DIRECTORY);
    fsync(dfd);
    close(dfd);
  }
}

inline double median(std::vector<double> v) {
  std::sort(v.begin(), v.end());
  return v.empty() ? 0 : v[v.size() / 2];
}

// One line per timed step: its median and range over the rounds, in milliseconds.
inline void show(const char *what, const std::vector<double> &v) {
  printf("  %-52s median %8.1f ms  (%.1f to %.1f)\n", what, median(v) * 1e3,
         *std::min_element(v.begin(), v.end()) * 1e3, *std::max_element(v.begin(), v.end()) * 1e3);
}

}  // namespace genome_bench
