"""Elementary and orbital functions, autocorrelation, the exact DFT and integer
arithmetic through the bindings, checked against math, cmath and fractions."""
import array
import cmath
import math
import random
import unittest

from kaldro_testing import kaldro

E = kaldro.elementary


def ulps(a, b):
    if a == b:
        return 0
    return abs(a - b) / math.ulp(max(abs(a), abs(b)))


class ElementaryTest(unittest.TestCase):
    def test_agree_with_math(self):
        rng = random.Random(1)
        for _ in range(400):
            x = rng.uniform(-700, 700)
            self.assertLessEqual(ulps(E.exp(x), math.exp(x)), 1, x)
            y = math.exp(rng.uniform(-700, 700))
            self.assertLessEqual(ulps(E.log(y), math.log(y)), 2, y)
            self.assertLessEqual(ulps(E.sqrt(y), math.sqrt(y)), 1, y)
            t = rng.uniform(-100, 100)
            self.assertLess(abs(E.sin(t) - math.sin(t)), 1e-15, t)
            self.assertLess(abs(E.cos(t) - math.cos(t)), 1e-15, t)
            self.assertLess(abs(E.atan(t) - math.atan(t)), 1e-15, t)
            u, v = rng.uniform(-5, 5), rng.uniform(-5, 5)
            self.assertLess(abs(E.atan2(u, v) - math.atan2(u, v)), 1e-15, (u, v))

    def test_documented_values(self):
        self.assertEqual(E.sqrt(2.0), 1.414213562373095)
        self.assertEqual(E.log(1.0000000001), 1.000000082740371e-10)
        self.assertEqual(E.exp(710.0), math.inf)
        self.assertEqual(E.exp(-746.0), 0.0)
        self.assertEqual(E.atan(1e-30), 0.0)
        self.assertEqual(E.atan2(1.0, 0.0), E.atan2(5.0, -0.0))

    def test_domain_errors(self):
        for fn, x in ((E.log, -1.0), (E.log, 0.0), (E.sqrt, -4.0), (E.sin, math.inf),
                      (E.cos, 2.0**55)):
            with self.assertRaises(kaldro.KaldroInvalidError) as cm:
                fn(x)
            self.assertEqual(cm.exception.status, kaldro.ERR_INVALID)
        with self.assertRaises(kaldro.KaldroInvalidError):
            E.pin_slot(1.0, 0.0, 0.0)
        with self.assertRaises(kaldro.KaldroInvalidError):
            E.kepler_solve(1.0, 1.0)
        with self.assertRaises(kaldro.KaldroCapacityError):
            E.kepler_solve(1.0, 0.9, tolerance=0.0, max_iterations=2)
        with self.assertRaises(kaldro.KaldroInvalidError):
            E.equation_of_centre(1.0, 0.1, order=7)

    def test_orbital(self):
        for m, e in ((0.5, 0.1), (2.0, 0.6), (-1.0, 0.3)):
            ecc = E.kepler_solve(m, e, tolerance=1e-14)
            self.assertAlmostEqual(ecc - e * math.sin(ecc), m, places=13)
            # The series as documented, term by term.
            coef = [(2, 1), (5, 4), (13, 12), (103, 96), (1097, 960), (1223, 960)]
            for order in range(1, 7):
                want = sum(p / q * e ** (k + 1) * math.sin((k + 1) * m)
                           for k, (p, q) in enumerate(coef[:order]))
                self.assertAlmostEqual(E.equation_of_centre(m, e, order), want, places=14)
        theta, r, c = 0.7, 2.0, 3.0
        self.assertAlmostEqual(E.pin_slot(theta, r, c),
                               math.atan2(r * math.sin(theta), c + r * math.cos(theta)), 14)

    def test_autocorrelation_and_dft(self):
        x = [1.0, 2.0, -1.5, 0.25, 3.0]
        n = len(x)
        want = [sum(x[j] * x[(i + j) % n] for j in range(n)) for i in range(n)]
        self.assertEqual(E.autocorrelation(x), want)
        self.assertEqual(E.autocorrelation([]), [])
        # Buffer-protocol sequences are accepted like lists.
        self.assertEqual(E.autocorrelation(array.array("d", x)), want)
        self.assertEqual(E.autocorrelation(memoryview(array.array("d", x))), want)
        self.assertEqual(E.autocorrelation(tuple(x)), want)
        xs, ys = [3, -1, 4, 1, -5, 9, 2, -6], [2, 7, -1, 8, 2, -8, 1, 8]
        X, Y = E.exact_dft(xs, ys)
        w = cmath.exp(-2j * math.pi / 8)
        for seq, table in ((xs, X), (ys, Y)):
            for i in range(8):
                direct = sum(seq[j] * w ** (i * j) for j in range(8))
                folded = sum(table[i][t] * w ** t for t in range(4))
                self.assertAlmostEqual(abs(direct - folded), 0, places=9)
        Xi, _ = E.exact_dft(xs, ys, inverse=True)
        for i in range(8):
            direct = sum(xs[j] * w ** (-i * j) for j in range(8))
            self.assertAlmostEqual(abs(direct - sum(Xi[i][t] * w ** t for t in range(4))), 0,
                                   places=9)
        with self.assertRaises(kaldro.KaldroInvalidError):
            E.exact_dft([1, 2, 3], [1, 2, 3])


class IntegerTest(unittest.TestCase):
    def test_agree_with_math(self):
        rng = random.Random(2)
        for _ in range(300):
            a, b = rng.randrange(2**64), rng.randrange(2**64)
            m = rng.randrange(1, 2**64)
            self.assertEqual(kaldro.gcd(a, b), math.gcd(a, b))
            self.assertEqual(kaldro.mod_add(a, b, m), (a + b) % m)
            self.assertEqual(kaldro.mod_mul(a, b, m), (a * b) % m)
            e = rng.randrange(2**20)
            self.assertEqual(kaldro.mod_pow(a, e, m), pow(a, e, m))
            small_a, small_b = rng.randrange(1, 2**32), rng.randrange(1, 2**32)
            self.assertEqual(kaldro.lcm(small_a, small_b), math.lcm(small_a, small_b))
            m2 = rng.randrange(2, 2**63)
            if math.gcd(a % m2, m2) == 1 and a % m2:
                self.assertEqual(kaldro.mod_inv(a, m2), pow(a, -1, m2))
        self.assertEqual(kaldro.gcd(0, 0), 0)
        self.assertEqual(kaldro.lcm(0, 5), 0)

    def test_primes_and_factors(self):
        def naive_factor(n):
            out, p = [], 2
            while p * p <= n:
                e = 0
                while n % p == 0:
                    n //= p
                    e += 1
                if e:
                    out.append((p, e))
                p += 1
            if n > 1:
                out.append((n, 1))
            return out
        # Trial division: keep the largest prime factor small enough to run quickly.
        for n in list(range(0, 300)) + [2**32 - 5, 2**31 - 1, 600851475143, 1 << 63,
                                        2**30 * 3**15]:
            self.assertEqual(kaldro.factor(n), naive_factor(n) if n >= 2 else [], n)
            self.assertEqual(kaldro.is_prime(n), n >= 2 and naive_factor(n) == [(n, 1)], n)
        self.assertEqual([kaldro.three_cycle(x) for x in range(6)], [1, 2, 0, 1, 2, 0])
        self.assertEqual(kaldro.cyclic_period(10, 7, 100), 6)

    def test_errors(self):
        with self.assertRaises(kaldro.KaldroCapacityError) as cm:
            kaldro.lcm(2**63, 3)
        self.assertEqual(cm.exception.operation, "kaldro_lcm")
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.mod_add(1, 2, 0)
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.mod_inv(6, 9)
        with self.assertRaises(kaldro.KaldroCapacityError):
            kaldro.mod_inv(3, 2**63 + 1)
        with self.assertRaises(kaldro.KaldroCapacityError):
            kaldro.cyclic_period(2, 7, 2)
        with self.assertRaises(OverflowError):
            kaldro.gcd(2**64, 1)
        with self.assertRaises(OverflowError):
            kaldro.gcd(-1, 1)


if __name__ == "__main__":
    unittest.main()
