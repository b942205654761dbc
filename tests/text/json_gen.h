// Random JSON texts for the tests, from a fixed seed: nested objects and arrays (some
// wide enough to grow their lists), strings with every kind of escape and raw UTF-8,
// numbers in plain and odd forms, literals, and random white space.
#pragma once

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <random>
#include <string>

namespace gen {

class Docs {
 public:
  explicit Docs(uint64_t seed) : rng_(seed) {}

  std::string doc(int max_depth = 6) {
    std::string s;
    ws(s);
    value(s, max_depth);
    ws(s);
    return s;
  }

  uint64_t pick(uint64_t n) { return rng_() % n; }

 private:
  std::mt19937_64 rng_;

  void ws(std::string &s) {
    static const char kWs[] = " \t\n\r";
    if (pick(3) == 0) {
      const uint64_t n = pick(4) + 1;
      for (uint64_t i = 0; i < n; ++i) s += kWs[pick(4)];
    }
  }

  void string(std::string &s) {
    s += '"';
    const uint64_t n = pick(4) == 0 ? pick(80) : pick(10);
    for (uint64_t i = 0; i < n; ++i) {
      switch (pick(12)) {
        case 0: {
          static const char *kEsc[] = {"\\\"", "\\\\", "\\/", "\\b", "\\f", "\\n", "\\r", "\\t"};
          s += kEsc[pick(8)];
          break;
        }
        case 1: {
          static const char *kU[] = {"\\u0000", "\\u001f", "\\u00e9", "\\u20AC", "\\uFFFF",
                                     "\\ud83d\\ude00", "\\uD800\\uDC00", "\\u0041", "\\u07ff"};
          s += kU[pick(9)];
          break;
        }
        case 2: s += "\xC3\xA9"; break;
        case 3: s += "\xF0\x9F\x98\x80"; break;
        case 4: s += char(0x80 + pick(128)); break;
        default: plain_char(s);
      }
    }
    s += '"';
  }

  void plain_char(std::string &s) {
    char c = char(' ' + pick(95));
    if (c == '"' || c == '\\') c = 'q';
    s += c;
  }

  void number(std::string &s) {
    switch (pick(14)) {
      case 0: s += std::to_string(int64_t(rng_())); break;
      case 1: s += std::to_string(pick(1000)); break;
      case 2: s += "-" + std::to_string(pick(100000)); break;
      case 3: {
        char b[40];
        double d;
        uint64_t bits = rng_();
        std::memcpy(&d, &bits, 8);
        if (!(d == d) || d - d != 0) d = 1.5;
        std::snprintf(b, sizeof b, "%.17g", d);
        s += b;
        break;
      }
      case 4: {
        char b[40];
        std::snprintf(b, sizeof b, "%.*g", int(pick(17) + 1), double(int64_t(rng_() % 2000000) - 1000000) / 1000.0);
        s += b;
        break;
      }
      case 5: {
        static const char *kOdd[] = {"1.2.3", "-", "-0", "0.0", "01", "1e5", "1E+5", "2e-3",
                                     "9223372036854775807", "9223372036854775808",
                                     "-9223372036854775808", "-9223372036854775809",
                                     "99999999999999999999999", "1e400", "-1e400", "1e-400",
                                     "1-2", "3+", "1.", "-.5", "-e5", "1e", "1e+", "5e5e5",
                                     "0.1", "123456789012345678901234567890.5", "4.9e-324",
                                     "1.7976931348623157e308", "2.2250738585072014e-308",
                                     "9007199254740993", "9007199254740993.0", "1e22", "1e23",
                                     "123.456e-10", "-0.0", "--1", "-+1", "000123.5"};
        s += kOdd[pick(sizeof kOdd / sizeof *kOdd)];
        break;
      }
      case 6: {
        char b[40];
        std::snprintf(b, sizeof b, "%lu.%lue%d", (unsigned long)pick(100000),
                      (unsigned long)pick(100000), int(pick(80)) - 40);
        s += b;
        break;
      }
      default: s += std::to_string(int64_t(pick(2000000)) - 1000000); break;
    }
  }

  void value(std::string &s, int depth) {
    const uint64_t k = pick(depth > 0 ? 10 : 6);
    switch (k) {
      case 0: s += "true"; break;
      case 1: s += "false"; break;
      case 2: s += "null"; break;
      case 3: string(s); break;
      case 4:
      case 5: number(s); break;
      case 6:
      case 7: {
        s += '[';
        const uint64_t n = pick(5) == 0 ? pick(40) : pick(6);
        for (uint64_t i = 0; i < n; ++i) {
          if (i) s += ',';
          ws(s);
          value(s, depth - 1);
          ws(s);
        }
        s += ']';
        break;
      }
      default: {
        s += '{';
        const uint64_t n = pick(5) == 0 ? pick(40) : pick(6);
        for (uint64_t i = 0; i < n; ++i) {
          if (i) s += ',';
          ws(s);
          if (pick(4) == 0) {
            s += "\"k\"";  // duplicates
          } else if (pick(3) == 0) {
            string(s);
          } else {
            s += '"';
            const uint64_t kl = pick(6);
            for (uint64_t j = 0; j < kl; ++j) plain_char(s);
            s += '"';
          }
          ws(s);
          s += ':';
          ws(s);
          value(s, depth - 1);
          ws(s);
        }
        s += '}';
        break;
      }
    }
  }
};

}  // namespace gen
