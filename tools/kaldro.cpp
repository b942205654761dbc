// kaldro: the command-line face of libkaldro. This file holds the command table, the
// top-level argument handling and the manual page, which is rendered from the same help
// texts that --help prints.
#include "tool.h"

#include <cstring>
#include <string>

namespace tool {
namespace {

int run_version(int, char **) {
  std::printf("kaldro %s (ABI %d)\n", kaldro_version(), kaldro_abi_version());
  return kExitOk;
}

const Command kVersionCommand = {
    "version", "print the library version and ABI number",
    "usage: kaldro version\n"
    "       kaldro --version\n"
    "\n"
    "Prints the library's version text and the number of its calling interface.\n",
    run_version, nullptr, 0};

const Command *const kCommands[] = {
    &kGenomeCommand,
    &kSha256Command,
    &kJsonCommand,
    &kTomlCommand,
#if KALDRO_TOOL_HAS_FIEDLER
    &kFiedlerCommand,
#endif
#if KALDRO_TOOL_HAS_KURAMOTO
    &kKuramotoCommand,
#endif
#if KALDRO_TOOL_HAS_BUS
    &kBusCommand,
#endif
    &kDemoCommand,
    &kVersionCommand,
};

const char kConventions[] =
    "Every command accepts --help. Errors go to standard error as\n"
    "'kaldro: <command>: <what went wrong> (<STATUS>)', where STATUS names the\n"
    "library's status code when the library reported the failure.\n"
    "\n"
    "Exit status: 0 on success, 1 for a usage error, 2 when an operation fails.\n";

void print_usage(FILE *to) {
  std::fprintf(to, "usage: kaldro <command> [arguments]\n\ncommands:\n");
  for (const Command *c : kCommands) std::fprintf(to, "  %-10s %s\n", c->name, c->summary);
  std::fprintf(to, "\n%s\n'kaldro <command> --help' describes a command; "
                   "'kaldro --version' prints the version.\n", kConventions);
}

void print_command_help(const Command &c, const std::string &path) {
  std::fputs(c.help, stdout);
  if (c.sub_count > 0) {
    std::printf("\nsubcommands ('kaldro %s <subcommand> --help' for each):\n", path.c_str());
    for (std::size_t i = 0; i < c.sub_count; ++i)
      std::printf("  %-10s %s\n", c.subs[i].name, c.subs[i].summary);
  }
}

bool is_help(const char *a) { return std::strcmp(a, "--help") == 0 || std::strcmp(a, "-h") == 0; }

// True when --help or -h stands among the options (before any "--").
bool wants_help(int argc, char **argv) {
  for (int i = 1; i < argc; ++i) {
    if (std::strcmp(argv[i], "--") == 0) return false;
    if (is_help(argv[i])) return true;
  }
  return false;
}

int dispatch(const Command &c, const std::string &path, int argc, char **argv) {
  if (c.sub_count == 0) {
    if (wants_help(argc, argv)) {
      print_command_help(c, path);
      return kExitOk;
    }
    return c.run(argc, argv);
  }
  if (argc < 2 || is_help(argv[1])) {
    if (argc < 2) return usage_error(path.c_str(), "a subcommand is needed");
    print_command_help(c, path);
    return kExitOk;
  }
  for (std::size_t i = 0; i < c.sub_count; ++i)
    if (std::strcmp(c.subs[i].name, argv[1]) == 0)
      return dispatch(c.subs[i], path + " " + c.subs[i].name, argc - 1, argv + 1);
  return usage_error(path.c_str(), std::string("unknown subcommand '") + argv[1] + "'");
}

// Manual page (roff), rendered from the help texts: a usage line becomes a synopsis,
// an indented "  option   text" line a tagged paragraph, anything else running text.
std::string roff_escape(const std::string &line) {
  std::string out;
  for (char ch : line) {
    if (ch == '\\') out += "\\e";
    else if (ch == '-') out += "\\-";
    else out.push_back(ch);
  }
  if (!out.empty() && (out[0] == '.' || out[0] == '\'')) out = "\\&" + out;
  return out;
}

void print_roff_help(const char *help) {
  std::string text = help;
  std::size_t start = 0;
  bool in_para = false;
  while (start < text.size()) {
    std::size_t end = text.find('\n', start);
    if (end == std::string::npos) end = text.size();
    const std::string line = text.substr(start, end - start);
    start = end + 1;
    if (line.empty()) {
      in_para = false;
      continue;
    }
    if (line.rfind("usage: ", 0) == 0 || line.rfind("       kaldro", 0) == 0) {
      std::printf(".br\n.B %s\n", roff_escape(line.substr(7)).c_str());
      continue;
    }
    if (line.rfind("  ", 0) == 0) {
      const std::size_t tag_end = line.find("  ", 2);
      std::size_t text_start = tag_end;
      while (text_start != std::string::npos && text_start < line.size() &&
             line[text_start] == ' ')
        ++text_start;
      if (tag_end != std::string::npos && text_start < line.size()) {
        std::printf(".TP\n.B %s\n%s\n", roff_escape(line.substr(2, tag_end - 2)).c_str(),
                    roff_escape(line.substr(text_start)).c_str());
      } else if (line.find_first_not_of(' ') != std::string::npos) {
        std::printf("%s\n", roff_escape(line.substr(line.find_first_not_of(' '))).c_str());
      }
      in_para = false;
      continue;
    }
    if (!in_para) std::printf(".PP\n");
    in_para = true;
    std::printf("%s\n", roff_escape(line).c_str());
  }
}

void print_roff_command(const Command &c, const std::string &path) {
  std::printf(".SS \"kaldro %s\"\n", path.c_str());
  std::printf("%s.\n", roff_escape(c.summary).c_str());
  print_roff_help(c.help);
  for (std::size_t i = 0; i < c.sub_count; ++i)
    print_roff_command(c.subs[i], path + " " + c.subs[i].name);
}

int print_manual() {
  std::printf(".TH KALDRO 1 \"\" \"kaldro %s\" \"User Commands\"\n", kaldro_version());
  std::printf(".SH NAME\nkaldro \\- inspect and repair genome directories, and use "
              "libkaldro from a shell\n");
  std::printf(".SH SYNOPSIS\n.B kaldro\n.I command\n[\n.I arguments\n]\n");
  std::printf(".SH DESCRIPTION\n");
  print_roff_help(kConventions);
  std::printf(".SH COMMANDS\n");
  for (const Command *c : kCommands) print_roff_command(*c, c->name);
  std::printf(".SH SEE ALSO\n.BR sha256sum (1)\n");
  return kExitOk;
}

}  // namespace
}  // namespace tool

int main(int argc, char **argv) {
  if (argc < 2) {
    tool::print_usage(stderr);
    return tool::kExitUsage;
  }
  const char *name = argv[1];
  if (tool::is_help(name) || std::strcmp(name, "help") == 0) {
    if (argc > 2) {
      for (const tool::Command *c : tool::kCommands)
        if (std::strcmp(c->name, argv[2]) == 0) {
          tool::print_command_help(*c, c->name);
          return tool::kExitOk;
        }
    }
    tool::print_usage(stdout);
    return tool::kExitOk;
  }
  if (std::strcmp(name, "--version") == 0) return tool::run_version(0, nullptr);
  if (std::strcmp(name, "--manual") == 0) return tool::print_manual();
  for (const tool::Command *c : tool::kCommands)
    if (std::strcmp(c->name, name) == 0) return tool::dispatch(*c, c->name, argc - 1, argv + 1);
  std::fprintf(stderr, "kaldro: unknown command '%s'\n", name);
  tool::print_usage(stderr);
  return tool::kExitUsage;
}
