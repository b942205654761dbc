"""Linear algebra and spectral graphs through the bindings, checked against exact
rational elimination, graph matrices written from their definitions, known spectra and
eigen-equations."""
import math
import os
import random
import tempfile
import unittest
from fractions import Fraction

from kaldro_testing import kaldro

L = kaldro.linalg
HAS_LINALG = kaldro.has("kaldro_dense_solve_f64_ws")


def exact_solve(a, b):
    n, m = len(a), len(b[0])
    rows = [[Fraction(x) for x in a[i]] + [Fraction(x) for x in b[i]] for i in range(n)]
    for c in range(n):
        p = next(r for r in range(c, n) if rows[r][c] != 0)
        rows[c], rows[p] = rows[p], rows[c]
        for r in range(n):
            if r != c and rows[r][c]:
                f = rows[r][c] / rows[c][c]
                rows[r] = [x - f * y for x, y in zip(rows[r], rows[c])]
    return [[float(rows[i][n + j] / rows[i][i]) for j in range(m)] for i in range(n)]


def adjacency_model(n, edges):
    a = [[0.0] * n for _ in range(n)]
    for s, d, w in edges:
        a[s][d] += w
        a[d][s] += w
    return a


@unittest.skipUnless(HAS_LINALG, "the library has no linear algebra")
class DenseTest(unittest.TestCase):
    def test_solve_agrees_with_exact_elimination(self):
        rng = random.Random(3)
        for n in (1, 2, 5, 9):
            a = [[rng.uniform(-3, 3) for _ in range(n)] for _ in range(n)]
            b = [[rng.uniform(-3, 3) for _ in range(3)] for _ in range(n)]
            x = L.dense_solve(a, b)
            want = exact_solve(a, b)
            for r in range(n):
                for c in range(3):
                    self.assertAlmostEqual(x[r][c], want[r][c], delta=1e-9 * (1 + abs(want[r][c])))
            vec = L.dense_solve(a, [row[0] for row in b])
            self.assertEqual(vec, [row[0] for row in x])
        with self.assertRaises(kaldro.KaldroInvalidError) as cm:
            L.dense_solve([[1.0, 2.0], [2.0, 4.0]], [1.0, 2.0])
        self.assertEqual(cm.exception.operation, "kaldro_dense_solve_f64_ws")

    def test_complex_kernels(self):
        rng = random.Random(4)
        rc = lambda: complex(rng.uniform(-1, 1), rng.uniform(-1, 1))
        a = [[rc() for _ in range(3)] for _ in range(2)]
        b = [[rc() for _ in range(4)] for _ in range(3)]
        c = L.matmul_complex(a, b)
        for i in range(2):
            for j in range(4):
                self.assertAlmostEqual(c[i][j], sum(a[i][t] * b[t][j] for t in range(3)),
                                       places=14)
        xs, ys = [rc() for _ in range(7)], [rc() for _ in range(7)]
        for got, x, y in zip(L.multiply_complex(xs, ys), xs, ys):
            self.assertAlmostEqual(got, x * y, places=15)
        xs = [0.5, 1.0, 2.5, 10.0]
        E = kaldro.elementary
        for name, fn in (("exp", E.exp), ("cos", E.cos), ("sin", E.sin), ("log", E.log)):
            self.assertEqual(L.elementwise(name, xs), [fn(x) for x in xs])
        with self.assertRaises(kaldro.KaldroInvalidError):
            L.elementwise("log", [1.0, 0.0])
        for n in range(12):
            bands = L.three_fold_bands(n)
            self.assertEqual(sum(bands), n)
            self.assertLessEqual(max(bands) - min(bands), 1)
            self.assertEqual(list(bands), sorted(bands))


@unittest.skipUnless(HAS_LINALG, "the library has no linear algebra")
class SpectralTest(unittest.TestCase):
    def test_graph_matrices_follow_definitions(self):
        edges = [(0, 1, 1.0), (1, 2, 2.0), (2, 0, 0.5), (2, 3, 1.5), (1, 2, 1.0)]
        n = 5  # vertex 4 is isolated
        adj = adjacency_model(n, edges)
        self.assertEqual(L.graph_adjacency(n, edges), adj)
        deg = [sum(r) for r in adj]
        lap = [[(deg[i] if i == j else 0.0) - adj[i][j] for j in range(n)] for i in range(n)]
        self.assertEqual(L.graph_laplacian(n, edges), lap)
        norm = L.graph_normalized_laplacian(n, edges)
        for i in range(n):
            for j in range(n):
                if deg[i] == 0 or deg[j] == 0:
                    want = 0.0
                else:
                    want = (1.0 if i == j else 0.0) - adj[i][j] / math.sqrt(deg[i] * deg[j])
                self.assertAlmostEqual(norm[i][j], want, places=14)
        self.assertEqual(L.graph_adjacency(3, [(0, 1)]), adjacency_model(3, [(0, 1, 1.0)]))
        with self.assertRaises(kaldro.KaldroInvalidError):
            L.graph_laplacian(3, [(0, 3)])

    def test_eigenvalues_of_a_cycle(self):
        n = 8
        edges = [(i, (i + 1) % n) for i in range(n)]
        lap = L.graph_laplacian(n, edges)
        want = sorted(2 - 2 * math.cos(2 * math.pi * k / n) for k in range(n))
        got = sorted(L.jacobi_eigvals(lap))
        for g, w in zip(got, want):
            self.assertAlmostEqual(g, w, places=10)
        values, vectors = L.hermitian_eigh(lap)
        self.assertEqual(values, sorted(values))
        for g, w in zip(values, want):
            self.assertAlmostEqual(g, w, places=10)

    def test_hermitian_eigen_equation(self):
        rng = random.Random(8)
        n = 6
        a = [[0j] * n for _ in range(n)]
        for i in range(n):
            a[i][i] = complex(rng.uniform(-2, 2))
            for j in range(i + 1, n):
                z = complex(rng.uniform(-1, 1), rng.uniform(-1, 1))
                a[i][j], a[j][i] = z, z.conjugate()
        values, v = L.hermitian_eigh(a)
        for j in range(n):
            col = [v[i][j] for i in range(n)]
            av = [sum(a[i][k] * col[k] for k in range(n)) for i in range(n)]
            for i in range(n):
                self.assertAlmostEqual(av[i], values[j] * col[i], places=10)
            for k in range(n):
                dot = sum(v[i][j].conjugate() * v[i][k] for i in range(n))
                self.assertAlmostEqual(dot, 1.0 if j == k else 0.0, places=10)
        kaldro.config_load_toml("[hermitian]\nmax_nodes = 5\n")
        try:
            with self.assertRaises(kaldro.KaldroCapacityError):
                L.hermitian_eigh(a)
        finally:
            kaldro.config_reset_defaults()

    def test_fiedler_bisects_two_cliques(self):
        edges = []
        for base in (0, 6):
            edges += [(base + i, base + j) for i in range(6) for j in range(i + 1, 6)]
        edges.append((5, 6))
        vec = L.fiedler(12, edges)
        self.assertAlmostEqual(max(abs(x) for x in vec), 1.0, places=12)
        neg, rest = L.bisect(12, edges)
        self.assertEqual(sorted([neg, rest]), [list(range(6)), list(range(6, 12))])
        fd, path = tempfile.mkstemp(suffix=".edges")
        os.close(fd)
        self.addCleanup(os.unlink, path)
        L.write_edge_file(path, edges)
        self.assertEqual(os.path.getsize(path), 16 * len(edges))
        self.assertEqual(L.fiedler_file(12, path), vec)
        with open(path, "ab") as f:
            f.write(b"\0")
        with self.assertRaises(kaldro.KaldroInvalidError):
            L.fiedler_file(12, path)
        with self.assertRaises(kaldro.KaldroIOError):
            L.fiedler_file(12, path + ".missing")
        with self.assertRaises(kaldro.KaldroInvalidError):
            L.fiedler(3, [(0, 5)])


if __name__ == "__main__":
    unittest.main()
