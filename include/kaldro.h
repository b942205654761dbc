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

/* SHA-256 digests, bit-identical to FIPS 180-4 whatever instruction-set path runs. A raw
 * digest is 32 bytes (the eight state words, big-endian); a hex digest is 64 lowercase
 * characters from "0123456789abcdef" and a terminating zero byte (65 bytes). None of the
 * three allocates; messages are read block by block from the caller's memory. */

/*! kaldro_sha256_hex() :
 *  Writes the hex digest of data[0..data_len) to out_hex[0..64], byte 64 the zero byte.
 *  data may be null when data_len is 0 (the empty message). Reads no tier variable.
 *  @return KALDRO_ERR_NULL if out_hex is null, or data is null with data_len > 0. */
KALDRO_API kaldro_status kaldro_sha256_hex(const void *data, size_t data_len, char *out_hex);

/*! kaldro_sha256_batch() :
 *  Digests n independent messages: message i is datas[i][0..lens[i]), its raw digest
 *  goes to digests[32*i .. 32*i+31]. With n = 0 returns KALDRO_OK at once, touching
 *  nothing (null arrays accepted). Every entry is checked before any digest is written.
 *  The tier is chosen once per call: 2 with AVX2, else 1 with SSE2, else 0, or the
 *  value of KALDRO_SHA256_FORCE_TIER when set, clamped to 0..2. Tier 0 is the portable
 *  path; tier 1 digests four messages at a time in SSE2 registers; tier 2 eight at a
 *  time in AVX2 registers, or two at a time with the SHA extensions on processors that
 *  have them. A tier the processor cannot run falls back to the next one below. The
 *  tier never changes a digest, nor the order in which digests are written as seen by
 *  a message that lies in the digest array.
 *  @return KALDRO_ERR_NULL if datas, lens or digests is null, or an entry's data is null
 *  with a length above 0 (no digest written). */
KALDRO_API kaldro_status kaldro_sha256_batch(const uint8_t *const *datas, const size_t *lens,
                                             size_t n, uint8_t *digests);

/*! kaldro_sha256_shani() :
 *  Writes the raw digest of data[0..data_len) to digest[0..31]. Runs the SHA-extension
 *  path when the processor has it (tier 1), else the portable one (tier 0);
 *  KALDRO_SHANI_FORCE_TIER, when set, overrides the choice, clamped to 0..1 and never
 *  above what the processor runs. data may be null when data_len is 0.
 *  @return KALDRO_ERR_NULL if digest is null, or data is null with data_len > 0. */
KALDRO_API kaldro_status kaldro_sha256_shani(const void *data, size_t data_len,
                                             uint8_t *digest);

/*--- end of SHA-256 ---*/


/*======================================================================================
 * Byte search, dispatch matching and the Hamming code
 *====================================================================================*/

/* Byte strings are compared exactly; lengths are explicit and a pointer may be null only
 * when its length is 0. */

/*! kaldro_byte_search() :
 *  Writes to *index the first position at which needle occurs in hay, or -1. An empty
 *  needle gives 0; a needle longer than the haystack gives -1.
 *  @return KALDRO_ERR_NULL if index is null, needle is null with needle_len > 0, or hay
 *  is null with hay_len > 0; KALDRO_ERR_CAPACITY (index unwritten) when the position
 *  found exceeds INT32_MAX. */
KALDRO_API kaldro_status kaldro_byte_search(const uint8_t *hay, uint32_t hay_len,
                                            const uint8_t *needle, uint32_t needle_len,
                                            int32_t *index);

/*! kaldro_byte_search_backward() :
 *  Writes to *index the last position at which needle occurs in hay, or -1. An empty
 *  needle gives hay_len (the end position); a needle longer than the haystack gives -1.
 *  @return as kaldro_byte_search(). */
KALDRO_API kaldro_status kaldro_byte_search_backward(const uint8_t *hay, uint32_t hay_len,
                                                     const uint8_t *needle,
                                                     uint32_t needle_len, int32_t *index);

/*! kaldro_dispatch_match() :
 *  Scans the pattern table in order (pattern i is lengths[i] bytes of blob at offsets[i])
 *  and reports the first pattern that occurs anywhere in hay: *found = 1 and *id =
 *  ids[i]. The first pattern in table order wins; an empty pattern always matches. When
 *  none matches, *found and *id are 0. Both are set to 0 once they are known non-null.
 *  @return KALDRO_ERR_NULL if found or id is null; with count 0, only if hay is null with
 *  hay_len > 0; then if offsets, lengths or ids is null, if hay is null with hay_len > 0,
 *  or if blob is null when a non-empty pattern is reached. */
KALDRO_API kaldro_status kaldro_dispatch_match(const uint8_t *hay, uint32_t hay_len,
                                               const uint8_t *blob, const uint32_t *offsets,
                                               const uint32_t *lengths, const int32_t *ids,
                                               uint32_t count, uint8_t *found, int32_t *id);

/* Hamming codes of length n = 2^r - 1 with r parity bits (r from 2 to 16) and k = n - r
 * data bits, one bit per byte (each byte 0 or 1). Positions count from 1 (byte index
 * position - 1); parity bit j sits at position 2^j, the data bits fill the other
 * positions in order. Parity is even. */

/*! kaldro_hamming_encode() :
 *  Writes the n-byte codeword of the k data bits to codeword.
 *  @return KALDRO_ERR_NULL if data or codeword is null; KALDRO_ERR_INVALID if r is
 *  outside 2..16, k is not 2^r - r - 1, or a data byte is above 1 (nothing written). */
KALDRO_API kaldro_status kaldro_hamming_encode(const uint8_t *data, uint64_t k, uint32_t r,
                                               uint8_t *codeword);

/*! kaldro_hamming_syndrome() :
 *  Writes the syndrome of a received codeword: 0 when consistent, otherwise the position
 *  of the single flipped bit.
 *  @return KALDRO_ERR_NULL if codeword or syndrome is null; KALDRO_ERR_INVALID if n is
 *  not 2^r - 1 with r in 2..16, or a codeword byte is above 1 (nothing written). */
KALDRO_API kaldro_status kaldro_hamming_syndrome(const uint8_t *codeword, uint64_t n,
                                                 int32_t *syndrome);

/*! kaldro_hamming_decode_correct() :
 *  Writes the k data bits of the codeword to data, with the bit the syndrome names
 *  inverted, and the syndrome to *syndrome. The codeword is not modified; a syndrome
 *  naming a parity position changes no data bit. Two or more flipped bits are not
 *  detected (they give a wrong correction).
 *  @return as kaldro_hamming_syndrome(), with data also required; nothing is written on
 *  failure. */
KALDRO_API kaldro_status kaldro_hamming_decode_correct(const uint8_t *codeword, uint64_t n,
                                                       uint8_t *data, int32_t *syndrome);

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
