// `kaldro json canon` (the canonical form of a JSON document) and `kaldro toml get`
// (one value of a TOML document, found by its dotted key path).
#include "tool.h"

#include <cinttypes>
#include <cstring>
#include <string>

namespace tool {
namespace {

int run_json_canon(int argc, char **argv) {
  const char *cmd = "json canon";
  Args args(argc, argv, {}, {"-o", "--output"});
  if (!args.ok()) return usage_error(cmd, args.error());
  if (args.positional().size() > 1) return usage_error(cmd, "at most one FILE");
  const std::string path = args.positional().empty() ? "-" : args.positional()[0];
  const char *output = args.value("-o") ? args.value("-o") : args.value("--output");

  std::vector<uint8_t> text;
  std::string error;
  if (!read_file(path, text, error))
    return fail_plain(cmd, "cannot read '" + path + "': " + error);
  const std::string shown = path == "-" ? "standard input" : "'" + path + "'";
  std::vector<uint64_t> arena;
  const kaldro_json_node *root = nullptr;
  kaldro_status st = parse_json(text, arena, &root);
  if (st == KALDRO_ERR_INVALID) return fail(cmd, shown + " is not a JSON document", st);
  if (st != KALDRO_OK)
    return fail(cmd, shown + " nests more than 64 containers or holds a number of 63 "
                "characters or more", st);
  // A number beyond the range of a double would come out as inf or nan, which is not
  // JSON: refuse rather than print a document that no reader accepts.
  if (json_has_non_finite(root))
    return fail(cmd, shown + " holds a number outside the range of a double",
                KALDRO_ERR_INVALID);
  std::string canon;
  st = write_json(root, canon);
  if (st != KALDRO_OK) return fail(cmd, "cannot write the canonical form", st);
  canon.push_back('\n');
  if (output == nullptr) {
    std::fwrite(canon.data(), 1, canon.size(), stdout);
    return kExitOk;
  }
  if (!write_file(output, canon.data(), canon.size(), error))
    return fail_plain(cmd, std::string("cannot write '") + output + "': " + error);
  return kExitOk;
}

const Command kJsonSubs[] = {
    {"canon", "print the canonical form of a JSON document",
     "usage: kaldro json canon [-o OUTPUT] [FILE]\n"
     "\n"
     "Parses the JSON document in FILE (standard input when none is given) and prints its\n"
     "canonical form: members sorted by key, ', ' and ': ' separators, integers in\n"
     "decimal, doubles with 17 significant digits, no indentation, one line feed at the\n"
     "end. The form depends on nothing but the document, so two documents are the same\n"
     "when their canonical forms are.\n"
     "\n"
     "  -o, --output OUTPUT  write the canonical form to OUTPUT (replaced only when the\n"
     "                       document is valid)\n",
     run_json_canon, nullptr, 0},
};

// TOML values are printed the way they would be written: top-level strings raw, other
// values (and strings inside arrays and tables) in TOML notation.
void print_toml_string(std::string &out, const char *s, uint32_t len) {
  out.push_back('"');
  for (uint32_t i = 0; i < len; ++i) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    if (c == '"') out += "\\\"";
    else if (c == '\\') out += "\\\\";
    else if (c == '\n') out += "\\n";
    else if (c == '\t') out += "\\t";
    else if (c == '\r') out += "\\r";
    else if (c < 0x20 || c == 0x7f) {
      char esc[8];
      std::snprintf(esc, sizeof esc, "\\u%04x", c);
      out += esc;
    } else {
      out.push_back(char(c));
    }
  }
  out.push_back('"');
}

void print_toml_value(std::string &out, const kaldro_toml_node *v) {
  char num[64];
  switch (v->kind) {
    case KALDRO_TOML_STRING: print_toml_string(out, v->as.string.str, v->as.string.len); break;
    case KALDRO_TOML_INT:
      std::snprintf(num, sizeof num, "%" PRId64, v->as.integer);
      out += num;
      break;
    case KALDRO_TOML_FLOAT:
      std::snprintf(num, sizeof num, "%.17g", v->as.number);
      out += num;
      if (std::strpbrk(num, ".eEin") == nullptr) out += ".0";
      break;
    case KALDRO_TOML_BOOL: out += v->as.boolean ? "true" : "false"; break;
    case KALDRO_TOML_ARRAY:
      out.push_back('[');
      for (uint32_t i = 0; i < v->as.array.count; ++i) {
        if (i) out += ", ";
        print_toml_value(out, v->as.array.items[i]);
      }
      out.push_back(']');
      break;
    case KALDRO_TOML_TABLE:
      out.push_back('{');
      for (uint32_t i = 0; i < v->as.table.count; ++i) {
        out += i ? ", " : " ";
        out += v->as.table.keys[i];
        out += " = ";
        print_toml_value(out, v->as.table.values[i]);
        if (i + 1 == v->as.table.count) out.push_back(' ');
      }
      out.push_back('}');
      break;
    default: break;
  }
}

int run_toml_get(int argc, char **argv) {
  const char *cmd = "toml get";
  Args args(argc, argv, {}, {});
  if (!args.ok()) return usage_error(cmd, args.error());
  if (args.positional().size() != 2) return usage_error(cmd, "needs FILE and KEY.PATH");
  const std::string path = args.positional()[0], key = args.positional()[1];

  std::vector<uint8_t> text;
  std::string error;
  if (!read_file(path, text, error))
    return fail_plain(cmd, "cannot read '" + path + "': " + error);
  // Every string value reserves arena room up to the end of the text; a string takes
  // two quote characters at least, which bounds how many there are. Everything else
  // takes well under 256 bytes per byte of text.
  uint64_t quotes = 0;
  for (uint8_t c : text) quotes += (c == '"' || c == '\'');
  const uint64_t n = text.size();
  Block arena((quotes / 2 + 1) * (n + 8) + 256 * n + 4096);
  if (!arena.ok()) return fail(cmd, "no memory for the parser's arena", KALDRO_ERR_RESOURCE);
  kaldro_toml_node *root = nullptr;
  const kaldro_status st =
      kaldro_toml_parse(reinterpret_cast<const char *>(text.data()), n, arena.data(),
                        arena.size(), &root);
  if (st != KALDRO_OK) return fail(cmd, "'" + path + "' is not a TOML document it can read", st);

  const kaldro_toml_node *v = root;
  std::size_t start = 0;
  for (;;) {
    std::size_t dot = key.find('.', start);
    const std::string seg = key.substr(start, dot == std::string::npos ? std::string::npos : dot - start);
    if (seg.empty()) return usage_error(cmd, "KEY.PATH has an empty segment");
    uint64_t index = 0;
    if (v->kind == KALDRO_TOML_TABLE) {
      v = kaldro_toml_table_get(v, seg.c_str());
    } else if (v->kind == KALDRO_TOML_ARRAY && parse_u64(seg.c_str(), index)) {
      v = index < v->as.array.count ? v->as.array.items[index] : nullptr;
    } else {
      v = nullptr;
    }
    if (v == nullptr)
      return fail_plain(cmd, "'" + path + "' has no value at '" + key.substr(0, dot) + "'");
    if (dot == std::string::npos) break;
    start = dot + 1;
  }
  std::string out;
  if (v->kind == KALDRO_TOML_STRING)
    out.assign(v->as.string.str, v->as.string.len);
  else
    print_toml_value(out, v);
  out.push_back('\n');
  std::fwrite(out.data(), 1, out.size(), stdout);
  return kExitOk;
}

const Command kTomlSubs[] = {
    {"get", "print one value of a TOML document",
     "usage: kaldro toml get FILE KEY.PATH\n"
     "\n"
     "Parses the TOML document FILE ('-' for standard input) and prints the value at\n"
     "KEY.PATH: table keys separated by dots, with a number selecting an element of an\n"
     "array (servers.0.name). A string is printed as it stands; any other value, and\n"
     "strings inside arrays and tables, in TOML notation. Fails with status 2 when the\n"
     "document cannot be read or has no value at the path.\n",
     run_toml_get, nullptr, 0},
};

}  // namespace

const Command kJsonCommand = {"json", "JSON documents: canonical form",
                              "usage: kaldro json <subcommand> [arguments]\n", nullptr,
                              kJsonSubs, sizeof kJsonSubs / sizeof kJsonSubs[0]};

const Command kTomlCommand = {"toml", "TOML documents: read a value",
                              "usage: kaldro toml <subcommand> [arguments]\n", nullptr,
                              kTomlSubs, sizeof kTomlSubs / sizeof kTomlSubs[0]};

}  // namespace tool
