// A scratch file under /tmp holding given bytes, removed when the object goes out of
// scope; shared by the tests of the file readers.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>
#include <unistd.h>

#include <string>
#include <vector>

class TempFile {
 public:
  TempFile(const void *bytes, size_t n) {
    char name[] = "/tmp/kaldro_test_XXXXXX";
    const int fd = mkstemp(name);
    EXPECT_GE(fd, 0);
    path_ = name;
    const char *p = static_cast<const char *>(bytes);
    while (fd >= 0 && n > 0) {
      const ssize_t put = write(fd, p, n);
      if (put <= 0) {
        ADD_FAILURE() << "writing " << path_ << " failed";
        break;
      }
      p += put;
      n -= size_t(put);
    }
    if (fd >= 0) close(fd);
  }
  explicit TempFile(const std::string &bytes) : TempFile(bytes.data(), bytes.size()) {}
  explicit TempFile(const std::vector<unsigned char> &bytes)
      : TempFile(bytes.data(), bytes.size()) {}
  TempFile(const TempFile &) = delete;
  TempFile &operator=(const TempFile &) = delete;
  ~TempFile() { unlink(path_.c_str()); }
  const char *path() const { return path_.c_str(); }

 private:
  std::string path_;
};
