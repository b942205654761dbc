"""SHA-256 digests, byte search and dispatch matching, and the Hamming code, on bytes
and other buffer-protocol objects.
"""
import ctypes

from . import _lib
from ._lib import check, declare, lib, as_bytes, u8p, U32_MAX

c_void_p = ctypes.c_void_p
c_u64 = ctypes.c_uint64
c_u32 = ctypes.c_uint32
c_i32 = ctypes.c_int32
c_size = ctypes.c_size_t

declare("kaldro_sha256_hex", c_i32, c_void_p, c_size, ctypes.c_char_p)
declare("kaldro_sha256_batch", c_i32, ctypes.POINTER(c_void_p), ctypes.POINTER(c_size), c_size,
        c_void_p)
declare("kaldro_sha256_shani", c_i32, c_void_p, c_size, c_void_p)
declare("kaldro_byte_search", c_i32, c_void_p, c_u32, c_void_p, c_u32, ctypes.POINTER(c_i32))
declare("kaldro_byte_search_backward", c_i32, c_void_p, c_u32, c_void_p, c_u32,
        ctypes.POINTER(c_i32))
declare("kaldro_dispatch_match", c_i32, c_void_p, c_u32, c_void_p, ctypes.POINTER(c_u32),
        ctypes.POINTER(c_u32), ctypes.POINTER(c_i32), c_u32, u8p, ctypes.POINTER(c_i32))
declare("kaldro_hamming_encode", c_i32, c_void_p, c_u64, c_u32, c_void_p)
declare("kaldro_hamming_syndrome", c_i32, c_void_p, c_u64, ctypes.POINTER(c_i32))
declare("kaldro_hamming_decode_correct", c_i32, c_void_p, c_u64, c_void_p,
        ctypes.POINTER(c_i32))


def sha256_hex(data):
    """Return the SHA-256 digest of `data` (bytes-like or str, UTF-8) as 64 lowercase
    hexadecimal characters, computed by the library's portable path."""
    raw = as_bytes(data)
    buf, ptr = _lib.byte_pointer(raw)
    out = ctypes.create_string_buffer(65)
    check(lib().kaldro_sha256_hex(ptr, len(raw), out), "kaldro_sha256_hex")
    return out.raw[:64].decode("ascii")


def sha256(data):
    """Return the raw 32-byte SHA-256 digest of `data`, using the SHA extensions when
    the processor has them (KALDRO_SHANI_FORCE_TIER may force the portable path)."""
    raw = as_bytes(data)
    buf, ptr = _lib.byte_pointer(raw)
    out = ctypes.create_string_buffer(32)
    check(lib().kaldro_sha256_shani(ptr, len(raw), out), "kaldro_sha256_shani")
    return out.raw


def sha256_batch(messages):
    """Digest a sequence of independent messages in one call; returns a list of raw
    32-byte digests in the same order. The library picks the widest vector path the
    processor runs (KALDRO_SHA256_FORCE_TIER may force a lower one)."""
    raws = [as_bytes(m, "message") for m in messages]
    n = len(raws)
    if n == 0:
        return []
    keep = [ctypes.create_string_buffer(r, max(len(r), 1)) for r in raws]
    datas = (c_void_p * n)(*[ctypes.addressof(k) for k in keep])
    lens = (c_size * n)(*[len(r) for r in raws])
    out = ctypes.create_string_buffer(32 * n)
    check(lib().kaldro_sha256_batch(datas, lens, n, out), "kaldro_sha256_batch")
    return [out.raw[32 * i:32 * i + 32] for i in range(n)]


def _search(fn, name, hay, needle):
    h = as_bytes(hay, "hay")
    nd = as_bytes(needle, "needle")
    if len(h) > U32_MAX or len(nd) > U32_MAX:
        raise OverflowError("byte strings are limited to 4 GiB")
    hb, hp = _lib.byte_pointer(h)
    nb, np_ = _lib.byte_pointer(nd)
    index = c_i32(0)
    check(fn(hp, len(h), np_, len(nd), ctypes.byref(index)), name)
    return index.value


def byte_search(hay, needle):
    """Return the first position of `needle` in `hay`, or -1; an empty needle gives 0."""
    return _search(lib().kaldro_byte_search, "kaldro_byte_search", hay, needle)


def byte_search_backward(hay, needle):
    """Return the last position of `needle` in `hay`, or -1; an empty needle gives
    len(hay)."""
    return _search(lib().kaldro_byte_search_backward, "kaldro_byte_search_backward",
                   hay, needle)


def dispatch_match(hay, patterns):
    """Scan `patterns`, a sequence of (pattern, id) pairs, in order and return the id of
    the first pattern that occurs anywhere in `hay`, or None when none does (an empty
    pattern always matches)."""
    h = as_bytes(hay, "hay")
    pats = [(as_bytes(p, "pattern"), int(i)) for p, i in patterns]
    blob = b"".join(p for p, _ in pats)
    if len(h) > U32_MAX or len(blob) > U32_MAX:
        raise OverflowError("byte strings are limited to 4 GiB")
    n = len(pats)
    offsets = (c_u32 * max(n, 1))()
    lengths = (c_u32 * max(n, 1))()
    ids = (c_i32 * max(n, 1))()
    at = 0
    for k, (p, i) in enumerate(pats):
        offsets[k], lengths[k] = at, len(p)
        ids[k] = _lib.check_int(i, _lib.I32_MIN, _lib.I32_MAX, "pattern id")
        at += len(p)
    hb, hp = _lib.byte_pointer(h)
    bb, bp = _lib.byte_pointer(blob)
    found = ctypes.c_uint8(0)
    ident = c_i32(0)
    check(lib().kaldro_dispatch_match(hp, len(h), bp, offsets, lengths, ids, n,
                                      ctypes.byref(found), ctypes.byref(ident)),
          "kaldro_dispatch_match")
    return ident.value if found.value else None


def _bits(bits, what):
    raw = bytes(as_bytes(bits, what)) if not isinstance(bits, (list, tuple)) else bytes(
        int(b) & 0xFF if 0 <= int(b) <= 255 else 255 for b in bits)
    return raw


def hamming_encode(data, r):
    """Return the (2^r - 1)-bit codeword of the 2^r - r - 1 data bits in `data` (a
    sequence or bytes of 0/1 values, one bit per element), one bit per byte."""
    d = _bits(data, "data")
    if not 2 <= int(r) <= 16:
        raise _lib.error_for(_lib.ERR_INVALID, "kaldro_hamming_encode", "r outside 2..16")
    n = (1 << int(r)) - 1
    db, dp = _lib.byte_pointer(d)
    out = ctypes.create_string_buffer(n)
    check(lib().kaldro_hamming_encode(dp if dp is not None else out, len(d), int(r), out),
          "kaldro_hamming_encode")
    return out.raw


def hamming_syndrome(codeword):
    """Return the syndrome of a received codeword (one bit per byte): 0 when it is
    consistent, else the 1-based position of the single flipped bit."""
    c = _bits(codeword, "codeword")
    cb, cp = _lib.byte_pointer(c)
    s = c_i32(0)
    check(lib().kaldro_hamming_syndrome(cp if cp is not None else ctypes.c_char_p(b""),
                                        len(c), ctypes.byref(s)), "kaldro_hamming_syndrome")
    return s.value


def hamming_decode(codeword):
    """Correct at most one flipped bit of `codeword` and return (data_bits, syndrome),
    the data bits as bytes of 0/1 values."""
    c = _bits(codeword, "codeword")
    n = len(c)
    r = n.bit_length()
    if n < 3 or (1 << r) - 1 != n or r > 16:
        raise _lib.error_for(_lib.ERR_INVALID, "kaldro_hamming_decode_correct",
                             "length is not 2^r - 1 with r in 2..16")
    cb, cp = _lib.byte_pointer(c)
    out = ctypes.create_string_buffer(n - r)
    s = c_i32(0)
    check(lib().kaldro_hamming_decode_correct(cp, n, out, ctypes.byref(s)),
          "kaldro_hamming_decode_correct")
    return out.raw, s.value
