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

/*! kaldro_json_kind: the kind tag of a JSON node (a signed 32-bit int). */
typedef int32_t kaldro_json_kind;
#define KALDRO_JSON_NULL 0   /*!< no payload */
#define KALDRO_JSON_BOOL 1   /*!< `boolean` */
#define KALDRO_JSON_INT 2    /*!< `integer` */
#define KALDRO_JSON_DOUBLE 3 /*!< `number` */
#define KALDRO_JSON_STRING 4 /*!< `str`, `len` */
#define KALDRO_JSON_ARRAY 5  /*!< `items`, `count` */
#define KALDRO_JSON_OBJECT 6 /*!< `keys`, `values`, `member_count` */

/* The payload words are unnamed unions; GCC and Clang accept them in C99 as well. */
#if defined(__GNUC__) && !defined(__cplusplus)
#define KALDRO_UNNAMED __extension__
#else
#define KALDRO_UNNAMED
#endif

/*! kaldro_json_node: one JSON value, 32 bytes, read directly by callers.
 *  Layout: `kind` at offset 0, then three 64-bit payload words at offsets 8, 16, 24.
 *  Nodes are zero-filled when allocated, so fields a kind does not use read as zero.
 *  - BOOL:   `boolean` is 0 or 1.
 *  - INT:    `integer`.            DOUBLE: `number`.
 *  - STRING: `str` points at `len` decoded bytes; they are NOT NUL-terminated and may
 *            hold zero bytes: compare by length and bytes.
 *  - ARRAY:  `items` points at `count` node pointers, in document order.
 *  - OBJECT: `keys` (NUL-terminated strings) and `values` are parallel arrays of
 *            `member_count` pointers, in document order; duplicate keys are all kept.
 *  An empty array or object still has non-null `items` (or `keys` and `values`). */
typedef struct kaldro_json_node {
  kaldro_json_kind kind;
  KALDRO_UNNAMED union {
    int32_t boolean;
    int64_t integer;
    double number;
    const char *str;
    struct kaldro_json_node **items;
    const char **keys;
  };
  KALDRO_UNNAMED union {
    uint32_t len;
    uint32_t count;
    struct kaldro_json_node **values;
  };
  KALDRO_UNNAMED union {
    uint32_t member_count;
    uint64_t reserved_word;
  };
} kaldro_json_node;

/*! kaldro_json_parse() :
 *  Parses `text_len` bytes of JSON (no NUL needed) into a tree carved from `arena`, front
 *  to back in blocks that start at multiples of 8 from the arena's start (pass an
 *  8-byte aligned arena). The tree holds no pointers into `text`.
 *  Arena use, in order: a 32-byte node per value when its first character is reached;
 *  r + 1 bytes of string scratch per string or key (r = raw bytes up to the closing
 *  quote); for a container root a 2560-byte stack; per container a 64-byte value list
 *  and, for objects, a 64-byte key list (doubled when full); per key its bytes and a
 *  NUL; at each close the final pointer arrays (8 * count bytes, 8 when empty).
 *  Numbers: a token holding `.`, `e` or `E` is converted as strtod does, any other as
 *  strtoll (base 10, saturating); conversion stops where the token stops making sense,
 *  so 1.2.3 is 1.2. At most 64 containers may be open at once.
 *  @return KALDRO_ERR_NULL when `out_root` is null, `text` is null with a non-zero
 *          length or `arena` is null with a non-zero size; KALDRO_ERR_INVALID for
 *          malformed text; KALDRO_ERR_CAPACITY when the arena runs out, a number token
 *          has 63 characters or more, or a 65th container opens. The first failure
 *          decides; `*out_root` is written only on success. */
KALDRO_API kaldro_status kaldro_json_parse(const void *text, uint64_t text_len, void *arena,
                                           uint64_t arena_bytes, kaldro_json_node **out_root);

/*! kaldro_json_object_get() :
 *  @return the value of the first member of `object` whose key equals `key` (both
 *          compared up to their NUL), skipping members whose key pointer is null; null
 *          when either argument is null, `object` is not an object, or nothing matches. */
KALDRO_API const kaldro_json_node *kaldro_json_object_get(const kaldro_json_node *object,
                                                          const char *key);

/*! kaldro_json_builder: a bump allocator of nodes over a caller's arena.
 *  `used` counts the bytes handed out, alignment gaps included; `failed` turns 1 at the
 *  first allocation that does not fit and stays 1 until the next init. After building,
 *  test `failed`; the tail (`base` + `used`, `size` - `used` bytes) may serve as the
 *  writer's workspace. */
typedef struct kaldro_json_builder {
  uint8_t *base;
  uint64_t size;
  uint64_t used;
  int32_t failed;
} kaldro_json_builder;

/*! kaldro_json_builder_init() :
 *  Sets `base`, `size`, `used` = 0 and `failed` = 0.
 *  @return KALDRO_ERR_NULL when `builder` is null, or `arena` is null with a non-zero
 *          size; else KALDRO_OK. */
KALDRO_API kaldro_status kaldro_json_builder_init(kaldro_json_builder *builder, void *arena,
                                                  uint64_t arena_bytes);

/*! kaldro_json_new_null(), _new_bool(), _new_int(), _new_double() :
 *  Allocate one zero-filled 32-byte node (at the next multiple of 8 of `used`) and set it.
 *  A bool is stored as 1 when `value` is non-zero.
 *  @return the node, or null with `failed` set when it does not fit (null, and nothing
 *          touched, when `builder` is null; the same holds for every constructor). */
KALDRO_API kaldro_json_node *kaldro_json_new_null(kaldro_json_builder *builder);
KALDRO_API kaldro_json_node *kaldro_json_new_bool(kaldro_json_builder *builder, int32_t value);
KALDRO_API kaldro_json_node *kaldro_json_new_int(kaldro_json_builder *builder, int64_t value);
KALDRO_API kaldro_json_node *kaldro_json_new_double(kaldro_json_builder *builder, double value);

/*! kaldro_json_new_string() :
 *  A string node whose `str` is `bytes` itself (not copied: keep the bytes valid and
 *  unchanged while the tree is used) and whose `len` is `len`.
 *  @return the node, or null with `failed` set. */
KALDRO_API kaldro_json_node *kaldro_json_new_string(kaldro_json_builder *builder,
                                                    const char *bytes, uint32_t len);

/*! kaldro_json_new_array() :
 *  Allocates the node, then an array of 8 * `count` bytes (8 when `count` is 0), and
 *  copies the `count` item pointers (`items` is read only when `count` is non-zero).
 *  Both allocations are attempted even when the first fails.
 *  @return the node, or null with `failed` set when any allocation failed. */
KALDRO_API kaldro_json_node *kaldro_json_new_array(kaldro_json_builder *builder,
                                                   kaldro_json_node *const *items,
                                                   uint32_t count);

/*! kaldro_json_new_object() :
 *  Allocates the node, the key array, then the value array (each 8 * `count` bytes, 8
 *  when `count` is 0) and copies the pointers; the keys themselves are not copied and
 *  are kept in the order given (not sorted, not checked for duplicates). The arrays are
 *  read only when `count` is non-zero. Every allocation is attempted.
 *  @return the node, or null with `failed` set when any allocation failed. */
KALDRO_API kaldro_json_node *kaldro_json_new_object(kaldro_json_builder *builder,
                                                    const char *const *keys,
                                                    kaldro_json_node *const *values,
                                                    uint32_t count);

/*! kaldro_json_write_arena_bytes() :
 *  @return 0 for a null root, else 16 + D * (24 + 4 * M), where D is the container
 *          nesting depth (the root is depth 1 even when it is a scalar; nothing below
 *          depth 64 is visited) and M the largest member count of any object within
 *          those levels. A scalar root gives 40. */
KALDRO_API uint64_t kaldro_json_write_arena_bytes(const kaldro_json_node *root);

/*! kaldro_json_write_ws() :
 *  Writes `root` as canonical JSON: members in key order (bytewise, shorter first, equal
 *  keys in stored order), ", " and ": " separators, integers as "%lld", doubles as
 *  "%.17g" with ".0" appended when the text has no '.', 'e', 'E', 'i' or 'n'; no other
 *  white space, no NUL and no trailing newline. With `out` null only the length is
 *  computed. An undersized `out` receives the longest prefix that ends between whole
 *  pieces (a bracket, separator, literal, number, escape or plain byte).
 *  @return KALDRO_ERR_NULL when `root` or `out_len` is null; KALDRO_ERR_INVALID when
 *          `workspace` is null or smaller than D * (24 + 4 * M) bytes, or when the tree
 *          holds a null item, value or key pointer (nothing written in these cases);
 *          KALDRO_ERR_CAPACITY when containers nest deeper than 64 (`*out_len` not
 *          written), or when `out` is non-null and the text is longer than `out_cap`
 *          (`*out_len` holds the full length); else KALDRO_OK with the length. */
KALDRO_API kaldro_status kaldro_json_write_ws(const kaldro_json_node *root, void *out,
                                              uint64_t out_cap, uint64_t *out_len,
                                              void *workspace, uint64_t workspace_bytes);


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
