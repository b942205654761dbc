"""The library's own elementary and orbital functions (computed in Q61 fixed point, the
same bits on every platform), circular autocorrelation and the exact DFT.
"""
import ctypes

from . import _lib
from ._lib import check, declare, lib, float_array, int_array, maybe_numpy

c_i32 = ctypes.c_int32
c_u32 = ctypes.c_uint32
c_u64 = ctypes.c_uint64
c_d = ctypes.c_double
dp = ctypes.POINTER(c_d)

for _name in ("kaldro_exp", "kaldro_log", "kaldro_rational_sqrt", "kaldro_sin", "kaldro_cos",
              "kaldro_atan"):
    declare(_name, c_i32, dp, c_d)
declare("kaldro_atan2", c_i32, dp, c_d, c_d)
declare("kaldro_pin_slot", c_i32, dp, c_d, c_d, c_d)
declare("kaldro_kepler_solve", c_i32, c_u32, dp, c_d, c_d, c_d)
declare("kaldro_equation_of_centre", c_i32, c_u32, dp, c_d, c_d)
declare("kaldro_autocorrelation_f64", c_i32, dp, c_u64, dp)
declare("kaldro_exact_dft_i64", c_i32, c_u32, c_u32, _lib.i64p, _lib.i64p, _lib.i64p, _lib.i64p)


def _unary(name, x):
    out = c_d(0.0)
    check(getattr(lib(), name)(ctypes.byref(out), float(x)), name)
    return out.value


def exp(x):
    """e^x, within one ulp; +inf above 709.78, +0.0 below -745.2."""
    return _unary("kaldro_exp", x)


def log(x):
    """The natural logarithm; raises KaldroInvalidError for x <= 0."""
    return _unary("kaldro_log", x)


def sqrt(x):
    """The square root by an exact integer root (within one ulp, not always correctly
    rounded); raises KaldroInvalidError for x < 0."""
    return _unary("kaldro_rational_sqrt", x)


def sin(x):
    """Sine to about 2^-61 absolute; raises KaldroInvalidError for infinities and for
    |x| >= 2^55."""
    return _unary("kaldro_sin", x)


def cos(x):
    """Cosine to about 2^-61 absolute; raises KaldroInvalidError for infinities and for
    |x| >= 2^55."""
    return _unary("kaldro_cos", x)


def atan(x):
    """The arctangent in [-pi/2, pi/2]."""
    return _unary("kaldro_atan", x)


def atan2(y, x):
    """The angle of the point (x, y), y first, as math.atan2 takes them."""
    out = c_d(0.0)
    check(lib().kaldro_atan2(ctypes.byref(out), float(y), float(x)), "kaldro_atan2")
    return out.value


def pin_slot(theta, r, c):
    """The polar angle, seen from the origin, of the point c + r (cos theta, sin theta);
    raises KaldroInvalidError when r and c are both 0."""
    out = c_d(0.0)
    check(lib().kaldro_pin_slot(ctypes.byref(out), float(theta), float(r), float(c)),
          "kaldro_pin_slot")
    return out.value


def kepler_solve(mean_anomaly, eccentricity, tolerance=1e-15, max_iterations=64):
    """The eccentric anomaly E with M = E - e sin E, by Newton steps; raises
    KaldroInvalidError for e outside [0, 1) and KaldroCapacityError when the iterations
    run out."""
    out = c_d(0.0)
    check(lib().kaldro_kepler_solve(_lib.check_int(max_iterations, 0, _lib.U32_MAX,
                                                   "max_iterations"), ctypes.byref(out),
                                    float(mean_anomaly), float(eccentricity),
                                    float(tolerance)), "kaldro_kepler_solve")
    return out.value


def equation_of_centre(mean_anomaly, eccentricity, order=6):
    """True minus mean anomaly, the series in e truncated to `order` (1..6) terms."""
    out = c_d(0.0)
    check(lib().kaldro_equation_of_centre(_lib.check_int(order, 0, _lib.U32_MAX, "order"),
                                          ctypes.byref(out), float(mean_anomaly),
                                          float(eccentricity)), "kaldro_equation_of_centre")
    return out.value


def autocorrelation(x):
    """The circular autocorrelation out[i] = sum_j x[j] x[(i + j) mod n] of a sequence
    of floats; a list (or a numpy array when `x` is one)."""
    arr, n = float_array(x)
    out = (c_d * max(n, 1))()
    check(lib().kaldro_autocorrelation_f64(arr, n, out), "kaldro_autocorrelation_f64")
    return maybe_numpy(list(out[:n]), x)


def exact_dft(x, y, inverse=False):
    """The exact DFTs of the integer sequences x and y (length n = 2^k >= 2): returns
    (X, Y), each a list of n rows of n/2 integer coefficients, row i holding frequency
    i as sum_t c[i][t] w^t with w = exp(-2 pi i / n) (exponents negated by `inverse`)."""
    xa, n = int_array(ctypes.c_int64, x)
    ya, m = int_array(ctypes.c_int64, y)
    if n != m:
        raise ValueError("x and y must have the same length")
    if n < 2 or n & (n - 1) or n > _lib.U32_MAX:
        raise _lib.error_for(_lib.ERR_INVALID, "kaldro_exact_dft_i64",
                             "n must be a power of two >= 2")
    half = n // 2
    xo = (ctypes.c_int64 * (n * half))()
    yo = (ctypes.c_int64 * (n * half))()
    check(lib().kaldro_exact_dft_i64(n, 1 if inverse else 0, xa, ya, xo, yo),
          "kaldro_exact_dft_i64")
    return ([list(xo[i * half:(i + 1) * half]) for i in range(n)],
            [list(yo[i * half:(i + 1) * half]) for i in range(n)])
