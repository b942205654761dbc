"""Loading of the shared library, status exceptions and buffer helpers.

Every wrapper in the package goes through `lib()` for the loaded library and through
`check()` to turn a status code into the matching exception.
"""
import ctypes
import ctypes.util
import os

OK = 0
ERR_NULL = 1
ERR_INVALID = 2
ERR_IO = 3
ERR_CAPACITY = 4
ERR_RESOURCE = 6

_STATUS_NAMES = {
    ERR_NULL: "KALDRO_ERR_NULL",
    ERR_INVALID: "KALDRO_ERR_INVALID",
    ERR_IO: "KALDRO_ERR_IO",
    ERR_CAPACITY: "KALDRO_ERR_CAPACITY",
    ERR_RESOURCE: "KALDRO_ERR_RESOURCE",
}


class KaldroError(Exception):
    """A call into libkaldro returned a status other than KALDRO_OK.

    `status` is the numeric status code and `operation` the name of the C function
    (or wrapper) that reported it.
    """

    def __init__(self, status, operation, detail=None):
        self.status = status
        self.operation = operation
        name = _STATUS_NAMES.get(status, "status %d" % status)
        text = "%s failed with %s" % (operation, name)
        if detail:
            text += ": " + detail
        super().__init__(text)


class KaldroNullError(KaldroError):
    """KALDRO_ERR_NULL: a required pointer was null."""


class KaldroInvalidError(KaldroError, ValueError):
    """KALDRO_ERR_INVALID: a value outside its domain, or malformed input."""


class KaldroIOError(KaldroError, OSError):
    """KALDRO_ERR_IO: a file, directory, stream or socket operation failed."""

    def __init__(self, status, operation, detail=None):
        KaldroError.__init__(self, status, operation, detail)


class KaldroCapacityError(KaldroError):
    """KALDRO_ERR_CAPACITY: a buffer, table or workspace too small, or a 64-bit overflow."""


class KaldroResourceError(KaldroError, MemoryError):
    """KALDRO_ERR_RESOURCE: heap memory or a thread was refused by the system."""


_ERROR_CLASSES = {
    ERR_NULL: KaldroNullError,
    ERR_INVALID: KaldroInvalidError,
    ERR_IO: KaldroIOError,
    ERR_CAPACITY: KaldroCapacityError,
    ERR_RESOURCE: KaldroResourceError,
}


def error_for(status, operation, detail=None):
    """Return the exception object for a non-zero `status` reported by `operation`."""
    cls = _ERROR_CLASSES.get(status, KaldroError)
    return cls(status, operation, detail)


def check(status, operation, detail=None):
    """Raise the exception for `status` unless it is KALDRO_OK."""
    if status != OK:
        raise error_for(status, operation, detail)


_here = os.path.dirname(os.path.abspath(__file__))
_library = None


def _candidates():
    env = os.environ.get("KALDRO_LIBRARY")
    if env:
        yield env
        return
    for name in ("libkaldro.so", "libkaldro.so.3", "libkaldro.dylib"):
        path = os.path.join(_here, name)
        if os.path.exists(path):
            yield path
    found = ctypes.util.find_library("kaldro")
    if found:
        yield found
    yield "libkaldro.so.3"
    yield "libkaldro.so"


def lib():
    """Return the loaded libkaldro, loading it on first use.

    The library is taken from the environment variable KALDRO_LIBRARY when it is set,
    else from a copy next to this package, else from the system's library path.
    """
    global _library
    if _library is not None:
        return _library
    errors = []
    for path in _candidates():
        try:
            handle = ctypes.CDLL(path)
        except OSError as exc:
            errors.append("%s: %s" % (path, exc))
            continue
        _declare(handle)
        _library = handle
        return handle
    raise OSError("libkaldro could not be loaded (" + "; ".join(errors) + ")")


# Declarations: each family module registers (name, restype, argtypes) here, and they
# are applied once the library is loaded. Functions missing from an older library are
# left undeclared; calling their wrappers then raises AttributeError.
_declarations = []


def declare(name, restype, *argtypes):
    """Register the C prototype of the exported function `name`."""
    _declarations.append((name, restype, argtypes))
    if _library is not None:
        _apply(_library, name, restype, argtypes)


def _apply(handle, name, restype, argtypes):
    try:
        fn = getattr(handle, name)
    except AttributeError:
        return
    fn.restype = restype
    fn.argtypes = list(argtypes)


def _declare(handle):
    for name, restype, argtypes in _declarations:
        _apply(handle, name, restype, argtypes)


def has(name):
    """True when the loaded library exports the function `name`."""
    return hasattr(lib(), name)


# Buffer helpers -------------------------------------------------------------------

u8p = ctypes.POINTER(ctypes.c_uint8)
i8p = ctypes.POINTER(ctypes.c_int8)
f64p = ctypes.POINTER(ctypes.c_double)
u32p = ctypes.POINTER(ctypes.c_uint32)
i32p = ctypes.POINTER(ctypes.c_int32)
u64p = ctypes.POINTER(ctypes.c_uint64)
i64p = ctypes.POINTER(ctypes.c_int64)


def as_bytes(data, what="data"):
    """Return `data` as bytes: bytes, bytearray, memoryview and any object with the
    buffer protocol are accepted (read in C order), str is encoded as UTF-8."""
    if isinstance(data, bytes):
        return data
    if isinstance(data, str):
        return data.encode("utf-8")
    try:
        return memoryview(data).tobytes()
    except TypeError:
        raise TypeError("%s must be bytes-like or str, not %s" % (what, type(data).__name__))


def byte_pointer(data):
    """A (keeper, pointer) pair for reading the bytes `data` in C; keep `keeper` alive."""
    buf = ctypes.create_string_buffer(data, len(data)) if data else None
    return buf, (ctypes.cast(buf, u8p) if buf is not None else None)


def as_path(path):
    """Return a file system path as the NUL-terminated bytes the library expects."""
    raw = os.fsencode(path)
    if b"\0" in raw:
        raise ValueError("paths must not contain NUL bytes")
    return raw


def float_array(values, what="values"):
    """Copy a sequence of numbers (list, tuple, array.array, numpy array...) into a new
    ctypes array of doubles; returns (array, count)."""
    seq = _flatten(values)
    arr = (ctypes.c_double * max(len(seq), 1))()
    for i, v in enumerate(seq):
        arr[i] = float(v)
    return arr, len(seq)


def _flatten(values):
    # numpy arrays and other multi-dimensional buffers are read in C order.
    tolist = getattr(values, "tolist", None)
    if tolist is not None and not isinstance(values, (list, tuple)):
        values = tolist()
    out = []
    stack = [iter(values)]
    while stack:
        try:
            item = next(stack[-1])
        except StopIteration:
            stack.pop()
            continue
        if isinstance(item, (list, tuple)):
            stack.append(iter(item))
        else:
            out.append(item)
    return out


def int_array(ctype, values):
    """Copy a sequence of integers into a new ctypes array of `ctype`; (array, count).
    Values that do not fit the C type raise OverflowError rather than wrapping."""
    seq = _flatten(values)
    bits = ctypes.sizeof(ctype) * 8
    signed = ctype(-1).value == -1
    lo, hi = (-(1 << (bits - 1)), (1 << (bits - 1)) - 1) if signed else (0, (1 << bits) - 1)
    arr = (ctype * max(len(seq), 1))()
    for i, v in enumerate(seq):
        v = int(v)
        if v < lo or v > hi:
            raise OverflowError("%d does not fit %s" % (v, ctype.__name__))
        arr[i] = v
    return arr, len(seq)


def check_int(value, lo, hi, what):
    """Return int(value), raising OverflowError when it lies outside [lo, hi]."""
    v = int(value)
    if v < lo or v > hi:
        raise OverflowError("%s = %d lies outside %d..%d" % (what, v, lo, hi))
    return v


U32_MAX = (1 << 32) - 1
U64_MAX = (1 << 64) - 1
I32_MIN, I32_MAX = -(1 << 31), (1 << 31) - 1
I64_MIN, I64_MAX = -(1 << 63), (1 << 63) - 1


def maybe_numpy(values, like):
    """Return the list `values` as a numpy float array when `like` is a numpy array,
    else unchanged; numpy is only imported when the caller already uses it."""
    mod = type(like).__module__
    if mod.startswith("numpy"):
        import numpy  # noqa: imported only when the caller passed a numpy array
        return numpy.array(values, dtype=float)
    return values
