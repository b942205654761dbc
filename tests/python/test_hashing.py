"""SHA-256, byte search, dispatch matching and the Hamming code through the bindings,
checked against hashlib, bytes.find and a Hamming encoder written from the rules."""
import array
import ctypes
import hashlib
import os
import random
import unittest

from kaldro_testing import kaldro, lib, Guarded


def hamming_reference(data, r):
    n = (1 << r) - 1
    word = [0] * (n + 1)
    bits = iter(data)
    for pos in range(1, n + 1):
        if pos & (pos - 1):
            word[pos] = next(bits)
    for j in range(r):
        p = 1 << j
        word[p] = 0
        for pos in range(1, n + 1):
            if pos & p and pos != p:
                word[p] ^= word[pos]
    return bytes(word[1:])


class Sha256Test(unittest.TestCase):
    def messages(self):
        rng = random.Random(3)
        sizes = [0, 1, 3, 55, 56, 63, 64, 65, 119, 120, 127, 128, 1000, 4096 + 17]
        return [bytes(rng.randrange(256) for _ in range(n)) for n in sizes]

    def test_single_digests_agree_with_hashlib(self):
        for m in self.messages():
            self.assertEqual(kaldro.sha256_hex(m), hashlib.sha256(m).hexdigest())
            self.assertEqual(kaldro.sha256(m), hashlib.sha256(m).digest())
        self.assertEqual(kaldro.sha256_hex("é"), hashlib.sha256("é".encode()).hexdigest())
        self.assertEqual(kaldro.sha256(bytearray(b"abc")), hashlib.sha256(b"abc").digest())
        self.assertEqual(kaldro.sha256_hex(memoryview(b"xabcx")[1:4]),
                         hashlib.sha256(b"abc").hexdigest())
        self.assertEqual(kaldro.sha256_hex(array.array("I", [1, 2])),
                         hashlib.sha256(array.array("I", [1, 2]).tobytes()).hexdigest())

    def test_batch_agrees_with_hashlib(self):
        msgs = self.messages()
        # Every batch size exercises the two-, four- and eight-lane groups and their tails.
        for n in range(0, 19):
            batch = (msgs * 2)[:n]
            self.assertEqual(kaldro.sha256_batch(batch),
                             [hashlib.sha256(m).digest() for m in batch])

    def test_hex_writes_exactly_65_bytes(self):
        g = Guarded(65)
        self.assertEqual(lib().kaldro_sha256_hex(b"abc", 3, ctypes.cast(g.ptr, ctypes.c_char_p)), 0)
        self.assertEqual(g.body(), hashlib.sha256(b"abc").hexdigest().encode() + b"\0")
        self.assertTrue(g.guard_intact())

    def test_null_checks(self):
        self.assertEqual(lib().kaldro_sha256_hex(None, 1, ctypes.create_string_buffer(65)),
                         kaldro.ERR_NULL)
        self.assertEqual(lib().kaldro_sha256_hex(b"", 0, None), kaldro.ERR_NULL)
        self.assertEqual(lib().kaldro_sha256_batch(None, None, 0, None), 0)
        g = Guarded(64)
        datas = (ctypes.c_void_p * 2)(ctypes.cast(ctypes.c_char_p(b"a"), ctypes.c_void_p), None)
        lens = (ctypes.c_size_t * 2)(1, 1)
        self.assertEqual(lib().kaldro_sha256_batch(datas, lens, 2, g.ptr), kaldro.ERR_NULL)
        self.assertTrue(g.untouched())


class SearchTest(unittest.TestCase):
    def test_search_agrees_with_bytes_find(self):
        rng = random.Random(5)
        for _ in range(300):
            hay = bytes(rng.choice(b"abc") for _ in range(rng.randrange(0, 80)))
            needle = bytes(rng.choice(b"abc") for _ in range(rng.randrange(0, 5)))
            self.assertEqual(kaldro.byte_search(hay, needle), hay.find(needle))
            self.assertEqual(kaldro.byte_search_backward(hay, needle), hay.rfind(needle))

    def test_dispatch_first_pattern_wins(self):
        table = [(b"zzz", 1), (b"lo", 2), (b"he", 3)]
        self.assertEqual(kaldro.dispatch_match(b"hello", table), 2)
        self.assertIsNone(kaldro.dispatch_match(b"hello", [(b"xy", 9)]))
        self.assertEqual(kaldro.dispatch_match(b"", [(b"", -4)]), -4)
        self.assertIsNone(kaldro.dispatch_match(b"abc", []))


class HammingTest(unittest.TestCase):
    def test_round_trip_and_correction(self):
        rng = random.Random(9)
        for r in (2, 3, 4, 5, 8, 10):
            n = (1 << r) - 1
            k = n - r
            data = bytes(rng.randrange(2) for _ in range(k))
            code = kaldro.hamming_encode(data, r)
            self.assertEqual(code, hamming_reference(data, r))
            self.assertEqual(kaldro.hamming_syndrome(code), 0)
            for pos in rng.sample(range(1, n + 1), min(n, 6)):
                bad = bytearray(code)
                bad[pos - 1] ^= 1
                self.assertEqual(kaldro.hamming_syndrome(bad), pos)
                fixed, s = kaldro.hamming_decode(bytes(bad))
                self.assertEqual((fixed, s), (data, pos))
        self.assertEqual(kaldro.hamming_encode([1, 0, 1, 1], 3), hamming_reference([1, 0, 1, 1], 3))

    def test_invalid_inputs(self):
        with self.assertRaises(kaldro.KaldroInvalidError) as cm:
            kaldro.hamming_encode(b"\0\1\0", 3)
        self.assertEqual(cm.exception.operation, "kaldro_hamming_encode")
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.hamming_encode(b"\0\1\2\0", 3)
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.hamming_syndrome(b"\0" * 8)
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.hamming_decode(b"\0" * 6 + b"\2")
        g = Guarded(4)
        s = ctypes.c_int32(-5)
        self.assertEqual(lib().kaldro_hamming_decode_correct(b"\0\0\0\0\0\0\2", 7, g.ptr,
                                                            ctypes.byref(s)),
                         kaldro.ERR_INVALID)
        self.assertTrue(g.untouched())
        self.assertEqual(s.value, -5)


if __name__ == "__main__":
    unittest.main()
