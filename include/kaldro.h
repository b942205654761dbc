/*
 * kaldro.h - the one public header of libkaldro.
 *
 * A flat C interface: every exported function is named kaldro_<family>_<operation>,
 * checks its arguments in a fixed order (null pointers, then values and formats, then
 * capacities), works in buffers the caller supplies, and returns a kaldro_status with
 * its results in out-parameters. Nothing is started on load; there is no init call.
 * The header compiles as C99 and as C++.
 */
#ifndef KALDRO_H
#define KALDRO_H

#include <stddef.h>
#include <stdint.h>

/* Marks an exported function; everything else in the library is hidden. */
#if defined(__GNUC__)
#define KALDRO_API __attribute__((visibility("default")))
#else
#define KALDRO_API
#endif

#ifdef __cplusplus
extern "C" {
#endif

/*======================================================================================
 * Library frame: status codes, version and SIMD tier queries
 *====================================================================================*/

/*! kaldro_status: the signed 32-bit result of every fallible operation.
 *  The first failing check decides it; nothing but these values is ever returned. */
typedef int32_t kaldro_status;

#define KALDRO_OK 0           /*!< success; out-parameters hold the result */
#define KALDRO_ERR_NULL 1     /*!< a required pointer is null (always checked first) */
#define KALDRO_ERR_INVALID 2  /*!< a value outside its domain, or malformed input */
#define KALDRO_ERR_IO 3       /*!< a file, directory, stream or socket operation failed */
#define KALDRO_ERR_CAPACITY 4 /*!< a buffer, table or workspace too small, or a 64-bit overflow */
#define KALDRO_ERR_RESOURCE 6 /*!< heap memory or a thread was refused by the system */

/*! kaldro_version() :
 *  @return the static NUL-terminated version text "0.8.2"; the same pointer every call.
 *  The caller never frees or modifies it. */
KALDRO_API const char *kaldro_version(void);

/*! kaldro_abi_version() :
 *  @return 3, the revision number of the calling interface. */
KALDRO_API int kaldro_abi_version(void);

/*! kaldro_simd_has_sse2(), _avx(), _avx2(), _shani() :
 *  Capability queries, not statuses: 1 when the processor (and, for AVX and AVX2, the
 *  operating system's saved register state) supports the extension, else 0. Detected
 *  once and cached; always 0 on processors other than x86-64. */
KALDRO_API int kaldro_simd_has_sse2(void);
KALDRO_API int kaldro_simd_has_avx(void);
KALDRO_API int kaldro_simd_has_avx2(void);
KALDRO_API int kaldro_simd_has_shani(void);

/*! kaldro_simd_tier() :
 *  Chooses an instruction-set tier (0 is the portable path). Reads the environment
 *  variable `env_name` afresh on every call: unset gives `default_tier`; set, its text
 *  is converted as atoi does (so an empty or non-numeric value gives 0). A negative
 *  result becomes 0, and the result never exceeds `max_tier`.
 *  @env_name must not be null. A chosen tier never changes any result. */
KALDRO_API int kaldro_simd_tier(const char *env_name, int default_tier, int max_tier);

/*--- end of library frame ---*/


/*======================================================================================
 * Runtime configuration
 *====================================================================================*/

/*--- end of runtime configuration ---*/


/*======================================================================================
 * JSON: document model, parser, builder and canonical writer
 *====================================================================================*/

/*--- end of JSON ---*/


/*======================================================================================
 * TOML parser
 *====================================================================================*/

/*--- end of TOML ---*/


/*======================================================================================
 * NDJSON lines, templates, catalog lookup and TLV packing
 *====================================================================================*/

/*--- end of NDJSON, templates and TLV ---*/


/*======================================================================================
 * SHA-256
 *====================================================================================*/

/*--- end of SHA-256 ---*/


/*======================================================================================
 * Byte search, dispatch matching and the Hamming code
 *====================================================================================*/

/*--- end of byte search and Hamming code ---*/


/*======================================================================================
 * Genome store: save, catalog, load, windows and edits
 *====================================================================================*/

/*--- end of genome store ---*/


/*======================================================================================
 * Chromosome bundles: export, import, explode and pack
 *====================================================================================*/

/*--- end of chromosome bundles ---*/


/*======================================================================================
 * Platform: files, read streams, directories and threads
 *====================================================================================*/

/*--- end of platform files and threads ---*/


/*======================================================================================
 * Platform: local stream sockets and the message bus
 *====================================================================================*/

/*--- end of sockets and message bus ---*/


/*======================================================================================
 * Linear algebra and spectral graphs
 *====================================================================================*/

/*--- end of linear algebra ---*/


/*======================================================================================
 * Elementary and orbital functions, autocorrelation and exact DFT
 *====================================================================================*/

/* The library's own elementary functions, computed in Q61 fixed point (a signed 64-bit
 * v standing for v / 2^61) by fixed steps, so that every platform with IEEE binary64
 * arithmetic and a fused multiply-add gives the same bits. No system maths library is
 * used. Each writes exactly one double through `out` unless `out` is null
 * (KALDRO_ERR_NULL, nothing written); domain errors still write a value. All are
 * stateless and safe to call from any number of threads. */

/*! kaldro_exp() : e^x, within one unit in the last place over the normal range.
 *  NaN gives the same NaN; x > 709.782712893384 gives +inf, x < -745.2 gives +0.0
 *  (neither is an error).
 *  @return KALDRO_OK; KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_exp(double *out, double x);

/*! kaldro_log() : the natural logarithm: within about two units in the last place, and
 *  with an absolute (not relative) accuracy of about 2^-60 for arguments near 1
 *  (log(1.0000000001) = 1.000000082740371e-10). NaN gives the same NaN, +inf gives +inf.
 *  @return KALDRO_OK; KALDRO_ERR_INVALID for x < 0 (writes the quiet NaN
 *  0x7FF8000000000000) and for x = +-0 (writes -inf); KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_log(double *out, double x);

/*! kaldro_rational_sqrt() : the square root by an exact integer root of the significand
 *  scaled by 2^54, truncated, then rounded once to double: within one unit in the last
 *  place, not always correctly rounded (sqrt(2) gives 1.414213562373095). A subnormal
 *  significand is not normalised first, so subnormal arguments keep fewer bits.
 *  sqrt(+-0) = +0.0, sqrt(NaN) = NaN, sqrt(+inf) = +inf.
 *  @return KALDRO_OK; KALDRO_ERR_INVALID for x < 0 (writes x - x: +0.0, or NaN for
 *  -inf); KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_rational_sqrt(double *out, double x);

/*! kaldro_sin(), kaldro_cos() : sine and cosine with an absolute (not relative) accuracy
 *  of about 2^-61 after a reduction by a 64-bit 2/pi, whose error grows with |x| (about
 *  1.3e-21 |x|). The sign of a zero is not kept: sin(-0.0) = +0.0.
 *  @return KALDRO_OK (NaN gives NaN); KALDRO_ERR_INVALID for +-inf (writes NaN) and for
 *  |x| >= 2^55 (writes +0.0); KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_sin(double *out, double x);
KALDRO_API kaldro_status kaldro_cos(double *out, double x);

/*! kaldro_atan() : the arctangent in [-pi/2, pi/2], within about two units in the last
 *  place, the series itself to about 2^-60 absolute (so tiny arguments lose their
 *  significant bits: atan(1e-30) = +0.0). atan(NaN) = pi/4; atan(-0.0) = +0.0.
 *  @return KALDRO_OK; KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_atan(double *out, double x);

/*! kaldro_atan2() : the angle of the point (x, y), y first. x = +-0 gives pi/2 for
 *  y > 0, -pi/2 for y < 0 and +0.0 otherwise; x < 0 adds pi when y >= 0 (-0.0 included)
 *  and subtracts it otherwise; both infinite gives +-pi/4 (x = +inf) or +-3pi/4
 *  (x = -inf) with the sign of y.
 *  @return KALDRO_OK; KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_atan2(double *out, double y, double x);

/*! kaldro_pin_slot() : the polar angle, seen from the origin, of the point
 *  c + r (cos theta, sin theta): atan2(sin(theta) r, fma(r, cos theta, c)).
 *  *out is set to 0.0 before the arguments are checked.
 *  @return KALDRO_OK; KALDRO_ERR_INVALID if r = 0 and c = 0; KALDRO_ERR_NULL if out is
 *  null. */
KALDRO_API kaldro_status kaldro_pin_slot(double *out, double theta, double r, double c);

/*! kaldro_kepler_solve() : the eccentric anomaly E with M = E - e sin E, by Newton steps
 *  from E = M + e sin M until a step is below `tolerance` in magnitude.
 *  *out is set to the mean anomaly before the arguments are checked.
 *  @return KALDRO_OK (e = 0 returns M at once); KALDRO_ERR_INVALID for e < 0, e >= 1 or
 *  max_iterations = 0; KALDRO_ERR_CAPACITY when the iterations run out (*out holds the
 *  last iterate); KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_kepler_solve(uint32_t max_iterations, double *out,
                                             double mean_anomaly, double eccentricity,
                                             double tolerance);

/*! kaldro_equation_of_centre() : true minus mean anomaly, the series
 *  2e sin M + 5/4 e^2 sin 2M + 13/12 e^3 sin 3M + 103/96 e^4 sin 4M
 *  + 1097/960 e^5 sin 5M + 1223/960 e^6 sin 6M truncated to its first `order` terms.
 *  *out is set to 0.0 before the arguments are checked.
 *  @return KALDRO_OK; KALDRO_ERR_INVALID for e < 0, e >= 1 or order outside 1 ... 6;
 *  KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_equation_of_centre(uint32_t order, double *out,
                                                   double mean_anomaly, double eccentricity);

/*! kaldro_autocorrelation_f64() : out[i] = sum over j of x[j] x[(i + j) mod n], summed
 *  from 0.0 in increasing j by fused multiply-adds. out must not overlap x.
 *  @return KALDRO_OK (n = 0 touches nothing, null pointers allowed); KALDRO_ERR_NULL if
 *  x or out is null. */
KALDRO_API kaldro_status kaldro_autocorrelation_f64(const double *x, uint64_t n, double *out);

/*! kaldro_exact_dft_i64() : the discrete Fourier transforms of x and y (n = 2^k >= 2),
 *  exactly: X_i = sum_j x_j w^(ij) = sum_t c_(i,t) w^t over t < n/2, using w^(n/2) = -1.
 *  x_out and y_out are n x (n/2) tables, row i = frequency i, entry i (n/2) + t; sums
 *  wrap as 64-bit two's complement. A non-zero `inverse` negates every exponent. The
 *  tables must not overlap the inputs.
 *  @return KALDRO_OK; KALDRO_ERR_NULL if any pointer is null; KALDRO_ERR_INVALID if n < 2
 *  or n is not a power of two (nothing written). */
KALDRO_API kaldro_status kaldro_exact_dft_i64(uint32_t n, uint32_t inverse, const int64_t *x,
                                              const int64_t *y, int64_t *x_out,
                                              int64_t *y_out);

/*--- end of elementary functions ---*/


/*======================================================================================
 * Integer arithmetic
 *
 * Exact arithmetic on unsigned 64-bit integers. Modular products are built by doubling
 * and adding (64 iterations each), so no product ever exceeds 64 bits; out-parameters
 * are written only on success unless a function says otherwise.
 *====================================================================================*/

/*! kaldro_gcd() : writes gcd(a, b) to *out; gcd(a, 0) = a, gcd(0, 0) = 0.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_gcd(uint64_t a, uint64_t b, uint64_t *out);

/*! kaldro_lcm() : writes lcm(a, b) to *out; 0 when a or b is 0.
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_ERR_CAPACITY (nothing written) when the
 *  result does not fit 64 bits. */
KALDRO_API kaldro_status kaldro_lcm(uint64_t a, uint64_t b, uint64_t *out);

/*! kaldro_mod_add() : writes (a + b) mod m without overflow.
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_ERR_INVALID if m = 0. */
KALDRO_API kaldro_status kaldro_mod_add(uint64_t a, uint64_t b, uint64_t m, uint64_t *out);

/*! kaldro_mod_mul() : writes (a * b) mod m, by 64 doubling steps.
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_ERR_INVALID if m = 0. */
KALDRO_API kaldro_status kaldro_mod_mul(uint64_t a, uint64_t b, uint64_t m, uint64_t *out);

/*! kaldro_mod_pow() : writes base^exponent mod m (0 when m = 1; base^0 = 1 otherwise).
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_ERR_INVALID if m = 0. */
KALDRO_API kaldro_status kaldro_mod_pow(uint64_t base, uint64_t exponent, uint64_t m,
                                        uint64_t *out);

/*! kaldro_mod_inv() : writes the x in [0, m) with a * x = 1 (mod m).
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_ERR_INVALID if m < 2, a mod m = 0 or a
 *  has no inverse; KALDRO_ERR_CAPACITY if m >= 2^63. */
KALDRO_API kaldro_status kaldro_mod_inv(uint64_t a, uint64_t m, uint64_t *out);

/*! kaldro_three_cycle() : writes the successor of x mod 3 on the cycle 0 -> 1 -> 2 -> 0.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_three_cycle(uint64_t x, uint64_t *out);

/*! kaldro_is_prime() : writes 1 to *out if n is prime, else 0 (deterministic trial
 *  division). *out is cleared to 0 before the work.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_is_prime(uint64_t n, uint8_t *out);

/*! kaldro_factor() : factors n into primes (ascending, each once) with exponents, in the
 *  parallel arrays primes[] and exponents[] of `capacity` entries; *count receives the
 *  number of entries (cleared to 0 first). n < 2 gives count 0.
 *  @return KALDRO_ERR_NULL if primes, exponents or count is null; KALDRO_ERR_CAPACITY
 *  when a factor does not fit (the entries so far are kept and counted). */
KALDRO_API kaldro_status kaldro_factor(uint64_t n, uint64_t *primes, uint8_t *exponents,
                                       uint32_t capacity, uint32_t *count);

/*! kaldro_cyclic_period() : writes the smallest k in [1, limit] with a^k = 1 (mod m),
 *  searched linearly.
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_ERR_INVALID if m < 2, limit = 0 or
 *  a mod m = 0; KALDRO_ERR_CAPACITY (nothing written) if no such k exists up to limit. */
KALDRO_API kaldro_status kaldro_cyclic_period(uint64_t a, uint64_t m, uint64_t limit,
                                              uint64_t *out);

/*--- end of integer arithmetic ---*/


/*======================================================================================
 * Rationals, continued fractions and ordering patterns
 *====================================================================================*/

/*--- end of rationals and ordering patterns ---*/


/*======================================================================================
 * Hypervectors and the octonion loop algebra
 *====================================================================================*/

/*--- end of hypervectors and loop algebra ---*/


/*======================================================================================
 * Cascade dynamics: slot operations, Kuramoto steps and sector dispatch
 *====================================================================================*/

/*--- end of cascade dynamics ---*/

#ifdef __cplusplus
}
#endif

#endif /* KALDRO_H */
