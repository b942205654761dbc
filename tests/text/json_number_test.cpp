// JSON number text on a million and more values: the parser's conversions against
// strtod and strtoll, and the writer's "%.17g" text (and the standard formatter it
// falls back on) against printf, on every tier.
#include <gtest/gtest.h>

#include <kaldro.h>

#include "text/json_internal.h"
#include "text/json_tiers.h"
#include "text/json_write_impl.h"

#include <cinttypes>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>
#include <string>
#include <vector>

namespace {

// A decimal of up to 20 significant digits: integer digits, maybe a point and fraction
// digits, maybe an exponent; the shapes the parser converts in integers, and their
// neighbours outside (more digits, wider exponents).
std::string random_decimal(std::mt19937_64 &rng) {
  std::string t = rng() % 2 ? "-" : "";
  const int digits = 1 + int(rng() % 20);
  const int point = int(rng() % (digits + 1));  // digits before the point
  for (int i = 0; i < digits; ++i) {
    if (i == point && i > 0) t += '.';
    // Leading zeros now and then, and runs of nines and zeros (carries, ties).
    const uint64_t r = rng() % 10;
    t += char('0' + (r < 2 ? 9 * (rng() % 2) : rng() % 10));
  }
  if (point == 0) t = t + ".5";
  if (rng() % 3 == 0) {
    t += rng() % 2 ? 'e' : 'E';
    const uint64_t s = rng() % 3;
    if (s == 1) t += '-';
    if (s == 2) t += '+';
    t += std::to_string(rng() % 30);
  }
  return t;
}

TEST(JsonNumbers, ParsedDoublesAndIntegersMatchTheStandardLibrary) {
  std::mt19937_64 rng(11);
  std::vector<uint64_t> arena(8);
  int fast_shapes = 0;
  for (int i = 0; i < 600000; ++i) {
    std::string t;
    if (i % 4 == 0) {
      // Integers of up to 20 digits, around the ends of the 64-bit range too.
      t = rng() % 2 ? "-" : "";
      const int digits = 1 + int(rng() % 20);
      for (int k = 0; k < digits; ++k) t += char('0' + rng() % 10);
      if (i % 40 == 0) t = (rng() % 2 ? "-" : "") + std::to_string(uint64_t(INT64_MAX) - 2 + rng() % 5);
    } else if (i % 4 == 1) {
      // The "%.17g" text of a random double: what the writer produces.
      double d;
      uint64_t bits = rng();
      std::memcpy(&d, &bits, 8);
      if (!std::isfinite(d)) continue;
      char b[40];
      std::snprintf(b, sizeof b, "%.17g", d);
      t = b;
    } else {
      t = random_decimal(rng);
    }
    fast_shapes += t.size() < 22;
    for (int tier : json_tiers()) {
      kaldro_json_node *r = nullptr;
      ASSERT_EQ(kaldro::json::parse_tier(tier, t.data(), t.size(), arena.data(), 64, &r), KALDRO_OK)
          << t;
      if (t.find_first_of(".eE") != std::string::npos) {
        ASSERT_EQ(r->kind, KALDRO_JSON_DOUBLE) << t;
        const double want = std::strtod(t.c_str(), nullptr);
        ASSERT_EQ(std::memcmp(&r->number, &want, 8), 0) << t << " " << r->number << " " << want;
      } else {
        ASSERT_EQ(r->kind, KALDRO_JSON_INT) << t;
        ASSERT_EQ(r->integer, std::strtoll(t.c_str(), nullptr, 10)) << t;
      }
    }
  }
  EXPECT_GT(fast_shapes, 300000);
}

// The writer's number piece and its .0 suffix, from printf's "%.17g" by the rule.
std::string printf_text(double v) {
  char b[48];
  std::snprintf(b, sizeof b, "%.17g", v);
  std::string s = b;
  if (!std::strpbrk(b, ".eEin")) s += ".0";
  return s;
}

TEST(JsonNumbers, DoubleTextMatchesPrintfOnRandomBitPatterns) {
  std::mt19937_64 rng(12);
  int fallback_checked = 0;
  for (int i = 0; i < 1000000; ++i) {
    uint64_t bits = rng();
    if (i % 8 == 0) bits &= 0x800FFFFFFFFFFFFFull;  // subnormals and zeros
    if (i % 8 == 1) bits = (bits & 0x800FFFFFFFFFFFFFull) | (uint64_t(1023 - 30 + rng() % 90) << 52);
    double v;
    std::memcpy(&v, &bits, 8);
    char want[48];
    std::snprintf(want, sizeof want, "%.17g", v);
    if (std::isfinite(v)) {
      // The standard formatter the writer falls back on gives printf's text.
      char got[48];
      const auto r = std::to_chars(got, got + sizeof got, v, std::chars_format::general, 17);
      ASSERT_EQ(std::string(got, size_t(r.ptr - got)), want) << std::hexfloat << v;
      ++fallback_checked;
    }
    char buf[48];
    int number_len = 0;
    const int n = kaldro::json::format_double(buf, v, &number_len);
    ASSERT_EQ(std::string(buf, size_t(n)), printf_text(v)) << want;
    ASSERT_EQ(number_len, int(std::strlen(want))) << want;
  }
  EXPECT_GT(fallback_checked, 950000);
}

}  // namespace
