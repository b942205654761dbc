// Shared conventions of the kaldro tool's commands: usage and failure reporting, exit
// statuses (0 success, 1 usage error, 2 a failure reported by the library).
#pragma once

#include <kaldro.h>

#include <cstdio>

namespace tool {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;

// The name of a status code, as written in the header.
const char *status_name(kaldro_status status);

// Prints "kaldro: <command>: <what> (<STATUS>)" to standard error and returns kExitFailure.
int fail(const char *command, const char *what, kaldro_status status);
// Prints "kaldro: <command>: <what>" and a hint to standard error; returns kExitUsage.
int usage_error(const char *command, const char *what);

// A command: its name, a one-line summary, its help text and its entry point.
struct Command {
  const char *name;
  const char *summary;
  const char *help;
  int (*run)(int argc, char **argv);
};

// True when argv holds --help or -h.
bool wants_help(int argc, char **argv);

int run_demo(int argc, char **argv);

}  // namespace tool
