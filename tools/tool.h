// Shared conventions of the kaldro tool's commands: the command records, usage and
// failure reporting, exit statuses (0 success, 1 usage error, 2 a failure), and the file
// and argument helpers every command family uses.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tool {

constexpr int kExitOk = 0;
constexpr int kExitUsage = 1;
constexpr int kExitFailure = 2;

// A command: its name, a one-line summary, its help text (which is also its section of
// the manual page) and its entry point, or a table of subcommands.
struct Command {
  const char *name;
  const char *summary;
  const char *help;
  int (*run)(int argc, char **argv);  // argv[0] is the command's own name
  const Command *subs;
  std::size_t sub_count;
};

// The name of a status code, as written in the header.
const char *status_name(kaldro_status status);

// Prints "kaldro: <command>: <what> (<STATUS>)" to standard error; returns kExitFailure.
int fail(const char *command, const std::string &what, kaldro_status status);
// Prints "kaldro: <command>: <what>" to standard error; returns kExitFailure.
int fail_plain(const char *command, const std::string &what);
// Prints "kaldro: <command>: <what>" and a hint to standard error; returns kExitUsage.
int usage_error(const char *command, const std::string &what);

// Command-line options: flags and valued options ("--opt VALUE" or "--opt=VALUE") are
// picked out of argv, everything else is kept in order as positional arguments. "--"
// ends the options.
class Args {
 public:
  Args(int argc, char **argv, std::vector<std::string> flags,
       std::vector<std::string> valued);
  bool ok() const { return error_.empty(); }
  const std::string &error() const { return error_; }
  bool flag(const std::string &name) const;
  const char *value(const std::string &name) const;  // null when absent
  const std::vector<std::string> &positional() const { return positional_; }

 private:
  std::vector<std::string> set_flags_;
  std::vector<std::pair<std::string, std::string>> values_;
  std::vector<std::string> positional_;
  std::string error_;
};

// Reads a whole file ("-" is standard input). On failure `error` says why.
bool read_file(const std::string &path, std::vector<uint8_t> &out, std::string &error);
// Writes `len` bytes to `path` through a temporary file in the same directory that is
// renamed into place, so that a failed write never leaves a partial file ("-" writes
// to standard output).
bool write_file(const std::string &path, const void *data, std::size_t len, std::string &error);
// The size of a regular file; false when it does not exist or is not a regular file.
bool file_size(const std::string &path, uint64_t &size);
bool is_directory(const std::string &path);

// Decodes hexadecimal text (either case, an even number of digits).
bool parse_hex(const char *text, std::vector<uint8_t> &out);
std::string to_hex(const uint8_t *data, std::size_t len);
// Parses a decimal unsigned number without sign or trailing characters.
bool parse_u64(const char *text, uint64_t &out);
bool parse_double(const char *text, double &out);

// A zero-filled heap block aligned to 64 bytes, for workspaces and arenas.
class Block {
 public:
  explicit Block(uint64_t bytes);
  ~Block();
  Block(const Block &) = delete;
  Block &operator=(const Block &) = delete;
  bool ok() const { return data_ != nullptr; }
  uint8_t *data() const { return data_; }
  uint64_t size() const { return size_; }

 private:
  uint8_t *data_ = nullptr;
  uint64_t size_ = 0;
};

// Parses a JSON text with an arena sized from its length (the parser needs at most a
// bounded number of bytes per input byte). The tree lives in `arena`.
kaldro_status parse_json(const std::vector<uint8_t> &text, std::vector<uint64_t> &arena,
                         const kaldro_json_node **root);
// The canonical text of a tree (no trailing line feed).
kaldro_status write_json(const kaldro_json_node *root, std::string &out);
// True when the tree holds an infinite or NaN double (which has no JSON form).
bool json_has_non_finite(const kaldro_json_node *root);

// The escaped form of arbitrary bytes for messages: printable ASCII as is, the rest as \xNN.
std::string printable(const char *bytes, std::size_t len);

// Command families.
extern const Command kSha256Command;
extern const Command kJsonCommand;
extern const Command kTomlCommand;
extern const Command kGenomeCommand;
#if KALDRO_TOOL_HAS_FIEDLER
extern const Command kFiedlerCommand;
struct Edge {
  uint32_t src, dst;
  double weight;
};
bool read_edges(const std::string &path, std::vector<Edge> &edges, std::string &error);
std::string fiedler_svg(const std::vector<double> &fiedler, const std::vector<Edge> &edges);
#endif
#if KALDRO_TOOL_HAS_KURAMOTO
extern const Command kKuramotoCommand;
// The order parameter r = |mean of exp(i theta)| of n phases, in [0, 1].
double phase_coherence(const double *theta, std::size_t n);
#endif
#if KALDRO_TOOL_HAS_BUS
extern const Command kBusCommand;
#endif
extern const Command kDemoCommand;

int run_demo(int argc, char **argv);

}  // namespace tool
