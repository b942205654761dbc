// `kaldro sha256`: digests of files in the output format of sha256sum, and `-c` to check
// a list of digests written in that format (or its BSD-style "SHA256 (name) = digest").
#include "tool.h"

#include <cerrno>
#include <cstring>
#include <string>

namespace tool {
namespace {

const char kCmd[] = "sha256";

// A name holding a backslash, line feed or carriage return is written escaped, and its
// line starts with a backslash (as sha256sum writes it).
std::string escape_name(const std::string &name, bool &escaped) {
  escaped = false;
  std::string out;
  for (char c : name) {
    if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\r') out += "\\r";
    else {
      out.push_back(c);
      continue;
    }
    escaped = true;
  }
  return out;
}

bool digest_file(const std::string &path, char hex[65], std::string &error) {
  std::vector<uint8_t> data;
  if (!read_file(path, data, error)) return false;
  const kaldro_status st = kaldro_sha256_hex(data.empty() ? nullptr : data.data(), data.size(), hex);
  if (st != KALDRO_OK) {
    error = std::string("digest failed (") + status_name(st) + ")";
    return false;
  }
  return true;
}

std::string shown(const std::string &path) { return path == "-" ? "standard input" : path; }

bool is_hex_digit(char c) {
  return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

// One line of a digest list: the digest and the name, or false when it is not a
// properly formatted line.
bool parse_check_line(std::string line, std::string &digest, std::string &name) {
  if (!line.empty() && line.back() == '\r') line.pop_back();
  std::size_t i = 0;
  while (i < line.size() && (line[i] == ' ' || line[i] == '\t')) ++i;
  bool escaped = false;
  if (i < line.size() && line[i] == '\\') {
    escaped = true;
    ++i;
  }
  std::string raw;
  if (line.compare(i, 8, "SHA256 (") == 0) {
    const std::size_t close = line.rfind(") = ");
    if (close == std::string::npos || close < i + 8) return false;
    raw = line.substr(i + 8, close - (i + 8));
    digest = line.substr(close + 4);
  } else {
    if (line.size() < i + 64) return false;
    digest = line.substr(i, 64);
    i += 64;
    if (i >= line.size() || (line[i] != ' ' && line[i] != '\t')) return false;
    ++i;
    if (i + 1 < line.size() && (line[i] == ' ' || line[i] == '*')) ++i;
    raw = line.substr(i);
  }
  if (digest.size() != 64) return false;
  for (char c : digest)
    if (!is_hex_digit(c)) return false;
  if (raw.empty()) return false;
  if (!escaped) {
    name = raw;
    return true;
  }
  name.clear();
  for (std::size_t k = 0; k < raw.size(); ++k) {
    if (raw[k] != '\\') {
      name.push_back(raw[k]);
      continue;
    }
    if (++k == raw.size()) return false;
    if (raw[k] == '\\') name.push_back('\\');
    else if (raw[k] == 'n') name.push_back('\n');
    else if (raw[k] == 'r') name.push_back('\r');
    else return false;
  }
  return true;
}

bool same_digest(const std::string &listed, const char *computed) {
  for (std::size_t i = 0; i < 64; ++i) {
    char c = listed[i];
    if (c >= 'A' && c <= 'F') c = char(c - 'A' + 'a');
    if (c != computed[i]) return false;
  }
  return true;
}

struct CheckOptions {
  bool quiet, status, strict, ignore_missing;
};

// Checks one list; the counts accumulate over all lists.
void check_list(const std::string &list, const CheckOptions &opt, int &mismatched,
                int &unreadable, int &malformed, bool &list_failed) {
  std::vector<uint8_t> text;
  std::string error;
  if (!read_file(list, text, error)) {
    fail_plain(kCmd, shown(list) + ": " + error);
    list_failed = true;
    return;
  }
  int good_lines = 0, bad_lines = 0, checked = 0;
  std::size_t start = 0;
  while (start < text.size()) {
    std::size_t end = start;
    while (end < text.size() && text[end] != '\n') ++end;
    const std::string line(text.begin() + long(start), text.begin() + long(end));
    start = end + 1;
    std::string digest, name;
    if (!parse_check_line(line, digest, name)) {
      ++bad_lines;
      continue;
    }
    ++good_lines;
    bool esc = false;
    const std::string out_name = name.find('\n') != std::string::npos
                                     ? "\\" + escape_name(name, esc)
                                     : name;
    char hex[65];
    if (!digest_file(name, hex, error)) {
      if (opt.ignore_missing && error == std::strerror(ENOENT)) continue;
      ++unreadable;
      ++checked;
      if (!opt.status) {
        std::fflush(stdout);
        fail_plain(kCmd, name + ": " + error);
        std::printf("%s: FAILED open or read\n", out_name.c_str());
      }
      continue;
    }
    ++checked;
    if (same_digest(digest, hex)) {
      if (!opt.quiet && !opt.status) std::printf("%s: OK\n", out_name.c_str());
    } else {
      ++mismatched;
      if (!opt.status) std::printf("%s: FAILED\n", out_name.c_str());
    }
  }
  malformed += bad_lines;
  if (good_lines == 0) {
    std::fflush(stdout);
    fail_plain(kCmd, shown(list) + ": no properly formatted checksum lines found");
    list_failed = true;
  } else if (opt.ignore_missing && checked == 0) {
    std::fflush(stdout);
    fail_plain(kCmd, shown(list) + ": no file was verified");
    list_failed = true;
  }
}

void warn_count(int n, const char *one, const char *many) {
  if (n == 1) std::fprintf(stderr, "kaldro: sha256: WARNING: 1 %s\n", one);
  if (n > 1) std::fprintf(stderr, "kaldro: sha256: WARNING: %d %s\n", n, many);
}

int run_sha256(int argc, char **argv) {
  Args args(argc, argv, {"-c", "--check", "--quiet", "--status", "--strict", "--ignore-missing",
                         "--tag"},
            {});
  if (!args.ok()) return usage_error(kCmd, args.error());
  std::vector<std::string> files = args.positional();
  if (files.empty()) files.push_back("-");
  const bool check = args.flag("-c") || args.flag("--check");
  if (!check && (args.flag("--quiet") || args.flag("--status") || args.flag("--strict") ||
                 args.flag("--ignore-missing")))
    return usage_error(kCmd, "--quiet, --status, --strict and --ignore-missing go with -c");
  if (check && args.flag("--tag")) return usage_error(kCmd, "--tag does not go with -c");

  if (!check) {
    bool all_ok = true;
    for (const std::string &f : files) {
      char hex[65];
      std::string error;
      if (!digest_file(f, hex, error)) {
        std::fflush(stdout);
        fail_plain(kCmd, f + ": " + error);
        all_ok = false;
        continue;
      }
      bool escaped = false;
      const std::string name = escape_name(f, escaped);
      if (args.flag("--tag"))
        std::printf("%sSHA256 (%s) = %s\n", escaped ? "\\" : "", name.c_str(), hex);
      else
        std::printf("%s%s  %s\n", escaped ? "\\" : "", hex, name.c_str());
    }
    return all_ok ? kExitOk : kExitFailure;
  }

  const CheckOptions opt{args.flag("--quiet"), args.flag("--status"), args.flag("--strict"),
                         args.flag("--ignore-missing")};
  int mismatched = 0, unreadable = 0, malformed = 0;
  bool list_failed = false;
  for (const std::string &f : files) check_list(f, opt, mismatched, unreadable, malformed, list_failed);
  std::fflush(stdout);
  if (!opt.status) {
    warn_count(malformed, "line is improperly formatted", "lines are improperly formatted");
    warn_count(unreadable, "listed file could not be read", "listed files could not be read");
    warn_count(mismatched, "computed checksum did NOT match", "computed checksums did NOT match");
  }
  const bool ok = !list_failed && mismatched == 0 && unreadable == 0 &&
                  !(opt.strict && malformed > 0);
  return ok ? kExitOk : kExitFailure;
}

}  // namespace

const Command kSha256Command = {
    "sha256", "SHA-256 digests of files, or check a list of digests",
    "usage: kaldro sha256 [--tag] [FILE...]\n"
    "       kaldro sha256 -c [--quiet] [--status] [--strict] [--ignore-missing] [LIST...]\n"
    "\n"
    "Prints the SHA-256 digest of each FILE (standard input when none is given, or for\n"
    "'-') as sha256sum does: the 64 lowercase hexadecimal digits, two spaces and the\n"
    "name. A name holding a backslash or a line break is written escaped, on a line\n"
    "that starts with a backslash.\n"
    "\n"
    "With -c, reads lists of digests in that format (or the BSD-style form 'SHA256\n"
    "(name) = digest') and checks every file listed, printing 'name: OK' or 'name:\n"
    "FAILED'; warnings about malformed lines, unreadable files and mismatches go to\n"
    "standard error.\n"
    "\n"
    "  -c, --check       check the digests listed in each LIST\n"
    "  --tag             print the BSD-style form\n"
    "  --quiet           do not print OK for files that match\n"
    "  --status          print nothing; the exit status tells the result\n"
    "  --strict          fail on improperly formatted lines\n"
    "  --ignore-missing  skip listed files that do not exist\n"
    "\n"
    "Exit status: 0 when every file was read (and, with -c, matched), 1 for a usage\n"
    "error, 2 otherwise.\n",
    run_sha256, nullptr, 0};

}  // namespace tool
