"""Exact integer arithmetic on unsigned 64-bit values, taken and returned as Python ints
(rationals and continued fractions are added by the rationals module when the library
has them).
"""
import ctypes

from . import _lib
from ._lib import check, declare, lib, check_int, U64_MAX

c_i32 = ctypes.c_int32
c_u32 = ctypes.c_uint32
c_u64 = ctypes.c_uint64
u64p = ctypes.POINTER(c_u64)

declare("kaldro_gcd", c_i32, c_u64, c_u64, u64p)
declare("kaldro_lcm", c_i32, c_u64, c_u64, u64p)
declare("kaldro_mod_add", c_i32, c_u64, c_u64, c_u64, u64p)
declare("kaldro_mod_mul", c_i32, c_u64, c_u64, c_u64, u64p)
declare("kaldro_mod_pow", c_i32, c_u64, c_u64, c_u64, u64p)
declare("kaldro_mod_inv", c_i32, c_u64, c_u64, u64p)
declare("kaldro_three_cycle", c_i32, c_u64, u64p)
declare("kaldro_is_prime", c_i32, c_u64, ctypes.POINTER(ctypes.c_uint8))
declare("kaldro_factor", c_i32, c_u64, u64p, ctypes.POINTER(ctypes.c_uint8), c_u32,
        ctypes.POINTER(c_u32))
declare("kaldro_cyclic_period", c_i32, c_u64, c_u64, c_u64, u64p)


def _u64(v, what):
    return check_int(v, 0, U64_MAX, what)


def _call(name, *args):
    out = c_u64(0)
    check(getattr(lib(), name)(*args, ctypes.byref(out)), name)
    return out.value


def gcd(a, b):
    """The greatest common divisor of two unsigned 64-bit ints; gcd(0, 0) = 0."""
    return _call("kaldro_gcd", _u64(a, "a"), _u64(b, "b"))


def lcm(a, b):
    """The least common multiple (0 when either is 0); raises KaldroCapacityError when
    it does not fit 64 bits."""
    return _call("kaldro_lcm", _u64(a, "a"), _u64(b, "b"))


def mod_add(a, b, m):
    """(a + b) mod m without overflow; raises KaldroInvalidError for m = 0."""
    return _call("kaldro_mod_add", _u64(a, "a"), _u64(b, "b"), _u64(m, "m"))


def mod_mul(a, b, m):
    """(a * b) mod m; raises KaldroInvalidError for m = 0."""
    return _call("kaldro_mod_mul", _u64(a, "a"), _u64(b, "b"), _u64(m, "m"))


def mod_pow(base, exponent, m):
    """base^exponent mod m; raises KaldroInvalidError for m = 0."""
    return _call("kaldro_mod_pow", _u64(base, "base"), _u64(exponent, "exponent"),
                 _u64(m, "m"))


def mod_inv(a, m):
    """The inverse of a modulo m in [0, m); raises KaldroInvalidError when there is
    none and KaldroCapacityError for m >= 2^63."""
    return _call("kaldro_mod_inv", _u64(a, "a"), _u64(m, "m"))


def three_cycle(x):
    """The successor of x mod 3 on the cycle 0 -> 1 -> 2 -> 0."""
    return _call("kaldro_three_cycle", _u64(x, "x"))


def is_prime(n):
    """True when the unsigned 64-bit n is prime (deterministic trial division)."""
    out = ctypes.c_uint8(0)
    check(lib().kaldro_is_prime(_u64(n, "n"), ctypes.byref(out)), "kaldro_is_prime")
    return bool(out.value)


def factor(n):
    """The prime factorisation of n as a list of (prime, exponent) pairs, ascending;
    [] for n < 2."""
    cap = 16  # a 64-bit number has at most 15 distinct prime factors
    primes = (c_u64 * cap)()
    exps = (ctypes.c_uint8 * cap)()
    count = c_u32(0)
    check(lib().kaldro_factor(_u64(n, "n"), primes, exps, cap, ctypes.byref(count)),
          "kaldro_factor")
    return [(primes[i], exps[i]) for i in range(count.value)]


def cyclic_period(a, m, limit):
    """The smallest k in [1, limit] with a^k = 1 (mod m); raises KaldroCapacityError
    when there is none up to limit."""
    return _call("kaldro_cyclic_period", _u64(a, "a"), _u64(m, "m"), _u64(limit, "limit"))
