"""Rationals, continued fractions, ordering patterns and cascade dynamics through the
bindings, checked against fractions, an Euler step written here with the library's own
sine, and the four symmetry sectors computed directly."""
import math
import random
import unittest
from fractions import Fraction

from kaldro_testing import kaldro

R = kaldro.rationals
C = kaldro.cascade
HAS_RATIONALS = kaldro.has("kaldro_rational_add")
HAS_CASCADE = kaldro.has("kaldro_cascade_kuramoto_step_f64")


def cf_reference(x):
    terms = []
    num, den = x.numerator, x.denominator
    while den:
        q, r = divmod(num, den)
        terms.append(q)
        num, den = den, r
    return terms


@unittest.skipUnless(HAS_RATIONALS, "the library has no rationals")
class RationalTest(unittest.TestCase):
    def test_arithmetic_agrees_with_fractions(self):
        rng = random.Random(2)
        for _ in range(300):
            a = Fraction(rng.randrange(-10**6, 10**6), rng.randrange(1, 10**6))
            b = Fraction(rng.randrange(-10**6, 10**6), rng.randrange(1, 10**6))
            self.assertEqual(R.rational_add(a, b), a + b)
            self.assertEqual(R.rational_mul(a, b), a * b)
            if b:
                self.assertEqual(R.rational_div(a, b), a / b)
            self.assertEqual(R.rational_pow(a, 2), a ** 2)
        self.assertEqual(R.rational_add((2, 4), (1, 4)), Fraction(3, 4))
        self.assertEqual(R.exp_series(Fraction(1, 2), 10),
                         sum(Fraction(1, 2) ** i / math.factorial(i) for i in range(11)))

    def test_continued_fractions(self):
        rng = random.Random(3)
        for _ in range(200):
            x = Fraction(rng.randrange(0, 2**62), rng.randrange(1, 2**62))
            terms = R.continued_fraction(x)
            self.assertEqual(terms, cf_reference(x))
            self.assertEqual(R.convergents(terms)[-1], x)
        self.assertEqual(R.continued_fraction(0), [0])
        self.assertEqual(R.best_rational(Fraction(314159265, 100000000), 1000), Fraction(355, 113))
        self.assertEqual(R.best_rational(Fraction(314159265, 100000000), 100), Fraction(22, 7))
        self.assertEqual(R.reverse_order(5), [4, 3, 2, 1, 0])
        self.assertEqual(R.mirror_pattern(b"abc"), b"cba")

    def test_errors(self):
        with self.assertRaises(kaldro.KaldroInvalidError):
            R.rational_add((1, 0), (1, 2))
        with self.assertRaises(kaldro.KaldroInvalidError):
            R.rational_div(1, 0)
        with self.assertRaises(kaldro.KaldroCapacityError) as cm:
            R.rational_mul(2**62, 4)
        self.assertEqual(cm.exception.operation, "kaldro_rational_mul")
        with self.assertRaises(kaldro.KaldroCapacityError):
            R.exp_series(1, 21)
        with self.assertRaises(kaldro.KaldroInvalidError):
            R.convergents([])


@unittest.skipUnless(HAS_CASCADE, "the library has no cascade dynamics")
class CascadeTest(unittest.TestCase):
    def test_slot_operations(self):
        self.assertEqual(C.chiral_flip([1, 2, 3]), [3, 2, 1])
        self.assertEqual(C.chiral_flip([1.5, -2.0]), [-2.0, 1.5])
        self.assertEqual(C.pin_slot_at_zero(-2.5), (-1, 2.5))
        self.assertEqual(C.pin_slot_at_zero(float("nan")), (0, 0.0))
        self.assertEqual(C.magnitude(-0.0), 0.0)
        self.assertEqual(math.copysign(1, C.magnitude(-0.0)), 1.0)
        self.assertEqual(C.reorient(-1, 5), -5)
        self.assertEqual(C.reorient(-1, -2**63), -2**63)
        self.assertEqual(C.reorient(0, 2.5), 2.5)
        self.assertEqual(C.net_chirality([1, -1, -1]), 1)
        self.assertEqual(C.net_chirality([1, 0, -1]), 0)
        self.assertEqual(C.net_chirality([]), 1)
        self.assertEqual(C.cyclic_gcd(84, 36), 12)
        self.assertEqual(C.best_rational_signed(-0.75, 100), Fraction(-3, 4))

    def test_dual_and_sectors(self):
        op = lambda xs: [x * (i + 1) for i, x in enumerate(xs)]
        src = [1.0, -2.0, 3.5, 0.25]
        rev = src[::-1]
        self.assertEqual(C.chiral_dual(op, src), op(rev)[::-1])
        sectors = C.sector_dispatch(op, src)
        neg = lambda v: [-x for x in v]
        self.assertEqual(sectors, [op(src), neg(op(neg(src))), op(rev)[::-1],
                                   neg(op(neg(rev)))[::-1]])
        self.assertEqual(C.sector_dispatch(op, src, sectors=2), sectors[:2])

        def broken(xs):
            raise RuntimeError("operator failure")
        with self.assertRaises(RuntimeError):
            C.chiral_dual(broken, src)
        with self.assertRaises(RuntimeError):
            C.sector_dispatch(broken, src)
        with self.assertRaises(kaldro.KaldroInvalidError):
            C.sector_dispatch(op, src, sectors=5)

    def test_kuramoto_matches_euler_model(self):
        rng = random.Random(6)
        n = 7
        theta = [rng.uniform(-3, 3) for _ in range(n)]
        omega = [rng.uniform(-1, 1) for _ in range(n)]
        K, dt = 1.3, 0.01
        got = C.kuramoto_step(theta, omega, K, dt)
        S = kaldro.elementary.sin
        for i in range(n):
            s = sum(S(theta[j] - theta[i]) for j in range(n))
            self.assertAlmostEqual(got[i], theta[i] + dt * (omega[i] + K / n * s), places=13)
        W = [[rng.uniform(0, 1) for _ in range(n)] for _ in range(n)]
        drive = [rng.uniform(-3, 3) for _ in range(n)]
        gen = C.kuramoto_step(theta, omega, K, dt, W=W, drive=drive, alpha=0.2)
        for i in range(n):
            g = sum(W[i][j] * K * S(theta[j] - theta[i] - 0.2) for j in range(n))
            f = omega[i] + g + S(drive[i] - theta[i])
            self.assertAlmostEqual(gen[i], theta[i] + dt * f, places=12)
        # Strong coupling synchronises identical oscillators.
        final = C.kuramoto_run([0.0, 0.5, 1.0, 1.5], [0.0] * 4, 4.0, 0.05, 400)
        self.assertLess(max(final) - min(final), 1e-3)


if __name__ == "__main__":
    unittest.main()
