// Benchmark documents for the JSON family, generated from a fixed seed (no downloads):
// a tweet-like mix of objects, strings and numbers, a numbers-heavy array, a
// strings-heavy document with escapes and UTF-8, and a deeply nested one.
#pragma once

#include <cstdint>
#include <cstdio>
#include <random>
#include <string>

namespace corpus {

class Gen {
 public:
  explicit Gen(uint64_t seed) : rng_(seed) {}
  uint64_t pick(uint64_t n) { return rng_() % n; }
  double unit() { return double(rng_() >> 11) / 9007199254740992.0; }

  void word(std::string &s, int len) {
    for (int i = 0; i < len; ++i) s += char('a' + pick(26));
  }
  // Text with spaces, some escapes and some multi-byte UTF-8.
  void text(std::string &s, int len, int escape_rate) {
    static const char *kUtf8[] = {"\xC3\xA9", "\xE2\x82\xAC", "\xF0\x9F\x98\x80", "\xE6\x97\xA5"};
    static const char *kEsc[] = {"\\n", "\\\"", "\\\\", "\\t", "\\u00e9", "\\ud83d\\ude00", "\\/"};
    for (int i = 0; i < len; ++i) {
      const uint64_t r = pick(100);
      if (r < uint64_t(escape_rate)) s += kEsc[pick(7)];
      else if (r < uint64_t(escape_rate) + 4) s += kUtf8[pick(4)];
      else if (r < 20) s += ' ';
      else s += char('a' + pick(26));
    }
  }
  void number(std::string &s) {
    char b[40];
    if (pick(2)) std::snprintf(b, sizeof b, "%lld", (long long)(rng_() >> pick(60)));
    else std::snprintf(b, sizeof b, "%.17g", (unit() - 0.5) * 1000.0);
    s += b;
  }

 private:
  std::mt19937_64 rng_;
};

inline std::string tweets(size_t target) {
  Gen g(1);
  std::string s = "{\"statuses\": [";
  for (int n = 0; s.size() < target; ++n) {
    if (n) s += ", ";
    s += "{\"id\": " + std::to_string(1000000000000000000ull + g.pick(1000000000000ull));
    s += ", \"created_at\": \"Mon Sep 24 03:35:21 +0000 2012\", \"text\": \"";
    g.text(s, int(40 + g.pick(100)), 2);
    s += "\", \"truncated\": false, \"retweet_count\": " + std::to_string(g.pick(5000));
    s += ", \"favorited\": " + std::string(g.pick(2) ? "true" : "false");
    s += ", \"coordinates\": ";
    if (g.pick(3) == 0) {
      char b[80];
      std::snprintf(b, sizeof b, "[%.6f, %.6f]", g.unit() * 360 - 180, g.unit() * 180 - 90);
      s += b;
    } else {
      s += "null";
    }
    s += ", \"user\": {\"id\": " + std::to_string(g.pick(4000000000ull)) + ", \"name\": \"";
    g.word(s, int(5 + g.pick(10)));
    s += "\", \"screen_name\": \"";
    g.word(s, int(5 + g.pick(10)));
    s += "\", \"description\": \"";
    g.text(s, int(g.pick(80)), 2);
    s += "\", \"followers_count\": " + std::to_string(g.pick(100000));
    s += ", \"verified\": false, \"lang\": \"en\", \"profile_background_color\": \"C0DEED\"}";
    s += ", \"entities\": {\"hashtags\": [";
    const int h = int(g.pick(4));
    for (int i = 0; i < h; ++i) {
      s += std::string(i ? ", " : "") + "{\"text\": \"";
      g.word(s, int(3 + g.pick(8)));
      s += "\", \"indices\": [" + std::to_string(g.pick(100)) + ", " + std::to_string(g.pick(140)) + "]}";
    }
    s += "], \"urls\": [], \"user_mentions\": []}, \"metadata\": {\"result_type\": \"recent\", "
         "\"iso_language_code\": \"en\"}}";
  }
  s += "], \"search_metadata\": {\"count\": 100, \"query\": \"kaldro\"}}";
  return s;
}

inline std::string numbers(size_t target) {
  Gen g(2);
  std::string s = "[";
  for (int n = 0; s.size() < target; ++n) {
    if (n) s += ",";
    g.number(s);
  }
  return s + "]";
}

inline std::string strings(size_t target) {
  Gen g(3);
  std::string s = "[";
  for (int n = 0; s.size() < target; ++n) {
    if (n) s += ",";
    s += "\"";
    g.text(s, int(g.pick(200)), 5);
    s += "\"";
  }
  return s + "]";
}

inline std::string nested(size_t target) {
  Gen g(4);
  std::string s = "[";
  for (int n = 0; s.size() < target; ++n) {
    if (n) s += ",";
    const int depth = int(20 + g.pick(40));
    for (int d = 0; d < depth; ++d) s += d % 2 ? "[" : "{\"k" + std::to_string(d) + "\": ";
    s += std::to_string(n);
    for (int d = depth - 1; d >= 0; --d) s += d % 2 ? "]" : "}";
  }
  return s + "]";
}

}  // namespace corpus
