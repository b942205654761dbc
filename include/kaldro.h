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
 *
 * The library's one setting: the largest matrix order the Hermitian eigen-decomposition
 * accepts (2048 until changed). It is loaded from a TOML document whose table
 * [hermitian] holds the integer max_nodes; the setting is a plain unsynchronised global,
 * so configure the library before starting parallel work.
 *====================================================================================*/

/*! kaldro_config_hermitian_max_nodes() :
 *  @return the current Hermitian node limit, between 1 and 2147483647. */
KALDRO_API int32_t kaldro_config_hermitian_max_nodes(void);

/*! kaldro_config_reset_defaults() :
 *  Sets the Hermitian node limit back to 2048. */
KALDRO_API void kaldro_config_reset_defaults(void);

/*! kaldro_config_load_toml() :
 *  Parses `text` with kaldro_toml_parse() in `arena` (same checks and statuses) and, if
 *  the root's member "hermitian" is a table whose member "max_nodes" is an integer from
 *  1 to 2147483647, makes it the limit. A missing setting, a value of another kind or
 *  out of range is ignored silently and still gives KALDRO_OK.
 *  @return KALDRO_OK, or the parser's status (the limit is then unchanged). */
KALDRO_API kaldro_status kaldro_config_load_toml(const char *text, uint64_t text_len,
                                                 void *arena, uint64_t arena_bytes);

/*! kaldro_config_load_file() :
 *  Reads the file `path` into the first half of `buffer` (buffer_bytes / 2 bytes, rounded
 *  down) and parses it with the second half (the rest, which need not be 8-byte
 *  aligned) as the TOML arena; then applies it as kaldro_config_load_toml() does.
 *  @return KALDRO_OK; KALDRO_ERR_NULL if path or buffer is null; KALDRO_ERR_IO when the
 *  file cannot be read; KALDRO_ERR_CAPACITY when it is longer than half the buffer;
 *  otherwise the parser's status. */
KALDRO_API kaldro_status kaldro_config_load_file(const char *path, void *buffer,
                                                 uint64_t buffer_bytes);

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
 *
 * A practical subset of TOML: bare and dotted keys, [table] and [[array of tables]]
 * headers, basic, literal and multi-line strings, decimal integers and floats, booleans,
 * arrays and inline tables. The tree is carved from a caller-supplied arena in blocks
 * that are multiples of 8 bytes; nothing is allocated from the heap. Every string value
 * reserves arena room up to the end of the whole text, so a text with many strings needs
 * an arena of roughly (number of strings) x (text length) bytes.
 *====================================================================================*/

/*! kaldro_toml_kind: the kind tag of a kaldro_toml_node (not the JSON numbering). */
typedef int32_t kaldro_toml_kind;

#define KALDRO_TOML_STRING 0 /*!< as.string: str (NUL after the bytes), len */
#define KALDRO_TOML_INT 1    /*!< as.integer */
#define KALDRO_TOML_FLOAT 2  /*!< as.number */
#define KALDRO_TOML_BOOL 3   /*!< as.boolean: 1 or 0 */
#define KALDRO_TOML_ARRAY 4  /*!< as.array: items[count] */
#define KALDRO_TOML_TABLE 5  /*!< as.table: keys[count], values[count] */

/*! kaldro_toml_node: one TOML value, 32 bytes: the kind, then three 64-bit payload words
 *  (str/integer/number/boolean/items/keys; len/array count/values; table count).
 *  Members of a table keep the order their keys first appeared and their keys are
 *  unique; an empty array or table has null pointers and count 0. Fields a kind does not
 *  use hold no defined value. */
typedef struct kaldro_toml_node {
  kaldro_toml_kind kind;
  union {
    struct {
      const char *str; /*!< the decoded bytes, followed by a NUL that len does not count */
      uint32_t len;
    } string;
    int64_t integer;
    double number;
    int32_t boolean;
    struct {
      struct kaldro_toml_node **items;
      uint32_t count;
    } array;
    struct {
      const char **keys; /*!< NUL-terminated, parallel to values */
      struct kaldro_toml_node **values;
      uint32_t count;
    } table;
  } as;
} kaldro_toml_node;

/*! kaldro_toml_parse() :
 *  Parses `text_len` bytes of TOML (no terminator needed) into a tree carved from
 *  `arena` (8-byte aligned by preference; any address works) and stores the root table
 *  in *out_root. An empty document needs 56 bytes of arena.
 *  Checks: arena or out_root null, or text null with a non-zero length: KALDRO_ERR_NULL.
 *  Then *out_root is set to null; arena_bytes below 24 gives KALDRO_ERR_CAPACITY.
 *  @return KALDRO_OK; KALDRO_ERR_INVALID for malformed text (a duplicate key, a path
 *  through a value, a bad string, escape or number, ...); KALDRO_ERR_CAPACITY when the
 *  arena is too small, a key has more than 64 segments, arrays or inline tables nest 65
 *  deep, tables nest more than 63 levels, an integer is out of range or a float
 *  exponent exceeds 308. On failure *out_root stays null. */
KALDRO_API kaldro_status kaldro_toml_parse(const char *text, uint64_t text_len, void *arena,
                                           uint64_t arena_bytes, kaldro_toml_node **out_root);

/*! kaldro_toml_table_get() :
 *  @return the value of the member of `table` whose key equals `key` byte for byte, or
 *  null when either argument is null, table is not a table, or no key matches. */
KALDRO_API const kaldro_toml_node *kaldro_toml_table_get(const kaldro_toml_node *table,
                                                         const char *key);

/*--- end of TOML ---*/


/*======================================================================================
 * NDJSON lines, templates, catalog lookup and TLV packing
 *====================================================================================*/

/*! kaldro_ndjson_callback: receives one non-empty line (without its line feed and a
 *  carriage return before it; not NUL-terminated, valid only during the call), its
 *  length, its physical line number (from 1, counting every line feed) and the caller's
 *  user word. Returns 0 to go on; any other value stops the iteration. */
typedef int (*kaldro_ndjson_callback)(const char *line, uint64_t len, uint64_t line_no,
                                      uint64_t user);

/*! kaldro_ndjson_iter() :
 *  Streams the file `path` in 64 KiB reads and hands every non-empty line to `callback`.
 *  Lines are assembled in a 1 MiB buffer private to the calling thread; a callback must
 *  not start another iteration on the same thread.
 *  @return KALDRO_OK; KALDRO_ERR_NULL if path or callback is null; KALDRO_ERR_IO when the
 *  file cannot be opened or read; KALDRO_ERR_CAPACITY for a line longer than 1048576
 *  bytes (its carriage return counted; the lines before it were delivered); otherwise the
 *  non-zero value the callback returned. */
KALDRO_API int kaldro_ndjson_iter(const char *path, kaldro_ndjson_callback callback,
                                  uint64_t user);

/*! kaldro_catalog_lookup() :
 *  Finds `key` by bisection (at most 64 probes) in a catalog of `count` entries sorted by
 *  key (bytes compared as unsigned; a prefix sorts first). Entry i's key is key_lens[i]
 *  bytes at key_pool + key_offsets[i]; it carries value_offsets[i] and value_lens[i].
 *  Checks: found, value_offset or value_len null: KALDRO_ERR_NULL; then all three are
 *  set to 0. A count of 0 or below finds nothing. With a positive count, key_pool or a
 *  column array null, or key null with a non-zero key_len: KALDRO_ERR_NULL.
 *  @return KALDRO_OK whether found (*found = 1 and the entry's two numbers) or not. A
 *  catalog out of order may miss keys it holds. */
KALDRO_API kaldro_status kaldro_catalog_lookup(const uint8_t *key, uint32_t key_len,
                                               const uint8_t *key_pool,
                                               const uint32_t *key_offsets,
                                               const uint32_t *key_lens,
                                               const uint32_t *value_offsets,
                                               const uint32_t *value_lens, int32_t count,
                                               uint8_t *found, uint32_t *value_offset,
                                               uint32_t *value_len);

/*! kaldro_template_render() :
 *  Copies `tmpl` to `out`, replacing each placeholder {name} (the bytes up to the first
 *  '}' after the '{', possibly none) by the value_lens bytes at value_pool +
 *  value_offsets of the catalog entry for name. A '}' outside a placeholder is an
 *  ordinary byte; there is no escape for a literal brace.
 *  Checks: out or out_len null: KALDRO_ERR_NULL; then *out_len = 0; tmpl null with a
 *  non-zero tmpl_len: KALDRO_ERR_NULL.
 *  @return KALDRO_OK with *out_len the bytes written; KALDRO_ERR_INVALID for a '{' with no
 *  later '}' or a name not in the catalog; KALDRO_ERR_CAPACITY when out is too small; a
 *  lookup's KALDRO_ERR_NULL; KALDRO_ERR_NULL when a found value has bytes but value_pool
 *  is null. On failure *out_len stays 0 and out holds what was written before. */
KALDRO_API kaldro_status kaldro_template_render(
    const uint8_t *tmpl, uint32_t tmpl_len, const uint8_t *key_pool,
    const uint32_t *key_offsets, const uint32_t *key_lens, const uint8_t *value_pool,
    const uint32_t *value_offsets, const uint32_t *value_lens, int32_t count, uint8_t *out,
    uint32_t out_cap, uint32_t *out_len);

/*! kaldro_tlv_pack() :
 *  Writes one TLV record: the low 8 bits of `tag`, value_len as 4 bytes big-endian, then
 *  the value; *out_len = value_len + 5.
 *  @return KALDRO_ERR_NULL if out or out_len is null or value is null with a non-zero
 *  value_len; KALDRO_ERR_CAPACITY (nothing written) if out_cap < value_len + 5. */
KALDRO_API kaldro_status kaldro_tlv_pack(int tag, const uint8_t *value, uint32_t value_len,
                                         uint8_t *out, uint32_t out_cap, uint32_t *out_len);

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

/* A genome is a set of chromosomes kept in one existing directory as two files:
 * "turns.bin", the body, a flat run of fixed-width records of `leaf_dim` bytes (1 to
 * 256), and "manifest.json", the attested catalog derived from it. Byte 0 of a record is
 * its tag: 'C' opens a chromosome and carries its label in the following bytes (up to the
 * first zero byte); 'G' records belong to the chromosome without counting as leaves;
 * every other record is a leaf. the_one is one record-sized value of the whole genome,
 * stored only in the manifest. Bodies are served up to 4 GiB - 1 bytes.
 *
 * The store keeps no state and allocates nothing: paths live in 4096-byte stack
 * buffers (a directory plus a file name may total 4094 bytes), and tables, texts and
 * JSON nodes in the caller's workspace, whose areas start at 16-byte boundaries from its
 * start (pass a 16-byte aligned workspace). Size it with kaldro_genome_arena_bytes().
 *
 * Saves are crash-safe file by file: nothing is written until the new manifest text is
 * ready, and each file is replaced through a synced temporary file renamed into place,
 * so a failed save leaves the directory as it was. A crash between the two renames
 * leaves the new body under the old manifest, which load and every edit report as a
 * digest mismatch (KALDRO_ERR_INVALID) until the genome is saved again. */

/*! kaldro_genome_arena_bytes() :
 *  @return the workspace size the genome operations are to be given for a body of
 *          `body_bytes`, `chromosomes` chromosomes and a largest exported or imported
 *          region of `region_bytes`: 2*body_bytes + 2033*chromosomes + 6*region_bytes +
 *          77824, in wrapping 64-bit arithmetic. Each operation still checks its own
 *          areas. */
KALDRO_API uint64_t kaldro_genome_arena_bytes(uint64_t body_bytes, uint32_t chromosomes,
                                              uint64_t region_bytes);

/*! kaldro_genome_save() :
 *  Writes `body` (`body_len` bytes of whole records) as "turns.bin" and its manifest as
 *  "manifest.json" into `dir`; the_one is `the_one_len` = `leaf_dim` bytes. Identical
 *  inputs give byte-identical files. `body` may be null when `body_len` is 0 (an empty
 *  genome).
 *  Workspace: the catalog tables (65 + 4 + 4 + 256 + 4 bytes per chromosome, each table
 *  16-aligned), a manifest text area of 856 per chromosome + 4097 bytes, then the tree
 *  area for the manifest's JSON nodes.
 *  @return KALDRO_ERR_NULL: `dir`, `the_one` or `workspace` null, or `body` null with a
 *          non-zero length;
 *          KALDRO_ERR_INVALID: `leaf_dim` outside 1..256, `the_one_len` != `leaf_dim`, a
 *          body that is not whole records or does not begin with a cap record;
 *          KALDRO_ERR_CAPACITY: a path too long, a body of 4 GiB or more, a workspace too
 *          small for the tables, the text area or the tree;
 *          KALDRO_ERR_IO: a write failed.
 *          On every failure the directory's files are left as they were, except that a
 *          failure writing manifest.json comes after turns.bin has been replaced. */
KALDRO_API kaldro_status kaldro_genome_save(const char *dir, const uint8_t *body, size_t body_len,
                                            uint32_t leaf_dim, const uint8_t *the_one,
                                            size_t the_one_len, uint8_t *workspace,
                                            size_t workspace_bytes);

/*! kaldro_genome_catalog() :
 *  Sets *out_root to the genome's manifest as a JSON tree living in `workspace` (valid
 *  until the workspace is reused). With "manifest.json" present, it is read into the
 *  workspace, stripped of trailing CR and LF bytes and parsed as it stands (any
 *  well-formed JSON is returned). Without it, the manifest that a save of "turns.bin"
 *  with this the_one (its length serving as leaf_dim) would write is rebuilt in the
 *  workspace; nothing is written. `the_one` may be null when the manifest exists.
 *  @return KALDRO_ERR_NULL: `dir`, `workspace` or `out_root` null;
 *          KALDRO_ERR_INVALID: no manifest and `the_one` null or `the_one_len` outside
 *          1..256, or a body that does not scan; the parser's statuses otherwise;
 *          KALDRO_ERR_CAPACITY: a path too long or the workspace too small;
 *          KALDRO_ERR_IO: a file could not be read (no manifest and no body). */
KALDRO_API kaldro_status kaldro_genome_catalog(const char *dir, const uint8_t *the_one,
                                               size_t the_one_len, uint8_t *workspace,
                                               size_t workspace_bytes,
                                               const kaldro_json_node **out_root);

/*! kaldro_genome_load() :
 *  Reads "turns.bin" into `body_out` (capacity `body_cap`), stores the length read in
 *  *body_len_out, and compares its SHA-256 with the catalog's "data"."body_sha256".
 *  The catalog is obtained as kaldro_genome_catalog() does, in `workspace`.
 *  @return KALDRO_OK when the digests are equal; KALDRO_ERR_INVALID when they differ
 *          (the bytes and length stay in the caller's buffers) or the catalog has no
 *          "body_sha256" string; KALDRO_ERR_NULL for a null `dir`, `body_out`,
 *          `body_len_out` or `workspace`; KALDRO_ERR_CAPACITY when the body is longer
 *          than `body_cap`; the catalog's and the file layer's statuses otherwise. */
KALDRO_API kaldro_status kaldro_genome_load(const char *dir, uint8_t *body_out, size_t body_cap,
                                            size_t *body_len_out, const uint8_t *the_one,
                                            size_t the_one_len, uint8_t *workspace,
                                            size_t workspace_bytes);

/*! kaldro_genome_window() :
 *  Copies the region of the first chromosome labelled `label` (a NUL-terminated
 *  string) from "turns.bin" into `out` and checks its cap record against the entry's
 *  "cap_sha256". The other records of the region are covered by no digest.
 *  @return KALDRO_OK when the cap digest matches; KALDRO_ERR_INVALID when it does not
 *          (the region and *out_len are already written), when no entry carries the
 *          label, or when the entry or "leaf_dim" is malformed: offsets and lengths
 *          that are not non-negative integers in whole records within the body, a
 *          leaf_dim outside 1..256; KALDRO_ERR_CAPACITY when `out_cap` is smaller than
 *          the region (*out_len untouched); KALDRO_ERR_NULL for a null `dir`, `label`,
 *          `out`, `out_len` or `workspace`; catalog and file statuses otherwise.
 *  `the_one` may be null; it is needed only when the manifest must be rebuilt. */
KALDRO_API kaldro_status kaldro_genome_window(const char *dir, const char *label, uint8_t *out,
                                              size_t out_cap, size_t *out_len,
                                              const uint8_t *the_one, size_t the_one_len,
                                              uint8_t *workspace, size_t workspace_bytes);

/*! kaldro_genome_append() :
 *  Adds the region `src` (whole records, opening with a cap record that carries
 *  `label`) at the end of the body and saves the genome anew. The body is read and
 *  verified against the manifest first. Workspace: the new body (rounded up to 16
 *  bytes), then the catalog's and the save's workspace.
 *  @return KALDRO_ERR_INVALID: `leaf_dim` outside 1..256 or different from the
 *          genome's, `src_len` 0 or not whole records, `the_one_len` != `leaf_dim`, a
 *          region that does not open with a cap carrying `label`, any cap label of the
 *          region that is already catalogued or repeated within it, a malformed
 *          chromosome list, a body that no longer matches its manifest;
 *          KALDRO_ERR_NULL, KALDRO_ERR_CAPACITY, KALDRO_ERR_IO and the save's statuses
 *          otherwise. Nothing is written on any failure before the save. */
KALDRO_API kaldro_status kaldro_genome_append(const char *dir, const char *label,
                                              const uint8_t *src, size_t src_len,
                                              uint32_t leaf_dim, const uint8_t *the_one,
                                              size_t the_one_len, uint8_t *workspace,
                                              size_t workspace_bytes);

/*! kaldro_genome_remove() :
 *  Cuts the region of the chromosome labelled `label` out of the body and saves the
 *  genome anew; `the_one_len` serves as the genome's leaf_dim. The last chromosome of a
 *  genome cannot be removed (replace it with an empty region instead).
 *  @return KALDRO_ERR_INVALID: `the_one_len` outside 1..256 or different from the
 *          genome's leaf_dim, fewer than two chromosomes, the label not found, a
 *          malformed entry, a body that no longer matches its manifest; KALDRO_ERR_NULL,
 *          KALDRO_ERR_CAPACITY, KALDRO_ERR_IO and the save's statuses otherwise. */
KALDRO_API kaldro_status kaldro_genome_remove(const char *dir, const char *label,
                                              const uint8_t *the_one, size_t the_one_len,
                                              uint8_t *workspace, size_t workspace_bytes);

/*! kaldro_genome_replace() :
 *  Puts the region `src` in place of the region of the chromosome labelled `label` and
 *  saves the genome anew. The region is empty (the chromosome is removed, even the only
 *  one) or opens with a cap record; a cap with another label renames the chromosome,
 *  but no cap of the region may carry a label that another chromosome carries.
 *  @return KALDRO_ERR_INVALID: `leaf_dim` outside 1..256 or different from the
 *          genome's, `the_one_len` != `leaf_dim`, a region that is not whole records or
 *          does not open with a cap, a label clash, the label not found, a malformed
 *          entry, a body that no longer matches its manifest; KALDRO_ERR_NULL,
 *          KALDRO_ERR_CAPACITY, KALDRO_ERR_IO and the save's statuses otherwise. */
KALDRO_API kaldro_status kaldro_genome_replace(const char *dir, const char *label,
                                               const uint8_t *src, size_t src_len,
                                               uint32_t leaf_dim, const uint8_t *the_one,
                                               size_t the_one_len, uint8_t *workspace,
                                               size_t workspace_bytes);

/*--- end of genome store ---*/


/*======================================================================================
 * Chromosome bundles: export, import, explode and pack
 *====================================================================================*/

/* A chromosome bundle is one chromosome of a genome in a file of its own: a
 * self-verifying JSON document (schema "kaldro://schema/genome_chromosome/v1") that
 * carries the chromosome's region as hex text with its SHA-256, the genome's leaf_dim
 * and the_one, and the same attestation and rendering sections as a manifest, written
 * canonically and followed by one line feed. A bundle holds exactly one chromosome: its
 * region opens with a cap record carrying the bundle's label and holds no other cap.
 *
 * Explode writes every chromosome of a genome as "<label>.chr" into a directory; pack
 * imports every "*.chr" bundle of a directory into a genome in the order of their
 * labels, so a genome exploded and packed into an empty directory holds the same
 * chromosomes, ordered by label. Imports go through the crash-safe save of the store:
 * a failed import leaves the target genome as it was.
 *
 * `the_one` and `the_one_len` are optional throughout: they serve only to rebuild the
 * catalog of a genome without "manifest.json"; when `the_one` is not null,
 * `the_one_len` must lie in 1..256. Workspaces are carved as described per function, at
 * 16-byte boundaries from their start; kaldro_genome_arena_bytes() with the largest
 * region as `region_bytes` sizes them. */

/*! kaldro_genome_export() :
 *  Writes the bundle of the first chromosome labelled `label` of the genome in `dir` to
 *  `out_path` (created or truncated). The region's cap record is checked against the
 *  manifest's "cap_sha256"; the rest of the body is not verified.
 *  Workspace: the catalog first; then, for a region of R bytes, the region (R), its hex
 *  text (2R + 1) and the bundle text (2R + 4096), then the builder's nodes. A text that
 *  outgrows its area (labels of escaped bytes) is placed behind the builder.
 *  @return KALDRO_ERR_NULL: `dir`, `label`, `out_path` or `workspace` null;
 *          KALDRO_ERR_INVALID: `the_one_len` outside 1..256 with `the_one` given; no
 *          entry carries the label; a malformed manifest or entry ("leaf_dim" outside
 *          1..256, offsets and lengths that are not whole records within the body,
 *          digests that are not 64 characters, a the_one hex text over 512); a cap
 *          record that does not match its digest, or a region that is not one
 *          chromosome with that label;
 *          KALDRO_ERR_CAPACITY: a path too long, a workspace too small, a region of
 *          2 GiB or more;
 *          KALDRO_ERR_IO: the body cannot be read or the bundle not written;
 *          the catalog's and the JSON writer's statuses otherwise. No file is written
 *          on any failure before the final write. */
KALDRO_API kaldro_status kaldro_genome_export(const char *dir, const char *label,
                                              const char *out_path, const uint8_t *the_one,
                                              size_t the_one_len, uint8_t *workspace,
                                              size_t workspace_bytes);

/*! kaldro_genome_import() :
 *  Verifies the bundle at `bundle_path` and adds its chromosome to the genome in `dir`:
 *  when `dir` holds no "turns.bin", a new genome is saved from the bundle's region,
 *  leaf_dim and the_one; otherwise the region is appended to the verified body, which
 *  must have the bundle's leaf_dim and the_one and must not catalogue its label yet.
 *  Hex texts are accepted in either case.
 *  Workspace: for a bundle file of B bytes, its text (B + 1), the decoded region (B + 1
 *  from the next 16-byte boundary after B), then the parser's arena, which afterwards
 *  holds the merged body (rounded up to 16) and the catalog and save of the genome.
 *  @return KALDRO_ERR_NULL: `bundle_path`, `dir` or `workspace` null;
 *          KALDRO_ERR_INVALID, checked in this order: `the_one_len` outside 1..256 with
 *          `the_one` given; a wrong "data_schema_id"; "data" or "attestation" not
 *          objects; "leaf_dim" outside 1..256 or "label" not a string under 256 bytes;
 *          a region or the_one hex text that is missing, of odd length, not hex or
 *          does not match its "sha256"; a "response_sha256" other than the region's
 *          digest; a the_one not "leaf_dim" bytes long; a region that is not one
 *          chromosome with the bundle's label; then, against an existing genome, another
 *          leaf_dim or the_one, a label already catalogued, a body that no longer
 *          matches its manifest;
 *          KALDRO_ERR_CAPACITY: a workspace too small, a the_one over 256 bytes;
 *          KALDRO_ERR_IO: the bundle or the body cannot be read;
 *          the parser's, the catalog's and the save's statuses otherwise. Nothing is
 *          written on any failure. */
KALDRO_API kaldro_status kaldro_genome_import(const char *bundle_path, const char *dir,
                                              const uint8_t *the_one, size_t the_one_len,
                                              uint8_t *workspace, size_t workspace_bytes);

/*! kaldro_genome_explode() :
 *  Exports every chromosome of the genome in `dir`, in manifest order, to
 *  "<out_dir>/<label>.chr" (`out_dir` must exist). All labels are checked before any
 *  file is written: each must be a string of at most 251 bytes (taken up to its first
 *  zero byte) that is non-empty, not "." or "..", without '/' or '\', and no two may
 *  name the same file. A genome without chromosomes writes nothing.
 *  Workspace: a label table of 256 bytes per chromosome (at least one), then the
 *  catalog and every export.
 *  @return KALDRO_ERR_NULL: `dir`, `out_dir` or `workspace` null;
 *          KALDRO_ERR_INVALID: `the_one_len` outside 1..256 with `the_one` given, no
 *          chromosome list, a label that fails the checks above;
 *          KALDRO_ERR_CAPACITY: a workspace too small for the label table, a bundle
 *          path of more than 4095 bytes;
 *          the catalog's statuses, or the first failing export's status (the bundles
 *          written before it remain). */
KALDRO_API kaldro_status kaldro_genome_explode(const char *dir, const char *out_dir,
                                               const uint8_t *the_one, size_t the_one_len,
                                               uint8_t *workspace, size_t workspace_bytes);

/*! kaldro_genome_pack() :
 *  Imports every bundle of `bundle_dir` into the genome in `dir`, in the order of their
 *  labels (compared bytewise; equal labels keep the directory's listing order). A
 *  bundle is a file whose name is 5 to 263 bytes long and ends in ".chr"; at most 65536
 *  directory entries are looked at. Every bundle is read and its schema and label
 *  checked before any is imported. When `dir` holds no body, the first bundle in label
 *  order creates the genome and every later one must match its leaf_dim and the_one.
 *  Workspace: 264 bytes per bundle for its name, then 256 for its label (from a 16-byte
 *  boundary), then the file area that reads each bundle and serves each import.
 *  @return KALDRO_ERR_NULL: `bundle_dir`, `dir` or `workspace` null;
 *          KALDRO_ERR_INVALID: `the_one_len` outside 1..256 with `the_one` given; no
 *          bundle (or no directory); a bundle with another "data_schema_id" or without a
 *          string label of at most 255 bytes;
 *          KALDRO_ERR_CAPACITY: a workspace too small for the tables or a bundle, an
 *          entry name over 263 bytes, more bundles on the second listing than on the
 *          first;
 *          KALDRO_ERR_IO: a listing or read failure; the parser's statuses, or the
 *          first failing import's status (the imports before it remain). */
KALDRO_API kaldro_status kaldro_genome_pack(const char *bundle_dir, const char *dir,
                                            const uint8_t *the_one, size_t the_one_len,
                                            uint8_t *workspace, size_t workspace_bytes);

/*--- end of chromosome bundles ---*/


/*======================================================================================
 * Platform: files, read streams, directories and threads
 *====================================================================================*/

/* The library's only access to the file system and the only place threads are created.
 * These operations do not test their pointer arguments for null: every path, buffer and
 * handle must be valid. A path is a NUL-terminated byte string passed to the operating
 * system unchanged. Reads use mode "rb", writes "wb" (create or truncate) or "ab"
 * (create or append); every failure of the operating system becomes KALDRO_ERR_IO. */

/*! kaldro_plat_rstream: a caller-allocated sequential read stream over one file.
 *  `handle` is the platform's open stream, null when none is open; close releases the
 *  stream but does not clear the field. */
typedef struct kaldro_plat_rstream {
  void *handle;
} kaldro_plat_rstream;

/*! kaldro_plat_dir: a caller-allocated directory listing.
 *  `handle` is the platform's open-directory handle; `name` is reserved for the
 *  platform layer; `state` is set to 0 by open and close. */
typedef struct kaldro_plat_dir {
  void *handle;
  char name[264];
  uint32_t state;
} kaldro_plat_dir;

/*! kaldro_plat_thread_fn: the entry function of a thread; its argument is the `arg`
 *  given to spawn. */
typedef void (*kaldro_plat_thread_fn)(void *arg);

/*! kaldro_plat_thread: a caller-allocated thread record: entry function, argument and
 *  the platform's thread handle. The new thread reads `fn` and `arg` from the record,
 *  so it must stay in place and unchanged until the thread has been joined. */
typedef struct kaldro_plat_thread {
  kaldro_plat_thread_fn fn;
  void *arg;
  uintptr_t handle;
} kaldro_plat_thread;

/*! kaldro_plat_has_filesystem(), kaldro_plat_has_dirlist(), kaldro_plat_has_threads() :
 *  Capability queries, not statuses: 1 when files, directory listing and threads are
 *  available (always, on this platform). */
KALDRO_API int kaldro_plat_has_filesystem(void);
KALDRO_API int kaldro_plat_has_dirlist(void);
KALDRO_API int kaldro_plat_has_threads(void);

/*! kaldro_plat_file_read() :
 *  Reads the whole file at `path` into `buffer` of `capacity` bytes (exact fit).
 *  @return KALDRO_OK with *out_len = bytes read (a file shorter than the buffer is a
 *          success with the shorter length); KALDRO_ERR_IO when the file cannot be
 *          opened or a read fails (this wins over the capacity rule);
 *          KALDRO_ERR_CAPACITY when the file holds more than `capacity` bytes.
 *  *out_len is written only on success; the buffer may be partly filled on failure. */
KALDRO_API kaldro_status kaldro_plat_file_read(const char *path, void *buffer, uint64_t capacity,
                                               uint64_t *out_len);

/*! kaldro_plat_file_read_region() :
 *  Reads exactly `length` bytes at byte `offset` of the file into `buffer`.
 *  @return KALDRO_OK, or KALDRO_ERR_IO when the file cannot be opened, the offset
 *          cannot be reached (offsets of 2^63 or more included) or fewer than `length`
 *          bytes are there: a region running past the end is an error. */
KALDRO_API kaldro_status kaldro_plat_file_read_region(const char *path, uint64_t offset,
                                                      void *buffer, uint64_t length);

/*! kaldro_plat_file_write() :
 *  Writes `length` bytes of `data` to `path`: appended when `append` is non-zero,
 *  otherwise the file is created or truncated first (a zero-length write leaves an
 *  empty file; `data` is not touched when `length` is 0).
 *  @return KALDRO_OK, or KALDRO_ERR_IO when the open, the write or the close fails. No
 *          temporary file is used: a failed write can leave a partial file. */
KALDRO_API kaldro_status kaldro_plat_file_write(const char *path, int append, const void *data,
                                                uint64_t length);

/*! kaldro_plat_file_size() :
 *  @return KALDRO_OK with *out_size = the size of the file in bytes; KALDRO_ERR_IO when
 *          it cannot be opened or measured, or when `path` names a directory.
 *  *out_size is written only on success. */
KALDRO_API kaldro_status kaldro_plat_file_size(const char *path, uint64_t *out_size);

/*! kaldro_plat_rstream_open() :
 *  Opens `path` for sequential reading into the record `stream`.
 *  @return KALDRO_OK, or KALDRO_ERR_IO with the record untouched. */
KALDRO_API kaldro_status kaldro_plat_rstream_open(const char *path, kaldro_plat_rstream *stream);

/*! kaldro_plat_rstream_read() :
 *  Reads up to `length` bytes into `buffer`; *out_got receives the count in every case.
 *  The count falls short of `length` only at the end of the file, so callers detect the
 *  end by a count of 0. A length of 0 reads nothing.
 *  @return KALDRO_OK, or KALDRO_ERR_IO when the stream reports a read error. */
KALDRO_API kaldro_status kaldro_plat_rstream_read(kaldro_plat_rstream *stream, void *buffer,
                                                  uint64_t length, uint64_t *out_got);

/*! kaldro_plat_rstream_close() :
 *  Releases the stream when `stream->handle` is not null. Close each stream once.
 *  @return 0, always. */
KALDRO_API kaldro_status kaldro_plat_rstream_close(kaldro_plat_rstream *stream);

/*! kaldro_plat_dir_open() :
 *  Sets `dir->state` to 0 and opens the directory at `path` for listing.
 *  @return KALDRO_OK, or KALDRO_ERR_IO (the handle field is then left as it was). */
KALDRO_API kaldro_status kaldro_plat_dir_open(const char *path, kaldro_plat_dir *dir);

/*! kaldro_plat_dir_next() :
 *  Copies the next entry name with its terminating NUL into `name` of `capacity` bytes
 *  and sets *has_entry = 1. Entries come in the platform's order, unsorted and
 *  unfiltered: "." and ".." are listed like any other name.
 *  @return KALDRO_OK with *has_entry = 0 at the end of the listing;
 *          KALDRO_ERR_CAPACITY when the name and its NUL do not fit (the buffer and
 *          *has_entry are left untouched, and the entry is consumed: the next call
 *          returns the one after it); KALDRO_ERR_IO when the listing fails (nothing is
 *          written). */
KALDRO_API kaldro_status kaldro_plat_dir_next(kaldro_plat_dir *dir, char *name, uint64_t capacity,
                                              int32_t *has_entry);

/*! kaldro_plat_dir_close() :
 *  Releases the directory when `dir->handle` is not null and sets `dir->state` to 0.
 *  @return 0, always. */
KALDRO_API kaldro_status kaldro_plat_dir_close(kaldro_plat_dir *dir);

/*! kaldro_plat_thread_spawn() :
 *  Stores `fn` and `arg` in `thread` and starts a joinable thread with default
 *  attributes that calls fn(arg) and ends. `arg` may be null; it is passed through.
 *  @return KALDRO_OK with the handle stored; KALDRO_ERR_NULL when `fn` or `thread` is
 *          null (nothing starts, nothing is written); KALDRO_ERR_RESOURCE when the
 *          system refuses the thread (nothing runs; the handle field is left as it was,
 *          and the record is not to be joined). */
KALDRO_API kaldro_status kaldro_plat_thread_spawn(kaldro_plat_thread_fn fn, void *arg,
                                                  kaldro_plat_thread *thread);

/*! kaldro_plat_thread_join() :
 *  Waits until the thread of a successful spawn has ended and releases it; its writes
 *  are then complete and visible to the caller. Join each spawned thread exactly once.
 *  @return KALDRO_ERR_NULL when `thread` is null, else 0. */
KALDRO_API kaldro_status kaldro_plat_thread_join(kaldro_plat_thread *thread);


/*--- end of platform files and threads ---*/


/*======================================================================================
 * Platform: local stream sockets and the message bus
 *====================================================================================*/

/* A small request/reply bus between processes of one user on one machine. A server
 * listens on the local stream socket "%s/.kaldro/bus-%s.sock" (the value of HOME and
 * the bus name; at most 511 characters, and under 104 bytes so that it fits a local
 * socket address) and answers each request through a handler; a client connects by the
 * same name and exchanges one request for one reply at a time. A bus name is one file
 * name: a name holding '/' is refused with KALDRO_ERR_INVALID before anything is
 * created, removed or allocated. Every frame, in both
 * directions, is a 4-byte big-endian length followed by that many payload bytes. The
 * directory "%s/.kaldro" is kept at mode 0700 and the socket file at 0600, and the bus
 * server ends at once any connection from a process of another user. Writes never
 * raise SIGPIPE: a peer that has gone away is reported as KALDRO_ERR_IO. */

/*! kaldro_plat_stream_server: a caller-allocated listening socket.
 *  `path` is the socket path (NUL-terminated), `fd` the listening descriptor (-1 when
 *  none); the rest is reserved. 528 bytes, zeroed by listen. */
typedef struct kaldro_plat_stream_server {
  char path[512];
  int32_t fd;
  uint8_t reserved[12];
} kaldro_plat_stream_server;

/*! kaldro_plat_stream_conn: a connected stream socket; `fd` is its descriptor, the rest
 *  is reserved. 16 bytes, zeroed (apart from `fd`) by a successful accept or connect. */
typedef struct kaldro_plat_stream_conn {
  int32_t fd;
  uint8_t reserved[12];
} kaldro_plat_stream_conn;

/*! kaldro_bus_handler: answers one request of `request_len` bytes. On entry
 *  *reply_len holds the capacity of `reply`; the handler writes its reply there and
 *  sets *reply_len to the reply's length. A non-zero status sends no reply and ends the
 *  connection, and so does a reply length above the capacity. Runs on the thread that
 *  called kaldro_bus_server_accept_one. */
typedef kaldro_status (*kaldro_bus_handler)(const uint8_t *request, uint64_t request_len,
                                            uint8_t *reply, uint64_t *reply_len,
                                            void *context);

/*! kaldro_bus_server: the heap record of a bus server (576 bytes), from
 *  kaldro_bus_serve until kaldro_bus_server_stop. `stop` ends the connection being
 *  served after the current reply when set (a handler may set it through its context);
 *  `request` and `reply` are 1 MiB heap blocks and `reply_capacity` is 1048576. */
typedef struct kaldro_bus_server {
  kaldro_plat_stream_server stream;
  uint32_t stop;
  kaldro_bus_handler handler;
  void *context;
  uint8_t *request;
  uint8_t *reply;
  uint64_t reply_capacity;
} kaldro_bus_server;

/*! kaldro_bus_client: the heap record of a bus client (16 bytes), from
 *  kaldro_bus_connect until kaldro_bus_client_close. */
typedef struct kaldro_bus_client {
  kaldro_plat_stream_conn conn;
} kaldro_bus_client;

/*! kaldro_plat_has_streams() :
 *  Capability query, not a status: 1 when local stream sockets (and so the bus) are
 *  available (always, on this platform). */
KALDRO_API int kaldro_plat_has_streams(void);

/*! kaldro_plat_stream_listen() :
 *  Zeroes `server` (fd -1), creates "%s/.kaldro" with mode 0700 when missing, and
 *  listens on the socket path of `name` with a backlog of 8; the socket file gets mode
 *  0600. An existing "%s/.kaldro" must belong to the user and be a real directory, not
 *  a symbolic link; one open to group or others is tightened to 0700. A socket file
 *  that no server answers at (left by a crashed server) is replaced. All checks run
 *  before anything is removed, and a refused listen leaves no path in the record.
 *  @return KALDRO_OK; KALDRO_ERR_NULL when `name` or `server` is null (nothing
 *          written); KALDRO_ERR_INVALID when `name` holds '/' (checked before the
 *          directory is made) or HOME is unset or empty;
 *          KALDRO_ERR_CAPACITY when the path exceeds 511 characters;
 *          KALDRO_ERR_IO when the socket cannot be created; KALDRO_ERR_CAPACITY when
 *          the path has 104 bytes or more; KALDRO_ERR_IO when the directory is not the
 *          user's own, a live server answers at the path, or bind or listen fails. */
KALDRO_API kaldro_status kaldro_plat_stream_listen(const char *name,
                                                   kaldro_plat_stream_server *server);

/*! kaldro_plat_stream_accept() :
 *  Waits for one connection and stores it in `conn` (untouched on failure).
 *  @return KALDRO_OK; KALDRO_ERR_NULL when either is null; KALDRO_ERR_IO when accept
 *          fails (a signal interrupting the wait included). */
KALDRO_API kaldro_status kaldro_plat_stream_accept(kaldro_plat_stream_server *server,
                                                   kaldro_plat_stream_conn *conn);

/*! kaldro_plat_stream_server_close() :
 *  Closes the listening descriptor when it is not negative, sets it to -1 and removes
 *  the socket file at the record's path.
 *  @return KALDRO_ERR_NULL when `server` is null, else 0. */
KALDRO_API kaldro_status kaldro_plat_stream_server_close(kaldro_plat_stream_server *server);

/*! kaldro_plat_stream_connect() :
 *  Connects to the socket path of `name` and stores the connection in `conn`
 *  (untouched on failure). Creates and removes nothing.
 *  @return KALDRO_OK; KALDRO_ERR_NULL when either is null; KALDRO_ERR_INVALID when
 *          `name` holds '/' or HOME is unset or empty; KALDRO_ERR_CAPACITY when the path exceeds 511
 *          characters; KALDRO_ERR_IO when the socket cannot be created;
 *          KALDRO_ERR_CAPACITY when the path has 104 bytes or more; KALDRO_ERR_IO
 *          when the connect fails. */
KALDRO_API kaldro_status kaldro_plat_stream_connect(const char *name,
                                                    kaldro_plat_stream_conn *conn);

/*! kaldro_plat_stream_read_exact() :
 *  Reads exactly `length` bytes into `buffer`, resuming reads interrupted by signals.
 *  @return KALDRO_OK (at once when `length` is 0); KALDRO_ERR_NULL when `conn` or
 *          `buffer` is null; KALDRO_ERR_IO on the end of the stream or a read error
 *          (the buffer may then hold part of the bytes). */
KALDRO_API kaldro_status kaldro_plat_stream_read_exact(kaldro_plat_stream_conn *conn,
                                                       void *buffer, uint64_t length);

/*! kaldro_plat_stream_write_all() :
 *  Writes all `length` bytes of `data`, resuming writes interrupted by signals.
 *  @return KALDRO_OK (at once when `length` is 0); KALDRO_ERR_NULL when `conn` or
 *          `data` is null; KALDRO_ERR_IO on a write error, a closed peer included
 *          (no SIGPIPE is raised). */
KALDRO_API kaldro_status kaldro_plat_stream_write_all(kaldro_plat_stream_conn *conn,
                                                      const void *data, uint64_t length);

/*! kaldro_plat_stream_conn_close() :
 *  Closes the descriptor when it is not negative; the field keeps its value.
 *  @return KALDRO_ERR_NULL when `conn` is null, else 0. */
KALDRO_API kaldro_status kaldro_plat_stream_conn_close(kaldro_plat_stream_conn *conn);

/*! kaldro_bus_serve() :
 *  Allocates a server with its two 1 MiB buffers and listens on `name` (as
 *  kaldro_plat_stream_listen). `context` may be null; it is passed to the handler.
 *  @return KALDRO_OK with *server_out set; KALDRO_ERR_NULL when `name`, `handler` or
 *          `server_out` is null (nothing written); otherwise *server_out is first set
 *          to null, then KALDRO_ERR_INVALID when streams are unavailable or `name` holds
 *          '/', KALDRO_ERR_RESOURCE when an allocation fails, or the status of the listen
 *          (everything allocated is released on failure). */
KALDRO_API kaldro_status kaldro_bus_serve(const char *name, kaldro_bus_handler handler,
                                          void *context, kaldro_bus_server **server_out);

/*! kaldro_bus_server_accept_one() :
 *  Accepts one connection and serves it request by request until the peer closes it,
 *  a frame announces more than 1048576 bytes, the handler declines or over-reports its
 *  reply, a read or write fails, or `stop` is set. A connection from a process of
 *  another user is closed before a byte is read. Ending a connection is not an error.
 *  @return KALDRO_OK; KALDRO_ERR_NULL when `server` is null; the status of
 *          kaldro_plat_stream_accept when the accept fails. */
KALDRO_API kaldro_status kaldro_bus_server_accept_one(kaldro_bus_server *server);

/*! kaldro_bus_server_stop() :
 *  Sets `stop`, closes the listening socket, removes its file and releases the server.
 *  Never call it while an accept_one of the same server is serving.
 *  @return KALDRO_ERR_NULL when `server` is null, else 0. */
KALDRO_API kaldro_status kaldro_bus_server_stop(kaldro_bus_server *server);

/*! kaldro_bus_connect() :
 *  Allocates a client and connects it to the bus `name`.
 *  @return KALDRO_OK with *client_out set; KALDRO_ERR_NULL when either is null
 *          (nothing written); otherwise *client_out is first set to null, then
 *          KALDRO_ERR_INVALID when streams are unavailable or `name` holds '/',
 *          KALDRO_ERR_RESOURCE when the allocation fails, or the status of
 *          kaldro_plat_stream_connect. */
KALDRO_API kaldro_status kaldro_bus_connect(const char *name, kaldro_bus_client **client_out);

/*! kaldro_bus_send_recv() :
 *  Sends one request frame and receives its reply into `reply_buf`; *reply_len holds
 *  the capacity on entry and the reply's length on success (untouched on failure).
 *  @return KALDRO_OK; KALDRO_ERR_NULL when any pointer is null; KALDRO_ERR_CAPACITY
 *          when `request_len` exceeds 4294967295 (nothing is sent); KALDRO_ERR_IO from
 *          the stream; KALDRO_ERR_CAPACITY when the reply is longer than the capacity
 *          (it stays unread in the stream: close the client then). */
KALDRO_API kaldro_status kaldro_bus_send_recv(kaldro_bus_client *client, const void *request,
                                              uint64_t request_len, void *reply_buf,
                                              uint64_t *reply_len);

/*! kaldro_bus_client_close() :
 *  Closes the connection and releases the client.
 *  @return KALDRO_ERR_NULL when `client` is null, else 0. */
KALDRO_API kaldro_status kaldro_bus_client_close(kaldro_bus_client *client);

/*--- end of sockets and message bus ---*/


/*======================================================================================
 * Linear algebra and spectral graphs
 *====================================================================================*/

/* Dense matrices are row-major arrays of doubles; complex numbers are two doubles, real
 * part first, and complex matrices row-major arrays of such pairs. Graph edge lists are
 * parallel arrays of source and destination vertex indices with optional double weights
 * (null means 1.0 each); edges are undirected. Floating-point steps are fixed down to the
 * fused multiply-add, so every result is reproducible bit for bit on any path. */

/*! kaldro_dense_solve_arena_bytes() :
 *  @return the workspace size kaldro_dense_solve_f64_ws() needs, 8*n*(n + m) + 8 bytes;
 *  UINT64_MAX when that size does not fit 64 bits (the solve then refuses). */
KALDRO_API uint64_t kaldro_dense_solve_arena_bytes(uint32_t n, uint32_t m);

/*! kaldro_dense_solve_f64_ws() :
 *  Solves A*X = B (A n x n, B and X n x m) by Gauss-Jordan elimination with partial
 *  pivoting in `workspace`; a and b are left unchanged. The workspace may have any
 *  alignment; its contents afterwards are unspecified.
 *  @return KALDRO_ERR_NULL if a, b or x is null; KALDRO_OK at once when n or m is 0;
 *  KALDRO_ERR_NULL if workspace is null; KALDRO_ERR_CAPACITY if workspace_bytes is below
 *  kaldro_dense_solve_arena_bytes(n, m) or that size does not fit 64 bits;
 *  KALDRO_ERR_INVALID (x untouched) when a pivot column holds only zeros and NaNs.
 *  A nearly singular matrix is not detected. */
KALDRO_API kaldro_status kaldro_dense_solve_f64_ws(uint32_t n, uint32_t m, const double *a,
                                                   const double *b, double *x, void *workspace,
                                                   uint64_t workspace_bytes);

/*! kaldro_graph_dense_adjacency(), kaldro_graph_dense_laplacian(),
 *  kaldro_graph_normalized_laplacian() :
 *  Fill `out` (n x n) with the adjacency matrix, the Laplacian D - A, or the normalised
 *  Laplacian I - D^-1/2 A D^-1/2 of the undirected edge list. Duplicate edges add up; a
 *  self-loop adds its weight twice to the adjacency diagonal and is left out of both
 *  Laplacians; a vertex without positive off-diagonal weight gets a zero row, column and
 *  diagonal in the normalised Laplacian.
 *  @return KALDRO_ERR_NULL if out is null, or edge_count > 0 and edge_src or edge_dst is
 *  null; KALDRO_ERR_INVALID at the first edge with an index >= n (out then holds the
 *  cleared matrix with the edges before it added); else KALDRO_OK. */
KALDRO_API kaldro_status kaldro_graph_dense_adjacency(uint32_t n, uint32_t edge_count,
                                                      const uint32_t *edge_src,
                                                      const uint32_t *edge_dst,
                                                      const double *edge_weight, double *out);
KALDRO_API kaldro_status kaldro_graph_dense_laplacian(uint32_t n, uint32_t edge_count,
                                                      const uint32_t *edge_src,
                                                      const uint32_t *edge_dst,
                                                      const double *edge_weight, double *out);
KALDRO_API kaldro_status kaldro_graph_normalized_laplacian(uint32_t n, uint32_t edge_count,
                                                           const uint32_t *edge_src,
                                                           const uint32_t *edge_dst,
                                                           const double *edge_weight,
                                                           double *out);

/*! kaldro_jacobi_eigvals() :
 *  Eigenvalues of the symmetric n x n matrix `a` by cyclic Jacobi rotations, in place
 *  (a then holds the rotated, nearly diagonal matrix). eigenvalues[i] is the final
 *  diagonal entry i, unsorted. Sweeps stop when off(A) <= tol^2 * off(A0) or below
 *  1e-300, or after max_sweeps sweeps (0 or above 100 means 100).
 *  @return KALDRO_ERR_NULL if a or eigenvalues is null; otherwise KALDRO_OK, converged
 *  or not. */
KALDRO_API kaldro_status kaldro_jacobi_eigvals(uint32_t n, double *a, uint32_t max_sweeps,
                                               double *eigenvalues, double tol);

/*! kaldro_hermitian_eigendecompose_ws() :
 *  All eigenvalues (ascending) and orthonormal eigenvectors (column j of the n x n
 *  complex matrix `eigenvectors` belongs to eigenvalues[j]) of the Hermitian matrix `a`
 *  (n x n complex, not written) by cyclic complex Jacobi rotations in `workspace`, which
 *  must hold 2*n*n doubles and ends up holding the rotated matrix.
 *  @return KALDRO_ERR_NULL if any pointer is null; KALDRO_ERR_CAPACITY if n exceeds
 *  kaldro_config_hermitian_max_nodes(); KALDRO_OK at once for n = 0;
 *  KALDRO_ERR_CAPACITY if workspace_doubles < 2*n*n, or when 100 sweeps do not converge
 *  (eigenvectors then holds the partial rotations, eigenvalues is not written). */
KALDRO_API kaldro_status kaldro_hermitian_eigendecompose_ws(uint32_t n, const double *a,
                                                            double *eigenvalues,
                                                            double *eigenvectors,
                                                            double *workspace,
                                                            uint64_t workspace_doubles);

/*! kaldro_dense_matmul_complex() :
 *  c = a * b for complex a (m x k), b (k x p) and c (m x p); c must not overlap a or b.
 *  Each element sums its products in increasing inner index from +0.0.
 *  @return KALDRO_ERR_NULL if a, b or c is null; KALDRO_OK (nothing written when m or p
 *  is 0; all zeros when k is 0). */
KALDRO_API kaldro_status kaldro_dense_matmul_complex(uint32_t m, uint32_t k, uint32_t p,
                                                     const double *a, const double *b,
                                                     double *c);

/*! kaldro_elementwise_multiply_complex() :
 *  out[i] = a[i] * b[i] for n complex numbers; out may be the same array as a or b.
 *  @return KALDRO_ERR_NULL if out is null, or n > 0 and a or b is null; else KALDRO_OK. */
KALDRO_API kaldro_status kaldro_elementwise_multiply_complex(uint32_t n, const double *a,
                                                             const double *b, double *out);

/*! kaldro_elementwise_transcendental() :
 *  out[i] = f(x[i]) with f chosen by kind: 0 kaldro_exp, 1 kaldro_cos, 2 kaldro_sin,
 *  3 kaldro_log (per-element statuses are ignored).
 *  @return KALDRO_ERR_NULL if out is null or n > 0 with x null; KALDRO_ERR_INVALID if
 *  kind > 3, or for kind 3 when any x[i] <= 0 (nothing written then); else KALDRO_OK. */
KALDRO_API kaldro_status kaldro_elementwise_transcendental(uint32_t n, const double *x,
                                                           uint32_t kind, double *out);

/*! kaldro_three_fold_bands() :
 *  Splits n into three nearly equal bands: (q, q, q), (q, q, q + 1) or (q, q + 1, q + 1)
 *  for n = 3q, 3q + 1, 3q + 2.
 *  @return KALDRO_ERR_NULL if any pointer is null; else KALDRO_OK. */
KALDRO_API kaldro_status kaldro_three_fold_bands(uint32_t n, uint32_t *first, uint32_t *second,
                                                 uint32_t *third);

/*! kaldro_laplacian_fiedler_sparse() :
 *  Approximates the Fiedler vector (second-smallest eigenvalue) of the normalised
 *  Laplacian of the edge list by a deflated power iteration from a fixed start vector;
 *  stops at the fifth consecutive iteration (from iteration 20 on) with an unchanged sign
 *  pattern, or after max_iterations. out (n doubles) is scaled to a largest magnitude of
 *  1. workspace must hold 8*n doubles.
 *  @return KALDRO_ERR_NULL if out or workspace is null, or edge_count > 0 with edge_src
 *  or edge_dst null; KALDRO_ERR_INVALID if workspace_doubles < 8*n, or for an edge with
 *  an index >= n (out all zeros); KALDRO_OK otherwise (all zeros for n = 1 or a graph
 *  without positive degree; nothing written for n = 0). */
KALDRO_API kaldro_status kaldro_laplacian_fiedler_sparse(uint32_t n, uint32_t edge_count,
                                                         const uint32_t *edge_src,
                                                         const uint32_t *edge_dst,
                                                         const double *edge_weight,
                                                         uint32_t max_iterations, double *out,
                                                         double *workspace,
                                                         uint64_t workspace_doubles);

/*! kaldro_laplacian_fiedler_sparse_file() :
 *  The same for a graph stored in the file `path` as 16-byte native-order records
 *  (uint32 source, uint32 destination, double weight), streamed once for the degrees
 *  and once per iteration in 4096-byte chunks.
 *  @return KALDRO_ERR_NULL if path, out or workspace is null; KALDRO_ERR_INVALID if
 *  workspace_doubles < 8*n, for a file whose length is not a multiple of 16 or a record
 *  with an index >= n; the read-stream status (KALDRO_ERR_IO) when the file cannot be
 *  opened or read; in every failure out holds zeros. KALDRO_OK otherwise. */
KALDRO_API kaldro_status kaldro_laplacian_fiedler_sparse_file(uint32_t n, const char *path,
                                                              uint32_t max_iterations,
                                                              double *out, double *workspace,
                                                              uint64_t workspace_doubles);

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
 *
 * A rational is a signed 64-bit numerator and an unsigned 64-bit denominator (never 0).
 * Results are exact and in lowest terms with the sign on the numerator; zero is 0/1.
 * A product or sum that would leave 64 bits is refused with KALDRO_ERR_CAPACITY, never
 * rounded or wrapped: a signed product x * y passes only when |x| <= INT64_MAX / |y|
 * (so a factor of -2^63 never passes), an unsigned product only when it fits 64 bits.
 * Out-parameters are written only on success unless a function says otherwise.
 *====================================================================================*/

/*! kaldro_rational_add() : writes a + b.
 *  out_num and out_den are not checked and must be valid.
 *  @return in check order: KALDRO_ERR_INVALID if a_den or b_den is 0; KALDRO_ERR_CAPACITY
 *  if a_den or b_den >= 2^63, if a_num * b_den, b_num * a_den or their sum overflows, or
 *  if a_den * b_den overflows (tested even when the sum is 0). */
KALDRO_API kaldro_status kaldro_rational_add(int64_t a_num, uint64_t a_den, int64_t b_num,
                                             uint64_t b_den, int64_t *out_num,
                                             uint64_t *out_den);

/*! kaldro_rational_mul() : writes a * b (denominators may use all 64 bits).
 *  out_num and out_den are not checked and must be valid.
 *  @return KALDRO_ERR_INVALID if a_den or b_den is 0; with a zero numerator,
 *  KALDRO_ERR_CAPACITY when a_den * b_den overflows, else 0/1; otherwise
 *  KALDRO_ERR_CAPACITY when a_num * b_num or a_den * b_den overflows. */
KALDRO_API kaldro_status kaldro_rational_mul(int64_t a_num, uint64_t a_den, int64_t b_num,
                                             uint64_t b_den, int64_t *out_num,
                                             uint64_t *out_den);

/*! kaldro_rational_div() : writes a / b.
 *  out_num and out_den are not checked and must be valid.
 *  @return KALDRO_ERR_INVALID if b_num, a_den or b_den is 0; KALDRO_ERR_CAPACITY if
 *  b_den >= 2^63, or a_num * b_den or |b_num| * a_den overflows. */
KALDRO_API kaldro_status kaldro_rational_div(int64_t a_num, uint64_t a_den, int64_t b_num,
                                             uint64_t b_den, int64_t *out_num,
                                             uint64_t *out_den);

/*! kaldro_rational_pow_uint() : writes a^k (a^0 = 1/1, also for a zero numerator).
 *  @return KALDRO_ERR_NULL if out_num or out_den is null; KALDRO_ERR_INVALID if a_den is
 *  0; KALDRO_ERR_CAPACITY if k > 64 or any partial power of the numerator or of the
 *  denominator overflows (the denominator's powers are tested even for numerator 0). */
KALDRO_API kaldro_status kaldro_rational_pow_uint(int64_t a_num, uint64_t a_den, uint32_t k,
                                                  int64_t *out_num, uint64_t *out_den);

/*! kaldro_exp_series_truncate() : writes the exact sum for i = 0..n of x^i / i!, with
 *  x = x_num / x_den, in lowest terms.
 *  *out_num = 0 and *out_den = 1 are set first (each when present) and stay so on
 *  every failure.
 *  @return KALDRO_ERR_NULL if out_num or out_den is null; KALDRO_ERR_INVALID if x_den is
 *  0; KALDRO_ERR_CAPACITY if n > 20 or an intermediate over n! * x_den^n overflows. */
KALDRO_API kaldro_status kaldro_exp_series_truncate(int64_t x_num, uint64_t x_den, uint32_t n,
                                                    int64_t *out_num, uint64_t *out_den);

/*! kaldro_continued_fraction() : writes the partial quotients of num/den to terms[] and
 *  their number to *count (num = 0 gives the single term 0). *count is set to 0 once it
 *  is known to be non-null, and counts every term written.
 *  @return in check order: KALDRO_ERR_NULL if count is null; KALDRO_ERR_INVALID if den
 *  is 0; KALDRO_ERR_CAPACITY if capacity is 0; KALDRO_ERR_NULL if terms is null;
 *  KALDRO_ERR_CAPACITY when there are more terms than capacity (the first `capacity`
 *  terms are written and counted). */
KALDRO_API kaldro_status kaldro_continued_fraction(uint64_t num, uint64_t den, uint64_t *terms,
                                                   uint32_t capacity, uint32_t *count);

/*! kaldro_cf_convergents_int64() : writes the convergents p[i] / q[i] of the n terms
 *  (which may be negative), from p_(-1) = 1, p_(-2) = 0, q_(-1) = 0, q_(-2) = 1.
 *  @return KALDRO_ERR_NULL if terms, p or q is null; KALDRO_ERR_INVALID if n is 0 or
 *  above 256; KALDRO_ERR_CAPACITY when convergent i overflows (entries before i are
 *  written). */
KALDRO_API kaldro_status kaldro_cf_convergents_int64(const int64_t *terms, uint64_t n,
                                                     int64_t *p, int64_t *q);

/*! kaldro_best_rational() : writes the last continued-fraction convergent of num/den
 *  whose denominator is at most max_den (at least floor(num/den) / 1). Semiconvergents
 *  are not tried, so this is not always the closest fraction within the bound.
 *  *out_num = 0 and *out_den = 1 are set first (each when present).
 *  @return KALDRO_ERR_NULL if out_num or out_den is null; KALDRO_ERR_INVALID if den or
 *  max_den is 0. */
KALDRO_API kaldro_status kaldro_best_rational(uint64_t num, uint64_t den, uint64_t max_den,
                                              uint64_t *out_num, uint64_t *out_den);

/*! kaldro_reverse_order() : writes the reversal permutation out[i] = n - 1 - i, which
 *  is its own inverse.
 *  @return KALDRO_OK at once for n = 0 (out not looked at); KALDRO_ERR_NULL if out is
 *  null; KALDRO_ERR_CAPACITY (nothing written) if n > 2^31, whose indices would not fit
 *  a signed 32-bit entry. */
KALDRO_API kaldro_status kaldro_reverse_order(uint32_t n, int32_t *out);

/*! kaldro_mirror_pattern() : writes out[i] = in[n - 1 - i]. out must not overlap in (the
 *  mirror is not made in place).
 *  @return KALDRO_OK at once for n = 0 (pointers not looked at); KALDRO_ERR_NULL if in
 *  or out is null. */
KALDRO_API kaldro_status kaldro_mirror_pattern(const uint8_t *in, uint32_t n, uint8_t *out);

/*--- end of rationals and ordering patterns ---*/


/*======================================================================================
 * Hypervectors and the octonion loop algebra
 *
 * Binary hypervectors are packed bit arrays of len bytes (dimension D = 8 len; bit i is
 * bit i mod 8, from the least significant, of byte i / 8). Polar vectors hold one signed
 * byte per element in {-1, 0, +1} (byte 255 is -1); Klein-four vectors one byte in 0..3.
 * Element checks are made position by position: when an invalid element is met, the
 * outputs (or counts) of the earlier positions are already written.
 * An octonion is eight doubles, component 0 the real part; arrays of octonions are
 * contiguous. The single-element operations take a dimension that must be 8.
 *====================================================================================*/

/*! kaldro_hdc_bind() : out[k] = a[k] XOR b[k] for len bytes; out may be a or b.
 *  Binding is its own inverse.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if len = 0. */
KALDRO_API kaldro_status kaldro_hdc_bind(const uint8_t *a, const uint8_t *b, uint32_t len,
                                         uint8_t *out);

/*! kaldro_hdc_bundle() : bitwise strict majority of `count` vectors of len bytes: an
 *  output bit is 1 when at least (count + 1) / 2 of the vectors have it set. count must
 *  be odd, so no tie arises. out may be one of the vectors (but must not overlap one
 *  partially).
 *  @return KALDRO_ERR_NULL if vectors, out or any of the count vector pointers is null
 *  (nothing written); KALDRO_ERR_INVALID if count is even (0 included) or len = 0. */
KALDRO_API kaldro_status kaldro_hdc_bundle(const uint8_t *const *vectors, uint32_t count,
                                           uint32_t len, uint8_t *out);

/*! kaldro_hdc_permute() : rotates the D-bit vector by `shift` positions: out bit i =
 *  in bit (i - shift) mod D, so bits move towards higher indices and the top bit of the
 *  last byte wraps to bit 0 of byte 0; a negative shift rotates the other way, and any
 *  multiple of D copies. out must not overlap in.
 *  @return KALDRO_ERR_NULL if in or out is null; KALDRO_ERR_INVALID if len = 0. */
KALDRO_API kaldro_status kaldro_hdc_permute(const uint8_t *in, uint32_t len, int32_t shift,
                                            uint8_t *out);

/*! kaldro_hdc_similarity() : *out = 1 - 2 h / D with h the Hamming distance of a and b;
 *  1.0 for equal vectors, -1.0 for complementary ones. D is exact for every len.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if len = 0. */
KALDRO_API kaldro_status kaldro_hdc_similarity(const uint8_t *a, const uint8_t *b,
                                               uint32_t len, double *out);

/*! kaldro_polar_bind() : out[i] = a[i] * b[i] (a[i] checked, then b[i], then out[i]
 *  written); out may be a or b.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element is not -1, 0 or 1. */
KALDRO_API kaldro_status kaldro_polar_bind(const int8_t *a, const int8_t *b, uint32_t len,
                                           int8_t *out);

/*! kaldro_polar_bundle() : out[i] = sign of the sum of the count vectors' elements at i
 *  (0 for a zero sum, so an even count may tie to 0).
 *  @return KALDRO_ERR_NULL if vectors or out is null, or when a null vector pointer is
 *  met while summing position 0; KALDRO_ERR_INVALID if count = 0, len = 0 or an element
 *  is invalid. */
KALDRO_API kaldro_status kaldro_polar_bundle(const int8_t *const *vectors, uint32_t count,
                                             uint32_t len, int8_t *out);

/*! kaldro_polar_similarity() : *out = agreeing / considered positions. With skip_zero 0
 *  every position is considered (two zeros agree); otherwise only positions where both
 *  elements are non-zero. 0.0 when none is considered.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element is invalid (nothing written). */
KALDRO_API kaldro_status kaldro_polar_similarity(const int8_t *a, const int8_t *b,
                                                 uint32_t len, int skip_zero, double *out);

/*! kaldro_polar_density() : *out = the fraction of non-zero elements of a.
 *  @return KALDRO_ERR_NULL if a or out is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element is invalid. */
KALDRO_API kaldro_status kaldro_polar_density(const int8_t *a, uint32_t len, double *out);

/*! kaldro_klein4_bind() : out[i] = a[i] XOR b[i]; its own inverse; out may be a or b.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element exceeds 3. */
KALDRO_API kaldro_status kaldro_klein4_bind(const uint8_t *a, const uint8_t *b,
                                            uint32_t len, uint8_t *out);

/*! kaldro_klein4_bundle() : per-bit majority: output bit 0 (bit 1) is set when more than
 *  count / 2 of the vectors have it set; an even count ties to 0.
 *  @return KALDRO_ERR_NULL if vectors or out is null, or when a null vector pointer is
 *  met while counting position 0; KALDRO_ERR_INVALID if count = 0, len = 0 or an
 *  element exceeds 3. */
KALDRO_API kaldro_status kaldro_klein4_bundle(const uint8_t *const *vectors, uint32_t count,
                                              uint32_t len, uint8_t *out);

/*! kaldro_klein4_similarity() : *out = the fraction of positions with a[i] = b[i].
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element exceeds 3 (nothing written). */
KALDRO_API kaldro_status kaldro_klein4_similarity(const uint8_t *a, const uint8_t *b,
                                                  uint32_t len, double *out);

/*! kaldro_klein4_triality_cycle() : maps 0->0, 1->2, 2->3, 3->1 (inverse = 0) or
 *  0->0, 1->3, 2->1, 3->2 (inverse non-zero); each map has order 3.
 *  @return KALDRO_ERR_NULL if in or out is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element exceeds 3. */
KALDRO_API kaldro_status kaldro_klein4_triality_cycle(const uint8_t *in, uint32_t len,
                                                      int inverse, uint8_t *out);

/*! kaldro_klein4_bundle_accumulate() : adds v to the accumulator acc[2 len + 1]:
 *  acc[1 + i] += bit 0 of v[i], acc[1 + len + i] += bit 1 of v[i], then acc[0] += 1.
 *  The caller zeroes acc before the first accumulation.
 *  @return KALDRO_ERR_NULL if acc or v is null; KALDRO_ERR_INVALID if len = 0 or an
 *  element exceeds 3 (the counts of earlier positions stay added, acc[0] unchanged). */
KALDRO_API kaldro_status kaldro_klein4_bundle_accumulate(uint32_t *acc, const uint8_t *v,
                                                         uint64_t len);

/*! kaldro_klein4_bundle_resolve() : out[i] = 2 (acc[1 + len + i] > t) + (acc[1 + i] > t)
 *  with t = acc[0] / 2. After an odd number of accumulations this equals the one-shot
 *  bundle. acc is left unchanged.
 *  @return KALDRO_ERR_NULL if acc or out is null; KALDRO_ERR_INVALID if len = 0. */
KALDRO_API kaldro_status kaldro_klein4_bundle_resolve(const uint32_t *acc, uint8_t *out,
                                                      uint64_t len);

/*! kaldro_klein4_cooccurrence_fold() : zeroes table (n_symbols rows of 2 dim + 1
 *  counters, each laid out as an accumulator of length dim), then for every position i
 *  of the sequence accumulates into row sequence[i] the codebook rows (dim bytes each)
 *  of the symbols at the positions within `window` of i, i itself excluded.
 *  @return KALDRO_ERR_NULL if codebook, sequence or table is null; KALDRO_ERR_INVALID if
 *  n_symbols, window or dim is 0, a sequence entry is n_symbols or more, or a codebook
 *  element exceeds 3 (the counts added before it stay). */
KALDRO_API kaldro_status kaldro_klein4_cooccurrence_fold(const uint8_t *codebook,
                                                         uint32_t n_symbols,
                                                         const uint32_t *sequence,
                                                         uint32_t seq_len, uint32_t window,
                                                         uint64_t dim, uint32_t *table);

/*! kaldro_cd_basis_product() : the product of basis elements e_i e_j of the n-dimensional
 *  Cayley-Dickson algebra is out_sign * e_(out_index), with out_index = i XOR j and
 *  out_sign = +1 or -1. n = 8 gives the octonion table, n = 4 the quaternions.
 *  @return KALDRO_ERR_NULL if out_index or out_sign is null; KALDRO_ERR_INVALID if n is
 *  not a power of two in 1..64 or i or j lies outside 0..n-1. */
KALDRO_API kaldro_status kaldro_cd_basis_product(uint32_t n, int32_t i, int32_t j,
                                                 int32_t *out_index, int32_t *out_sign);

/*! kaldro_loop_bind_f64() : out = a b, the octonion product (non-associative). All
 *  inputs are read before the first output is written, so out may be a or b.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if dim is not 8. */
KALDRO_API kaldro_status kaldro_loop_bind_f64(const double *a, const double *b, uint64_t dim,
                                              double *out);

/*! kaldro_loop_conj_f64() : out = a*, the sign bits of components 1..7 flipped (0.0
 *  becomes -0.0). Works in place.
 *  @return KALDRO_ERR_NULL if a or out is null; KALDRO_ERR_INVALID if dim is not 8. */
KALDRO_API kaldro_status kaldro_loop_conj_f64(const double *a, uint64_t dim, double *out);

/*! kaldro_loop_inv_f64() : out = a* / N(a), N the squared norm. Octonions whose norm
 *  overflows or underflows are rescaled by a power of two first, so the inverse is right
 *  over the whole range. Works in place.
 *  @return KALDRO_ERR_NULL if a or out is null; KALDRO_ERR_INVALID (nothing written) if
 *  dim is not 8 or a is zero. */
KALDRO_API kaldro_status kaldro_loop_inv_f64(const double *a, uint64_t dim, double *out);

/*! kaldro_cross7_f64() : out = a b with component 0 set to +0.0: the seven-dimensional
 *  cross product of the imaginary parts when a and b are imaginary.
 *  @return KALDRO_ERR_NULL if a, b or out is null; KALDRO_ERR_INVALID if dim is not 8. */
KALDRO_API kaldro_status kaldro_cross7_f64(const double *a, const double *b, uint64_t dim,
                                           double *out);

/*! kaldro_g2_three_form_f64() : *out = sum over k = 1..7 of a_k (b c)_k, accumulated with
 *  fused multiply-add after a_0 * 0 (so a non-finite a_0 gives NaN).
 *  @return KALDRO_ERR_NULL if a, b, c or out is null; KALDRO_ERR_INVALID if dim is not 8. */
KALDRO_API kaldro_status kaldro_g2_three_form_f64(const double *a, const double *b,
                                                  const double *c, uint64_t dim,
                                                  double *out);

/*! kaldro_loop_associator_f64() : out = (a b) c - a (b c); zero when two arguments are
 *  equal. out may be any of the inputs.
 *  @return KALDRO_ERR_NULL if a, b, c or out is null; KALDRO_ERR_INVALID if dim is not 8. */
KALDRO_API kaldro_status kaldro_loop_associator_f64(const double *a, const double *b,
                                                    const double *c, uint64_t dim,
                                                    double *out);

/*! kaldro_loop_left_op_f64(), kaldro_loop_right_op_f64() : matrix[64] (row-major 8 x 8)
 *  of x -> a x (left) or x -> x a (right): column c holds a e_c or e_c a.
 *  @return KALDRO_ERR_NULL if a or matrix is null; KALDRO_ERR_INVALID if dim is not 8. */
KALDRO_API kaldro_status kaldro_loop_left_op_f64(const double *a, uint64_t dim,
                                                 double *matrix);
KALDRO_API kaldro_status kaldro_loop_right_op_f64(const double *a, uint64_t dim,
                                                  double *matrix);

/*! kaldro_loop_bind_hd_f64() : out_k = a_k b_k for count octonions; out may be a or b.
 *  Asks kaldro_simd_tier("KALDRO_LOOP_HD_FORCE_TIER", ...) once per call for the vector
 *  width to use; every tier gives the same bits.
 *  @return KALDRO_ERR_NULL if count is not 0 and a, b or out is null. */
KALDRO_API kaldro_status kaldro_loop_bind_hd_f64(const double *a, const double *b,
                                                 uint64_t count, double *out);

/*! kaldro_loop_conj_hd_f64() : out_k = a_k* for count octonions.
 *  @return KALDRO_OK at once for count 0; KALDRO_ERR_NULL if a or out is null. */
KALDRO_API kaldro_status kaldro_loop_conj_hd_f64(const double *a, uint64_t count,
                                                 double *out);

/*! kaldro_loop_inv_hd_f64() : out_k = the inverse of a_k, in order.
 *  @return KALDRO_OK at once for count 0; KALDRO_ERR_NULL if a or out is null;
 *  KALDRO_ERR_INVALID at the first zero a_k (the earlier results stay written). */
KALDRO_API kaldro_status kaldro_loop_inv_hd_f64(const double *a, uint64_t count,
                                                double *out);

/*! kaldro_loop_unbind_hd_f64() : out_k = key_k* bound_k, which gives back x from
 *  bound_k = key_k x when key_k is a unit octonion (scaled by N(key_k) otherwise).
 *  @return KALDRO_OK at once for count 0; KALDRO_ERR_NULL if any pointer is null. */
KALDRO_API kaldro_status kaldro_loop_unbind_hd_f64(const double *key, const double *bound,
                                                   uint64_t count, double *out);

/*! kaldro_loop_runbind_hd_f64() : out_k = bound_k key_k*, the right unbinding of
 *  bound_k = x key_k.
 *  @return KALDRO_OK at once for count 0; KALDRO_ERR_NULL if any pointer is null. */
KALDRO_API kaldro_status kaldro_loop_runbind_hd_f64(const double *key, const double *bound,
                                                    uint64_t count, double *out);

/*--- end of hypervectors and loop algebra ---*/


/*======================================================================================
 * Cascade dynamics: slot operations, Kuramoto steps and sector dispatch
 *
 * A cascade is an ordered array of slots whose orientation (chirality) matters. The
 * chiral flip reverses the slot order; the chiral dual conjugates an operator by that
 * reversal; the sector dispatch applies an operator under the four symmetries made of
 * reversal and negation, one thread per sector.
 *====================================================================================*/

/*! kaldro_cascade_operator : a caller operator on n doubles. It reads `in`, writes `out`
 *  (n values each) and returns a status; `ctx` is passed through unchanged. Given to the
 *  sector dispatch it must be safe to call from several threads at once on different
 *  slices. */
typedef kaldro_status (*kaldro_cascade_operator)(const double *in, uint64_t n, double *out,
                                                 void *ctx);

/*! kaldro_cascade_chiral_flip_i64(), _f64() : dst = src in reverse order. dst may be the
 *  same buffer as src (reversal in place), but must not overlap it otherwise.
 *  @return KALDRO_OK at once for n = 0; KALDRO_ERR_NULL if src or dst is null. */
KALDRO_API kaldro_status kaldro_cascade_chiral_flip_i64(const int64_t *src, uint64_t n,
                                                        int64_t *dst);
KALDRO_API kaldro_status kaldro_cascade_chiral_flip_f64(const double *src, uint64_t n,
                                                        double *dst);

/*! kaldro_cascade_chiral_dual_f64() : out = reverse(op(reverse(src))). src is reversed
 *  into scratch (n doubles), op(scratch, n, out, ctx) runs once on the caller's thread,
 *  and out is reversed in place. For n = 0, op(src, 0, out, ctx) is called instead and
 *  src and scratch are not looked at.
 *  @return in check order: KALDRO_ERR_NULL if op or out is null; for n = 0 the status op
 *  returns; KALDRO_ERR_NULL if src or scratch is null; a non-zero status of op, as it
 *  is (out then holds what op left there, not reversed). */
KALDRO_API kaldro_status kaldro_cascade_chiral_dual_f64(kaldro_cascade_operator op, void *ctx,
                                                        const double *src, uint64_t n,
                                                        double *out, double *scratch);

/*! kaldro_cascade_pin_slot_at_zero_f64() : splits x into a sign (+1, -1) and a
 *  magnitude; zero of either sign and NaN give sign 0 and magnitude +0.0.
 *  @return KALDRO_ERR_NULL if either pointer is null. */
KALDRO_API kaldro_status kaldro_cascade_pin_slot_at_zero_f64(double x, int8_t *sign_out,
                                                             double *magnitude_out);

/*! kaldro_cascade_magnitude_f64() : writes |x|; zero of either sign and NaN give +0.0.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_cascade_magnitude_f64(double x, double *out);

/*! kaldro_cascade_reorient_i64() : writes value, negated when orientation is negative
 *  (orientation 0 counts as positive). The negation is taken in two's complement, so
 *  INT64_MIN stays INT64_MIN.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_cascade_reorient_i64(int32_t orientation, int64_t value,
                                                     int64_t *out);

/*! kaldro_cascade_reorient_f64() : writes x, negated when orientation is negative.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_cascade_reorient_f64(int32_t orientation, double x,
                                                     double *out);

/*! kaldro_cascade_net_chirality_i8() : writes the sign of the product of the n values:
 *  +1 for n = 0, 0 as soon as a value is 0, and each negative value flips the sign.
 *  @return KALDRO_ERR_NULL if out is null, or signs is null with n not 0. */
KALDRO_API kaldro_status kaldro_cascade_net_chirality_i8(const int8_t *signs, uint64_t n,
                                                         int8_t *out);

/*! kaldro_cascade_cyclic_gcd_u64() : writes gcd(a, b), as kaldro_gcd does.
 *  @return KALDRO_ERR_NULL if out is null. */
KALDRO_API kaldro_status kaldro_cascade_cyclic_gcd_u64(uint64_t a, uint64_t b, uint64_t *out);

/*! kaldro_cascade_best_rational_signed_f64() : writes the last continued-fraction
 *  convergent of round(|x| * scale) / scale (ties to even) with a denominator of at most
 *  max_den, with the sign of x. |x| below 1e-12, NaN, or a scaled value that rounds to
 *  0 give 0/1.
 *  @return KALDRO_ERR_NULL if num_out or den_out is null; KALDRO_ERR_INVALID if max_den
 *  or scale is below 1; KALDRO_ERR_CAPACITY (nothing written) if the rounded |x| * scale
 *  is not finite or is 2^63 or more. */
KALDRO_API kaldro_status kaldro_cascade_best_rational_signed_f64(int64_t max_den, int64_t scale,
                                                                 int64_t *num_out,
                                                                 uint64_t *den_out, double x);

/*! kaldro_cascade_kuramoto_step_f64() : one explicit Euler step of n all-to-all coupled
 *  phase oscillators: out[i] = fma(dt, fma(K / n, s_i, omega[i]), theta[i]), where s_i is
 *  the plain sum over j = 0..n-1 in order of sin(theta[j] - theta[i]) taken with
 *  kaldro_sin. out must not overlap theta. Phases are not wrapped.
 *  @return KALDRO_ERR_NULL if out is null; KALDRO_OK at once for n = 0; KALDRO_ERR_NULL
 *  if theta or omega is null. */
KALDRO_API kaldro_status kaldro_cascade_kuramoto_step_f64(const double *theta,
                                                          const double *omega, uint64_t n,
                                                          double *out, double K, double dt);

/*! kaldro_cascade_kuramoto_step_general_f64() : the step with phase lag alpha, optional
 *  coupling matrix W (n x n, row i holds the weights on oscillator i) and optional drives:
 *  g = fused sum over j in order of h_ij * sin(theta[j] - theta[i] - alpha), with
 *  h_ij = W[i*n+j] * K, or K / n without W; f = omega[i] + g; with drive,
 *  f = fma(gain[i] (1.0 without gain), sin(drive[i] - theta[i]), f); gain without drive
 *  is ignored; out[i] = fma(dt, f, theta[i]). out must not overlap theta.
 *  @return as kaldro_cascade_kuramoto_step_f64. */
KALDRO_API kaldro_status kaldro_cascade_kuramoto_step_general_f64(
    const double *theta, const double *omega, uint64_t n, const double *W,
    const double *drive, const double *gain, double *out, double K, double alpha,
    double dt);

/*! kaldro_cascade_parallel_sector_dispatch() : applies op in `sectors` (1 to 4) symmetry
 *  sectors at once, one thread each: sector k computes out_k = S_k(op(S_k(src))) with
 *  S_0 the identity, S_1 negation, S_2 slot reversal and S_3 both. Sector k uses the n
 *  doubles at element k * n of out and of scratch (capacity doubles each). A sector whose
 *  thread cannot be started runs on the caller's thread; every started thread is joined,
 *  in sector order, before the return. op must be safe to call from several threads at
 *  once. Every sector runs to completion even when another fails.
 *  @return in check order: KALDRO_ERR_NULL if op, out or scratch is null, or src is null
 *  with n not 0; KALDRO_ERR_INVALID if sectors is outside 1..4; KALDRO_ERR_CAPACITY if
 *  sectors * n exceeds capacity; then the first non-zero status of the sectors in
 *  sector order, else KALDRO_OK. */
KALDRO_API kaldro_status kaldro_cascade_parallel_sector_dispatch(
    kaldro_cascade_operator op, void *ctx, const double *src, uint64_t n, uint32_t sectors,
    double *out, double *scratch, uint64_t capacity);

/*--- end of cascade dynamics ---*/

#ifdef __cplusplus
}
#endif

#endif /* KALDRO_H */
