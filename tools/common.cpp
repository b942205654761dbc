// Helpers shared by the kaldro tool's commands: failure reporting, option parsing, whole
// file reads and all-or-nothing file writes, hex text, heap blocks and JSON round trips.
#include "tool.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

namespace tool {

const char *status_name(kaldro_status status) {
  switch (status) {
    case KALDRO_OK: return "KALDRO_OK";
    case KALDRO_ERR_NULL: return "KALDRO_ERR_NULL";
    case KALDRO_ERR_INVALID: return "KALDRO_ERR_INVALID";
    case KALDRO_ERR_IO: return "KALDRO_ERR_IO";
    case KALDRO_ERR_CAPACITY: return "KALDRO_ERR_CAPACITY";
    case KALDRO_ERR_RESOURCE: return "KALDRO_ERR_RESOURCE";
    default: return "unknown status";
  }
}

int fail(const char *command, const std::string &what, kaldro_status status) {
  std::fprintf(stderr, "kaldro: %s: %s (%s)\n", command, what.c_str(), status_name(status));
  return kExitFailure;
}

int fail_plain(const char *command, const std::string &what) {
  std::fprintf(stderr, "kaldro: %s: %s\n", command, what.c_str());
  return kExitFailure;
}

int usage_error(const char *command, const std::string &what) {
  std::fprintf(stderr, "kaldro: %s: %s\nTry 'kaldro %s --help'.\n", command, what.c_str(),
               command);
  return kExitUsage;
}

Args::Args(int argc, char **argv, std::vector<std::string> flags,
           std::vector<std::string> valued) {
  bool options_done = false;
  for (int i = 1; i < argc; ++i) {
    std::string a = argv[i];
    if (options_done || a.size() < 2 || a[0] != '-') {
      positional_.push_back(a);
      continue;
    }
    if (a == "--") {
      options_done = true;
      continue;
    }
    std::string name = a, inline_value;
    bool has_inline = false;
    const std::size_t eq = a.find('=');
    if (a.rfind("--", 0) == 0 && eq != std::string::npos) {
      name = a.substr(0, eq);
      inline_value = a.substr(eq + 1);
      has_inline = true;
    }
    bool known = false;
    for (const std::string &f : flags)
      if (f == name && !has_inline) {
        set_flags_.push_back(name);
        known = true;
      }
    for (const std::string &v : valued) {
      if (v != name) continue;
      known = true;
      if (has_inline) {
        values_.emplace_back(name, inline_value);
      } else if (i + 1 < argc) {
        values_.emplace_back(name, argv[++i]);
      } else if (error_.empty()) {
        error_ = "option '" + name + "' needs a value";
      }
    }
    if (!known && error_.empty()) error_ = "unknown option '" + a + "'";
  }
}

bool Args::flag(const std::string &name) const {
  for (const std::string &f : set_flags_)
    if (f == name) return true;
  return false;
}

const char *Args::value(const std::string &name) const {
  const char *found = nullptr;
  for (const auto &v : values_)
    if (v.first == name) found = v.second.c_str();  // the last one given wins
  return found;
}

bool read_file(const std::string &path, std::vector<uint8_t> &out, std::string &error) {
  out.clear();
  const bool is_stdin = path == "-";
  const int fd = is_stdin ? 0 : ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  struct stat st;
  if (::fstat(fd, &st) == 0) {
    if (S_ISDIR(st.st_mode)) {
      if (!is_stdin) ::close(fd);
      error = std::strerror(EISDIR);
      return false;
    }
    if (S_ISREG(st.st_mode) && st.st_size > 0) out.reserve(std::size_t(st.st_size));
  }
  uint8_t chunk[65536];
  for (;;) {
    const ssize_t got = ::read(fd, chunk, sizeof chunk);
    if (got < 0) {
      if (errno == EINTR) continue;
      error = std::strerror(errno);
      if (!is_stdin) ::close(fd);
      return false;
    }
    if (got == 0) break;
    out.insert(out.end(), chunk, chunk + got);
  }
  if (!is_stdin) ::close(fd);
  return true;
}

static bool write_all(int fd, const uint8_t *p, std::size_t len) {
  while (len > 0) {
    const ssize_t put = ::write(fd, p, len);
    if (put < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    p += put;
    len -= std::size_t(put);
  }
  return true;
}

bool write_file(const std::string &path, const void *data, std::size_t len, std::string &error) {
  const uint8_t *bytes = static_cast<const uint8_t *>(data);
  if (path == "-") {
    std::fflush(stdout);
    if (!write_all(1, bytes, len)) {
      error = std::strerror(errno);
      return false;
    }
    return true;
  }
  std::string tmp = path + ".kaldro-XXXXXX";
  std::vector<char> name(tmp.begin(), tmp.end());
  name.push_back('\0');
  const int fd = ::mkstemp(name.data());
  if (fd < 0) {
    error = std::strerror(errno);
    return false;
  }
  bool ok = write_all(fd, bytes, len) && ::fsync(fd) == 0;
  int saved = errno;
  if (::close(fd) != 0 && ok) {
    ok = false;
    saved = errno;
  }
  if (ok) {
    // mkstemp creates the file private; give it the mode a plain create would.
    const mode_t mask = ::umask(0);
    ::umask(mask);
    ::chmod(name.data(), 0666 & ~mask);
  }
  if (ok && ::rename(name.data(), path.c_str()) != 0) {
    ok = false;
    saved = errno;
  }
  if (!ok) {
    ::unlink(name.data());
    error = std::strerror(saved);
  }
  return ok;
}

bool file_size(const std::string &path, uint64_t &size) {
  struct stat st;
  if (::stat(path.c_str(), &st) != 0 || !S_ISREG(st.st_mode)) return false;
  size = uint64_t(st.st_size);
  return true;
}

bool is_directory(const std::string &path) {
  struct stat st;
  return ::stat(path.c_str(), &st) == 0 && S_ISDIR(st.st_mode);
}

static int hex_value(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

bool parse_hex(const char *text, std::vector<uint8_t> &out) {
  out.clear();
  const std::size_t n = std::strlen(text);
  if (n % 2 != 0) return false;
  for (std::size_t i = 0; i < n; i += 2) {
    const int hi = hex_value(text[i]), lo = hex_value(text[i + 1]);
    if (hi < 0 || lo < 0) return false;
    out.push_back(uint8_t(hi * 16 + lo));
  }
  return true;
}

std::string to_hex(const uint8_t *data, std::size_t len) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  s.reserve(2 * len);
  for (std::size_t i = 0; i < len; ++i) {
    s.push_back(digits[data[i] >> 4]);
    s.push_back(digits[data[i] & 15]);
  }
  return s;
}

bool parse_u64(const char *text, uint64_t &out) {
  if (text == nullptr || *text < '0' || *text > '9') return false;
  uint64_t v = 0;
  for (const char *p = text; *p; ++p) {
    if (*p < '0' || *p > '9') return false;
    const uint64_t d = uint64_t(*p - '0');
    if (v > (UINT64_MAX - d) / 10) return false;
    v = v * 10 + d;
  }
  out = v;
  return true;
}

bool parse_double(const char *text, double &out) {
  if (text == nullptr || *text == '\0') return false;
  char *end = nullptr;
  errno = 0;
  const double v = std::strtod(text, &end);
  if (*end != '\0' || errno == ERANGE || !std::isfinite(v)) return false;
  out = v;
  return true;
}

Block::Block(uint64_t bytes) {
  // Rounded up so that the aligned allocation's size is a multiple of its alignment.
  const uint64_t rounded = (bytes + 63) / 64 * 64;
  if (rounded < bytes || rounded > (uint64_t(1) << 46)) return;
  void *p = std::aligned_alloc(64, rounded ? rounded : 64);
  if (p == nullptr) return;
  std::memset(p, 0, rounded ? rounded : 64);
  data_ = static_cast<uint8_t *>(p);
  size_ = bytes;
}

Block::~Block() { std::free(data_); }

kaldro_status parse_json(const std::vector<uint8_t> &text, std::vector<uint64_t> &arena,
                         const kaldro_json_node **root) {
  // Every value costs a 32-byte node and its list slots, every string its raw length,
  // every container its lists and final arrays: well under 128 bytes per input byte.
  const uint64_t bytes = 128 * uint64_t(text.size()) + 8192;
  arena.assign(bytes / 8, 0);
  kaldro_json_node *out = nullptr;
  const kaldro_status st =
      kaldro_json_parse(text.empty() ? nullptr : text.data(), text.size(), arena.data(),
                        arena.size() * 8, &out);
  if (st == KALDRO_OK) *root = out;
  return st;
}

kaldro_status write_json(const kaldro_json_node *root, std::string &out) {
  std::vector<uint64_t> ws(kaldro_json_write_arena_bytes(root) / 8 + 1, 0);
  uint64_t len = 0;
  kaldro_status st = kaldro_json_write_ws(root, nullptr, 0, &len, ws.data(), ws.size() * 8);
  if (st != KALDRO_OK) return st;
  out.assign(std::size_t(len), '\0');
  st = kaldro_json_write_ws(root, out.data(), len, &len, ws.data(), ws.size() * 8);
  if (st == KALDRO_OK) out.resize(std::size_t(len));
  return st;
}

bool json_has_non_finite(const kaldro_json_node *root) {
  std::vector<const kaldro_json_node *> stack{root};
  while (!stack.empty()) {
    const kaldro_json_node *n = stack.back();
    stack.pop_back();
    if (n == nullptr) continue;
    if (n->kind == KALDRO_JSON_DOUBLE && !std::isfinite(n->number)) return true;
    if (n->kind == KALDRO_JSON_ARRAY)
      for (uint32_t i = 0; i < n->count; ++i) stack.push_back(n->items[i]);
    if (n->kind == KALDRO_JSON_OBJECT)
      for (uint32_t i = 0; i < n->member_count; ++i) stack.push_back(n->values[i]);
  }
  return false;
}

std::string printable(const char *bytes, std::size_t len) {
  std::string s;
  for (std::size_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(bytes[i]);
    if (c >= 0x20 && c < 0x7f && c != '\\') {
      s.push_back(char(c));
    } else {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\x%02x", c);
      s += esc;
    }
  }
  return s;
}

}  // namespace tool
