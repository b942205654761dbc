// An independent model of a genome for the store's tests: bodies built from chromosome
// lists, the catalog derived from the record rules, the manifest text produced by a
// canonical JSON writer of the tests' own with OpenSSL's SHA-256, and file helpers.
#pragma once

#include <dirent.h>
#include <openssl/sha.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cstdint>
#include <cstdio>
#include <cstring>
#include <map>
#include <new>
#include <optional>
#include <string>
#include <utility>
#include <vector>

namespace store_ref {

using Bytes = std::vector<uint8_t>;

inline std::string sha256_hex(const void *data, size_t len) {
  unsigned char d[SHA256_DIGEST_LENGTH];
  SHA256(static_cast<const unsigned char *>(data), len, d);
  static const char digits[] = "0123456789abcdef";
  std::string out;
  for (unsigned char c : d) {
    out.push_back(digits[c >> 4]);
    out.push_back(digits[c & 15]);
  }
  return out;
}
inline std::string sha256_hex(const Bytes &b) { return sha256_hex(b.data(), b.size()); }
inline std::string sha256_hex(const std::string &s) { return sha256_hex(s.data(), s.size()); }

// A JSON value and a canonical writer: members sorted bytewise by key, ", " and ": "
// separators, no other white space, strings escaped with \" \\ \b \t \n \f \r and
// \u00xx for the remaining control bytes.
struct Json {
  enum Kind { Int, Str, Arr, Obj } kind = Int;
  int64_t i = 0;
  std::string s;
  std::vector<Json> items;
  std::vector<std::pair<std::string, Json>> members;

  static Json num(int64_t v) { Json j; j.kind = Int; j.i = v; return j; }
  static Json str(std::string v) { Json j; j.kind = Str; j.s = std::move(v); return j; }
  static Json arr(std::vector<Json> v) { Json j; j.kind = Arr; j.items = std::move(v); return j; }
  static Json obj(std::vector<std::pair<std::string, Json>> v) {
    Json j; j.kind = Obj; j.members = std::move(v); return j;
  }
};

inline void write_string(std::string &out, const std::string &s) {
  out.push_back('"');
  for (unsigned char c : s) {
    switch (c) {
      case '"': out += "\\\""; break;
      case '\\': out += "\\\\"; break;
      case 0x08: out += "\\b"; break;
      case 0x09: out += "\\t"; break;
      case 0x0A: out += "\\n"; break;
      case 0x0C: out += "\\f"; break;
      case 0x0D: out += "\\r"; break;
      default:
        if (c < 0x20) {
          char buf[8];
          snprintf(buf, sizeof buf, "\\u%04x", c);
          out += buf;
        } else {
          out.push_back(char(c));
        }
    }
  }
  out.push_back('"');
}

inline void write_json(std::string &out, const Json &j) {
  switch (j.kind) {
    case Json::Int: out += std::to_string(j.i); break;
    case Json::Str: write_string(out, j.s); break;
    case Json::Arr:
      out.push_back('[');
      for (size_t k = 0; k < j.items.size(); ++k) {
        if (k) out += ", ";
        write_json(out, j.items[k]);
      }
      out.push_back(']');
      break;
    case Json::Obj: {
      std::vector<const std::pair<std::string, Json> *> order;
      for (const auto &m : j.members) order.push_back(&m);
      std::stable_sort(order.begin(), order.end(), [](auto *a, auto *b) {
        return std::lexicographical_compare(
            a->first.begin(), a->first.end(), b->first.begin(), b->first.end(),
            [](char x, char y) { return (unsigned char)x < (unsigned char)y; });
      });
      out.push_back('{');
      for (size_t k = 0; k < order.size(); ++k) {
        if (k) out += ", ";
        write_string(out, order[k]->first);
        out += ": ";
        write_json(out, order[k]->second);
      }
      out.push_back('}');
      break;
    }
  }
}

inline std::string canonical(const Json &j) {
  std::string out;
  write_json(out, j);
  return out;
}

// One catalogued chromosome, derived from the record rules.
struct Entry {
  std::string label;
  uint64_t offset = 0, len = 0, leaf_count = 0;
  std::string cap_sha256;
};

inline std::vector<Entry> scan(const Bytes &body, uint32_t leaf_dim) {
  std::vector<Entry> out;
  for (size_t off = 0; off + leaf_dim <= body.size(); off += leaf_dim) {
    const uint8_t tag = body[off];
    if (tag == 'C') {
      Entry e;
      for (uint32_t k = 1; k < leaf_dim && body[off + k] != 0; ++k) e.label.push_back(char(body[off + k]));
      e.offset = off;
      e.len = leaf_dim;
      e.cap_sha256 = sha256_hex(body.data() + off, leaf_dim);
      out.push_back(e);
    } else if (!out.empty()) {
      out.back().len += leaf_dim;
      if (tag != 'G') out.back().leaf_count++;
    }
  }
  return out;
}

inline std::string hex_of(const Bytes &b) {
  static const char digits[] = "0123456789abcdef";
  std::string s;
  for (uint8_t c : b) {
    s.push_back(digits[c >> 4]);
    s.push_back(digits[c & 15]);
  }
  return s;
}

// The manifest document for a body, as a tree.
inline Json manifest_tree(const Bytes &body, uint32_t leaf_dim, const Bytes &the_one) {
  using P = std::pair<std::string, Json>;
  const std::string body_sha = sha256_hex(body);
  std::vector<Json> chroms;
  for (const Entry &e : scan(body, leaf_dim)) {
    chroms.push_back(Json::obj({P("label", Json::str(e.label)),
                                P("cap_sha256", Json::str(e.cap_sha256)),
                                P("leaf_count", Json::num(int64_t(e.leaf_count))),
                                P("byte_offset", Json::num(int64_t(e.offset))),
                                P("byte_len", Json::num(int64_t(e.len)))}));
  }
  Json data = Json::obj({
      P("body_sha256", Json::str(body_sha)),
      P("chromosomes", Json::arr(chroms)),
      P("format_version", Json::num(2)),
      P("leaf_dim", Json::num(leaf_dim)),
      P("n_turns", Json::num(int64_t(body.size() / leaf_dim))),
      P("the_one", Json::obj({P("hex", Json::str(hex_of(the_one))),
                              P("sha256", Json::str(sha256_hex(the_one)))})),
  });
  Json attestation = Json::obj({
      P("collector_descriptor_hash", Json::str(sha256_hex(std::string("kaldro://schema/genome_manifest/v1")))),
      P("collector_descriptor_path", Json::str("kaldro/amsc/genome")),
      P("license", Json::str("CC0")),
      P("parser_rule_hash", Json::str(sha256_hex(std::string("genome_persistence/v2")))),
      P("parser_version", Json::str("kaldro 0.8.2")),
      P("response_sha256", Json::str(body_sha)),
      P("retrieved_at", Json::str("1970-01-01T00:00:00Z")),
      P("source_doi", Json::str("10.0/kaldro.genome.persistence")),
      P("source_url", Json::str("https://kaldro.dev/genome/persistence")),
  });
  Json rendering = Json::obj({
      P("cite_as", Json::str("kaldro genome persistence (UPSTREAM \xC2\xA7" "41)")),
      P("human_readable_name", Json::str("kaldro genome (on-disk chromosome set)")),
      P("purpose", Json::str("A telomere-partitioned genome persisted as a fixed-width body "
                             "(turns.bin) + an MPR-attested manifest catalog.")),
  });
  return Json::obj({P("mpr_version", Json::str("1.0")), P("rendering", rendering),
                    P("data", data), P("data_schema_id", Json::str("kaldro://schema/genome_manifest/v1")),
                    P("attestation", attestation)});
}

// The bytes of manifest.json for a body: the canonical text and one line feed.
inline std::string manifest_file(const Bytes &body, uint32_t leaf_dim, const Bytes &the_one) {
  return canonical(manifest_tree(body, leaf_dim, the_one)) + "\n";
}

// A chromosome as records: a cap carrying `label` (and `cap_fill` after its terminator),
// then one record per tag in `tags`, each filled with bytes derived from `seed`.
inline Bytes chromosome(uint32_t leaf_dim, const std::string &label, const std::string &tags,
                        uint32_t seed = 1, uint8_t cap_fill = 0) {
  Bytes r(leaf_dim, cap_fill);
  r[0] = 'C';
  for (size_t k = 0; k < label.size() && k + 1 < leaf_dim; ++k) r[k + 1] = uint8_t(label[k]);
  if (label.size() + 1 < leaf_dim) r[label.size() + 1] = 0;
  uint32_t x = seed * 2654435761u + 12345u;
  for (char t : tags) {
    r.push_back(uint8_t(t));
    for (uint32_t k = 1; k < leaf_dim; ++k) {
      x = x * 1103515245u + 12345u;
      r.push_back(uint8_t(x >> 16));
    }
  }
  return r;
}

inline Bytes concat(std::initializer_list<Bytes> parts) {
  Bytes out;
  for (const Bytes &p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

inline Bytes the_one_of(uint32_t leaf_dim, uint8_t seed = 7) {
  Bytes b(leaf_dim);
  for (uint32_t k = 0; k < leaf_dim; ++k) b[k] = uint8_t(seed + 31 * k);
  return b;
}

// Files.
inline std::optional<std::string> read_file(const std::string &path) {
  FILE *f = fopen(path.c_str(), "rb");
  if (!f) return std::nullopt;
  std::string s;
  char buf[65536];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) s.append(buf, n);
  fclose(f);
  return s;
}
inline bool write_file(const std::string &path, const std::string &data) {
  FILE *f = fopen(path.c_str(), "wb");
  if (!f) return false;
  const bool ok = fwrite(data.data(), 1, data.size(), f) == data.size();
  return fclose(f) == 0 && ok;
}
inline std::string as_string(const Bytes &b) { return std::string(b.begin(), b.end()); }

// Names in a directory, sorted, without "." and "..".
inline std::vector<std::string> list_dir(const std::string &dir) {
  std::vector<std::string> names;
  if (DIR *d = opendir(dir.c_str())) {
    while (dirent *e = readdir(d)) {
      const std::string n = e->d_name;
      if (n != "." && n != "..") names.push_back(n);
    }
    closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

inline void remove_tree(const std::string &path) {
  struct stat st;
  if (lstat(path.c_str(), &st) != 0) return;
  if (S_ISDIR(st.st_mode)) {
    for (const std::string &n : list_dir(path)) remove_tree(path + "/" + n);
    rmdir(path.c_str());
  } else {
    unlink(path.c_str());
  }
}

// A fresh directory, removed with everything in it at the end of its scope. It lives in
// memory (/dev/shm) where that exists, so that the many synced writes of the tests cost
// no disk flushes; renames there are as atomic as anywhere.
struct TempDir {
  std::string path;
  TempDir() {
    const char *base = access("/dev/shm", W_OK) == 0 ? "/dev/shm" : "/tmp";
    std::string tmpl = std::string(base) + "/kaldro_store_XXXXXX";
    path = mkdtemp(tmpl.data());
  }
  ~TempDir() { remove_tree(path); }
  std::string file(const std::string &name) const { return path + "/" + name; }
  const char *c_str() const { return path.c_str(); }
};

// A workspace of exactly `n` bytes at a 16-byte aligned address, so that any access
// beyond its end is caught by the address sanitizer.
struct Workspace {
  uint8_t *p = nullptr;
  size_t n = 0;
  explicit Workspace(size_t bytes) : n(bytes) {
    p = static_cast<uint8_t *>(::operator new(bytes ? bytes : 1, std::align_val_t(16)));
    memset(p, 0xA5, n);
  }
  ~Workspace() { ::operator delete(p, std::align_val_t(16)); }
  Workspace(const Workspace &) = delete;
  Workspace &operator=(const Workspace &) = delete;
};

// The smallest save workspace for a body with these chromosomes when its manifest text
// fits the text area: the tables, the text area, the chromosome pointer array, the
// builder's nodes and arrays (every one a multiple of 8 bytes) and the writer's stack.
struct SaveSizes {
  uint64_t tables_end, text_at, text_bytes, tree_at, pointers, builder, writer;
  uint64_t total() const { return tree_at + pointers + builder + writer; }
};
inline uint64_t up16(uint64_t x) { return (x + 15) & ~uint64_t(15); }
inline SaveSizes save_sizes(uint64_t n) {
  SaveSizes s;
  uint64_t at = 65 * n;
  at = up16(at) + 4 * n;
  at = up16(at) + 4 * n;
  at = up16(at) + 256 * n;
  at = up16(at) + 4 * n;
  s.tables_end = at;
  s.text_at = up16(at);
  s.text_bytes = 856 * n + 4097;
  s.tree_at = up16(s.text_at + s.text_bytes);
  s.pointers = n ? up16(8 * n) : 0;
  const uint64_t node = 32;
  auto object = [&](uint64_t members) { return node + 2 * 8 * (members ? members : 1); };
  s.builder = node                                   // mpr_version
              + n * (5 * node + object(5))           // chromosome objects
              + node + 8 * (n ? n : 1)               // the chromosome array
              + 3 * node + 2 * node + object(2)      // format_version, leaf_dim, n_turns, the_one
              + node + object(6)                     // body_sha256, data
              + node                                 // data_schema_id
              + 9 * node + object(9)                 // attestation
              + 3 * node + object(3)                 // rendering
              + object(5);                           // root
  s.writer = (n ? 4 : 3) * (24 + 4 * 9);
  return s;
}

}  // namespace store_ref
