"""JSON, TOML, configuration, NDJSON, templates, catalogs and TLV records through the
bindings, checked against the standard library's json and tomllib."""
import ctypes
import json
import math
import os
import random
import struct
import tempfile
import tomllib
import unittest

from kaldro_testing import kaldro, lib, Guarded


def reference_canonical(value):
    # The canonical layout written from the rules: sorted keys, fixed separators,
    # %lld integers and %.17g doubles with ".0" for integral texts.
    if value is None:
        return "null"
    if value is True:
        return "true"
    if value is False:
        return "false"
    if isinstance(value, int):
        return "%d" % value
    if isinstance(value, float):
        t = "%.17g" % value
        if not any(c in t for c in ".eEin"):
            t += ".0"
        return t
    if isinstance(value, str):
        return json.dumps(value, ensure_ascii=False)
    if isinstance(value, list):
        return "[" + ", ".join(reference_canonical(v) for v in value) + "]"
    if isinstance(value, dict):
        keys = sorted(value, key=lambda k: k.encode("utf-8"))
        return "{" + ", ".join(json.dumps(k, ensure_ascii=False) + ": " +
                               reference_canonical(value[k]) for k in keys) + "}"
    raise TypeError(type(value))


def random_value(rng, depth=0):
    pick = rng.randrange(9 if depth < 4 else 6)
    if pick == 0:
        return None
    if pick == 1:
        return rng.random() < 0.5
    if pick == 2:
        return rng.randrange(-2**63, 2**63)
    if pick == 3:
        return rng.choice([0.5, -0.0, 1e300, 1e-7, 3.0, rng.uniform(-1e6, 1e6)])
    if pick in (4, 5):
        alphabet = "ab\"\\\n\t\x01\x1f/é€😀 z"
        return "".join(rng.choice(alphabet) for _ in range(rng.randrange(8)))
    if pick in (6, 7):
        return [random_value(rng, depth + 1) for _ in range(rng.randrange(5))]
    return {"".join(rng.choice("abcK_é") for _ in range(rng.randrange(1, 5))):
            random_value(rng, depth + 1) for _ in range(rng.randrange(5))}


class JsonTest(unittest.TestCase):
    def test_parse_agrees_with_json_module(self):
        rng = random.Random(7)
        for _ in range(200):
            value = random_value(rng)
            text = json.dumps(value, ensure_ascii=rng.random() < 0.5,
                              indent=rng.choice([None, 2]))
            self.assertEqual(kaldro.json_parse(text), json.loads(text))
            self.assertEqual(kaldro.json_parse(text.encode()), json.loads(text))

    def test_canonical_agrees_with_reference(self):
        rng = random.Random(11)
        for _ in range(200):
            value = random_value(rng)
            text = json.dumps(value, indent=1)
            expected = reference_canonical(json.loads(text))
            self.assertEqual(kaldro.json_canonical(text), expected)
            self.assertEqual(kaldro.json_dumps(value), expected)
            # Canonical text is a fixed point and still valid JSON.
            self.assertEqual(kaldro.json_canonical(expected), expected)
            self.assertEqual(json.loads(expected), json.loads(text))

    def test_canonical_edge_cases(self):
        self.assertEqual(kaldro.json_canonical('{"b":1,"a":2,"ab":3}'),
                         '{"a": 2, "ab": 3, "b": 1}')
        self.assertEqual(kaldro.json_canonical('{"k":1,"k":2}'), '{"k": 1, "k": 2}')
        self.assertEqual(kaldro.json_canonical("[3.0,-0.5,-0.0,1e300,1e-7,100.0,100]"),
                         "[3.0, -0.5, -0.0, 1.0000000000000001e+300, "
                         "9.9999999999999995e-08, 100.0, 100]")
        self.assertEqual(kaldro.json_canonical_bytes(b'"A\\n\\"\x7f\xc3\xa9\\u001f"'),
                         b'"A\\n\\"\x7f\xc3\xa9\\u001f"')
        self.assertEqual(kaldro.json_dumps(float("inf")), "inf")
        self.assertEqual(kaldro.json_dumps({}), "{}")
        self.assertEqual(kaldro.json_dumps([]), "[]")

    def test_large_document(self):
        value = {"k%05d" % i: [i, str(i), {"x": i / 7}] for i in range(3000)}
        text = json.dumps(value)
        self.assertEqual(kaldro.json_parse(text), value)
        self.assertEqual(kaldro.json_canonical(text), reference_canonical(value))

    def test_errors_carry_status(self):
        for bad in ("[1,", "{\"a\" 1}", "tru", "", "[1] x"):
            with self.assertRaises(kaldro.KaldroInvalidError) as cm:
                kaldro.json_parse(bad)
            self.assertEqual(cm.exception.status, kaldro.ERR_INVALID)
            self.assertEqual(cm.exception.operation, "kaldro_json_parse")
        with self.assertRaises(kaldro.KaldroCapacityError) as cm:
            kaldro.json_parse("[" * 65 + "]" * 65)
        self.assertEqual(cm.exception.status, kaldro.ERR_CAPACITY)
        deepest = []
        for _ in range(63):
            deepest = [deepest]
        self.assertEqual(kaldro.json_parse("[" * 64 + "]" * 64), deepest)
        with self.assertRaises(kaldro.KaldroCapacityError):
            kaldro.json_parse("1" * 63)
        # Integer tokens saturate as strtoll does.
        self.assertEqual(kaldro.json_parse("1" * 62), 2**63 - 1)
        self.assertEqual(kaldro.json_parse("-" + "9" * 30), -2**63)
        with self.assertRaises(OverflowError):
            kaldro.json_dumps(2**63)
        too_deep = []
        for _ in range(66):
            too_deep = [too_deep]
        with self.assertRaises(kaldro.KaldroCapacityError):
            kaldro.json_dumps(too_deep)
        self.assertTrue(issubclass(kaldro.KaldroInvalidError, kaldro.KaldroError))

    def test_writer_never_writes_past_capacity(self):
        # Drive the C writer directly with guarded buffers of every size.
        text = b'{"b": [1, 2], "a": "x\\ny"}'
        from kaldro import text as T
        arena, root = T._json_parse_tree(text)
        need = ctypes.c_uint64(0)
        wsize = lib().kaldro_json_write_arena_bytes(root)
        ws = (ctypes.c_uint64 * (wsize // 8 + 1))()
        self.assertEqual(lib().kaldro_json_write_ws(root, None, 0, ctypes.byref(need), ws,
                                                    wsize), 0)
        full = kaldro.json_canonical(text).encode()
        self.assertEqual(need.value, len(full))
        for cap in range(len(full) + 2):
            g = Guarded(cap)
            got = ctypes.c_uint64(0)
            status = lib().kaldro_json_write_ws(root, g.ptr, cap, ctypes.byref(got), ws, wsize)
            self.assertTrue(g.guard_intact(), cap)
            self.assertEqual(got.value, len(full))
            if cap >= len(full):
                self.assertEqual(status, 0)
                self.assertEqual(g.body()[:len(full)], full)
            else:
                self.assertEqual(status, kaldro.ERR_CAPACITY)
                body = g.body()
                written = body.rstrip(b"\xa5") if b"\xa5" not in full else body
                self.assertTrue(full.startswith(written))


class TomlTest(unittest.TestCase):
    DOCS = [
        "",
        "a = 1\nb = -2\nc = 3.5\nd = true\ne = false\n",
        "title = \"T\\u00e9st \\\"q\\\"\"\npath = 'C:\\dir'\n",
        "[server]\nhost = \"h\"\nports = [80, 443]\n[server.tls]\non = true\n",
        "x.y.z = 1\nx.w = \"v\"\n",
        "[[item]]\nn = 1\n[[item]]\nn = 2\nsub = { a = 1, b = [1.5, 2.5] }\n",
        "m = \"\"\"\nline1\nline2\"\"\"\nl = '''raw\\n'''\n",
        "# comment\nk = 1 # trailing\nempty = []\nt = {}\n",
        "big = 9223372036854775807\nsmall = -9223372036854775808\nf = 1e308\n",
        "u = 1_000\nnested = [[1, 2], [\"a\"]]\n",
    ]

    def assertSameValues(self, got, want, doc):
        # Floats are read by decimal steps (times ten per exponent digit), so large
        # exponents may differ from the correctly rounded value in the last bits.
        if isinstance(want, float):
            self.assertIsInstance(got, float, doc)
            self.assertTrue(math.isclose(got, want, rel_tol=1e-15), (got, want, doc))
        elif isinstance(want, dict):
            self.assertEqual(list(got), list(want), doc)
            for k in want:
                self.assertSameValues(got[k], want[k], doc)
        elif isinstance(want, list):
            self.assertEqual(len(got), len(want), doc)
            for g, w in zip(got, want):
                self.assertSameValues(g, w, doc)
        else:
            self.assertEqual(type(got), type(want), doc)
            self.assertEqual(got, want, doc)

    def test_agrees_with_tomllib(self):
        for doc in self.DOCS:
            self.assertSameValues(kaldro.toml_parse(doc), tomllib.loads(doc), doc)

    def test_many_strings_fit_the_sized_arena(self):
        doc = "".join('k%d = "%s"\n' % (i, "v" * (i % 13)) for i in range(400))
        self.assertEqual(kaldro.toml_parse(doc), tomllib.loads(doc))

    def test_errors_carry_status(self):
        for bad in ("a = 1\na = 2\n", "a = 0x10\n", "a = \"open\n", "= 1\n", "a = nan\n"):
            with self.assertRaises(kaldro.KaldroInvalidError, msg=bad) as cm:
                kaldro.toml_parse(bad)
            self.assertEqual(cm.exception.status, kaldro.ERR_INVALID)
            self.assertEqual(cm.exception.operation, "kaldro_toml_parse")
        for bad in ("a = 9223372036854775808\n", "a = 1e309\n"):
            with self.assertRaises(kaldro.KaldroCapacityError, msg=bad):
                kaldro.toml_parse(bad)

    def test_small_arena_leaves_root_null(self):
        root = ctypes.c_void_p(1234)
        arena = (ctypes.c_uint64 * 8)()
        status = lib().kaldro_toml_parse(b"", 0, arena, 23,
                                         ctypes.cast(ctypes.byref(root),
                                                     lib().kaldro_toml_parse.argtypes[4]))
        self.assertEqual(status, kaldro.ERR_CAPACITY)
        self.assertIsNone(root.value)


class ConfigTest(unittest.TestCase):
    def tearDown(self):
        kaldro.config_reset_defaults()

    def test_load_text_and_file(self):
        self.assertEqual(kaldro.config_hermitian_max_nodes(), 2048)
        kaldro.config_load_toml("[hermitian]\nmax_nodes = 99\n")
        self.assertEqual(kaldro.config_hermitian_max_nodes(), 99)
        kaldro.config_load_toml("[hermitian]\nmax_nodes = 0\n")  # out of range: ignored
        self.assertEqual(kaldro.config_hermitian_max_nodes(), 99)
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.config_load_toml("[hermitian]\nmax_nodes = = 5\n")
        self.assertEqual(kaldro.config_hermitian_max_nodes(), 99)
        with tempfile.TemporaryDirectory() as d:
            path = os.path.join(d, "kaldro.toml")
            with open(path, "w") as f:
                f.write('# tuned\nname = "%s"\n[hermitian]\nmax_nodes = 4096\n' % ("x" * 500))
            kaldro.config_load_file(path)
            self.assertEqual(kaldro.config_hermitian_max_nodes(), 4096)
            with self.assertRaises(kaldro.KaldroIOError) as cm:
                kaldro.config_load_file(os.path.join(d, "missing.toml"))
            self.assertEqual(cm.exception.status, kaldro.ERR_IO)
        kaldro.config_reset_defaults()
        self.assertEqual(kaldro.config_hermitian_max_nodes(), 2048)


class NdjsonTest(unittest.TestCase):
    def write(self, data):
        fd, path = tempfile.mkstemp(suffix=".ndjson")
        with os.fdopen(fd, "wb") as f:
            f.write(data)
        self.addCleanup(os.unlink, path)
        return path

    def test_lines_and_numbers(self):
        path = self.write(b'a\n\nb\r\n\r\n{"x": 1}')
        self.assertEqual(list(kaldro.ndjson_lines(path)),
                         [(1, b"a"), (3, b"b"), (5, b'{"x": 1}')])
        self.assertEqual(list(kaldro.ndjson_lines(self.write(b""))), [])

    def test_many_lines_across_reads(self):
        records = [json.dumps({"i": i, "pad": "p" * (i % 300)}) for i in range(5000)]
        path = self.write(("\n".join(records) + "\n").encode())
        got = [(n, json.loads(line)) for n, line in kaldro.ndjson_lines(path)]
        self.assertEqual(got, [(i + 1, json.loads(r)) for i, r in enumerate(records)])

    def test_early_close_and_errors(self):
        path = self.write(b"".join(b"%d\n" % i for i in range(1000)))
        gen = kaldro.ndjson_lines(path)
        self.assertEqual(next(gen), (1, b"0"))
        self.assertEqual(next(gen), (2, b"1"))
        gen.close()
        for n, line in kaldro.ndjson_lines(path):
            if n == 10:
                break
        self.assertEqual(line, b"9")
        with self.assertRaises(kaldro.KaldroIOError) as cm:
            list(kaldro.ndjson_lines(path + ".missing"))
        self.assertEqual(cm.exception.operation, "kaldro_ndjson_iter")
        long_path = self.write(b"ok\n" + b"x" * (1048576 + 1) + b"\n")
        got = []
        with self.assertRaises(kaldro.KaldroCapacityError):
            for item in kaldro.ndjson_lines(long_path):
                got.append(item)
        self.assertEqual(got, [(1, b"ok")])


class TemplateTlvTest(unittest.TestCase):
    def test_catalog_and_template(self):
        cat = {"name": "Ada", "n": "1", "": "empty", "é": "e-acute"}
        for k, v in cat.items():
            self.assertEqual(kaldro.catalog_lookup(cat, k), v.encode())
        self.assertIsNone(kaldro.catalog_lookup(cat, "nam"))
        self.assertIsNone(kaldro.catalog_lookup({}, "x"))
        self.assertEqual(kaldro.template_render("Hi {name}, #{n}{}{é}}", cat),
                         b"Hi Ada, #1emptye-acute}")
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.template_render("{nope}", cat)
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.template_render("{name", cat)

    def test_template_capacity_keeps_guard(self):
        cat = kaldro.text._Catalog({"a": "xyz"})
        t = b"<{a}{a}>"
        for cap in range(9):
            g = Guarded(cap)
            out_len = ctypes.c_uint32(77)
            status = lib().kaldro_template_render(t, len(t), cat.key_pool, cat.key_offsets,
                                                  cat.key_lens, cat.value_pool,
                                                  cat.value_offsets, cat.value_lens,
                                                  cat.count, g.ptr, cap,
                                                  ctypes.byref(out_len))
            self.assertTrue(g.guard_intact(), cap)
            self.assertEqual(status, kaldro.ERR_CAPACITY if cap < 8 else 0)
            self.assertEqual(out_len.value, 0 if cap < 8 else 8)

    def test_tlv(self):
        for tag, value in ((7, b""), (0x1FF, b"abc"), (-1, bytes(range(256)) * 3)):
            rec = kaldro.tlv_pack(tag, value)
            self.assertEqual(rec, struct.pack(">BI", tag & 0xFF, len(value)) + value)
        self.assertEqual(kaldro.tlv_pack(1, memoryview(b"mv")), b"\x01\x00\x00\x00\x02mv")
        g = Guarded(6)
        out_len = ctypes.c_uint32(0)
        self.assertEqual(lib().kaldro_tlv_pack(1, b"abc", 3, g.ptr, 7, ctypes.byref(out_len)),
                         kaldro.ERR_CAPACITY)
        self.assertTrue(g.untouched())


if __name__ == "__main__":
    unittest.main()
