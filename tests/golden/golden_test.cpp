// Computes the outputs of every deterministic function family on a fixed input set and
// compares the text with the committed golden.txt, so that any change of a result, on any
// architecture or instruction-set path, shows up as a differing line. Doubles are written
// as their bit patterns. Each status is taken before the outputs are printed (the
// order in which a call's arguments are evaluated is unspecified). Set KALDRO_GOLDEN_UPDATE=<path> to write the text to <path>.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "kaldro.h"

namespace {

class Out {
 public:
  void line(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
    char buf[512];
    va_list ap;
    va_start(ap, fmt);
    vsnprintf(buf, sizeof buf, fmt, ap);
    va_end(ap);
    text_ += buf;
    text_ += '\n';
  }
  const std::string &text() const { return text_; }

 private:
  std::string text_;
};

uint64_t bits(double d) {
  uint64_t u;
  std::memcpy(&u, &d, 8);
  return u;
}

std::string dbits(const double *d, size_t n) {
  std::string s;
  char buf[24];
  for (size_t i = 0; i < n; ++i) {
    snprintf(buf, sizeof buf, "%s%016" PRIx64, i ? " " : "", bits(d[i]));
    s += buf;
  }
  return s;
}

std::string hexbytes(const uint8_t *p, size_t n) {
  std::string s;
  char buf[4];
  for (size_t i = 0; i < n; ++i) {
    snprintf(buf, sizeof buf, "%02x", p[i]);
    s += buf;
  }
  return s;
}

// A fixed pseudo-random sequence (xorshift64*), the same on every build.
struct Rng {
  uint64_t s;
  uint64_t next() {
    s ^= s >> 12;
    s ^= s << 25;
    s ^= s >> 27;
    return s * 0x2545F4914F6CDD1DULL;
  }
  double unit() { return double(next() >> 11) / 9007199254740992.0; }  // [0, 1)
};

const double kArgs[] = {0.0,  -0.0, 1e-300, 1e-9, 0.125, 0.5, 0.7853981633974483, 1.0,
                        1.5707963267948966, 2.0, 2.718281828459045, 3.141592653589793,
                        10.0, 100.0, 700.0, 709.7, -1e-9, -0.5, -1.0, -3.0, -30.0,
                        -745.0, 1e6, 1e15, 1e300};

void elementary(Out &o) {
  typedef kaldro_status (*Fn)(double *, double);
  const struct {
    const char *name;
    Fn fn;
  } fns[] = {{"exp", kaldro_exp}, {"log", kaldro_log}, {"rational_sqrt", kaldro_rational_sqrt},
             {"sin", kaldro_sin}, {"cos", kaldro_cos}, {"atan", kaldro_atan}};
  for (const auto &f : fns)
    for (double x : kArgs) {
      double r = 0;
      kaldro_status st = f.fn(&r, x);
      o.line("%s %016" PRIx64 " %d %016" PRIx64, f.name, bits(x), st, bits(r));
    }
  Rng rng{12345};
  for (int i = 0; i < 200; ++i) {
    double x = (rng.unit() - 0.5) * 40.0;
    double e = 0, l = 0, q = 0, s = 0, c = 0, a = 0;
    int st = kaldro_exp(&e, x) | kaldro_log(&l, x * x) << 4 | kaldro_rational_sqrt(&q, x * x) << 8 |
             kaldro_sin(&s, x) << 12 | kaldro_cos(&c, x) << 16 | kaldro_atan(&a, x) << 20;
    double v[] = {x, e, l, q, s, c, a};
    o.line("elementary.random %x %s", st, dbits(v, 7).c_str());
  }
  for (double y : {0.0, -0.0, 1.0, -1.0, 3.5})
    for (double x : {0.0, -0.0, 1.0, -1.0, 1e-200, -2.25}) {
      double r = 0;
      kaldro_status st = kaldro_atan2(&r, y, x);
      o.line("atan2 %016" PRIx64 " %016" PRIx64 " %d %016" PRIx64, bits(y), bits(x), st, bits(r));
    }
}

void orbital(Out &o) {
  Rng rng{777};
  for (int i = 0; i < 40; ++i) {
    double theta = (rng.unit() - 0.5) * 12.0, r = rng.unit() * 2.0, c = (rng.unit() - 0.5) * 3.0;
    double pin = 0;
    kaldro_status st = kaldro_pin_slot(&pin, theta, r, c);
    double m = rng.unit() * 6.283185307179586, e = rng.unit() * 0.95;
    double ecc = 0, eoc = 0;
    kaldro_status st2 = kaldro_kepler_solve(50, &ecc, m, e, 1e-12);
    kaldro_status st3 = kaldro_equation_of_centre(1 + i % 6, &eoc, m, e);
    double v[] = {theta, r, c, pin, m, e, ecc, eoc};
    o.line("orbital %d %d %d %s", st, st2, st3, dbits(v, 8).c_str());
  }
  std::vector<double> x(37), ac(37);
  for (double &v : x) v = (rng.unit() - 0.5) * 8.0;
  { const int st_ = kaldro_autocorrelation_f64(x.data(), x.size(), ac.data()); o.line("autocorrelation %d %s", st_,
         dbits(ac.data(), ac.size()).c_str()); }
  for (uint32_t n : {2u, 8u, 16u}) {
    std::vector<int64_t> xi(n), yi(n), xo(n * n / 2), yo(n * n / 2);
    for (uint32_t j = 0; j < n; ++j) {
      xi[j] = int64_t(rng.next() % 2001) - 1000;
      yi[j] = int64_t(rng.next() % 2001) - 1000;
    }
    for (uint32_t inverse : {0u, 1u}) {
      kaldro_status st = kaldro_exact_dft_i64(n, inverse, xi.data(), yi.data(), xo.data(), yo.data());
      std::string s;
      for (size_t k = 0; k < xo.size(); ++k) s += " " + std::to_string(xo[k]) + "," + std::to_string(yo[k]);
      o.line("exact_dft %u %u %d%s", n, inverse, st, s.c_str());
    }
  }
}

void digests(Out &o) {
  // The batch below takes message i from offset i, so the buffer runs ten bytes past
  // the longest length.
  std::vector<uint8_t> msg(1010);
  for (size_t i = 0; i < msg.size(); ++i) msg[i] = uint8_t(i * 131 + 7);
  const size_t lens[] = {0, 1, 3, 55, 56, 63, 64, 65, 119, 128, 1000};
  for (size_t len : lens) {
    char hex[65];
    uint8_t raw[32];
    kaldro_status st = kaldro_sha256_hex(msg.data(), len, hex);
    kaldro_status st2 = kaldro_sha256_shani(msg.data(), len, raw);
    o.line("sha256 %zu %d %s %d %s", len, st, hex, st2, hexbytes(raw, 32).c_str());
  }
  const uint8_t *datas[11];
  for (int i = 0; i < 11; ++i) datas[i] = msg.data() + i;
  std::vector<uint8_t> out(32 * 11);
  { const int st_ = kaldro_sha256_batch(datas, lens, 11, out.data()); o.line("sha256_batch %d", st_); }
  for (int i = 0; i < 11; ++i) o.line("  %s", hexbytes(out.data() + 32 * i, 32).c_str());
}

void integers(Out &o) {
  const uint64_t v[] = {0, 1, 2, 3, 12, 97, 1000000007ULL, 4294967295ULL, 600851475143ULL,
                        18446744073709551557ULL, 18446744073709551615ULL};
  for (uint64_t a : v)
    for (uint64_t b : v) {
      uint64_t g = 0, l = 0, add = 0, mul = 0, pw = 0, inv = 0;
      int st = kaldro_gcd(a, b, &g) | kaldro_lcm(a, b, &l) << 4 | kaldro_mod_add(a, a ^ b, b, &add) << 8 |
               kaldro_mod_mul(a, a + 3, b, &mul) << 12 | kaldro_mod_pow(a, b ^ 0x55, b, &pw) << 16 |
               kaldro_mod_inv(a, b, &inv) << 20;
      o.line("integer %" PRIu64 " %" PRIu64 " %x %" PRIu64 " %" PRIu64 " %" PRIu64 " %" PRIu64
             " %" PRIu64 " %" PRIu64, a, b, st, g, l, add, mul, pw, inv);
    }
  // Primality and factors go by trial division: numbers whose largest prime factor is
  // small enough to keep the run short.
  const uint64_t w[] = {0, 1, 2, 3, 12, 97, 360, 1000000007ULL, 4294967295ULL, 600851475143ULL,
                        999999999989ULL, 18446744073709551615ULL, 9223372036854775808ULL};
  for (uint64_t n : w) {
    uint64_t tc = 0, primes[16] = {0};
    uint8_t prime = 9, exps[16] = {0};
    uint32_t count = 0;
    int st = kaldro_three_cycle(n, &tc) | kaldro_is_prime(n, &prime) << 4 |
             kaldro_factor(n, primes, exps, 16, &count) << 8;
    std::string f;
    for (uint32_t i = 0; i < count && i < 16; ++i)
      f += " " + std::to_string(primes[i]) + "^" + std::to_string(exps[i]);
    uint64_t period = 0;
    kaldro_status pst = kaldro_cyclic_period(n % 97 + 2, 10007, 20000, &period);
    o.line("number %" PRIu64 " %x %" PRIu64 " %u%s | %d %" PRIu64, n, st, tc, prime, f.c_str(), pst,
           period);
  }
}

void hypervectors(Out &o) {
  Rng rng{99};
  const uint32_t len = 77;
  std::vector<uint8_t> a(len), b(len), c(len), out(len);
  std::vector<int8_t> pa(len), pb(len), pc(len), pout(len);
  for (uint32_t i = 0; i < len; ++i) {
    a[i] = uint8_t(rng.next());
    b[i] = uint8_t(rng.next());
    c[i] = uint8_t(rng.next());
    pa[i] = int8_t(int(rng.next() % 3) - 1);
    pb[i] = int8_t(int(rng.next() % 3) - 1);
    pc[i] = int8_t(int(rng.next() % 3) - 1);
  }
  const uint8_t *abc[] = {a.data(), b.data(), c.data()};
  const int8_t *pabc[] = {pa.data(), pb.data(), pc.data()};
  double sim = 0;
  { const int st_ = kaldro_hdc_bind(a.data(), b.data(), len, out.data()); o.line("hdc_bind %d %s", st_, hexbytes(out.data(), len).c_str()); }
  { const int st_ = kaldro_hdc_bundle(abc, 3, len, out.data()); o.line("hdc_bundle %d %s", st_, hexbytes(out.data(), len).c_str()); }
  { const int st_ = kaldro_hdc_permute(a.data(), len, 13, out.data()); o.line("hdc_permute %d %s", st_, hexbytes(out.data(), len).c_str()); }
  { const int st_ = kaldro_hdc_similarity(a.data(), b.data(), len, &sim); o.line("hdc_similarity %d %016" PRIx64, st_, bits(sim)); }
  { const int st_ = kaldro_polar_bind(pa.data(), pb.data(), len, pout.data()); o.line("polar_bind %d %s", st_,
         hexbytes(reinterpret_cast<uint8_t *>(pout.data()), len).c_str()); }
  { const int st_ = kaldro_polar_bundle(pabc, 3, len, pout.data()); o.line("polar_bundle %d %s", st_,
         hexbytes(reinterpret_cast<uint8_t *>(pout.data()), len).c_str()); }
  for (int skip : {0, 1}) {
    const int st_ = kaldro_polar_similarity(pa.data(), pb.data(), len, skip, &sim);
    o.line("polar_similarity %d %d %016" PRIx64, skip, st_, bits(sim));
  }
  { const int st_ = kaldro_polar_density(pa.data(), len, &sim); o.line("polar_density %d %016" PRIx64, st_, bits(sim)); }
  std::vector<uint8_t> ka(len), kb(len), kc(len);
  for (uint32_t i = 0; i < len; ++i) {
    ka[i] = a[i] & 3;
    kb[i] = b[i] & 3;
    kc[i] = c[i] & 3;
  }
  const uint8_t *kabc[] = {ka.data(), kb.data(), kc.data()};
  { const int st_ = kaldro_klein4_bind(ka.data(), kb.data(), len, out.data()); o.line("klein4_bind %d %s", st_, hexbytes(out.data(), len).c_str()); }
  { const int st_ = kaldro_klein4_bundle(kabc, 3, len, out.data()); o.line("klein4_bundle %d %s", st_, hexbytes(out.data(), len).c_str()); }
  { const int st_ = kaldro_klein4_similarity(ka.data(), kb.data(), len, &sim); o.line("klein4_similarity %d %016" PRIx64, st_, bits(sim)); }
  for (int inverse : {0, 1})
  {
    const int st_ = kaldro_klein4_triality_cycle(ka.data(), len, inverse, out.data());
    o.line("klein4_triality %d %d %s", inverse, st_, hexbytes(out.data(), len).c_str());
  }
  std::vector<uint32_t> acc(4 * len, 0);
  int st = 0;
  for (const uint8_t *v : kabc) st |= kaldro_klein4_bundle_accumulate(acc.data(), v, len);
  st |= kaldro_klein4_bundle_resolve(acc.data(), out.data(), len) << 4;
  o.line("klein4_accumulate %x %s", st, hexbytes(out.data(), len).c_str());
  for (uint32_t n : {1u, 2u, 4u, 8u, 16u, 64u}) {
    std::string s;
    for (int32_t i = 0; i < int32_t(n); i += (n > 8 ? 5 : 1))
      for (int32_t j = 0; j < int32_t(n); j += (n > 8 ? 7 : 1)) {
        int32_t idx = -1, sign = 0;
        kaldro_status cst = kaldro_cd_basis_product(n, i, j, &idx, &sign);
        s += " " + std::to_string(cst) + ":" + std::to_string(idx) + (sign < 0 ? "-" : "+");
      }
    o.line("cd_basis_product %u%s", n, s.c_str());
  }
}

void octonions(Out &o) {
  Rng rng{4242};
  const int count = 9;
  std::vector<double> a(8 * count), b(8 * count), c(8 * count), out(8 * count), m(64);
  for (double &v : a) v = rng.unit() * 4 - 2;
  for (double &v : b) v = rng.unit() * 4 - 2;
  for (double &v : c) v = rng.unit() * 4 - 2;
  { const int st_ = kaldro_loop_bind_f64(a.data(), b.data(), 8, out.data()); o.line("loop_bind %d %s", st_, dbits(out.data(), 8).c_str()); }
  { const int st_ = kaldro_loop_conj_f64(a.data(), 8, out.data()); o.line("loop_conj %d %s", st_, dbits(out.data(), 8).c_str()); }
  { const int st_ = kaldro_loop_inv_f64(a.data(), 8, out.data()); o.line("loop_inv %d %s", st_, dbits(out.data(), 8).c_str()); }
  { const int st_ = kaldro_cross7_f64(a.data(), b.data(), 8, out.data()); o.line("cross7 %d %s", st_, dbits(out.data(), 8).c_str()); }
  double g2 = 0;
  { const int st_ = kaldro_g2_three_form_f64(a.data(), b.data(), c.data(), 8, &g2); o.line("g2_three_form %d %016" PRIx64, st_, bits(g2)); }
  { const int st_ = kaldro_loop_associator_f64(a.data(), b.data(), c.data(), 8, out.data()); o.line("loop_associator %d %s", st_,
         dbits(out.data(), 8).c_str()); }
  { const int st_ = kaldro_loop_left_op_f64(a.data(), 8, m.data()); o.line("loop_left_op %d %s", st_, dbits(m.data(), 64).c_str()); }
  { const int st_ = kaldro_loop_right_op_f64(a.data(), 8, m.data()); o.line("loop_right_op %d %s", st_, dbits(m.data(), 64).c_str()); }
  { const int st_ = kaldro_loop_bind_hd_f64(a.data(), b.data(), count, out.data()); o.line("loop_bind_hd %d %s", st_,
         dbits(out.data(), out.size()).c_str()); }
  { const int st_ = kaldro_loop_conj_hd_f64(a.data(), count, out.data()); o.line("loop_conj_hd %d %s", st_, dbits(out.data(), out.size()).c_str()); }
  { const int st_ = kaldro_loop_inv_hd_f64(a.data(), count, out.data()); o.line("loop_inv_hd %d %s", st_, dbits(out.data(), out.size()).c_str()); }
  { const int st_ = kaldro_loop_unbind_hd_f64(a.data(), b.data(), count, out.data()); o.line("loop_unbind_hd %d %s", st_,
         dbits(out.data(), out.size()).c_str()); }
  { const int st_ = kaldro_loop_runbind_hd_f64(a.data(), b.data(), count, out.data()); o.line("loop_runbind_hd %d %s", st_,
         dbits(out.data(), out.size()).c_str()); }
}

void codes(Out &o) {
  Rng rng{5};
  for (uint32_t r : {2u, 3u, 5u, 8u}) {
    uint64_t n = (uint64_t(1) << r) - 1, k = n - r;
    std::vector<uint8_t> data(k), cw(n), back(k);
    for (auto &d : data) d = uint8_t(rng.next() & 1);
    kaldro_status st = kaldro_hamming_encode(data.data(), k, r, cw.data());
    cw[rng.next() % n] ^= 1;
    int32_t syn = 0;
    kaldro_status st2 = kaldro_hamming_decode_correct(cw.data(), n, back.data(), &syn);
    o.line("hamming %u %d %d %d %s", r, st, st2, syn, hexbytes(cw.data(), n).c_str());
  }
}

void json(Out &o) {
  const char *docs[] = {
      R"({"z": [1, 2.5, -0.0, 1e300, "s\u00e9\n"], "a": {"y": null, "x": true}, "": 9223372036854775807})",
      R"([0.1, 0.2, 0.30000000000000004, 123456789012345678, -1e-310, 3])",
  };
  for (const char *d : docs) {
    std::vector<uint64_t> arena(4096);
    kaldro_json_node *root = nullptr;
    kaldro_status st = kaldro_json_parse(d, strlen(d), arena.data(), arena.size() * 8, &root);
    std::vector<uint8_t> ws(root ? kaldro_json_write_arena_bytes(root) : 0);
    char text[1024];
    uint64_t len = 0;
    kaldro_status st2 = root ? kaldro_json_write_ws(root, text, sizeof text, &len, ws.data(), ws.size()) : -1;
    o.line("json %d %d %.*s", st, st2, int(len), text);
  }
}

std::string golden_text() {
  Out o;
  o.line("kaldro golden outputs");
  elementary(o);
  orbital(o);
  digests(o);
  integers(o);
  hypervectors(o);
  octonions(o);
  codes(o);
  json(o);
  return o.text();
}

}  // namespace

TEST(Golden, OutputsMatchTheCommittedFile) {
  const std::string text = golden_text();
  if (const char *update = std::getenv("KALDRO_GOLDEN_UPDATE")) {
    std::ofstream(update, std::ios::binary) << text;
  }
  std::ifstream in(KALDRO_GOLDEN_FILE, std::ios::binary);
  ASSERT_TRUE(in.good()) << "cannot read " << KALDRO_GOLDEN_FILE;
  std::stringstream committed;
  committed << in.rdbuf();
  const std::string want = committed.str();
  if (text == want) return;
  // Name the first line that differs.
  std::istringstream got_lines(text), want_lines(want);
  std::string g, w;
  for (int line = 1;; ++line) {
    bool more_g = bool(std::getline(got_lines, g)), more_w = bool(std::getline(want_lines, w));
    if (!more_g && !more_w) break;
    ASSERT_EQ(g, w) << "first difference at line " << line;
  }
  FAIL() << "outputs differ from " << KALDRO_GOLDEN_FILE;
}

// The instruction-set queries answer for the processor the library runs on: on 64-bit
// Arm none of the x86 extensions exists.
TEST(Golden, CapabilityQueries) {
  EXPECT_EQ(kaldro_plat_has_threads(), 1);
  EXPECT_EQ(kaldro_plat_has_filesystem(), 1);
  EXPECT_EQ(kaldro_plat_has_dirlist(), 1);
  EXPECT_EQ(kaldro_plat_has_streams(), 1);
#if defined(__aarch64__)
  EXPECT_EQ(kaldro_simd_has_sse2(), 0);
  EXPECT_EQ(kaldro_simd_has_avx(), 0);
  EXPECT_EQ(kaldro_simd_has_avx2(), 0);
  EXPECT_EQ(kaldro_simd_has_shani(), 0);
#elif defined(__x86_64__)
  EXPECT_EQ(kaldro_simd_has_sse2(), 1);
#endif
}
