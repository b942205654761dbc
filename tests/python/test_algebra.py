"""Hypervectors and octonions through the bindings, checked against Python-integer bit
arithmetic, element-wise models and the norm and inverse identities of the octonions."""
import array
import ctypes
import math
import random
import unittest

from kaldro_testing import kaldro, lib, Guarded

A = kaldro.algebra


def as_int(v):
    return int.from_bytes(v, "little")


class BinaryTest(unittest.TestCase):
    def test_against_integer_model(self):
        rng = random.Random(4)
        for n in (1, 3, 8, 33, 64):
            vs = [bytes(rng.randrange(256) for _ in range(n)) for _ in range(5)]
            a, b = vs[0], vs[1]
            self.assertEqual(A.hdc_bind(a, b), bytes(x ^ y for x, y in zip(a, b)))
            d = 8 * n
            for shift in (0, 1, 7, 9, -3, d, d + 5, -d - 1):
                s = shift % d
                x = as_int(a)
                rot = ((x << s) | (x >> (d - s))) & ((1 << d) - 1)
                self.assertEqual(A.hdc_permute(a, shift), rot.to_bytes(n, "little"), shift)
            h = bin(as_int(a) ^ as_int(b)).count("1")
            self.assertEqual(A.hdc_similarity(a, b), 1 - 2 * h / d)
            maj = 0
            for bit in range(d):
                if sum((as_int(v) >> bit) & 1 for v in vs) >= 3:
                    maj |= 1 << bit
            self.assertEqual(A.hdc_bundle(vs), maj.to_bytes(n, "little"))
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.hdc_bundle([b"ab", b"cd"])
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.hdc_bind(b"", b"")

    def test_outputs_stay_in_bounds(self):
        a = bytes(range(13))
        g = Guarded(13)
        self.assertEqual(lib().kaldro_hdc_permute(a, 13, 5, g.ptr), 0)
        self.assertTrue(g.guard_intact())
        g = Guarded(13)
        self.assertEqual(lib().kaldro_hdc_bind(a, a, 13, g.ptr), 0)
        self.assertEqual(g.body(), bytes(13))
        self.assertTrue(g.guard_intact())


class PolarKlein4Test(unittest.TestCase):
    def test_polar_against_model(self):
        rng = random.Random(6)
        vs = [[rng.choice((-1, 0, 1)) for _ in range(40)] for _ in range(4)]
        a, b = vs[0], vs[1]
        self.assertEqual(A.polar_bind(a, b), [x * y for x, y in zip(a, b)])
        sign = lambda s: (s > 0) - (s < 0)
        self.assertEqual(A.polar_bundle(vs), [sign(sum(c)) for c in zip(*vs)])
        self.assertEqual(A.polar_similarity(a, b), sum(x == y for x, y in zip(a, b)) / 40)
        both = [(x, y) for x, y in zip(a, b) if x and y]
        self.assertEqual(A.polar_similarity(a, b, skip_zero=True),
                         sum(x == y for x, y in both) / len(both))
        self.assertEqual(A.polar_density(a), sum(1 for x in a if x) / 40)
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.polar_bind([2, 0], [1, 1])

    def test_klein4_against_model(self):
        rng = random.Random(8)
        vs = [bytes(rng.randrange(4) for _ in range(30)) for _ in range(5)]
        a, b = vs[0], vs[1]
        self.assertEqual(A.klein4_bind(a, b), bytes(x ^ y for x, y in zip(a, b)))
        model = bytes(sum(1 << bit for bit in (0, 1)
                          if sum((v[i] >> bit) & 1 for v in vs) > len(vs) // 2)
                      for i in range(30))
        self.assertEqual(A.klein4_bundle(vs), model)
        acc = A.Klein4Accumulator(30)
        for v in vs:
            acc.add(v)
        self.assertEqual(acc.count, 5)
        self.assertEqual(acc.resolve(), model)
        self.assertEqual(A.klein4_similarity(a, b), sum(x == y for x, y in zip(a, b)) / 30)
        fwd = {0: 0, 1: 2, 2: 3, 3: 1}
        self.assertEqual(A.klein4_triality_cycle(a), bytes(fwd[x] for x in a))
        self.assertEqual(A.klein4_triality_cycle(A.klein4_triality_cycle(a), inverse=True), a)
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.klein4_bind(b"\x04", b"\x00")

    def test_cooccurrence_against_model(self):
        codebook = [b"\x01\x02\x03", b"\x00\x03\x01", b"\x02\x02\x00"]
        seq = [0, 1, 2, 1, 0, 0, 2]
        window = 2
        table = A.klein4_cooccurrence_fold(codebook, seq, window)
        want = [[0] * 7 for _ in codebook]
        for i, s in enumerate(seq):
            for j in range(max(0, i - window), min(len(seq), i + window + 1)):
                if j == i:
                    continue
                row = want[s]
                row[0] += 1
                for p, e in enumerate(codebook[seq[j]]):
                    row[1 + p] += e & 1
                    row[4 + p] += e >> 1
        self.assertEqual(table, want)


def oct_reference(a, b):
    # The product from the library's own basis table, summed term by term.
    out = [0.0] * 8
    for i in range(8):
        for j in range(8):
            sign, k = A.cd_basis_product(8, i, j)
            out[k] += sign * a[i] * b[j]
    return out


class OctonionTest(unittest.TestCase):
    def setUp(self):
        self.rng = random.Random(12)

    def rand(self):
        return [self.rng.uniform(-2, 2) for _ in range(8)]

    def close(self, x, y, tol=1e-12):
        self.assertEqual(len(x), len(y))
        for p, q in zip(x, y):
            self.assertLess(abs(p - q), tol * (1 + abs(q)), (x, y))

    def test_algebraic_identities(self):
        norm = lambda v: sum(c * c for c in v)
        one = [1.0] + [0.0] * 7
        for _ in range(50):
            a, b, c = self.rand(), self.rand(), self.rand()
            ab = A.oct_mul(a, b)
            self.assertEqual(A.oct_mul(array.array("d", a), tuple(b)), ab)
            self.close(ab, oct_reference(a, b))
            self.assertAlmostEqual(norm(ab), norm(a) * norm(b), delta=1e-10 * norm(ab) + 1e-12)
            self.close(A.oct_mul(a, A.oct_inv(a)), one)
            self.assertEqual(A.oct_conj(a), [a[0]] + [-x for x in a[1:]])
            # Alternative but not associative.
            self.close(A.oct_associator(a, a, b), [0.0] * 8, 1e-11)
            self.assertGreater(max(map(abs, A.oct_associator(a, b, c))), 1e-6)
            left, right = A.oct_left_matrix(a), A.oct_right_matrix(a)
            self.close([sum(left[r][k] * b[k] for k in range(8)) for r in range(8)], ab)
            self.close([sum(right[r][k] * b[k] for k in range(8)) for r in range(8)],
                       A.oct_mul(b, a))
            ia, ib = [0.0] + a[1:], [0.0] + b[1:]
            cross = A.cross7(ia, ib)
            self.assertEqual(cross[0], 0.0)
            self.assertAlmostEqual(sum(x * y for x, y in zip(cross, ia)), 0.0, places=11)
            bc = A.oct_mul(b, c)
            self.assertAlmostEqual(A.g2_three_form(a, b, c),
                                   sum(a[k] * bc[k] for k in range(1, 8)), places=11)
        self.assertEqual(A.cd_basis_product(8, 1, 1), (-1, 0))
        self.assertEqual(A.cd_basis_product(4, 0, 3), (1, 3))

    def test_batched_forms_match_single(self):
        xs = [self.rand() for _ in range(9)]
        ys = [self.rand() for _ in range(9)]
        flat = A.oct_mul_many(xs, ys)
        self.assertEqual(flat, [c for x, y in zip(xs, ys) for c in A.oct_mul(x, y)])
        self.assertEqual(A.oct_conj_many(xs), [c for x in xs for c in A.oct_conj(x)])
        self.assertEqual(A.oct_inv_many(xs), [c for x in xs for c in A.oct_inv(x)])
        units = []
        for x in xs:
            n = math.sqrt(sum(c * c for c in x))
            units.append([c / n for c in x])
        bound = A.oct_mul_many(units, ys)
        self.close(A.oct_unbind_many(units, bound), [c for y in ys for c in y], 1e-12)
        rbound = A.oct_mul_many(ys, units)
        self.close(A.oct_runbind_many(units, rbound), [c for y in ys for c in y], 1e-12)
        self.assertEqual(A.oct_mul_many([], []), [])

    def test_errors(self):
        with self.assertRaises(kaldro.KaldroInvalidError) as cm:
            A.oct_inv([0.0] * 8)
        self.assertEqual(cm.exception.operation, "kaldro_loop_inv_f64")
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.oct_inv_many([[1.0] + [0.0] * 7, [0.0] * 8])
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.oct_mul([1.0] * 7, [1.0] * 7)
        with self.assertRaises(kaldro.KaldroInvalidError):
            A.cd_basis_product(6, 0, 0)
        out = (ctypes.c_double * 9)(*([7.5] * 9))
        zero = (ctypes.c_double * 8)()
        self.assertEqual(lib().kaldro_loop_inv_f64(zero, 8, out), kaldro.ERR_INVALID)
        self.assertEqual(list(out), [7.5] * 9)
        self.assertEqual(lib().kaldro_loop_bind_f64(zero, zero, 8, out), 0)
        self.assertEqual(out[8], 7.5)


if __name__ == "__main__":
    unittest.main()
