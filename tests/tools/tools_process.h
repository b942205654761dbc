// Running the kaldro tool (or any command) as a process in the tests: its exit status,
// standard output and standard error, and temporary directories that clean up after
// themselves.
#pragma once

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <sstream>
#include <string>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

namespace tooltest {

struct Result {
  int status = -1;  // exit status, or -1 when the process did not exit normally
  std::string out, err;
};

inline std::string slurp(const std::string &path) {
  std::ifstream f(path, std::ios::binary);
  std::stringstream s;
  s << f.rdbuf();
  return s.str();
}

inline void spit(const std::string &path, const std::string &bytes) {
  std::ofstream f(path, std::ios::binary);
  f << bytes;
}

inline bool exists(const std::string &path) { return ::access(path.c_str(), F_OK) == 0; }

// Quotes one argument for /bin/sh.
inline std::string q(const std::string &a) {
  std::string s = "'";
  for (char c : a) {
    if (c == '\'') s += "'\\''";
    else s.push_back(c);
  }
  return s + "'";
}

class TempDir {
 public:
  TempDir() {
    char tmpl[] = "/tmp/kaldro-tooltest-XXXXXX";
    path_ = ::mkdtemp(tmpl);
  }
  ~TempDir() { std::system(("rm -rf " + q(path_)).c_str()); }
  const std::string &path() const { return path_; }
  std::string operator/(const std::string &name) const { return path_ + "/" + name; }

 private:
  std::string path_;
};

// Runs a shell command line in `cwd` with `input` on standard input.
inline Result sh(const std::string &line, const std::string &cwd = "/tmp", const std::string &input = "") {
  TempDir io;
  spit(io / "in", input);
  const std::string full = "cd " + q(cwd) + " && ( " + line + " ) <" + q(io / "in") + " >" +
                           q(io / "out") + " 2>" + q(io / "err");
  const int raw = std::system(full.c_str());
  Result r;
  r.status = WIFEXITED(raw) ? WEXITSTATUS(raw) : -1;
  r.out = slurp(io / "out");
  r.err = slurp(io / "err");
  return r;
}

// The command line that starts the tool: its path, behind the emulator that runs it in a
// cross build.
#ifndef KALDRO_TOOL_RUNNER
#define KALDRO_TOOL_RUNNER ""
#endif
inline std::string tool_command() { return KALDRO_TOOL_RUNNER + q(KALDRO_TOOL_PATH); }

// Runs the tool with the given arguments.
inline Result kaldro(const std::vector<std::string> &args, const std::string &cwd = "/tmp",
                  const std::string &input = "") {
  std::string line = tool_command();
  for (const std::string &a : args) line += " " + q(a);
  return sh(line, cwd, input);
}

}  // namespace tooltest
