"""JSON, TOML, the runtime configuration, NDJSON lines, templates, catalog lookup and
TLV records, in Python terms: texts in, Python values out.
"""
import ctypes
import queue
import struct
import threading

from . import _lib
from ._lib import (check, declare, lib, as_bytes, as_path, u8p, u32p, check_int,
                   U32_MAX, I32_MAX)

c_void_p = ctypes.c_void_p
c_u64 = ctypes.c_uint64
c_u32 = ctypes.c_uint32
c_i32 = ctypes.c_int32


class _Node(ctypes.Structure):
    # The shared 32-byte layout of JSON and TOML nodes: a kind, then three words.
    _fields_ = [("kind", ctypes.c_int32), ("_pad", ctypes.c_int32),
                ("w0", ctypes.c_uint64), ("w1", ctypes.c_uint64), ("w2", ctypes.c_uint64)]


_NodeP = ctypes.POINTER(_Node)


class _Builder(ctypes.Structure):
    _fields_ = [("base", c_void_p), ("size", c_u64), ("used", c_u64), ("failed", c_i32)]


declare("kaldro_json_parse", c_i32, c_void_p, c_u64, c_void_p, c_u64, ctypes.POINTER(_NodeP))
declare("kaldro_json_object_get", _NodeP, _NodeP, ctypes.c_char_p)
declare("kaldro_json_builder_init", c_i32, ctypes.POINTER(_Builder), c_void_p, c_u64)
declare("kaldro_json_new_null", _NodeP, ctypes.POINTER(_Builder))
declare("kaldro_json_new_bool", _NodeP, ctypes.POINTER(_Builder), c_i32)
declare("kaldro_json_new_int", _NodeP, ctypes.POINTER(_Builder), ctypes.c_int64)
declare("kaldro_json_new_double", _NodeP, ctypes.POINTER(_Builder), ctypes.c_double)
declare("kaldro_json_new_string", _NodeP, ctypes.POINTER(_Builder), c_void_p, c_u32)
declare("kaldro_json_new_array", _NodeP, ctypes.POINTER(_Builder), ctypes.POINTER(_NodeP), c_u32)
declare("kaldro_json_new_object", _NodeP, ctypes.POINTER(_Builder),
        ctypes.POINTER(ctypes.c_char_p), ctypes.POINTER(_NodeP), c_u32)
declare("kaldro_json_write_arena_bytes", c_u64, _NodeP)
declare("kaldro_json_write_ws", c_i32, _NodeP, c_void_p, c_u64, ctypes.POINTER(c_u64),
        c_void_p, c_u64)
declare("kaldro_toml_parse", c_i32, c_void_p, c_u64, c_void_p, c_u64, ctypes.POINTER(_NodeP))
declare("kaldro_config_hermitian_max_nodes", c_i32)
declare("kaldro_config_reset_defaults", None)
declare("kaldro_config_load_toml", c_i32, c_void_p, c_u64, c_void_p, c_u64)
declare("kaldro_config_load_file", c_i32, ctypes.c_char_p, c_void_p, c_u64)
_NDJSON_CB = ctypes.CFUNCTYPE(ctypes.c_int, ctypes.c_void_p, c_u64, c_u64, c_u64)
declare("kaldro_ndjson_iter", ctypes.c_int, ctypes.c_char_p, _NDJSON_CB, c_u64)
declare("kaldro_catalog_lookup", c_i32, c_void_p, c_u32, c_void_p, u32p, u32p, u32p, u32p,
        c_i32, u8p, u32p, u32p)
declare("kaldro_template_render", c_i32, c_void_p, c_u32, c_void_p, u32p, u32p, c_void_p,
        u32p, u32p, c_i32, c_void_p, c_u32, u32p)
declare("kaldro_tlv_pack", c_i32, ctypes.c_int, c_void_p, c_u32, c_void_p, c_u32, u32p)


def _arena(nbytes):
    # ctypes arrays of 64-bit words are 8-byte aligned, as the parsers prefer.
    return (ctypes.c_uint64 * ((nbytes + 7) // 8))()


def _signed(word):
    return word - (1 << 64) if word >= (1 << 63) else word


def _as_double(word):
    return struct.unpack("<d", struct.pack("<Q", word))[0]


def _text(data, encoding_errors="surrogateescape"):
    return data.decode("utf-8", encoding_errors)


# JSON ------------------------------------------------------------------------------

JSON_NULL, JSON_BOOL, JSON_INT, JSON_DOUBLE, JSON_STRING, JSON_ARRAY, JSON_OBJECT = range(7)


def _json_value(node, depth=0):
    kind = node.kind
    if kind == JSON_NULL:
        return None
    if kind == JSON_BOOL:
        return bool(node.w0 & 0xFFFFFFFF)
    if kind == JSON_INT:
        return _signed(node.w0)
    if kind == JSON_DOUBLE:
        return _as_double(node.w0)
    if kind == JSON_STRING:
        n = node.w1 & 0xFFFFFFFF
        return _text(ctypes.string_at(node.w0, n)) if n else ""
    if kind == JSON_ARRAY:
        n = node.w1 & 0xFFFFFFFF
        items = ctypes.cast(node.w0, ctypes.POINTER(c_void_p))
        return [_json_value(_Node.from_address(items[i]), depth + 1) for i in range(n)]
    if kind == JSON_OBJECT:
        n = node.w2 & 0xFFFFFFFF
        keys = ctypes.cast(node.w0, ctypes.POINTER(c_void_p))
        values = ctypes.cast(node.w1, ctypes.POINTER(c_void_p))
        out = {}
        for i in range(n):
            key = _text(ctypes.string_at(keys[i]))
            # Duplicate keys: the last one wins, as with the standard json module.
            out[key] = _json_value(_Node.from_address(values[i]), depth + 1)
        return out
    raise ValueError("unknown JSON node kind %d" % kind)


def _json_parse_tree(raw):
    # The parser has no sizing query; its arena use is bounded by the text: a node per
    # value start, string scratch up to the text's length per string and the container
    # lists. Start from a typical size and double up to that bound.
    n = len(raw)
    bound = 2560 + 64 + 400 * (n + 1)
    size = min(bound, 2560 + 256 + 96 * (n + 1))
    buf, ptr = _lib.byte_pointer(raw)
    root = _NodeP()
    while True:
        arena = _arena(size)
        status = lib().kaldro_json_parse(ptr, n, arena, size, ctypes.byref(root))
        if status == _lib.ERR_CAPACITY and size < bound:
            size = min(bound, size * 2)
            continue
        check(status, "kaldro_json_parse")
        return arena, root


def json_parse(text):
    """Parse JSON text (str or bytes) with the library's parser and return Python values:
    None, bool, int, float, str, list and dict (for duplicate keys the last one wins).

    Raises KaldroInvalidError for malformed text and KaldroCapacityError for a number
    token of 63 characters or more or more than 64 nested containers.
    """
    arena, root = _json_parse_tree(as_bytes(text, "text"))
    return _json_value(root.contents)


def _write_tree(root):
    size = lib().kaldro_json_write_arena_bytes(root)
    ws = _arena(max(size, 8))
    need = c_u64(0)
    check(lib().kaldro_json_write_ws(root, None, 0, ctypes.byref(need), ws, size),
          "kaldro_json_write_ws")
    out = ctypes.create_string_buffer(max(need.value, 1))
    got = c_u64(0)
    check(lib().kaldro_json_write_ws(root, out, need.value, ctypes.byref(got), ws, size),
          "kaldro_json_write_ws")
    return out.raw[:got.value]


def json_canonical(text):
    """Return the canonical form of a JSON text (str or bytes) as str: members sorted by
    key, ", " and ": " separators, integers as %lld, doubles as %.17g with ".0" added to
    integral values, no other white space. This is the text the genome store digests.
    """
    arena, root = _json_parse_tree(as_bytes(text, "text"))
    return _text(_write_tree(root))


def json_canonical_bytes(text):
    """As json_canonical(), but returns the canonical bytes (strings may hold any bytes)."""
    arena, root = _json_parse_tree(as_bytes(text, "text"))
    return _write_tree(root)


def _count_build(value, depth=0):
    # Bytes the builder needs for `value`: 32 per node, pointer arrays of 8 per entry
    # (8 when empty), each block starting at a multiple of 8.
    if depth > 64:
        raise _lib.error_for(_lib.ERR_CAPACITY, "json_dumps", "containers nest deeper than 64")
    if isinstance(value, (list, tuple)):
        return 32 + 8 * max(len(value), 1) + sum(_count_build(v, depth + 1) for v in value)
    if isinstance(value, dict):
        return (32 + 16 * max(len(value), 1) +
                sum(_count_build(v, depth + 1) for v in value.values()))
    return 32


def json_dumps(value):
    """Return the canonical JSON text (str) of a Python value built with the library's
    builder and writer. Accepts None, bool, int (64-bit), float, str, bytes, lists,
    tuples and dicts with str keys. NaN and infinities come out as nan/inf, as the
    writer spells them (not valid JSON).
    """
    keep = []
    size = _count_build(value) + 8
    arena = _arena(size)
    builder = _Builder()
    check(lib().kaldro_json_builder_init(ctypes.byref(builder), arena, size),
          "kaldro_json_builder_init")
    b = ctypes.byref(builder)
    L = lib()

    def build(v):
        if v is None:
            return L.kaldro_json_new_null(b)
        if v is True or v is False:
            return L.kaldro_json_new_bool(b, 1 if v else 0)
        if isinstance(v, int):
            return L.kaldro_json_new_int(b, check_int(v, _lib.I64_MIN, _lib.I64_MAX, "integer"))
        if isinstance(v, float):
            return L.kaldro_json_new_double(b, v)
        if isinstance(v, (str, bytes, bytearray, memoryview)):
            raw = as_bytes(v)
            if len(raw) > U32_MAX:
                raise OverflowError("string longer than 4 GiB")
            s = ctypes.create_string_buffer(raw, max(len(raw), 1))
            keep.append(s)
            return L.kaldro_json_new_string(b, s, len(raw))
        if isinstance(v, (list, tuple)):
            items = (_NodeP * max(len(v), 1))(*[build(x) for x in v])
            return L.kaldro_json_new_array(b, items, len(v))
        if isinstance(v, dict):
            keys = (ctypes.c_char_p * max(len(v), 1))()
            vals = (_NodeP * max(len(v), 1))()
            for i, (k, x) in enumerate(v.items()):
                if not isinstance(k, str):
                    raise TypeError("object keys must be str")
                kb = k.encode("utf-8", "surrogateescape")
                if b"\0" in kb:
                    raise ValueError("object keys must not contain NUL")
                keep.append(kb)
                keys[i] = kb
                vals[i] = build(x)
            return L.kaldro_json_new_object(b, keys, vals, len(v))
        raise TypeError("cannot write %s as JSON" % type(v).__name__)

    root = build(value)
    if builder.failed or not root:
        raise _lib.error_for(_lib.ERR_CAPACITY, "kaldro_json_new_*", "builder arena ran out")
    return _text(_write_tree(root))


# TOML -----------------------------------------------------------------------------

TOML_STRING, TOML_INT, TOML_FLOAT, TOML_BOOL, TOML_ARRAY, TOML_TABLE = range(6)


def _toml_value(node):
    kind = node.kind
    if kind == TOML_STRING:
        n = node.w1 & 0xFFFFFFFF
        return _text(ctypes.string_at(node.w0, n)) if n else ""
    if kind == TOML_INT:
        return _signed(node.w0)
    if kind == TOML_FLOAT:
        return _as_double(node.w0)
    if kind == TOML_BOOL:
        return bool(node.w0 & 0xFFFFFFFF)
    if kind == TOML_ARRAY:
        n = node.w1 & 0xFFFFFFFF
        if n == 0:
            return []
        items = ctypes.cast(node.w0, ctypes.POINTER(c_void_p))
        return [_toml_value(_Node.from_address(items[i])) for i in range(n)]
    if kind == TOML_TABLE:
        n = node.w2 & 0xFFFFFFFF
        out = {}
        if n == 0:
            return out
        keys = ctypes.cast(node.w0, ctypes.POINTER(c_void_p))
        values = ctypes.cast(node.w1, ctypes.POINTER(c_void_p))
        for i in range(n):
            out[_text(ctypes.string_at(keys[i]))] = _toml_value(_Node.from_address(values[i]))
        return out
    raise ValueError("unknown TOML node kind %d" % kind)


def toml_arena_bytes(raw):
    """An arena size sufficient for parsing the TOML bytes `raw`: every string reserves
    room to the end of the text (at most one string per quote character), and every
    other block is bounded by a fixed number of bytes per byte of text."""
    n = len(raw)
    quotes = raw.count(b'"') + raw.count(b"'")
    return 56 + 320 * (n + 1) + quotes * (n + 8)


def toml_parse(text):
    """Parse TOML text (str or bytes) with the library's reader and return the root
    table as a dict of Python values (str, int, float, bool, list, dict).

    Raises KaldroInvalidError for malformed text (duplicate keys, bad strings, numbers
    in other bases, dates...) and KaldroCapacityError for integers out of range, float
    exponents above 308 and nesting beyond the reader's limits.
    """
    raw = as_bytes(text, "text")
    size = toml_arena_bytes(raw)
    arena = _arena(size)
    buf, ptr = _lib.byte_pointer(raw)
    root = _NodeP()
    check(lib().kaldro_toml_parse(ptr, len(raw), arena, size, ctypes.byref(root)),
          "kaldro_toml_parse")
    return _toml_value(root.contents)


# Configuration ----------------------------------------------------------------------

def config_hermitian_max_nodes():
    """Return the current Hermitian node limit (2048 until changed)."""
    return lib().kaldro_config_hermitian_max_nodes()


def config_reset_defaults():
    """Set the Hermitian node limit back to 2048."""
    lib().kaldro_config_reset_defaults()


def config_load_toml(text):
    """Apply a TOML configuration text: [hermitian] max_nodes (an integer from 1 to
    2147483647) becomes the Hermitian node limit; a missing or unusable setting is
    ignored. Parse errors raise, and leave the limit unchanged."""
    raw = as_bytes(text, "text")
    size = toml_arena_bytes(raw)
    arena = _arena(size)
    buf, ptr = _lib.byte_pointer(raw)
    check(lib().kaldro_config_load_toml(ptr, len(raw), arena, size), "kaldro_config_load_toml")


def config_load_file(path):
    """Apply the TOML configuration file at `path` (see config_load_toml()).
    Raises KaldroIOError when the file cannot be read."""
    import os
    p = as_path(path)
    # Size the buffer from the file itself: its bytes go into the first half of the
    # buffer, the TOML arena takes the second half.
    try:
        with open(p, "rb") as f:
            data = f.read()
    except OSError:
        data = b""
    half = max(len(data) + 1, toml_arena_bytes(data))
    buf = _arena(2 * half)
    check(lib().kaldro_config_load_file(p, buf, 2 * half), "kaldro_config_load_file")


# NDJSON -----------------------------------------------------------------------------

def ndjson_lines(path):
    """Generate (line_number, line) pairs for every non-empty line of the file at
    `path`; `line` is bytes without its line end, and line numbers count every line
    feed from 1. The file is streamed by the library in 64 KiB reads; closing the
    generator early stops the iteration. Raises KaldroIOError when the file cannot be
    read and KaldroCapacityError for a line longer than 1 MiB (after the lines before
    it have been generated).
    """
    p = as_path(path)
    handoff = queue.Queue(maxsize=1)
    resume = threading.Semaphore(0)
    stop = []

    def on_line(ptr, length, line_no, user):
        try:
            handoff.put(("line", line_no, ctypes.string_at(ptr, length) if length else b""))
            resume.acquire()
            return 1 if stop else 0
        except BaseException:  # never let an exception cross into C
            stop.append(True)
            return 1

    callback = _NDJSON_CB(on_line)

    def run():
        status = lib().kaldro_ndjson_iter(p, callback, 0)
        handoff.put(("end", status, None))

    worker = threading.Thread(target=run, name="kaldro-ndjson", daemon=True)
    worker.start()
    try:
        while True:
            tag, number, line = handoff.get()
            if tag == "end":
                if not stop:
                    check(number, "kaldro_ndjson_iter")
                return
            yield number, line
            resume.release()
    finally:
        if worker.is_alive():
            stop.append(True)
            resume.release()
            # Drain until the iteration has ended so the callback can return.
            while True:
                tag, _, _ = handoff.get()
                if tag == "end":
                    break
                resume.release()
            worker.join()


# Catalogs, templates and TLV ----------------------------------------------------------

class _Catalog:
    # Columns of a catalog sorted by key, as the lookup and renderer take them.
    def __init__(self, mapping):
        items = sorted((as_bytes(k, "key"), as_bytes(v, "value")) for k, v in mapping.items())
        keys = b"".join(k for k, _ in items)
        values = b"".join(v for _, v in items)
        if len(items) > I32_MAX or len(keys) > U32_MAX or len(values) > U32_MAX:
            raise OverflowError("catalog too large")
        self.count = len(items)
        self.key_pool = ctypes.create_string_buffer(keys, max(len(keys), 1))
        self.value_pool = ctypes.create_string_buffer(values, max(len(values), 1))
        n = max(self.count, 1)
        self.key_offsets = (c_u32 * n)()
        self.key_lens = (c_u32 * n)()
        self.value_offsets = (c_u32 * n)()
        self.value_lens = (c_u32 * n)()
        ko = vo = 0
        for i, (k, v) in enumerate(items):
            self.key_offsets[i], self.key_lens[i] = ko, len(k)
            self.value_offsets[i], self.value_lens[i] = vo, len(v)
            ko += len(k)
            vo += len(v)
        self.values = values


def catalog_lookup(mapping, key):
    """Look `key` up with the library's bisection in a catalog built from `mapping`
    (keys and values str or bytes, sorted bytewise by the wrapper); return the value as
    bytes, or None when the key is absent."""
    cat = _Catalog(mapping)
    k = as_bytes(key, "key")
    kbuf, kptr = _lib.byte_pointer(k)
    found = ctypes.c_uint8(0)
    off = c_u32(0)
    ln = c_u32(0)
    check(lib().kaldro_catalog_lookup(kptr, len(k), cat.key_pool, cat.key_offsets,
                                      cat.key_lens, cat.value_offsets, cat.value_lens,
                                      cat.count, ctypes.byref(found), ctypes.byref(off),
                                      ctypes.byref(ln)), "kaldro_catalog_lookup")
    if not found.value:
        return None
    return cat.values[off.value:off.value + ln.value]


def template_render(template, mapping):
    """Render a template (str or bytes), replacing each {name} by mapping[name]; returns
    bytes. Raises KaldroInvalidError for an unclosed '{' or a name not in `mapping`."""
    cat = _Catalog(mapping)
    t = as_bytes(template, "template")
    if len(t) > U32_MAX:
        raise OverflowError("template longer than 4 GiB")
    tbuf, tptr = _lib.byte_pointer(t)
    # The output can be no longer than the template with every placeholder replaced by
    # the longest value.
    longest = max([cat.value_lens[i] for i in range(cat.count)] or [0])
    cap = min(U32_MAX, len(t) + t.count(b"{") * longest)
    out = ctypes.create_string_buffer(max(cap, 1))
    out_len = c_u32(0)
    check(lib().kaldro_template_render(tptr, len(t), cat.key_pool, cat.key_offsets,
                                       cat.key_lens, cat.value_pool, cat.value_offsets,
                                       cat.value_lens, cat.count, out, cap,
                                       ctypes.byref(out_len)), "kaldro_template_render")
    return out.raw[:out_len.value]


def tlv_pack(tag, value):
    """Return one TLV record as bytes: the low 8 bits of `tag`, the value's length as 4
    bytes big-endian, then the value (bytes-like or str)."""
    v = as_bytes(value, "value")
    if len(v) > U32_MAX - 5:
        raise OverflowError("value too long for a TLV record")
    vbuf, vptr = _lib.byte_pointer(v)
    out = ctypes.create_string_buffer(len(v) + 5)
    out_len = c_u32(0)
    check(lib().kaldro_tlv_pack(int(tag), vptr, len(v), out, len(v) + 5,
                                ctypes.byref(out_len)), "kaldro_tlv_pack")
    return out.raw[:out_len.value]
