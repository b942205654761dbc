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
