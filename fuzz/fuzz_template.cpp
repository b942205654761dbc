// Fuzzes catalog lookup and template rendering. The input holds a small catalog (keys
// and values) and then a template; rendering is compared with a plain model of the
// rules, into an exactly sized output and into every shorter one.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "kaldro.h"

namespace {

struct Catalog {
  std::string key_pool, value_pool;
  std::vector<uint32_t> key_offsets, key_lens, value_offsets, value_lens;
  int32_t count() const { return int32_t(key_lens.size()); }
};

bool lookup(const Catalog &c, const uint8_t *key, uint32_t len, uint32_t *vo, uint32_t *vl) {
  uint8_t found = 9;
  kaldro_status st = kaldro_catalog_lookup(
      key, len, reinterpret_cast<const uint8_t *>(c.key_pool.data()), c.key_offsets.data(),
      c.key_lens.data(), c.value_offsets.data(), c.value_lens.data(), c.count(), &found, vo, vl);
  if (st != KALDRO_OK || found > 1) abort();
  if (!found && (*vo != 0 || *vl != 0)) abort();
  return found;
}

// The model: status and output of rendering `t` with unlimited room, and the length at
// which each piece ends (for the capacity checks).
kaldro_status model(const Catalog &c, const std::string &t, std::string *out) {
  size_t i = 0;
  while (i < t.size()) {
    if (t[i] != '{') {
      out->push_back(t[i++]);
      continue;
    }
    size_t close = t.find('}', i + 1);
    if (close == std::string::npos) return KALDRO_ERR_INVALID;
    std::string name = t.substr(i + 1, close - i - 1);
    int found = -1;
    for (int32_t e = 0; e < c.count(); ++e)
      if (c.key_pool.compare(c.key_offsets[e], c.key_lens[e], name) == 0) found = e;
    if (found < 0) return KALDRO_ERR_INVALID;
    out->append(c.value_pool, c.value_offsets[found], c.value_lens[found]);
    i = close + 1;
  }
  return KALDRO_OK;
}

kaldro_status render(const Catalog &c, const std::string &t, uint32_t cap, std::string *got) {
  uint8_t *out = static_cast<uint8_t *>(malloc(cap ? cap : 1));
  uint32_t out_len = 77;
  kaldro_status st = kaldro_template_render(
      reinterpret_cast<const uint8_t *>(t.data()), uint32_t(t.size()),
      reinterpret_cast<const uint8_t *>(c.key_pool.data()), c.key_offsets.data(),
      c.key_lens.data(), reinterpret_cast<const uint8_t *>(c.value_pool.data()),
      c.value_offsets.data(), c.value_lens.data(), c.count(), out, cap, &out_len);
  if (st != KALDRO_OK && out_len != 0) abort();
  if (st == KALDRO_OK) got->assign(reinterpret_cast<char *>(out), out_len);
  free(out);
  return st;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  if (size < 1) return 0;
  size_t pos = 1;
  std::vector<std::pair<std::string, std::string>> entries;
  for (int e = 0; e < (data[0] & 15); ++e) {
    if (pos >= size) break;
    size_t kl = data[pos++] % 8;
    if (pos + kl > size) break;
    std::string key(reinterpret_cast<const char *>(data) + pos, kl);
    pos += kl;
    if (pos >= size) break;
    size_t vl = data[pos++] % 16;
    if (pos + vl > size) break;
    entries.push_back({key, std::string(reinterpret_cast<const char *>(data) + pos, vl)});
    pos += vl;
  }
  bool sorted = (data[0] & 16) == 0;
  if (sorted) {
    // Catalog order: unsigned bytes, a prefix first; keys unique.
    std::sort(entries.begin(), entries.end(), [](const auto &a, const auto &b) {
      return a.first < b.first;
    });
    entries.erase(std::unique(entries.begin(), entries.end(),
                              [](const auto &a, const auto &b) { return a.first == b.first; }),
                  entries.end());
  }
  Catalog c;
  for (const auto &[k, v] : entries) {
    c.key_offsets.push_back(uint32_t(c.key_pool.size()));
    c.key_lens.push_back(uint32_t(k.size()));
    c.key_pool += k;
    c.value_offsets.push_back(uint32_t(c.value_pool.size()));
    c.value_lens.push_back(uint32_t(v.size()));
    c.value_pool += v;
  }
  std::string tmpl(reinterpret_cast<const char *>(data) + std::min(pos, size), size - std::min(pos, size));

  // Every key is found (in a sorted catalog); lookups in an unsorted one stay in bounds.
  for (int32_t e = 0; e < c.count(); ++e) {
    uint32_t vo = 1, vl = 1;
    bool found = lookup(c, reinterpret_cast<const uint8_t *>(c.key_pool.data()) + c.key_offsets[e],
                        c.key_lens[e], &vo, &vl);
    if (sorted && (!found || vo != c.value_offsets[e] || vl != c.value_lens[e])) abort();
  }
  uint32_t vo = 1, vl = 1;
  lookup(c, reinterpret_cast<const uint8_t *>(tmpl.data()), uint32_t(std::min<size_t>(tmpl.size(), 8)),
         &vo, &vl);
  if (!sorted) return 0;

  std::string expected;
  kaldro_status want = model(c, tmpl, &expected);
  std::string got;
  uint32_t room = uint32_t(expected.size());
  kaldro_status st = render(c, tmpl, room, &got);
  if (want == KALDRO_OK) {
    if (st != KALDRO_OK || got != expected) abort();
    if (room > 0) {
      std::string unused;
      kaldro_status short_st = render(c, tmpl, room - 1, &unused);
      if (short_st != KALDRO_ERR_CAPACITY) abort();
    }
  } else {
    // The model stops at its first failure; a shorter output buffer may fail earlier.
    if (st != want && st != KALDRO_ERR_CAPACITY) abort();
    std::string unused;
    if (render(c, tmpl, room + 4096, &unused) != want) abort();
  }
  return 0;
}
