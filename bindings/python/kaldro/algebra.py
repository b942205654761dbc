"""Hypervector algebras (binary on packed bytes, polar on -1/0/+1 elements, Klein-four on
0..3 elements) and the octonion loop algebra on sequences of eight floats.
"""
import ctypes

from . import _lib
from ._lib import (check, declare, lib, as_bytes, float_array, maybe_numpy, U32_MAX,
                   u8p, i8p, f64p, u32p)

c_i32 = ctypes.c_int32
c_u32 = ctypes.c_uint32
c_u64 = ctypes.c_uint64
c_d = ctypes.c_double
c_void_p = ctypes.c_void_p
dptr = ctypes.POINTER(c_d)
vpp = ctypes.POINTER(c_void_p)

declare("kaldro_hdc_bind", c_i32, c_void_p, c_void_p, c_u32, c_void_p)
declare("kaldro_hdc_bundle", c_i32, vpp, c_u32, c_u32, c_void_p)
declare("kaldro_hdc_permute", c_i32, c_void_p, c_u32, c_i32, c_void_p)
declare("kaldro_hdc_similarity", c_i32, c_void_p, c_void_p, c_u32, dptr)
declare("kaldro_polar_bind", c_i32, c_void_p, c_void_p, c_u32, c_void_p)
declare("kaldro_polar_bundle", c_i32, vpp, c_u32, c_u32, c_void_p)
declare("kaldro_polar_similarity", c_i32, c_void_p, c_void_p, c_u32, ctypes.c_int, dptr)
declare("kaldro_polar_density", c_i32, c_void_p, c_u32, dptr)
declare("kaldro_klein4_bind", c_i32, c_void_p, c_void_p, c_u32, c_void_p)
declare("kaldro_klein4_bundle", c_i32, vpp, c_u32, c_u32, c_void_p)
declare("kaldro_klein4_similarity", c_i32, c_void_p, c_void_p, c_u32, dptr)
declare("kaldro_klein4_triality_cycle", c_i32, c_void_p, c_u32, ctypes.c_int, c_void_p)
declare("kaldro_klein4_bundle_accumulate", c_i32, u32p, c_void_p, c_u64)
declare("kaldro_klein4_bundle_resolve", c_i32, u32p, c_void_p, c_u64)
declare("kaldro_klein4_cooccurrence_fold", c_i32, c_void_p, c_u32, u32p, c_u32, c_u32, c_u64,
        u32p)
declare("kaldro_cd_basis_product", c_i32, c_u32, c_i32, c_i32, ctypes.POINTER(c_i32),
        ctypes.POINTER(c_i32))
declare("kaldro_loop_bind_f64", c_i32, dptr, dptr, c_u64, dptr)
declare("kaldro_loop_conj_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_loop_inv_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_cross7_f64", c_i32, dptr, dptr, c_u64, dptr)
declare("kaldro_g2_three_form_f64", c_i32, dptr, dptr, dptr, c_u64, dptr)
declare("kaldro_loop_associator_f64", c_i32, dptr, dptr, dptr, c_u64, dptr)
declare("kaldro_loop_left_op_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_loop_right_op_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_loop_bind_hd_f64", c_i32, dptr, dptr, c_u64, dptr)
declare("kaldro_loop_conj_hd_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_loop_inv_hd_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_loop_unbind_hd_f64", c_i32, dptr, dptr, c_u64, dptr)
declare("kaldro_loop_runbind_hd_f64", c_i32, dptr, dptr, c_u64, dptr)


def _buf(data, what):
    raw = as_bytes(data, what)
    if len(raw) > U32_MAX:
        raise OverflowError("%s longer than 4 GiB" % what)
    return ctypes.create_string_buffer(raw, max(len(raw), 1)), len(raw)


def _same_len(a, b):
    if a[1] != b[1]:
        raise ValueError("vectors must have the same length")
    return a[1]


def _elements(v, what):
    # Polar and Klein-four vectors: bytes as they stand, or a sequence of small ints
    # (polar -1 becomes byte 255).
    if isinstance(v, (list, tuple)) or type(v).__module__.startswith("numpy"):
        vals = v.tolist() if hasattr(v, "tolist") else v
        return bytes(int(x) & 0xFF for x in vals)
    return as_bytes(v, what)


# Binary hypervectors ----------------------------------------------------------------

def hdc_bind(a, b):
    """Bind two packed binary hypervectors (bytes of equal length) by XOR."""
    A, B = _buf(a, "a"), _buf(b, "b")
    n = _same_len(A, B)
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_hdc_bind(A[0], B[0], n, out), "kaldro_hdc_bind")
    return out.raw[:n]


def hdc_bundle(vectors):
    """The bitwise strict majority of an odd number of packed hypervectors."""
    bufs = [_buf(v, "vector") for v in vectors]
    n = bufs[0][1] if bufs else 0
    if any(b[1] != n for b in bufs):
        raise ValueError("vectors must have the same length")
    ptrs = (c_void_p * max(len(bufs), 1))(*[ctypes.addressof(b[0]) for b in bufs])
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_hdc_bundle(ptrs, len(bufs), n, out), "kaldro_hdc_bundle")
    return out.raw[:n]


def hdc_permute(v, shift):
    """Rotate a packed hypervector of D = 8 len(v) bits by `shift` positions towards
    higher bit indices (negative shifts rotate the other way)."""
    V = _buf(v, "v")
    out = ctypes.create_string_buffer(max(V[1], 1))
    check(lib().kaldro_hdc_permute(V[0], V[1], _lib.check_int(shift, _lib.I32_MIN,
                                                             _lib.I32_MAX, "shift"), out),
          "kaldro_hdc_permute")
    return out.raw[:V[1]]


def hdc_similarity(a, b):
    """1 - 2 h / D for packed hypervectors a and b (h their Hamming distance)."""
    A, B = _buf(a, "a"), _buf(b, "b")
    n = _same_len(A, B)
    out = c_d(0.0)
    check(lib().kaldro_hdc_similarity(A[0], B[0], n, ctypes.byref(out)),
          "kaldro_hdc_similarity")
    return out.value


# Polar and Klein-four ---------------------------------------------------------------

def _signed_list(raw):
    return [x - 256 if x > 127 else x for x in raw]


def polar_bind(a, b):
    """Element-wise product of two polar vectors (elements -1, 0, 1); returns a list."""
    A = _buf(_elements(a, "a"), "a")
    B = _buf(_elements(b, "b"), "b")
    n = _same_len(A, B)
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_polar_bind(A[0], B[0], n, out), "kaldro_polar_bind")
    return _signed_list(out.raw[:n])


def polar_bundle(vectors):
    """The element-wise sign of the sum of polar vectors (0 for a tie); returns a list."""
    bufs = [_buf(_elements(v, "vector"), "vector") for v in vectors]
    n = bufs[0][1] if bufs else 0
    if any(b[1] != n for b in bufs):
        raise ValueError("vectors must have the same length")
    ptrs = (c_void_p * max(len(bufs), 1))(*[ctypes.addressof(b[0]) for b in bufs])
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_polar_bundle(ptrs, len(bufs), n, out), "kaldro_polar_bundle")
    return _signed_list(out.raw[:n])


def polar_similarity(a, b, skip_zero=False):
    """The fraction of agreeing positions of two polar vectors; with skip_zero only the
    positions where both are non-zero count."""
    A = _buf(_elements(a, "a"), "a")
    B = _buf(_elements(b, "b"), "b")
    n = _same_len(A, B)
    out = c_d(0.0)
    check(lib().kaldro_polar_similarity(A[0], B[0], n, 1 if skip_zero else 0,
                                        ctypes.byref(out)), "kaldro_polar_similarity")
    return out.value


def polar_density(a):
    """The fraction of non-zero elements of a polar vector."""
    A = _buf(_elements(a, "a"), "a")
    out = c_d(0.0)
    check(lib().kaldro_polar_density(A[0], A[1], ctypes.byref(out)), "kaldro_polar_density")
    return out.value


def klein4_bind(a, b):
    """Element-wise XOR of two Klein-four vectors (elements 0..3); returns bytes."""
    A = _buf(_elements(a, "a"), "a")
    B = _buf(_elements(b, "b"), "b")
    n = _same_len(A, B)
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_klein4_bind(A[0], B[0], n, out), "kaldro_klein4_bind")
    return out.raw[:n]


def klein4_bundle(vectors):
    """The per-bit majority of Klein-four vectors (an even count ties to 0)."""
    bufs = [_buf(_elements(v, "vector"), "vector") for v in vectors]
    n = bufs[0][1] if bufs else 0
    if any(b[1] != n for b in bufs):
        raise ValueError("vectors must have the same length")
    ptrs = (c_void_p * max(len(bufs), 1))(*[ctypes.addressof(b[0]) for b in bufs])
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_klein4_bundle(ptrs, len(bufs), n, out), "kaldro_klein4_bundle")
    return out.raw[:n]


def klein4_similarity(a, b):
    """The fraction of positions at which two Klein-four vectors agree."""
    A = _buf(_elements(a, "a"), "a")
    B = _buf(_elements(b, "b"), "b")
    n = _same_len(A, B)
    out = c_d(0.0)
    check(lib().kaldro_klein4_similarity(A[0], B[0], n, ctypes.byref(out)),
          "kaldro_klein4_similarity")
    return out.value


def klein4_triality_cycle(v, inverse=False):
    """Apply the order-3 map 1->2->3->1 (or its inverse) to every element."""
    V = _buf(_elements(v, "v"), "v")
    out = ctypes.create_string_buffer(max(V[1], 1))
    check(lib().kaldro_klein4_triality_cycle(V[0], V[1], 1 if inverse else 0, out),
          "kaldro_klein4_triality_cycle")
    return out.raw[:V[1]]


class Klein4Accumulator:
    """An incremental Klein-four bundle: add() vectors one by one, then resolve()."""

    def __init__(self, length):
        """Start an empty accumulator for vectors of `length` elements."""
        self.length = int(length)
        self._acc = (c_u32 * (2 * self.length + 1))()

    def add(self, v):
        """Count the bits of the Klein-four vector `v` into the accumulator."""
        V = _buf(_elements(v, "v"), "v")
        if V[1] != self.length:
            raise ValueError("vector length differs from the accumulator's")
        check(lib().kaldro_klein4_bundle_accumulate(self._acc, V[0], V[1]),
              "kaldro_klein4_bundle_accumulate")

    @property
    def count(self):
        """The number of vectors added so far."""
        return self._acc[0]

    def resolve(self):
        """The bundle of the vectors added so far, as bytes."""
        out = ctypes.create_string_buffer(max(self.length, 1))
        check(lib().kaldro_klein4_bundle_resolve(self._acc, out, self.length),
              "kaldro_klein4_bundle_resolve")
        return out.raw[:self.length]


def klein4_cooccurrence_fold(codebook, sequence, window):
    """Fold co-occurrences: `codebook` is a list of Klein-four rows (one per symbol, all
    of one length dim) and `sequence` a list of symbol indices. Returns one
    accumulator per symbol, each a list of 2 dim + 1 counts (count, bit-0 counts,
    bit-1 counts) of the codebook rows within `window` of its occurrences."""
    rows = [_elements(r, "codebook row") for r in codebook]
    dim = len(rows[0]) if rows else 0
    if any(len(r) != dim for r in rows):
        raise ValueError("codebook rows must have the same length")
    cb = _buf(b"".join(rows), "codebook")
    seq, n = _lib.int_array(c_u32, sequence)
    table = (c_u32 * max(len(rows) * (2 * dim + 1), 1))()
    check(lib().kaldro_klein4_cooccurrence_fold(cb[0], len(rows), seq, n,
                                                _lib.check_int(window, 0, U32_MAX, "window"),
                                                dim, table), "kaldro_klein4_cooccurrence_fold")
    w = 2 * dim + 1
    return [list(table[i * w:(i + 1) * w]) for i in range(len(rows))]


def cd_basis_product(n, i, j):
    """The product e_i e_j in the n-dimensional Cayley-Dickson algebra as a pair
    (sign, index): e_i e_j = sign * e_index."""
    index = c_i32(0)
    sign = c_i32(0)
    check(lib().kaldro_cd_basis_product(_lib.check_int(n, 0, U32_MAX, "n"),
                                        _lib.check_int(i, _lib.I32_MIN, _lib.I32_MAX, "i"),
                                        _lib.check_int(j, _lib.I32_MIN, _lib.I32_MAX, "j"),
                                        ctypes.byref(index), ctypes.byref(sign)),
          "kaldro_cd_basis_product")
    return sign.value, index.value


# Octonions --------------------------------------------------------------------------

def _octonion(v, what):
    arr, n = float_array(v)
    if n != 8:
        raise _lib.error_for(_lib.ERR_INVALID, "octonion", "%s must have 8 components" % what)
    return arr


def _octonions(v, what):
    # A flat sequence of 8k floats or a sequence of k octonions.
    arr, n = float_array(v)
    if n % 8:
        raise ValueError("%s must hold whole octonions (a multiple of 8 floats)" % what)
    return arr, n // 8


def _result(arr, n, like):
    return maybe_numpy(list(arr[:n]), like)


def oct_mul(a, b):
    """The octonion product a b (eight floats each, component 0 real); a list."""
    A, B = _octonion(a, "a"), _octonion(b, "b")
    out = (c_d * 8)()
    check(lib().kaldro_loop_bind_f64(A, B, 8, out), "kaldro_loop_bind_f64")
    return _result(out, 8, a)


def oct_conj(a):
    """The octonion conjugate: components 1..7 negated."""
    A = _octonion(a, "a")
    out = (c_d * 8)()
    check(lib().kaldro_loop_conj_f64(A, 8, out), "kaldro_loop_conj_f64")
    return _result(out, 8, a)


def oct_inv(a):
    """The octonion inverse a* / N(a); raises KaldroInvalidError for zero."""
    A = _octonion(a, "a")
    out = (c_d * 8)()
    check(lib().kaldro_loop_inv_f64(A, 8, out), "kaldro_loop_inv_f64")
    return _result(out, 8, a)


def cross7(a, b):
    """The seven-dimensional cross product (a b with component 0 set to +0.0)."""
    A, B = _octonion(a, "a"), _octonion(b, "b")
    out = (c_d * 8)()
    check(lib().kaldro_cross7_f64(A, B, 8, out), "kaldro_cross7_f64")
    return _result(out, 8, a)


def g2_three_form(a, b, c):
    """The G2 three-form: the sum over k = 1..7 of a_k (b c)_k."""
    A, B, C = _octonion(a, "a"), _octonion(b, "b"), _octonion(c, "c")
    out = c_d(0.0)
    check(lib().kaldro_g2_three_form_f64(A, B, C, 8, ctypes.byref(out)),
          "kaldro_g2_three_form_f64")
    return out.value


def oct_associator(a, b, c):
    """The associator (a b) c - a (b c)."""
    A, B, C = _octonion(a, "a"), _octonion(b, "b"), _octonion(c, "c")
    out = (c_d * 8)()
    check(lib().kaldro_loop_associator_f64(A, B, C, 8, out), "kaldro_loop_associator_f64")
    return _result(out, 8, a)


def _op(name, a):
    A = _octonion(a, "a")
    out = (c_d * 64)()
    check(getattr(lib(), name)(A, 8, out), name)
    rows = [list(out[8 * r:8 * r + 8]) for r in range(8)]
    return maybe_numpy(rows, a)


def oct_left_matrix(a):
    """The 8 x 8 matrix (list of rows) of x -> a x."""
    return _op("kaldro_loop_left_op_f64", a)


def oct_right_matrix(a):
    """The 8 x 8 matrix (list of rows) of x -> x a."""
    return _op("kaldro_loop_right_op_f64", a)


def _hd_pair(name, a, b):
    A, n = _octonions(a, "a")
    B, m = _octonions(b, "b")
    if n != m:
        raise ValueError("a and b must hold the same number of octonions")
    out = (c_d * max(8 * n, 1))()
    check(getattr(lib(), name)(A, B, n, out), name)
    return _result(out, 8 * n, a)


def oct_mul_many(a, b):
    """Products a_k b_k of two equally long arrays of octonions; a flat list of floats."""
    return _hd_pair("kaldro_loop_bind_hd_f64", a, b)


def oct_unbind_many(key, bound):
    """key_k* bound_k for arrays of octonions: recovers x from key_k x for unit keys."""
    return _hd_pair("kaldro_loop_unbind_hd_f64", key, bound)


def oct_runbind_many(key, bound):
    """bound_k key_k* for arrays of octonions: recovers x from x key_k for unit keys."""
    return _hd_pair("kaldro_loop_runbind_hd_f64", key, bound)


def oct_conj_many(a):
    """Conjugates of an array of octonions; a flat list of floats."""
    A, n = _octonions(a, "a")
    out = (c_d * max(8 * n, 1))()
    check(lib().kaldro_loop_conj_hd_f64(A, n, out), "kaldro_loop_conj_hd_f64")
    return _result(out, 8 * n, a)


def oct_inv_many(a):
    """Inverses of an array of octonions; raises KaldroInvalidError at a zero one."""
    A, n = _octonions(a, "a")
    out = (c_d * max(8 * n, 1))()
    check(lib().kaldro_loop_inv_hd_f64(A, n, out), "kaldro_loop_inv_hd_f64")
    return _result(out, 8 * n, a)
