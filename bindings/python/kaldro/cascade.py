"""Cascade slot operations, Kuramoto steps and the parallel sector dispatch, on
sequences of floats (numpy arrays accepted and returned when numpy is present).
Operators are Python callables taking a list of floats and returning as many floats.
"""
import ctypes
from fractions import Fraction

from . import _lib
from ._lib import check, declare, lib, float_array, maybe_numpy, check_int

c_i8 = ctypes.c_int8
c_i32 = ctypes.c_int32
c_i64 = ctypes.c_int64
c_u32 = ctypes.c_uint32
c_u64 = ctypes.c_uint64
c_d = ctypes.c_double
dptr = ctypes.POINTER(c_d)

_OPERATOR = ctypes.CFUNCTYPE(c_i32, dptr, c_u64, dptr, ctypes.c_void_p)

declare("kaldro_cascade_chiral_flip_i64", c_i32, ctypes.POINTER(c_i64), c_u64,
        ctypes.POINTER(c_i64))
declare("kaldro_cascade_chiral_flip_f64", c_i32, dptr, c_u64, dptr)
declare("kaldro_cascade_chiral_dual_f64", c_i32, _OPERATOR, ctypes.c_void_p, dptr, c_u64, dptr,
        dptr)
declare("kaldro_cascade_pin_slot_at_zero_f64", c_i32, c_d, ctypes.POINTER(c_i8), dptr)
declare("kaldro_cascade_magnitude_f64", c_i32, c_d, dptr)
declare("kaldro_cascade_reorient_i64", c_i32, c_i32, c_i64, ctypes.POINTER(c_i64))
declare("kaldro_cascade_reorient_f64", c_i32, c_i32, c_d, dptr)
declare("kaldro_cascade_net_chirality_i8", c_i32, ctypes.c_void_p, c_u64, ctypes.POINTER(c_i8))
declare("kaldro_cascade_cyclic_gcd_u64", c_i32, c_u64, c_u64, ctypes.POINTER(c_u64))
declare("kaldro_cascade_best_rational_signed_f64", c_i32, c_i64, c_i64, ctypes.POINTER(c_i64),
        ctypes.POINTER(c_u64), c_d)
declare("kaldro_cascade_kuramoto_step_f64", c_i32, dptr, dptr, c_u64, dptr, c_d, c_d)
declare("kaldro_cascade_kuramoto_step_general_f64", c_i32, dptr, dptr, c_u64, dptr, dptr, dptr,
        dptr, c_d, c_d, c_d)
declare("kaldro_cascade_parallel_sector_dispatch", c_i32, _OPERATOR, ctypes.c_void_p, dptr,
        c_u64, c_u32, dptr, dptr, c_u64)


def chiral_flip(values):
    """The slots in reverse order: ints stay ints (64-bit), anything else is float."""
    seq = values.tolist() if hasattr(values, "tolist") else list(values)
    if seq and all(isinstance(v, int) and not isinstance(v, bool) for v in seq):
        arr, n = _lib.int_array(c_i64, seq)
        out = (c_i64 * max(n, 1))()
        check(lib().kaldro_cascade_chiral_flip_i64(arr, n, out), "kaldro_cascade_chiral_flip_i64")
        return list(out[:n])
    arr, n = float_array(seq)
    out = (c_d * max(n, 1))()
    check(lib().kaldro_cascade_chiral_flip_f64(arr, n, out), "kaldro_cascade_chiral_flip_f64")
    return maybe_numpy(list(out[:n]), values)


class _Operator:
    # Wraps a Python callable as a C operator; exceptions and wrong lengths become
    # KALDRO_ERR_INVALID for the library and are kept for the wrapper to re-raise.
    def __init__(self, fn):
        self.fn = fn
        self.errors = []
        self.c = _OPERATOR(self._call)

    def _call(self, inp, n, out, ctx):
        try:
            result = list(self.fn([inp[i] for i in range(n)]))
            if len(result) != n:
                raise ValueError("the operator returned %d values for %d" % (len(result), n))
            for i, v in enumerate(result):
                out[i] = float(v)
            return _lib.OK
        except BaseException as exc:  # never let an exception cross into C
            self.errors.append(exc)
            return _lib.ERR_INVALID

    def reraise(self):
        if self.errors:
            raise self.errors[0]


def chiral_dual(op, values):
    """reverse(op(reverse(values))) for a Python operator `op` on lists of floats."""
    arr, n = float_array(values)
    out = (c_d * max(n, 1))()
    scratch = (c_d * max(n, 1))()
    wrapped = _Operator(op)
    status = lib().kaldro_cascade_chiral_dual_f64(wrapped.c, None, arr, n, out, scratch)
    wrapped.reraise()
    check(status, "kaldro_cascade_chiral_dual_f64")
    return maybe_numpy(list(out[:n]), values)


def sector_dispatch(op, values, sectors=4):
    """Apply `op` in `sectors` (1 to 4) symmetry sectors, one thread each: sector k
    gives S_k(op(S_k(values))) with S_0 the identity, S_1 negation, S_2 reversal and
    S_3 both. Returns one list per sector. `op` must be safe to call from several
    threads at once."""
    arr, n = float_array(values)
    k = check_int(sectors, 0, _lib.U32_MAX, "sectors")
    cap = max(4, k) * n
    out = (c_d * max(cap, 1))()
    scratch = (c_d * max(cap, 1))()
    wrapped = _Operator(op)
    status = lib().kaldro_cascade_parallel_sector_dispatch(wrapped.c, None, arr, n, k, out,
                                                           scratch, cap)
    wrapped.reraise()
    check(status, "kaldro_cascade_parallel_sector_dispatch")
    return [maybe_numpy(list(out[s * n:(s + 1) * n]), values) for s in range(k)]


def pin_slot_at_zero(x):
    """Split x into (sign, magnitude): sign +1 or -1, and 0 for zero and NaN."""
    sign, mag = c_i8(0), c_d(0.0)
    check(lib().kaldro_cascade_pin_slot_at_zero_f64(float(x), ctypes.byref(sign),
                                                    ctypes.byref(mag)),
          "kaldro_cascade_pin_slot_at_zero_f64")
    return sign.value, mag.value


def magnitude(x):
    """|x|; zero of either sign and NaN give +0.0."""
    out = c_d(0.0)
    check(lib().kaldro_cascade_magnitude_f64(float(x), ctypes.byref(out)),
          "kaldro_cascade_magnitude_f64")
    return out.value


def reorient(orientation, value):
    """`value` negated when `orientation` is negative; ints are taken as signed 64-bit
    (two's complement, so -2^63 stays -2^63), floats as doubles."""
    o = check_int(orientation, _lib.I32_MIN, _lib.I32_MAX, "orientation")
    if isinstance(value, int) and not isinstance(value, bool):
        out = c_i64(0)
        check(lib().kaldro_cascade_reorient_i64(o, check_int(value, _lib.I64_MIN, _lib.I64_MAX,
                                                             "value"), ctypes.byref(out)),
              "kaldro_cascade_reorient_i64")
        return out.value
    out = c_d(0.0)
    check(lib().kaldro_cascade_reorient_f64(o, float(value), ctypes.byref(out)),
          "kaldro_cascade_reorient_f64")
    return out.value


def net_chirality(signs):
    """The sign (+1, -1 or 0) of the product of small signed ints."""
    raw = bytes(check_int(s, -128, 127, "sign") & 0xFF for s in signs)
    out = c_i8(0)
    check(lib().kaldro_cascade_net_chirality_i8(raw if raw else None, len(raw),
                                                ctypes.byref(out)),
          "kaldro_cascade_net_chirality_i8")
    return out.value


def cyclic_gcd(a, b):
    """gcd(a, b) of unsigned 64-bit ints."""
    out = c_u64(0)
    check(lib().kaldro_cascade_cyclic_gcd_u64(check_int(a, 0, _lib.U64_MAX, "a"),
                                              check_int(b, 0, _lib.U64_MAX, "b"),
                                              ctypes.byref(out)), "kaldro_cascade_cyclic_gcd_u64")
    return out.value


def best_rational_signed(x, max_den, scale=10**9):
    """A Fraction approximating the float x: the last convergent of round(|x| scale) /
    scale with a denominator of at most max_den, with the sign of x."""
    num, den = c_i64(0), c_u64(1)
    check(lib().kaldro_cascade_best_rational_signed_f64(
        check_int(max_den, _lib.I64_MIN, _lib.I64_MAX, "max_den"),
        check_int(scale, _lib.I64_MIN, _lib.I64_MAX, "scale"), ctypes.byref(num),
        ctypes.byref(den), float(x)), "kaldro_cascade_best_rational_signed_f64")
    return Fraction(num.value, den.value)


def kuramoto_step(theta, omega, K, dt, W=None, drive=None, gain=None, alpha=0.0):
    """One Euler step of n coupled phase oscillators; returns the new phases.
    Without W, drive, gain and alpha this is the all-to-all step with coupling K / n;
    otherwise the general step with phase lag alpha, coupling matrix W (n x n, row i the
    weights on oscillator i, scaled by K) and drives with optional gains."""
    th, n = float_array(theta)
    om, m = float_array(omega)
    if m != n:
        raise ValueError("theta and omega must have the same length")
    out = (c_d * max(n, 1))()
    if W is None and drive is None and gain is None and alpha == 0.0:
        check(lib().kaldro_cascade_kuramoto_step_f64(th, om, n, out, float(K), float(dt)),
              "kaldro_cascade_kuramoto_step_f64")
        return maybe_numpy(list(out[:n]), theta)

    def opt(v, count, what):
        if v is None:
            return None
        arr, k = float_array(v)
        if k != count:
            raise ValueError("%s must hold %d values" % (what, count))
        return arr
    check(lib().kaldro_cascade_kuramoto_step_general_f64(
        th, om, n, opt(W, n * n, "W"), opt(drive, n, "drive"), opt(gain, n, "gain"), out,
        float(K), float(alpha), float(dt)), "kaldro_cascade_kuramoto_step_general_f64")
    return maybe_numpy(list(out[:n]), theta)


def kuramoto_run(theta, omega, K, dt, steps, **general):
    """`steps` Kuramoto steps from `theta`; returns the final phases (see
    kuramoto_step() for the keyword arguments)."""
    for _ in range(int(steps)):
        theta = kuramoto_step(theta, omega, K, dt, **general)
    return theta
