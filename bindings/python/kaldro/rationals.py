"""Exact rationals and continued fractions on Python ints and fractions.Fraction, and
the ordering patterns. A rational is a signed 64-bit numerator over an unsigned 64-bit
denominator; results that would leave 64 bits raise KaldroCapacityError.
"""
import ctypes
from fractions import Fraction

from . import _lib
from ._lib import check, declare, lib, check_int, I64_MIN, I64_MAX, U64_MAX, U32_MAX

c_i32 = ctypes.c_int32
c_u32 = ctypes.c_uint32
c_i64 = ctypes.c_int64
c_u64 = ctypes.c_uint64
i64p = ctypes.POINTER(c_i64)
u64p = ctypes.POINTER(c_u64)

for _name in ("kaldro_rational_add", "kaldro_rational_mul", "kaldro_rational_div"):
    declare(_name, c_i32, c_i64, c_u64, c_i64, c_u64, i64p, u64p)
declare("kaldro_rational_pow_uint", c_i32, c_i64, c_u64, c_u32, i64p, u64p)
declare("kaldro_exp_series_truncate", c_i32, c_i64, c_u64, c_u32, i64p, u64p)
declare("kaldro_continued_fraction", c_i32, c_u64, c_u64, u64p, c_u32, ctypes.POINTER(c_u32))
declare("kaldro_cf_convergents_int64", c_i32, i64p, c_u64, i64p, i64p)
declare("kaldro_best_rational", c_i32, c_u64, c_u64, c_u64, u64p, u64p)
declare("kaldro_reverse_order", c_i32, c_u32, ctypes.POINTER(c_i32))
declare("kaldro_mirror_pattern", c_i32, ctypes.c_void_p, c_u32, ctypes.c_void_p)


def _parts(x, what):
    # A Fraction, an int, or a (numerator, denominator) pair; the denominator is kept
    # as given (not reduced), so a zero denominator reaches the library's own check.
    if isinstance(x, tuple):
        num, den = x
    elif isinstance(x, Fraction):
        num, den = x.numerator, x.denominator
    else:
        num, den = int(x), 1
    return (check_int(num, I64_MIN, I64_MAX, what + " numerator"),
            check_int(den, 0, U64_MAX, what + " denominator"))


def _binary(name, a, b):
    an, ad = _parts(a, "a")
    bn, bd = _parts(b, "b")
    num, den = c_i64(0), c_u64(1)
    check(getattr(lib(), name)(an, ad, bn, bd, ctypes.byref(num), ctypes.byref(den)), name)
    return Fraction(num.value, den.value)


def rational_add(a, b):
    """a + b exactly, as a Fraction (a and b: Fraction, int or (num, den))."""
    return _binary("kaldro_rational_add", a, b)


def rational_mul(a, b):
    """a * b exactly, as a Fraction."""
    return _binary("kaldro_rational_mul", a, b)


def rational_div(a, b):
    """a / b exactly, as a Fraction; raises KaldroInvalidError when b is 0."""
    return _binary("kaldro_rational_div", a, b)


def rational_pow(a, k):
    """a^k for an integer 0 <= k <= 64, as a Fraction."""
    an, ad = _parts(a, "a")
    num, den = c_i64(0), c_u64(1)
    check(lib().kaldro_rational_pow_uint(an, ad, check_int(k, 0, U32_MAX, "k"),
                                         ctypes.byref(num), ctypes.byref(den)),
          "kaldro_rational_pow_uint")
    return Fraction(num.value, den.value)


def exp_series(x, n):
    """The exact partial sum of x^i / i! for i = 0..n (n <= 20), as a Fraction."""
    xn, xd = _parts(x, "x")
    num, den = c_i64(0), c_u64(1)
    check(lib().kaldro_exp_series_truncate(xn, xd, check_int(n, 0, U32_MAX, "n"),
                                           ctypes.byref(num), ctypes.byref(den)),
          "kaldro_exp_series_truncate")
    return Fraction(num.value, den.value)


def continued_fraction(x):
    """The partial quotients of a non-negative rational (Fraction, int or (num, den))
    as a list of ints; 0 gives [0]."""
    num, den = _parts(x, "x")
    if num < 0:
        raise ValueError("continued_fraction takes a non-negative rational")
    cap = 96  # a 64-bit fraction has at most 93 partial quotients
    terms = (c_u64 * cap)()
    count = c_u32(0)
    check(lib().kaldro_continued_fraction(num, den, terms, cap, ctypes.byref(count)),
          "kaldro_continued_fraction")
    return list(terms[:count.value])


def convergents(terms):
    """The convergents of a continued fraction (1 to 256 signed 64-bit terms) as a list
    of Fractions."""
    arr, n = _lib.int_array(c_i64, terms)
    p = (c_i64 * max(n, 1))()
    q = (c_i64 * max(n, 1))()
    check(lib().kaldro_cf_convergents_int64(arr, n, p, q), "kaldro_cf_convergents_int64")
    # A zero denominator cannot come from valid terms; keep the pairs exact otherwise.
    return [Fraction(p[i], q[i]) if q[i] else (p[i], q[i]) for i in range(n)]


def best_rational(x, max_den):
    """The last continued-fraction convergent of x (a non-negative rational) whose
    denominator is at most max_den, as a Fraction (semiconvergents are not tried)."""
    num, den = _parts(x, "x")
    if num < 0:
        raise ValueError("best_rational takes a non-negative rational")
    on, od = c_u64(0), c_u64(1)
    check(lib().kaldro_best_rational(num, den, check_int(max_den, 0, U64_MAX, "max_den"),
                                     ctypes.byref(on), ctypes.byref(od)), "kaldro_best_rational")
    return Fraction(on.value, od.value)


def reverse_order(n):
    """The reversal permutation [n - 1, ..., 1, 0]."""
    n = check_int(n, 0, U32_MAX, "n")
    out = (c_i32 * max(n, 1))()
    check(lib().kaldro_reverse_order(n, out), "kaldro_reverse_order")
    return list(out[:n])


def mirror_pattern(pattern):
    """The bytes of `pattern` in reverse order."""
    raw = _lib.as_bytes(pattern, "pattern")
    n = check_int(len(raw), 0, U32_MAX, "length")
    out = ctypes.create_string_buffer(max(n, 1))
    check(lib().kaldro_mirror_pattern(raw, n, out), "kaldro_mirror_pattern")
    return out.raw[:n]
