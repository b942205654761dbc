// Fuzzes the genome store on a directory whose "manifest.json" and "turns.bin" come
// from the input: catalog, load, window and the three edits must refuse what is wrong
// with a status, never step outside a buffer, and a successful edit must leave a genome
// that loads and verifies.
// Input: leaf_dim - 1 (1 byte), manifest length (2 bytes, little-endian), the manifest,
// then the body.
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"

namespace {

// Scratch files go to memory when the system offers it (syncs cost nothing there).
std::string scratch_root() {
  struct stat st;
  return stat("/dev/shm", &st) == 0 && S_ISDIR(st.st_mode) && access("/dev/shm", W_OK) == 0
             ? "/dev/shm"
             : "/tmp";
}

const std::string &dir() {
  static std::string d = [] {
    std::string p = scratch_root() + "/kaldro-fuzz-genome-" + std::to_string(getpid());
    mkdir(p.c_str(), 0700);
    return p;
  }();
  return d;
}

void put(const char *name, const uint8_t *data, size_t len) {
  std::string path = dir() + "/" + name;
  FILE *f = fopen(path.c_str(), "wb");
  if (f == nullptr) abort();
  if (len && fwrite(data, 1, len, f) != len) abort();
  fclose(f);
}

std::vector<uint8_t> get(const char *name) {
  std::vector<uint8_t> v;
  FILE *f = fopen((dir() + "/" + name).c_str(), "rb");
  if (f == nullptr) return v;
  uint8_t buf[4096];
  size_t n;
  while ((n = fread(buf, 1, sizeof buf, f)) > 0) v.insert(v.end(), buf, buf + n);
  fclose(f);
  return v;
}

bool known(kaldro_status st) {
  return st == KALDRO_OK || st == KALDRO_ERR_INVALID || st == KALDRO_ERR_CAPACITY ||
         st == KALDRO_ERR_IO || st == KALDRO_ERR_NULL;
}

// The workspace, in its own exactly sized heap block.
struct Workspace {
  explicit Workspace(size_t n) : bytes(n), p(static_cast<uint8_t *>(aligned_alloc(16, (n + 15) / 16 * 16))) {}
  ~Workspace() { free(p); }
  size_t bytes;
  uint8_t *p;
};

void verify_after_edit(const std::vector<uint8_t> &one, size_t ws_bytes) {
  Workspace ws(ws_bytes);
  std::vector<uint8_t> body(1 << 20);
  size_t len = 0;
  kaldro_status st = kaldro_genome_load(dir().c_str(), body.data(), body.size(), &len, one.data(),
                                        one.size(), ws.p, ws.bytes);
  if (st != KALDRO_OK && st != KALDRO_ERR_CAPACITY) abort();  // an edit lost the genome
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 3) return 0;
  uint32_t leaf_dim = uint32_t(data[0]) + 1;
  size_t mlen = data[1] | size_t(data[2]) << 8;
  if (3 + mlen > size) mlen = size - 3;
  const uint8_t *manifest = data + 3, *body = data + 3 + mlen;
  size_t body_len = size - 3 - mlen;
  std::vector<uint8_t> one(leaf_dim, 0x5A);

  // Labels to ask for: those of the body's cap records, and one that is absent.
  std::vector<std::string> labels{"absent"};
  for (size_t off = 0; off + leaf_dim <= body_len && labels.size() < 4; off += leaf_dim)
    if (body[off] == 'C')
      labels.emplace_back(reinterpret_cast<const char *>(body + off + 1),
                          strnlen(reinterpret_cast<const char *>(body + off + 1), leaf_dim - 1));

  const size_t ws_bytes = size_t(kaldro_genome_arena_bytes(2 * size + 4096, 64, size + 4096));
  auto reset = [&] {
    put("manifest.json", manifest, mlen);
    put("turns.bin", body, body_len);
  };

  reset();
  {
    Workspace ws(ws_bytes);
    const kaldro_json_node *root = nullptr;
    if (!known(kaldro_genome_catalog(dir().c_str(), one.data(), one.size(), ws.p, ws.bytes, &root)))
      abort();
  }
  {
    Workspace ws(ws_bytes);
    std::vector<uint8_t> out(body_len + 1);
    size_t len = 0;
    if (!known(kaldro_genome_load(dir().c_str(), out.data(), out.size(), &len, one.data(),
                                  one.size(), ws.p, ws.bytes)))
      abort();
    if (len > out.size()) abort();
  }
  for (const std::string &label : labels) {
    Workspace ws(ws_bytes);
    uint8_t *out = static_cast<uint8_t *>(malloc(body_len + 1));
    size_t len = 0;
    kaldro_status st = kaldro_genome_window(dir().c_str(), label.c_str(), out, body_len + 1, &len,
                                            one.data(), one.size(), ws.p, ws.bytes);
    if (!known(st) || len > body_len) abort();
    free(out);
  }

  // The edits, each on a fresh copy of the fuzzed directory.
  std::vector<uint8_t> region(leaf_dim * 2, 0);
  region[0] = 'C';
  memcpy(region.data() + 1, "fz", leaf_dim > 2 ? 2 : leaf_dim - 1);
  region[leaf_dim] = 'L';
  for (int op = 0; op < 3; ++op) {
    for (const std::string &label : labels) {
      reset();
      Workspace ws(ws_bytes);
      kaldro_status st;
      if (op == 0)
        st = kaldro_genome_append(dir().c_str(), "fz", region.data(), region.size(), leaf_dim,
                                  one.data(), one.size(), ws.p, ws.bytes);
      else if (op == 1)
        st = kaldro_genome_remove(dir().c_str(), label.c_str(), one.data(), one.size(), ws.p,
                                  ws.bytes);
      else
        st = kaldro_genome_replace(dir().c_str(), label.c_str(), region.data(), region.size(),
                                   leaf_dim, one.data(), one.size(), ws.p, ws.bytes);
      if (!known(st)) abort();
      if (st == KALDRO_OK) {
        verify_after_edit(one, ws_bytes);
      } else if (st != KALDRO_ERR_IO) {
        // A refused edit leaves both files as they were.
        if (get("manifest.json") != std::vector<uint8_t>(manifest, manifest + mlen) ||
            get("turns.bin") != std::vector<uint8_t>(body, body + body_len))
          abort();
      }
      if (op == 0) break;  // append takes no existing label
    }
  }
  return 0;
}
