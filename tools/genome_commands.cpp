// `kaldro genome ...`: save, catalog, load, window and edit genome directories, export
// and import chromosome bundles, explode and pack them, and verify a genome (a small
// fsck that reports every problem it finds).
#include "genome_tool.h"

#include <atomic>
#include <chrono>
#include <cinttypes>
#include <cstring>
#include <dirent.h>
#include <string>
#include <thread>
#include <unistd.h>

namespace tool {

// ---- shared helpers of the genome commands ---------------------------------------------

const kaldro_json_node *json_get(const kaldro_json_node *obj, const char *key, int kind) {
  const kaldro_json_node *v = kaldro_json_object_get(obj, key);
  return (v != nullptr && v->kind == kind) ? v : nullptr;
}

std::string json_string(const kaldro_json_node *v) {
  return v != nullptr && v->kind == KALDRO_JSON_STRING ? std::string(v->str, v->len) : std::string();
}

std::string cap_label(const uint8_t *record, uint32_t leaf_dim) {
  std::string label;
  for (uint32_t i = 1; i < leaf_dim && record[i] != 0; ++i) label.push_back(char(record[i]));
  return label;
}

bool GenomeProbe::load(const std::string &dir_path, const std::vector<uint8_t> *the_one_given) {
  dir = dir_path;
  has_body = file_size(dir + "/turns.bin", body_size);
  if (!has_body) body_size = 0;
  has_manifest = file_size(dir + "/manifest.json", manifest_size);
  if (!has_manifest) manifest_size = 0;
  if (has_manifest) {
    std::vector<uint8_t> text;
    std::string error;
    if (!read_file(dir + "/manifest.json", text, error)) return true;
    while (!text.empty() && (text.back() == '\n' || text.back() == '\r')) text.pop_back();
    const kaldro_json_node *root = nullptr;
    if (parse_json(text, manifest_arena, &root) != KALDRO_OK) return true;
    manifest = root;
    const kaldro_json_node *data = json_get(root, "data", KALDRO_JSON_OBJECT);
    const kaldro_json_node *ld = json_get(data, "leaf_dim", KALDRO_JSON_INT);
    if (ld != nullptr && ld->integer >= 1 && ld->integer <= 256) leaf_dim = uint32_t(ld->integer);
    const kaldro_json_node *chroms = json_get(data, "chromosomes", KALDRO_JSON_ARRAY);
    if (chroms != nullptr) {
      chromosomes = chroms->count;
      for (uint32_t i = 0; i < chroms->count; ++i) {
        const kaldro_json_node *len = json_get(chroms->items[i], "byte_len", KALDRO_JSON_INT);
        if (len != nullptr && len->integer > 0 && uint64_t(len->integer) > max_region)
          max_region = uint64_t(len->integer);
      }
    }
    const kaldro_json_node *one = json_get(data, "the_one", KALDRO_JSON_OBJECT);
    const kaldro_json_node *hex = json_get(one, "hex", KALDRO_JSON_STRING);
    if (hex != nullptr) {
      const std::string text_hex(hex->str, hex->len);
      std::vector<uint8_t> bytes;
      if (parse_hex(text_hex.c_str(), bytes) && !bytes.empty()) stored_the_one = bytes;
    }
    return true;
  }
  // Without a manifest the catalog is rebuilt from the body with the caller's the_one;
  // count its caps the same way to size the workspace.
  if (has_body && the_one_given != nullptr && !the_one_given->empty() &&
      the_one_given->size() <= 256) {
    std::vector<uint8_t> body;
    std::string error;
    if (!read_file(dir + "/turns.bin", body, error)) return true;
    leaf_dim = uint32_t(the_one_given->size());
    uint64_t region_start = 0;
    bool open = false;
    for (uint64_t at = 0; at + leaf_dim <= body.size(); at += leaf_dim) {
      if (body[at] != 'C') continue;
      if (open && at - region_start > max_region) max_region = at - region_start;
      region_start = at;
      open = true;
      ++chromosomes;
    }
    if (open && body.size() - region_start > max_region) max_region = body.size() - region_start;
  }
  return true;
}

uint64_t GenomeProbe::workspace_bytes(uint64_t extra_body, uint32_t extra_chromosomes,
                                      uint64_t region) const {
  const uint64_t r = region > max_region ? region : max_region;
  // The catalog reads manifest.json whole and parses it in the same workspace; a
  // manifest larger than a saved one would be (edited by hand) needs room of its own.
  const uint64_t manifest_room = manifest_size + 16 + 128 * manifest_size + 8192;
  return kaldro_genome_arena_bytes(body_size + extra_body, chromosomes + extra_chromosomes, r) +
         manifest_room;
}

// --the-one HEX / --the-one-file FILE.
int TheOne::read(const Args &args, const char *cmd) {
  const char *hex = args.value("--the-one");
  const char *file = args.value("--the-one-file");
  if (hex != nullptr && file != nullptr)
    return usage_error(cmd, "give either --the-one or --the-one-file, not both");
  if (hex != nullptr) {
    if (!parse_hex(hex, bytes) || bytes.empty())
      return usage_error(cmd, "--the-one needs an even number of hexadecimal digits");
    given = true;
  }
  if (file != nullptr) {
    std::string error;
    if (!read_file(file, bytes, error))
      return fail_plain(cmd, std::string("cannot read '") + file + "': " + error);
    given = true;
  }
  return kExitOk;
}

bool parse_leaf_dim(const Args &args, uint32_t &leaf_dim, bool &given) {
  given = false;
  const char *v = args.value("--leaf-dim");
  if (v == nullptr) return true;
  uint64_t n = 0;
  if (!parse_u64(v, n) || n > 0xffffffffu) return false;
  leaf_dim = uint32_t(n);
  given = true;
  return true;
}

namespace {

const uint8_t *opt_ptr(const TheOne &one) { return one.given ? one.bytes.data() : nullptr; }
std::size_t opt_len(const TheOne &one) { return one.given ? one.bytes.size() : 0; }

// The opening every genome command shares: its options, the count of its positional
// arguments and the_one. kExitOk, or the exit status of an error already reported.
int open_command(const char *cmd, const Args &args, std::size_t want, const char *needs,
                 TheOne &one) {
  if (!args.ok()) return usage_error(cmd, args.error());
  if (args.positional().size() != want) return usage_error(cmd, needs);
  return one.read(args, cmd);
}

#if KALDRO_TOOL_HAS_BUNDLES
// Shows a progress line on standard error while a long call runs, when standard error
// is a terminal; `measure` reports the progress as text.
class Progress {
 public:
  Progress(const char *cmd, std::string (*measure)(const std::string &, uint64_t),
           std::string arg, uint64_t total)
      : cmd_(cmd), measure_(measure), arg_(std::move(arg)), total_(total) {
    if (::isatty(2)) thread_ = std::thread([this] { loop(); });
  }
  ~Progress() { finish(); }
  void finish() {
    if (!thread_.joinable()) return;
    done_ = true;
    thread_.join();
    std::fprintf(stderr, "\r\033[K");
  }

 private:
  void loop() {
    while (!done_) {
      std::fprintf(stderr, "\rkaldro: %s: %s\033[K", cmd_, measure_(arg_, total_).c_str());
      for (int i = 0; i < 10 && !done_; ++i)
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
  }
  const char *cmd_;
  std::string (*measure_)(const std::string &, uint64_t);
  std::string arg_;
  uint64_t total_;
  std::atomic<bool> done_{false};
  std::thread thread_;
};

std::vector<std::string> bundle_names(const std::string &dir) {
  std::vector<std::string> names;
  DIR *d = ::opendir(dir.c_str());
  if (d == nullptr) return names;
  while (struct dirent *e = ::readdir(d)) {
    const std::size_t n = std::strlen(e->d_name);
    if (n >= 5 && n <= 263 && std::strcmp(e->d_name + n - 4, ".chr") == 0) names.push_back(e->d_name);
  }
  ::closedir(d);
  return names;
}

std::string count_bundles(const std::string &dir, uint64_t total) {
  char line[96];
  std::snprintf(line, sizeof line, "%zu of %" PRIu64 " bundles written", bundle_names(dir).size(),
                total);
  return line;
}

std::string body_growth(const std::string &dir, uint64_t total) {
  uint64_t size = 0;
  file_size(dir + "/turns.bin", size);
  char line[96];
  std::snprintf(line, sizeof line, "body at %" PRIu64 " bytes, %" PRIu64 " bundles to import",
                size, total);
  return line;
}

#endif

const std::vector<std::string> kOneOptions = {"--the-one", "--the-one-file"};

std::vector<std::string> with(std::vector<std::string> a, const std::vector<std::string> &b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

int library_failure(const char *cmd, const std::string &what, kaldro_status st) {
  return fail(cmd, what, st);
}

// ---- save ------------------------------------------------------------------------------

int run_save(int argc, char **argv) {
  const char *cmd = "genome save";
  Args args(argc, argv, {}, with({"--leaf-dim"}, kOneOptions));
  TheOne one;
  if (int rc = open_command(cmd, args, 2, "needs DIR and BODYFILE", one)) return rc;
  const std::string dir = args.positional()[0], body_path = args.positional()[1];
  if (!one.given) return usage_error(cmd, "needs the genome's the_one (--the-one or --the-one-file)");
  uint32_t leaf_dim = uint32_t(one.bytes.size());
  bool ld_given = false;
  if (!parse_leaf_dim(args, leaf_dim, ld_given)) return usage_error(cmd, "--leaf-dim needs a number");
  if (!is_directory(dir)) return fail_plain(cmd, "'" + dir + "' is not a directory");

  std::vector<uint8_t> body;
  std::string error;
  if (!read_file(body_path, body, error))
    return fail_plain(cmd, "cannot read '" + body_path + "': " + error);
  uint32_t caps = 0;
  if (leaf_dim >= 1 && leaf_dim <= 256)
    for (std::size_t at = 0; at + leaf_dim <= body.size(); at += leaf_dim) caps += body[at] == 'C';
  Block ws(kaldro_genome_arena_bytes(body.size(), caps, 0));
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  const kaldro_status st = kaldro_genome_save(dir.c_str(), body.empty() ? nullptr : body.data(),
                                              body.size(), leaf_dim, one.bytes.data(),
                                              one.bytes.size(), ws.data(), ws.size());
  if (st != KALDRO_OK) {
    std::string why = "cannot save the genome";
    if (st == KALDRO_ERR_INVALID)
      why = "the body is not whole records opening with a cap record, or the_one is not "
            "leaf_dim bytes";
    return library_failure(cmd, why, st);
  }
  std::printf("saved %s: %u chromosomes, %zu bytes in records of %u bytes\n", dir.c_str(), caps,
              body.size(), leaf_dim);
  return kExitOk;
}

// ---- catalog ---------------------------------------------------------------------------

std::string int_text(const kaldro_json_node *v) {
  if (v == nullptr || v->kind != KALDRO_JSON_INT) return "?";
  return std::to_string(v->integer);
}

int run_catalog(int argc, char **argv) {
  const char *cmd = "genome catalog";
  Args args(argc, argv, {"--json"}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 1, "needs DIR", one)) return rc;
  const std::string dir = args.positional()[0];
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  Block ws(probe.workspace_bytes(0, 0, 0));
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  const kaldro_json_node *root = nullptr;
  const kaldro_status st =
      kaldro_genome_catalog(dir.c_str(), opt_ptr(one), opt_len(one), ws.data(), ws.size(), &root);
  if (st != KALDRO_OK) {
    if (!probe.has_manifest && !probe.has_body)
      return library_failure(cmd, "'" + dir + "' holds no genome", st);
    if (!probe.has_manifest && !one.given)
      return library_failure(cmd, "no manifest.json; give --the-one to rebuild the catalog", st);
    return library_failure(cmd, "cannot read the catalog of '" + dir + "'", st);
  }
  if (args.flag("--json")) {
    std::string text;
    const kaldro_status wst = write_json(root, text);
    if (wst != KALDRO_OK) return library_failure(cmd, "cannot write the manifest", wst);
    std::printf("%s\n", text.c_str());
    return kExitOk;
  }
  const kaldro_json_node *data = json_get(root, "data", KALDRO_JSON_OBJECT);
  const kaldro_json_node *chroms = json_get(data, "chromosomes", KALDRO_JSON_ARRAY);
  if (data == nullptr || chroms == nullptr)
    return fail(cmd, "the manifest has no chromosome list", KALDRO_ERR_INVALID);
  std::printf("genome %s: leaf_dim %s, %s turns, %u chromosomes%s\n", dir.c_str(),
              int_text(json_get(data, "leaf_dim", KALDRO_JSON_INT)).c_str(),
              int_text(json_get(data, "n_turns", KALDRO_JSON_INT)).c_str(), chroms->count,
              probe.has_manifest ? "" : " (rebuilt from the body: no manifest.json)");
  std::printf("body sha256 %s\n",
              printable(json_string(json_get(data, "body_sha256", KALDRO_JSON_STRING)).data(),
                        json_string(json_get(data, "body_sha256", KALDRO_JSON_STRING)).size())
                  .c_str());
  std::size_t label_width = 5;
  for (uint32_t i = 0; i < chroms->count; ++i) {
    const std::string l = json_string(json_get(chroms->items[i], "label", KALDRO_JSON_STRING));
    label_width = std::max(label_width, printable(l.data(), l.size()).size());
  }
  label_width = std::min<std::size_t>(label_width, 40);
  std::printf("%-*s %10s %10s %8s  %s\n", int(label_width), "label", "offset", "length", "leaves",
              "cap digest");
  for (uint32_t i = 0; i < chroms->count; ++i) {
    const kaldro_json_node *c = chroms->items[i];
    const std::string l = json_string(json_get(c, "label", KALDRO_JSON_STRING));
    const std::string cap = json_string(json_get(c, "cap_sha256", KALDRO_JSON_STRING));
    std::printf("%-*s %10s %10s %8s  %s\n", int(label_width), printable(l.data(), l.size()).c_str(),
                int_text(json_get(c, "byte_offset", KALDRO_JSON_INT)).c_str(),
                int_text(json_get(c, "byte_len", KALDRO_JSON_INT)).c_str(),
                int_text(json_get(c, "leaf_count", KALDRO_JSON_INT)).c_str(),
                printable(cap.data(), cap.size()).c_str());
  }
  return kExitOk;
}

// ---- load and window -------------------------------------------------------------------

int run_load(int argc, char **argv) {
  const char *cmd = "genome load";
  Args args(argc, argv, {}, with({"-o", "--output"}, kOneOptions));
  TheOne one;
  if (int rc = open_command(cmd, args, 1, "needs DIR", one)) return rc;
  const std::string dir = args.positional()[0];
  const char *output = args.value("-o") ? args.value("-o") : args.value("--output");
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  Block ws(probe.workspace_bytes(0, 0, 0));
  std::vector<uint8_t> body(std::size_t(probe.body_size) + 1);
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  std::size_t len = 0;
  const kaldro_status st = kaldro_genome_load(dir.c_str(), body.data(), body.size(), &len,
                                              opt_ptr(one), opt_len(one), ws.data(), ws.size());
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, "the body of '" + dir + "' does not match its manifest", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot load '" + dir + "'", st);
  if (output != nullptr) {
    std::string error;
    if (!write_file(output, body.data(), len, error))
      return fail_plain(cmd, std::string("cannot write '") + output + "': " + error);
    if (std::strcmp(output, "-") == 0) return kExitOk;
  }
  char hex[65];
  kaldro_sha256_hex(len ? body.data() : nullptr, len, hex);
  std::printf("loaded %s: %zu bytes, body digest %s verified\n", dir.c_str(), len, hex);
  return kExitOk;
}

int run_window(int argc, char **argv) {
  const char *cmd = "genome window";
  Args args(argc, argv, {"--records"}, with({"-o", "--output"}, kOneOptions));
  TheOne one;
  if (int rc = open_command(cmd, args, 2, "needs DIR and LABEL", one)) return rc;
  const std::string dir = args.positional()[0], label = args.positional()[1];
  const char *output = args.value("-o") ? args.value("-o") : args.value("--output");
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  Block ws(probe.workspace_bytes(0, 0, 0));
  std::vector<uint8_t> region(std::size_t(std::max<uint64_t>(probe.max_region, probe.body_size)) + 1);
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  std::size_t len = 0;
  const kaldro_status st =
      kaldro_genome_window(dir.c_str(), label.c_str(), region.data(), region.size(), &len,
                           opt_ptr(one), opt_len(one), ws.data(), ws.size());
  if (st == KALDRO_ERR_INVALID && len > 0)
    return library_failure(cmd, "the cap record of '" + label + "' does not match its digest", st);
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, "no chromosome '" + label + "' in '" + dir + "'", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot read '" + label + "'", st);
  if (output != nullptr) {
    std::string error;
    if (!write_file(output, region.data(), len, error))
      return fail_plain(cmd, std::string("cannot write '") + output + "': " + error);
    if (std::strcmp(output, "-") == 0) return kExitOk;
  }
  const uint32_t ld = probe.leaf_dim ? probe.leaf_dim : 1;
  std::printf("chromosome %s: %zu bytes, %zu records, cap verified\n", label.c_str(), len, len / ld);
  if (args.flag("--records"))
    for (std::size_t at = 0; at < len; at += ld)
      std::printf("  %8zu  %s\n", at, to_hex(region.data() + at, std::min<std::size_t>(ld, len - at)).c_str());
  return kExitOk;
}

// ---- edits -----------------------------------------------------------------------------

// The_one and leaf_dim of an edit: given, or else the genome's own.
int edit_identity(const Args &args, const char *cmd, const GenomeProbe &probe, TheOne &one,
                  uint32_t &leaf_dim) {
  if (!one.given) {
    if (probe.stored_the_one.empty())
      return usage_error(cmd, "the genome's manifest names no the_one; give --the-one");
    one.bytes = probe.stored_the_one;
    one.given = true;
  }
  leaf_dim = probe.leaf_dim ? probe.leaf_dim : uint32_t(one.bytes.size());
  bool given = false;
  if (!parse_leaf_dim(args, leaf_dim, given)) return usage_error(cmd, "--leaf-dim needs a number");
  return kExitOk;
}

int run_append_or_replace(int argc, char **argv, bool replace) {
  const char *cmd = replace ? "genome replace" : "genome append";
  Args args(argc, argv, {}, with({"--leaf-dim", "--label"}, kOneOptions));
  const std::size_t want = replace ? 3 : 2;
  TheOne one;
  if (int rc = open_command(cmd, args, want,
                            replace ? "needs DIR, LABEL and REGIONFILE" : "needs DIR and REGIONFILE", one))
    return rc;
  const std::string dir = args.positional()[0];
  const std::string region_path = args.positional()[want - 1];
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  uint32_t leaf_dim = 0;
  if (int rc = edit_identity(args, cmd, probe, one, leaf_dim)) return rc;
  std::vector<uint8_t> region;
  std::string error;
  if (!read_file(region_path, region, error))
    return fail_plain(cmd, "cannot read '" + region_path + "': " + error);
  std::string label;
  if (replace) {
    label = args.positional()[1];
  } else if (args.value("--label") != nullptr) {
    label = args.value("--label");
  } else if (!region.empty() && leaf_dim >= 1 && region.size() >= leaf_dim) {
    label = cap_label(region.data(), leaf_dim);
  }
  uint32_t caps = 0;
  if (leaf_dim >= 1 && leaf_dim <= 256)
    for (std::size_t at = 0; at + leaf_dim <= region.size(); at += leaf_dim) caps += region[at] == 'C';
  Block ws(probe.workspace_bytes(region.size(), caps, region.size()));
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  const uint8_t *src = region.empty() ? nullptr : region.data();
  const kaldro_status st =
      replace ? kaldro_genome_replace(dir.c_str(), label.c_str(), src, region.size(), leaf_dim,
                                      one.bytes.data(), one.bytes.size(), ws.data(), ws.size())
              : kaldro_genome_append(dir.c_str(), label.c_str(), src, region.size(), leaf_dim,
                                     one.bytes.data(), one.bytes.size(), ws.data(), ws.size());
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd,
                           replace ? "cannot replace '" + label + "': no such chromosome, a "
                                     "region that is not whole records opening with a cap, a "
                                     "label clash, or a body that no longer matches its manifest"
                                   : "cannot append '" + label + "': a region that is not whole "
                                     "records opening with its cap, a label already catalogued, "
                                     "or a body that no longer matches its manifest",
                           st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot edit '" + dir + "'", st);
  std::printf("%s %s in %s: %zu bytes\n", replace ? "replaced" : "appended", label.c_str(),
              dir.c_str(), region.size());
  return kExitOk;
}

int run_append(int argc, char **argv) { return run_append_or_replace(argc, argv, false); }
int run_replace(int argc, char **argv) { return run_append_or_replace(argc, argv, true); }

int run_remove(int argc, char **argv) {
  const char *cmd = "genome remove";
  Args args(argc, argv, {}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 2, "needs DIR and LABEL", one)) return rc;
  const std::string dir = args.positional()[0], label = args.positional()[1];
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  uint32_t leaf_dim = 0;
  if (int rc = edit_identity(args, cmd, probe, one, leaf_dim)) return rc;
  Block ws(probe.workspace_bytes(0, 0, 0));
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  const kaldro_status st = kaldro_genome_remove(dir.c_str(), label.c_str(), one.bytes.data(),
                                                one.bytes.size(), ws.data(), ws.size());
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, "cannot remove '" + label + "': no such chromosome, the last "
                           "one, or a body that no longer matches its manifest", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot edit '" + dir + "'", st);
  std::printf("removed %s from %s\n", label.c_str(), dir.c_str());
  return kExitOk;
}

#if KALDRO_TOOL_HAS_BUNDLES
// ---- bundles ---------------------------------------------------------------------------

int run_export(int argc, char **argv) {
  const char *cmd = "genome export";
  Args args(argc, argv, {}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 3, "needs DIR, LABEL and BUNDLEFILE", one)) return rc;
  const std::string dir = args.positional()[0], label = args.positional()[1],
                    out = args.positional()[2];
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  Block ws(probe.workspace_bytes(0, 0, 0));
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  const kaldro_status st = kaldro_genome_export(dir.c_str(), label.c_str(), out.c_str(),
                                                opt_ptr(one), opt_len(one), ws.data(), ws.size());
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, "cannot export '" + label + "': no such chromosome, or its cap "
                           "record does not match its digest", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot export '" + label + "'", st);
  std::printf("exported %s to %s\n", label.c_str(), out.c_str());
  return kExitOk;
}

int run_import(int argc, char **argv) {
  const char *cmd = "genome import";
  Args args(argc, argv, {}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 2, "needs BUNDLEFILE and DIR", one)) return rc;
  const std::string bundle = args.positional()[0], dir = args.positional()[1];
  uint64_t bundle_size = 0;
  if (!file_size(bundle, bundle_size)) return fail_plain(cmd, "cannot read '" + bundle + "'");
  if (!is_directory(dir)) return fail_plain(cmd, "'" + dir + "' is not a directory");
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  // The bundle text, its decoded region, its parsed tree, then the merged body and the
  // save's workspace.
  Block ws(probe.workspace_bytes(bundle_size, 1, bundle_size) + 130 * bundle_size + 8192);
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  const kaldro_status st = kaldro_genome_import(bundle.c_str(), dir.c_str(), opt_ptr(one),
                                                opt_len(one), ws.data(), ws.size());
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, "'" + bundle + "' does not verify, or does not fit '" + dir +
                           "' (another the_one or leaf_dim, or its label is already there)", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot import '" + bundle + "'", st);
  std::printf("imported %s into %s\n", bundle.c_str(), dir.c_str());
  return kExitOk;
}

int run_explode(int argc, char **argv) {
  const char *cmd = "genome explode";
  Args args(argc, argv, {}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 2, "needs DIR and OUTDIR", one)) return rc;
  const std::string dir = args.positional()[0], out_dir = args.positional()[1];
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  Block ws(probe.workspace_bytes(0, 0, 0) + 256 * uint64_t(probe.chromosomes + 1));
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  kaldro_status st;
  {
    Progress progress(cmd, count_bundles, out_dir, probe.chromosomes);
    st = kaldro_genome_explode(dir.c_str(), out_dir.c_str(), opt_ptr(one), opt_len(one),
                               ws.data(), ws.size());
  }
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, "a label of '" + dir + "' is no file name (empty, '.', '..', or "
                           "holding a slash), or a cap record does not match its digest", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot explode '" + dir + "' into '" + out_dir + "'", st);
  std::printf("exploded %s: %u bundles in %s\n", dir.c_str(), probe.chromosomes, out_dir.c_str());
  return kExitOk;
}

int run_pack(int argc, char **argv) {
  const char *cmd = "genome pack";
  Args args(argc, argv, {}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 2, "needs BUNDLEDIR and DIR", one)) return rc;
  const std::string bundle_dir = args.positional()[0], dir = args.positional()[1];
  if (!is_directory(dir)) return fail_plain(cmd, "'" + dir + "' is not a directory");
  const std::vector<std::string> names = bundle_names(bundle_dir);
  uint64_t total = 0, largest = 0;
  for (const std::string &n : names) {
    uint64_t size = 0;
    if (file_size(bundle_dir + "/" + n, size)) {
      total += size;
      largest = std::max(largest, size);
    }
  }
  GenomeProbe probe;
  probe.load(dir, one.given_bytes());
  const uint64_t m = names.size();
  Block ws(probe.workspace_bytes(total, uint32_t(m), largest) + 520 * m + 130 * largest + 8192);
  if (!ws.ok()) return fail(cmd, "no memory for the workspace", KALDRO_ERR_RESOURCE);
  kaldro_status st;
  {
    Progress progress(cmd, body_growth, dir, m);
    st = kaldro_genome_pack(bundle_dir.c_str(), dir.c_str(), opt_ptr(one), opt_len(one),
                            ws.data(), ws.size());
  }
  if (st == KALDRO_ERR_INVALID)
    return library_failure(cmd, names.empty() ? "'" + bundle_dir + "' holds no .chr bundle"
                                              : "a bundle of '" + bundle_dir + "' does not verify "
                                                "or does not fit '" + dir + "'", st);
  if (st != KALDRO_OK) return library_failure(cmd, "cannot pack '" + bundle_dir + "'", st);
  std::printf("packed %zu bundles from %s into %s\n", names.size(), bundle_dir.c_str(), dir.c_str());
  return kExitOk;
}
#endif

// ---- verify ----------------------------------------------------------------------------

int run_verify(int argc, char **argv) {
  const char *cmd = "genome verify";
  Args args(argc, argv, {"--quiet"}, kOneOptions);
  TheOne one;
  if (int rc = open_command(cmd, args, 1, "needs DIR", one)) return rc;
  const std::string dir = args.positional()[0];
  GenomeReport report = verify_genome(dir, one.given_bytes());
  if (!report.is_genome) return fail(cmd, "'" + dir + "' holds no genome", KALDRO_ERR_IO);
  for (const std::string &p : report.problems) std::printf("%s: %s\n", dir.c_str(), p.c_str());
  if (!report.problems.empty()) {
    char what[64];
    std::snprintf(what, sizeof what, "%zu problem%s found", report.problems.size(),
                  report.problems.size() == 1 ? "" : "s");
    return fail(cmd, what, KALDRO_ERR_INVALID);
  }
  if (!args.flag("--quiet"))
    std::printf("%s: genome verified: %u chromosomes, %" PRIu64 " bytes, body and caps match\n",
                dir.c_str(), report.chromosomes, report.body_bytes);
  return kExitOk;
}

#define THE_ONE_HELP                                                      \
  "  --the-one HEX        the genome's the_one as hexadecimal text\n"    \
  "  --the-one-file FILE  the genome's the_one as the raw bytes of FILE\n"

const Command kGenomeSubs[] = {
    {"save", "save a body file as a genome",
     "usage: kaldro genome save DIR BODYFILE (--the-one HEX | --the-one-file FILE) "
     "[--leaf-dim N]\n"
     "\n"
     "Writes the records of BODYFILE as the body of the genome in the existing directory\n"
     "DIR and derives its manifest. The body is a run of records of leaf_dim bytes (the\n"
     "length of the_one unless --leaf-dim says otherwise); a record whose first byte is\n"
     "'C' opens a chromosome and carries its label. Nothing is changed when the body is\n"
     "refused.\n"
     "\n" THE_ONE_HELP
     "  --leaf-dim N         the record width, 1 to 256\n",
     run_save, nullptr, 0},
    {"catalog", "list the chromosomes of a genome",
     "usage: kaldro genome catalog DIR [--json] [--the-one HEX | --the-one-file FILE]\n"
     "\n"
     "Prints a table of the chromosomes of the genome in DIR: label, byte offset, byte\n"
     "length, leaf count and cap digest. Without manifest.json the catalog is rebuilt\n"
     "from the body, which needs the_one.\n"
     "\n"
     "  --json               print the manifest in canonical form instead\n" THE_ONE_HELP,
     run_catalog, nullptr, 0},
    {"load", "read a genome's body and verify its digest",
     "usage: kaldro genome load DIR [-o FILE] [--the-one HEX | --the-one-file FILE]\n"
     "\n"
     "Reads the body of the genome in DIR and checks it against the manifest's body\n"
     "digest; a body that does not match is refused (status 2) and nothing is written.\n"
     "\n"
     "  -o, --output FILE    write the verified body to FILE ('-' for standard output)\n"
     THE_ONE_HELP,
     run_load, nullptr, 0},
    {"window", "read one chromosome and verify its cap",
     "usage: kaldro genome window DIR LABEL [-o FILE] [--records] [--the-one HEX]\n"
     "\n"
     "Reads the region of the chromosome LABEL and checks its cap record against the\n"
     "manifest's cap digest.\n"
     "\n"
     "  -o, --output FILE    write the region to FILE ('-' for standard output)\n"
     "  --records            print every record of the region in hexadecimal\n" THE_ONE_HELP,
     run_window, nullptr, 0},
    {"append", "add a chromosome at the end of a genome",
     "usage: kaldro genome append DIR REGIONFILE [--label LABEL] [--the-one HEX]\n"
     "\n"
     "Adds the records of REGIONFILE, which open with a cap record, as the last\n"
     "chromosome; its label is the cap's unless --label gives it. The genome's the_one\n"
     "and leaf_dim are kept unless given.\n"
     "\n"
     "  --label LABEL        the label the region's cap carries\n"
     "  --leaf-dim N         the record width (the genome's own by default)\n" THE_ONE_HELP,
     run_append, nullptr, 0},
    {"remove", "remove a chromosome from a genome",
     "usage: kaldro genome remove DIR LABEL [--the-one HEX | --the-one-file FILE]\n"
     "\n"
     "Cuts the region of the chromosome LABEL out of the body; the last chromosome of a\n"
     "genome cannot be removed.\n"
     "\n" THE_ONE_HELP,
     run_remove, nullptr, 0},
    {"replace", "put new records in a chromosome's place",
     "usage: kaldro genome replace DIR LABEL REGIONFILE [--the-one HEX]\n"
     "\n"
     "Puts the records of REGIONFILE in place of the chromosome LABEL; an empty file\n"
     "removes it, and a cap with another label renames it.\n"
     "\n"
     "  --leaf-dim N         the record width (the genome's own by default)\n" THE_ONE_HELP,
     run_replace, nullptr, 0},
#if KALDRO_TOOL_HAS_BUNDLES
    {"export", "write one chromosome as a bundle file",
     "usage: kaldro genome export DIR LABEL BUNDLEFILE [--the-one HEX]\n"
     "\n"
     "Writes the chromosome LABEL as a self-verifying bundle file.\n"
     "\n" THE_ONE_HELP,
     run_export, nullptr, 0},
    {"import", "add the chromosome of a bundle file to a genome",
     "usage: kaldro genome import BUNDLEFILE DIR [--the-one HEX]\n"
     "\n"
     "Verifies the bundle and adds its chromosome to the genome in DIR, creating the\n"
     "genome when DIR holds none. The bundle must carry the genome's the_one and\n"
     "leaf_dim and a label the genome does not have.\n"
     "\n" THE_ONE_HELP,
     run_import, nullptr, 0},
    {"explode", "write every chromosome as a bundle file",
     "usage: kaldro genome explode DIR OUTDIR [--the-one HEX]\n"
     "\n"
     "Writes one bundle file LABEL.chr per chromosome into the existing directory\n"
     "OUTDIR. Shows progress on standard error when it is a terminal.\n"
     "\n" THE_ONE_HELP,
     run_explode, nullptr, 0},
    {"pack", "import every bundle file of a directory",
     "usage: kaldro genome pack BUNDLEDIR DIR [--the-one HEX]\n"
     "\n"
     "Imports every .chr bundle of BUNDLEDIR into the genome in DIR, in the order of\n"
     "their labels. Every bundle is checked before any is imported. Shows progress on\n"
     "standard error when it is a terminal.\n"
     "\n" THE_ONE_HELP,
     run_pack, nullptr, 0},
#endif
    {"verify", "check a genome and report every problem",
     "usage: kaldro genome verify DIR [--quiet] [--the-one HEX | --the-one-file FILE]\n"
     "\n"
     "Checks the genome in DIR: the manifest's form, the body digest, every chromosome's\n"
     "offset, length, leaf count, label and cap digest against the body, and the_one's\n"
     "digest (and its bytes, when given). Prints one line per problem found and fails\n"
     "with status 2 when there is any.\n"
     "\n"
     "  --quiet              print nothing when the genome is sound\n" THE_ONE_HELP,
     run_verify, nullptr, 0},
};

}  // namespace

const Command kGenomeCommand = {
    "genome", "save, inspect, edit, bundle and verify genome directories",
    "usage: kaldro genome <subcommand> [arguments]\n"
    "\n"
    "A genome is a directory holding turns.bin (the body: fixed-width records, each\n"
    "chromosome opened by a cap record) and manifest.json (its attested catalog).\n",
    nullptr, kGenomeSubs, sizeof kGenomeSubs / sizeof kGenomeSubs[0]};

}  // namespace tool
