// kaldro: the command-line face of libkaldro. This file holds the command table, the
// shared reporting helpers and the top-level argument handling.
#include "tool.h"

#include <cstring>

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

int fail(const char *command, const char *what, kaldro_status status) {
  std::fprintf(stderr, "kaldro: %s: %s (%s)\n", command, what, status_name(status));
  return kExitFailure;
}

int usage_error(const char *command, const char *what) {
  std::fprintf(stderr, "kaldro: %s: %s\nTry 'kaldro %s --help'.\n", command, what, command);
  return kExitUsage;
}

bool wants_help(int argc, char **argv) {
  for (int i = 1; i < argc; ++i)
    if (std::strcmp(argv[i], "--help") == 0 || std::strcmp(argv[i], "-h") == 0) return true;
  return false;
}

namespace {

int run_version(int, char **) {
  std::printf("kaldro %s (ABI %d)\n", kaldro_version(), kaldro_abi_version());
  return kExitOk;
}

const Command kCommands[] = {
    {"demo", "a short tour of the library on generated data",
     "usage: kaldro demo\n\nRuns a tour of the library's families on generated data and "
     "prints what it does.\n",
     run_demo},
    {"version", "print the library version and ABI number",
     "usage: kaldro version\n\nPrints the library's version text and ABI number.\n",
     run_version},
};

void print_usage(FILE *to) {
  std::fprintf(to, "usage: kaldro <command> [arguments]\n\ncommands:\n");
  for (const Command &c : kCommands) std::fprintf(to, "  %-10s %s\n", c.name, c.summary);
  std::fprintf(to, "\n'kaldro <command> --help' describes a command; "
                   "'kaldro --version' prints the version.\n");
}

}  // namespace
}  // namespace tool

int main(int argc, char **argv) {
  if (argc < 2) {
    tool::print_usage(stderr);
    return tool::kExitUsage;
  }
  const char *name = argv[1];
  if (std::strcmp(name, "--help") == 0 || std::strcmp(name, "-h") == 0 ||
      std::strcmp(name, "help") == 0) {
    tool::print_usage(stdout);
    return tool::kExitOk;
  }
  if (std::strcmp(name, "--version") == 0) return tool::kCommands[1].run(argc - 1, argv + 1);
  for (const tool::Command &c : tool::kCommands) {
    if (std::strcmp(c.name, name) != 0) continue;
    if (tool::wants_help(argc - 1, argv + 1)) {
      std::fputs(c.help, stdout);
      return tool::kExitOk;
    }
    return c.run(argc - 1, argv + 1);
  }
  std::fprintf(stderr, "kaldro: unknown command '%s'\n", name);
  tool::print_usage(stderr);
  return tool::kExitUsage;
}
