// Computes the outputs of every deterministic function family on a fixed input set and
// compares the text with the committed golden.txt, so that any change of a result, on any
// architecture or instruction-set path, shows up as a differing line. Genome files
// (manifest and bundle text) are included byte for byte. Doubles are written
// as their bit patterns. Each status is taken before the outputs are printed (the
// order in which a call's arguments are evaluated is unspecified). Set
// KALDRO_GOLDEN_UPDATE=<path> to write the text to <path>.
#include <gtest/gtest.h>

#include <cinttypes>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "kaldro.h"

#include <stdlib.h>

namespace {

class Out {
 public:
  void line(const char *fmt, ...) __attribute__((format(printf, 2, 3))) {
    va_list ap, again;
    va_start(ap, fmt);
    va_copy(again, ap);
    const int len = vsnprintf(nullptr, 0, fmt, ap);
    va_end(ap);
    std::vector<char> buf(size_t(len > 0 ? len : 0) + 1);
    vsnprintf(buf.data(), buf.size(), fmt, again);
    va_end(again);
    text_ += buf.data();
    text_ += '\n';
  }
  // A line of any length: a label and then the text as it stands.
  void raw(const char *label, const std::string &text) {
    text_ += label;
    text_ += ' ';
    text_ += text;
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


void linalg(Out &o) {
  Rng rng{2024};
  // Dense solve of a diagonally weighted random system with two right-hand sides.
  const uint32_t n = 7, m = 2;
  std::vector<double> a(n * n), b(n * m), x(n * m);
  for (uint32_t i = 0; i < n; ++i)
    for (uint32_t j = 0; j < n; ++j) a[i * n + j] = rng.unit() * 2 - 1 + (i == j ? 4.0 : 0.0);
  for (double &v : b) v = rng.unit() * 10 - 5;
  std::vector<uint8_t> ws(kaldro_dense_solve_arena_bytes(n, m));
  { const int st_ = kaldro_dense_solve_f64_ws(n, m, a.data(), b.data(), x.data(), ws.data(), ws.size());
    o.line("dense_solve %d %s", st_, dbits(x.data(), x.size()).c_str()); }

  // A weighted graph of 9 vertices: a ring with chords and a self-loop.
  const uint32_t nv = 9;
  std::vector<uint32_t> src, dst;
  std::vector<double> w;
  for (uint32_t i = 0; i < nv; ++i) {
    src.push_back(i);
    dst.push_back((i + 1) % nv);
    w.push_back(0.5 + rng.unit());
  }
  for (uint32_t i = 0; i < nv; i += 3) {
    src.push_back(i);
    dst.push_back((i + 4) % nv);
    w.push_back(0.25 + rng.unit());
  }
  src.push_back(2);
  dst.push_back(2);
  w.push_back(1.5);
  const uint32_t ne = uint32_t(src.size());
  std::vector<double> mat(nv * nv);
  { const int st_ = kaldro_graph_dense_adjacency(nv, ne, src.data(), dst.data(), w.data(), mat.data());
    o.line("graph_adjacency %d %s", st_, dbits(mat.data(), mat.size()).c_str()); }
  { const int st_ = kaldro_graph_dense_laplacian(nv, ne, src.data(), dst.data(), nullptr, mat.data());
    o.line("graph_laplacian %d %s", st_, dbits(mat.data(), mat.size()).c_str()); }
  { const int st_ = kaldro_graph_normalized_laplacian(nv, ne, src.data(), dst.data(), w.data(), mat.data());
    o.line("graph_normalized_laplacian %d %s", st_, dbits(mat.data(), mat.size()).c_str()); }
  std::vector<double> eig(nv);
  { const int st_ = kaldro_jacobi_eigvals(nv, mat.data(), 0, eig.data(), 1e-12);
    o.line("jacobi_eigvals %d %s", st_, dbits(eig.data(), eig.size()).c_str()); }

  // A Hermitian 5 x 5 matrix: random upper triangle mirrored with conjugation.
  const uint32_t hn = 5;
  std::vector<double> h(2 * hn * hn), vals(hn), vecs(2 * hn * hn), hws(2 * hn * hn);
  for (uint32_t i = 0; i < hn; ++i)
    for (uint32_t j = i; j < hn; ++j) {
      const double re = rng.unit() * 2 - 1, im = i == j ? 0.0 : rng.unit() * 2 - 1;
      h[2 * (i * hn + j)] = re;
      h[2 * (i * hn + j) + 1] = im;
      h[2 * (j * hn + i)] = re;
      h[2 * (j * hn + i) + 1] = -im;
    }
  { const int st_ = kaldro_hermitian_eigendecompose_ws(hn, h.data(), vals.data(), vecs.data(), hws.data(), hws.size());
    o.line("hermitian_eigenvalues %d %s", st_, dbits(vals.data(), vals.size()).c_str());
    o.line("hermitian_eigenvectors %s", dbits(vecs.data(), vecs.size()).c_str()); }

  std::vector<double> ca(2 * 3 * 4), cb(2 * 4 * 2), cc(2 * 3 * 2);
  for (double &v : ca) v = rng.unit() * 2 - 1;
  for (double &v : cb) v = rng.unit() * 2 - 1;
  { const int st_ = kaldro_dense_matmul_complex(3, 4, 2, ca.data(), cb.data(), cc.data());
    o.line("matmul_complex %d %s", st_, dbits(cc.data(), cc.size()).c_str()); }
  std::vector<double> em(8);
  { const int st_ = kaldro_elementwise_multiply_complex(4, ca.data(), cb.data(), em.data());
    o.line("elementwise_multiply_complex %d %s", st_, dbits(em.data(), em.size()).c_str()); }
  const double tx[] = {0.001, 0.5, 1.0, 2.5, 7.0, 31.0};
  for (uint32_t kind = 0; kind < 4; ++kind) {
    double tout[6] = {0};
    const int st_ = kaldro_elementwise_transcendental(6, tx, kind, tout);
    o.line("elementwise_transcendental %u %d %s", kind, st_, dbits(tout, 6).c_str());
  }
  for (uint32_t bn : {0u, 1u, 2u, 3u, 100u, 4294967295u}) {
    uint32_t f = 0, s = 0, t = 0;
    const int st_ = kaldro_three_fold_bands(bn, &f, &s, &t);
    o.line("three_fold_bands %u %d %u %u %u", bn, st_, f, s, t);
  }

  // Fiedler vectors of the same graph, from the edge arrays and from an edge file.
  std::vector<double> fied(nv), fws(8 * nv);
  { const int st_ = kaldro_laplacian_fiedler_sparse(nv, ne, src.data(), dst.data(), w.data(), 200,
                                                     fied.data(), fws.data(), fws.size());
    o.line("fiedler_sparse %d %s", st_, dbits(fied.data(), fied.size()).c_str()); }
  const std::string edges = (std::filesystem::temp_directory_path() /
                             ("kaldro-golden-edges-" + std::to_string(getpid()))).string();
  {
    std::ofstream f(edges, std::ios::binary);
    for (uint32_t i = 0; i < ne; ++i) {
      f.write(reinterpret_cast<const char *>(&src[i]), 4);
      f.write(reinterpret_cast<const char *>(&dst[i]), 4);
      f.write(reinterpret_cast<const char *>(&w[i]), 8);
    }
  }
  std::fill(fied.begin(), fied.end(), 0.0);
  { const int st_ = kaldro_laplacian_fiedler_sparse_file(nv, edges.c_str(), 200, fied.data(), fws.data(), fws.size());
    o.line("fiedler_sparse_file %d %s", st_, dbits(fied.data(), fied.size()).c_str()); }
  std::filesystem::remove(edges);
}

void rationals(Out &o) {
  const int64_t nums[] = {0, 1, -1, 3, -7, 22, 355, 1000000007, INT64_MAX, INT64_MIN};
  const uint64_t dens[] = {1, 2, 3, 7, 113, 1000000009, 4294967296ULL, UINT64_MAX};
  for (int64_t an : nums)
    for (uint64_t ad : dens) {
      const int64_t bn = an == 0 ? 5 : an / -3 + 1;
      const uint64_t bd = ad % 11 + 1;
      int64_t sn = 0, mn = 0, dn = 0, pn = 0;
      uint64_t sd = 0, md = 0, dd = 0, pd = 0;
      const int st = kaldro_rational_add(an, ad, bn, bd, &sn, &sd) |
                     kaldro_rational_mul(an, ad, bn, bd, &mn, &md) << 4 |
                     kaldro_rational_div(an, ad, bn, bd, &dn, &dd) << 8 |
                     kaldro_rational_pow_uint(an, ad, 3, &pn, &pd) << 12;
      o.line("rational %" PRId64 "/%" PRIu64 " %" PRId64 "/%" PRIu64 " %x %" PRId64 "/%" PRIu64
             " %" PRId64 "/%" PRIu64 " %" PRId64 "/%" PRIu64 " %" PRId64 "/%" PRIu64,
             an, ad, bn, bd, st, sn, sd, mn, md, dn, dd, pn, pd);
    }
  for (int64_t xn : {int64_t(0), int64_t(1), int64_t(-3), int64_t(5)})
    for (uint32_t k : {0u, 4u, 9u, 20u, 21u}) {
      int64_t en = 0;
      uint64_t ed = 0;
      const int st_ = kaldro_exp_series_truncate(xn, 7, k, &en, &ed);
      o.line("exp_series_truncate %" PRId64 "/7 %u %d %" PRId64 "/%" PRIu64, xn, k, st_, en, ed);
    }
  const uint64_t fracs[][2] = {{0, 1}, {1, 1}, {355, 113}, {103993, 33102}, {UINT64_MAX, 3},
                               {6765, 10946}, {1, UINT64_MAX}};
  for (const auto &f : fracs) {
    uint64_t terms[64] = {0};
    uint32_t count = 0;
    const int st = kaldro_continued_fraction(f[0], f[1], terms, 64, &count);
    std::string t;
    for (uint32_t i = 0; i < count; ++i) t += " " + std::to_string(terms[i]);
    uint64_t bn = 0, bd = 0;
    const int st2 = kaldro_best_rational(f[0], f[1], 1000, &bn, &bd);
    o.line("continued_fraction %" PRIu64 "/%" PRIu64 " %d %d %" PRIu64 "/%" PRIu64 " |%s", f[0], f[1],
           st, st2, bn, bd, t.c_str());
  }
  const int64_t cf[] = {3, 7, 15, 1, 292, 1, 1, 1, 2, 1, -3, 14};
  int64_t p[12] = {0}, q[12] = {0};
  { const int st_ = kaldro_cf_convergents_int64(cf, 12, p, q);
    std::string s;
    for (int i = 0; i < 12; ++i) s += " " + std::to_string(p[i]) + "/" + std::to_string(q[i]);
    o.line("cf_convergents %d%s", st_, s.c_str()); }
  int32_t order[9] = {0};
  { const int st_ = kaldro_reverse_order(9, order);
    std::string s;
    for (int32_t v : order) s += " " + std::to_string(v);
    o.line("reverse_order %d%s", st_, s.c_str()); }
  const uint8_t pat[] = {1, 2, 3, 250, 0, 9, 77};
  uint8_t mir[7] = {0};
  { const int st_ = kaldro_mirror_pattern(pat, 7, mir); o.line("mirror_pattern %d %s", st_, hexbytes(mir, 7).c_str()); }
}

kaldro_status golden_operator(const double *in, uint64_t n, double *out, void *ctx) {
  const double scale = *static_cast<const double *>(ctx);
  for (uint64_t i = 0; i < n; ++i) out[i] = in[i] * scale + (i + 1 < n ? in[i + 1] : 0.25);
  return KALDRO_OK;
}

void cascade(Out &o) {
  Rng rng{31337};
  const uint64_t n = 12;
  std::vector<double> theta(n), omega(n), out(n), W(n * n), drive(n), gain(n);
  for (double &v : theta) v = (rng.unit() - 0.5) * 12.0;
  for (double &v : omega) v = rng.unit() * 2 - 1;
  for (double &v : W) v = rng.unit();
  for (double &v : drive) v = (rng.unit() - 0.5) * 6.0;
  for (double &v : gain) v = rng.unit() * 3;
  { const int st_ = kaldro_cascade_kuramoto_step_f64(theta.data(), omega.data(), n, out.data(), 1.7, 0.01);
    o.line("kuramoto_step %d %s", st_, dbits(out.data(), n).c_str()); }
  // Many steps in a row, so that differences in the last bit would grow and show.
  std::vector<double> cur = theta;
  int st = 0;
  for (int step = 0; step < 200; ++step) {
    st |= kaldro_cascade_kuramoto_step_f64(cur.data(), omega.data(), n, out.data(), 2.5, 0.05);
    cur.swap(out);
  }
  o.line("kuramoto_200_steps %d %s", st, dbits(cur.data(), n).c_str());
  { const int st_ = kaldro_cascade_kuramoto_step_general_f64(theta.data(), omega.data(), n, W.data(),
        drive.data(), gain.data(), out.data(), 0.9, 0.3, 0.02);
    o.line("kuramoto_general %d %s", st_, dbits(out.data(), n).c_str()); }
  { const int st_ = kaldro_cascade_kuramoto_step_general_f64(theta.data(), omega.data(), n, nullptr,
        drive.data(), nullptr, out.data(), 0.9, -0.7, 0.02);
    o.line("kuramoto_general_unweighted %d %s", st_, dbits(out.data(), n).c_str()); }

  std::vector<double> flipped(n);
  std::vector<int64_t> iv(n), iflip(n);
  for (uint64_t i = 0; i < n; ++i) iv[i] = int64_t(rng.next() % 2001) - 1000;
  st = kaldro_cascade_chiral_flip_f64(theta.data(), n, flipped.data()) |
       kaldro_cascade_chiral_flip_i64(iv.data(), n, iflip.data()) << 4;
  std::string is;
  for (int64_t v : iflip) is += " " + std::to_string(v);
  o.line("chiral_flip %d %s |%s", st, dbits(flipped.data(), n).c_str(), is.c_str());
  double scale = 1.5;
  std::vector<double> scratch(4 * n), dual(n);
  { const int st_ = kaldro_cascade_chiral_dual_f64(golden_operator, &scale, theta.data(), n, dual.data(), scratch.data());
    o.line("chiral_dual %d %s", st_, dbits(dual.data(), n).c_str()); }
  std::vector<double> sectors(4 * n);
  { const int st_ = kaldro_cascade_parallel_sector_dispatch(golden_operator, &scale, theta.data(), n, 4,
        sectors.data(), scratch.data(), 4 * n);
    o.line("sector_dispatch %d %s", st_, dbits(sectors.data(), sectors.size()).c_str()); }
  for (double x : {0.0, -0.0, 2.75, -1e-13, -3.14159, 1e18}) {
    int8_t sign = 9;
    double mag = 0, abs = 0, re = 0;
    int64_t num = 0, rint = 0;
    uint64_t den = 0;
    const int cst = kaldro_cascade_pin_slot_at_zero_f64(x, &sign, &mag) |
                    kaldro_cascade_magnitude_f64(x, &abs) << 4 |
                    kaldro_cascade_reorient_f64(-1, x, &re) << 8 |
                    kaldro_cascade_best_rational_signed_f64(1000, 1000000, &num, &den, x) << 12 |
                    kaldro_cascade_reorient_i64(-3, int64_t(x), &rint) << 16;
    const double v[] = {x, mag, abs, re};
    o.line("cascade_slot %x %d %s %" PRId64 "/%" PRIu64 " %" PRId64, cst, sign, dbits(v, 4).c_str(), num,
           den, rint);
  }
  const int8_t signs[] = {1, -1, -1, 1, -1};
  int8_t net = 0;
  uint64_t g = 0;
  st = kaldro_cascade_net_chirality_i8(signs, 5, &net) | kaldro_cascade_cyclic_gcd_u64(462, 1071, &g) << 4;
  o.line("cascade_net %x %d %" PRIu64, st, net, g);
}

std::string file_bytes(const std::string &path) {
  std::ifstream in(path, std::ios::binary);
  return std::string(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
}

// A saved genome: the manifest's bytes and digests, a rebuilt catalog, a window and an
// exported bundle's bytes.
void genome(Out &o) {
  char tmpl[] = "/tmp/kaldro-golden-XXXXXX";
  if (!mkdtemp(tmpl)) {
    o.line("genome mkdtemp failed");
    return;
  }
  const std::string dir = tmpl;
  const uint32_t leaf_dim = 12;
  std::vector<uint8_t> body;
  Rng rng{8080};
  const char *labels[] = {"alpha", "b\"q\\x", "", "\x01\x1f" "ctl", "zeta-9"};
  for (const char *label : labels) {
    std::vector<uint8_t> cap(leaf_dim, 0);
    cap[0] = 'C';
    std::memcpy(cap.data() + 1, label, std::strlen(label));
    cap[leaf_dim - 1] = uint8_t(rng.next());
    body.insert(body.end(), cap.begin(), cap.end());
    const int records = int(rng.next() % 4);
    for (int r = 0; r < records; ++r) {
      std::vector<uint8_t> rec(leaf_dim);
      for (auto &b : rec) b = uint8_t(rng.next());
      rec[0] = r == 1 ? 'G' : uint8_t('a' + r);
      body.insert(body.end(), rec.begin(), rec.end());
    }
  }
  std::vector<uint8_t> one(leaf_dim);
  for (auto &b : one) b = uint8_t(rng.next());
  std::vector<uint8_t> ws(kaldro_genome_arena_bytes(body.size(), 5, body.size()));
  const int st = kaldro_genome_save(dir.c_str(), body.data(), body.size(), leaf_dim, one.data(),
                                    one.size(), ws.data(), ws.size());
  const std::string manifest = file_bytes(dir + "/manifest.json");
  char digest[65] = {0};
  kaldro_sha256_hex(manifest.data(), manifest.size(), digest);
  o.line("genome_save %d %zu %s", st, manifest.size(), digest);
  o.raw("genome_manifest", manifest.substr(0, manifest.size() - (manifest.empty() ? 0 : 1)));

  // The catalog rebuilt from the body alone writes the same text.
  std::filesystem::rename(dir + "/manifest.json", dir + "/saved.json");
  const kaldro_json_node *root = nullptr;
  const int st2 = kaldro_genome_catalog(dir.c_str(), one.data(), one.size(), ws.data(), ws.size(), &root);
  std::string rebuilt;
  if (st2 == KALDRO_OK) {
    std::vector<uint8_t> wws(kaldro_json_write_arena_bytes(root));
    uint64_t len = 0;
    kaldro_json_write_ws(root, nullptr, 0, &len, wws.data(), wws.size());
    rebuilt.resize(len);
    kaldro_json_write_ws(root, rebuilt.data(), len, &len, wws.data(), wws.size());
  }
  o.line("genome_rebuilt_catalog %d %s", st2, rebuilt + "\n" == manifest ? "same" : "differs");
  std::filesystem::rename(dir + "/saved.json", dir + "/manifest.json");

  uint8_t region[64] = {0};
  size_t region_len = 0;
  const int st3 = kaldro_genome_window(dir.c_str(), "zeta-9", region, sizeof region, &region_len,
                                       nullptr, 0, ws.data(), ws.size());
  o.line("genome_window %d %s", st3, hexbytes(region, region_len).c_str());
  const std::string bundle = dir + "/alpha.chr";
  const int st4 = kaldro_genome_export(dir.c_str(), "alpha", bundle.c_str(), nullptr, 0, ws.data(), ws.size());
  const std::string text = file_bytes(bundle);
  kaldro_sha256_hex(text.data(), text.size(), digest);
  o.line("genome_export %d %zu %s", st4, text.size(), digest);
  o.raw("genome_bundle", text.substr(0, text.size() - (text.empty() ? 0 : 1)));
  std::filesystem::remove_all(dir);
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
  linalg(o);
  rationals(o);
  cascade(o);
  genome(o);
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
