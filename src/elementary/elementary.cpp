// Exponential, logarithm, square root, sine, cosine and the arctangents: the exported
// entry points, the exact integer square root, and the choice of instruction-set tier.
#include "elementary/elementary.h"

#include "elementary/kernels.h"
#include "frame/internal.h"

#if defined(__x86_64__)
#include <emmintrin.h>
#endif

namespace kaldro {

bool elementary_avx2_tier() {
#if defined(__x86_64__)
  static const bool usable = cpu_has(Cpu::avx2) && cpu_has(Cpu::fma) && cpu_has(Cpu::bmi2);
  return usable;
#else
  return false;
#endif
}

namespace {
// The tier in use, cached like the processor's feature word: 0 until decided, then 1 for
// the portable tier and 2 for avx2 (only ever written with the same value).
uint8_t tier_cache = 0;

[[gnu::cold, gnu::noinline]] bool decide_tier() {
  const bool avx2 = elementary_avx2_tier();
  __atomic_store_n(&tier_cache, uint8_t(avx2 ? 2 : 1), __ATOMIC_RELAXED);
  return avx2;
}

// The tier test inlined into every entry point: one load and a compare, so that the
// arguments stay in their registers on the way to the kernel.
[[gnu::always_inline]] inline bool avx2_in_use() {
  const uint8_t t = __atomic_load_n(&tier_cache, __ATOMIC_RELAXED);
  if (__builtin_expect(t == 0, 0)) return decide_tier();
  return t == 2;
}
}  // namespace

#if defined(__x86_64__)
#define KALDRO_TIER_CALL(fn, ...) \
  (avx2_in_use() ? avx2::fn(__VA_ARGS__) : portable::fn(__VA_ARGS__))
#else
#define KALDRO_TIER_CALL(fn, ...) portable::fn(__VA_ARGS__)
#endif

double exp_value(double x) { return KALDRO_TIER_CALL(exp1, x); }
double log_value(double x) { return KALDRO_TIER_CALL(log1, x); }
double sin_value(double x) { return KALDRO_TIER_CALL(sin1, x); }
double cos_value(double x) { return KALDRO_TIER_CALL(cos1, x); }
void sincos_value(double x, double *s, double *c) { KALDRO_TIER_CALL(sincos1, x, s, c); }
double atan_value(double x) { return KALDRO_TIER_CALL(atan1, x); }

void exp_many(const double *x, double *out, size_t n) { KALDRO_TIER_CALL(exp_n, x, out, n); }
void log_many(const double *x, double *out, size_t n) { KALDRO_TIER_CALL(log_n, x, out, n); }
void sin_many(const double *x, double *out, size_t n) { KALDRO_TIER_CALL(sin_n, x, out, n); }
void cos_many(const double *x, double *out, size_t n) { KALDRO_TIER_CALL(cos_n, x, out, n); }
void sincos_many(const double *x, double *s, double *c, size_t n) {
  KALDRO_TIER_CALL(sincos_n, x, s, c, n);
}
void atan_many(const double *x, double *out, size_t n) { KALDRO_TIER_CALL(atan_n, x, out, n); }

double atan2_value(double y, double x) {
  if (x == 0) return y > 0 ? kPiOver2 : y < 0 ? -kPiOver2 : 0.0;
  // Both infinite: the quotient would be NaN, so take the quadrant's diagonal directly.
  if (__builtin_isinf(x) && __builtin_isinf(y)) {
    constexpr double kThreePiOver4 = kPi - kPiOver4;
    const double v = x > 0 ? kPiOver4 : kThreePiOver4;
    return y < 0 ? -v : v;
  }
  const double a = atan_value(y / x);
  if (x > 0) return a;
  return y >= 0 ? a + kPi : a - kPi;
}

// floor(sqrt(M * 2^54)) for M < 2^54, by the restoring method in base 2, two bits of the
// radicand per step from the top. The radicand is below 2^108, so its 10 leading pairs
// are zero (steps that change nothing) and the low 27 pairs are zero too. The remainder
// never exceeds 2R < 2^55, so 64-bit words hold it exactly.
uint64_t shifted_root_restoring(uint64_t m) {
  uint64_t rem = 0, root = 0;
  for (int shift = 52; shift >= 0; shift -= 2) {
    rem = (rem << 2) | ((m >> shift) & 3);
    const uint64_t trial = (root << 2) | 1;
    const uint64_t take = rem >= trial;
    rem -= trial & (0 - take);
    root = (root << 1) | take;
  }
  for (int step = 0; step < 27; ++step) {
    rem <<= 2;
    const uint64_t trial = (root << 2) | 1;
    const uint64_t take = rem >= trial;
    rem -= trial & (0 - take);
    root = (root << 1) | take;
  }
  return root;
}

// The same integer root. On x86-64 the processor's square root of the radicand (exact as
// a double: M has at most 53 significant bits) is within one of the true root, and three
// exact integer comparisons settle the floor.
uint64_t shifted_root(uint64_t m) {
#if defined(__x86_64__) && defined(__SIZEOF_INT128__)
  const double radicand = double(int64_t(m)) * 0x1p54;
  const double estimate = _mm_cvtsd_f64(_mm_sqrt_sd(_mm_setzero_pd(), _mm_set_sd(radicand)));
  const uint64_t base = estimate >= 2 ? uint64_t(estimate) - 2 : 0;
  const unsigned __int128 n = static_cast<unsigned __int128>(m) << 54;
  uint64_t root = base;
  for (uint64_t j = 1; j <= 3; ++j) {
    const unsigned __int128 c = base + j;
    root += c * c <= n;
  }
  return root;
#else
  return shifted_root_restoring(m);
#endif
}

double rational_sqrt_value(double x) {
  if (x < 0) return x - x;
  if (x == 0) return 0.0;
  if (x != x || x == kInf) return x;
  // x = M * 2^E exactly; a subnormal significand is deliberately left unnormalised.
  const uint64_t bits = double_bits(x);
  const int32_t e = int32_t(bits >> 52);
  uint64_t m = bits & kFracMask;
  int32_t exponent = -1074;
  if (e != 0) {
    m |= uint64_t(1) << 52;
    exponent = e - 1075;
  }
  if (exponent & 1) {
    m <<= 1;
    exponent -= 1;
  }
  const uint64_t root = shifted_root(m);
  const double scale = bits_double(uint64_t(exponent / 2 + 996) << 52);  // 2^(E/2 - 27)
  return double(int64_t(root)) * scale;
}

}  // namespace kaldro

using namespace kaldro;

extern "C" {

KALDRO_API kaldro_status kaldro_exp(double *out, double x) {
  if (!out) return KALDRO_ERR_NULL;
  return KALDRO_TIER_CALL(exp_out, out, x);
}

KALDRO_API kaldro_status kaldro_log(double *out, double x) {
  if (!out) return KALDRO_ERR_NULL;
  return KALDRO_TIER_CALL(log_out, out, x);
}

KALDRO_API kaldro_status kaldro_rational_sqrt(double *out, double x) {
  if (!out) return KALDRO_ERR_NULL;
  *out = rational_sqrt_value(x);
  return x < 0 ? KALDRO_ERR_INVALID : KALDRO_OK;
}

// Sine and cosine refuse infinities and |x| >= 2^55; NaN passes through.
static kaldro_status trig_status(double x) {
  return x != x || __builtin_fabs(x) < 0x1p55 ? KALDRO_OK : KALDRO_ERR_INVALID;
}

KALDRO_API kaldro_status kaldro_sin(double *out, double x) {
  if (!out) return KALDRO_ERR_NULL;
  *out = sin_value(x);
  return trig_status(x);
}

KALDRO_API kaldro_status kaldro_cos(double *out, double x) {
  if (!out) return KALDRO_ERR_NULL;
  *out = cos_value(x);
  return trig_status(x);
}

KALDRO_API kaldro_status kaldro_atan(double *out, double x) {
  if (!out) return KALDRO_ERR_NULL;
  *out = atan_value(x);
  return KALDRO_OK;
}

KALDRO_API kaldro_status kaldro_atan2(double *out, double y, double x) {
  if (!out) return KALDRO_ERR_NULL;
  *out = atan2_value(y, x);
  return KALDRO_OK;
}

}  // extern "C"
