// Internal interface of the elementary functions for the other subsystems: value forms
// without status plumbing, and batch forms over arrays. Every form gives exactly the
// bits of the matching public function (kaldro_sin, kaldro_exp, ...) for every argument,
// special values included; the batch forms evaluate several arguments interleaved.
#pragma once

#include <kaldro.h>

#include <cstddef>
#include <cstdint>

namespace kaldro {

double exp_value(double x);
double log_value(double x);
double rational_sqrt_value(double x);
double sin_value(double x);
double cos_value(double x);
void sincos_value(double x, double *sin_out, double *cos_out);
double atan_value(double x);
double atan2_value(double y, double x);

// out[i] = f(x[i]) for i < n. out may equal x (element-wise in place), but must not
// overlap it otherwise.
void exp_many(const double *x, double *out, size_t n);
void log_many(const double *x, double *out, size_t n);
void sin_many(const double *x, double *out, size_t n);
void cos_many(const double *x, double *out, size_t n);
void sincos_many(const double *x, double *sin_out, double *cos_out, size_t n);
void atan_many(const double *x, double *out, size_t n);

// The instruction-set tiers behind the forms above, for the test suite. `portable`
// runs everywhere; `avx2` needs AVX2, FMA and BMI2. exp_out and log_out are the bodies
// of kaldro_exp and kaldro_log for a non-null out: they write the result and return
// the status.
#define KALDRO_ELEMENTARY_TIER_DECLS                                  \
  kaldro_status exp_out(double *out, double x);                      \
  kaldro_status log_out(double *out, double x);                      \
  double exp1(double x);                                             \
  double log1(double x);                                             \
  double sin1(double x);                                             \
  double cos1(double x);                                             \
  void sincos1(double x, double *s, double *c);                      \
  double atan1(double x);                                            \
  void exp_n(const double *x, double *out, size_t n);                \
  void log_n(const double *x, double *out, size_t n);                \
  void sin_n(const double *x, double *out, size_t n);                \
  void cos_n(const double *x, double *out, size_t n);                \
  void sincos_n(const double *x, double *s, double *c, size_t n);    \
  void atan_n(const double *x, double *out, size_t n);               \
  void autocorrelation(const double *x, uint64_t n, double *out);

namespace portable {
KALDRO_ELEMENTARY_TIER_DECLS
}
#if defined(__x86_64__)
namespace avx2 {
KALDRO_ELEMENTARY_TIER_DECLS
}
#endif
#undef KALDRO_ELEMENTARY_TIER_DECLS

// floor(sqrt(m * 2^54)) for m < 2^54, the integer root behind rational_sqrt_value: the
// restoring digit-by-digit method, and the form in use (the same values, faster where
// the processor has a square root instruction).
uint64_t shifted_root_restoring(uint64_t m);
uint64_t shifted_root(uint64_t m);

// True when the avx2 tier is in use on this processor.
bool elementary_avx2_tier();

}  // namespace kaldro
