"""Dense solves, graph matrices, Jacobi and Hermitian eigen-decompositions, complex
kernels and Fiedler vectors, on nested lists of floats (or numpy arrays when numpy is
present; results come back as numpy arrays when the input was one).
"""
import ctypes
import struct

from . import _lib
from ._lib import check, declare, lib, float_array, maybe_numpy, as_path, U32_MAX

c_i32 = ctypes.c_int32
c_u32 = ctypes.c_uint32
c_u64 = ctypes.c_uint64
c_void_p = ctypes.c_void_p
dptr = ctypes.POINTER(ctypes.c_double)
u32ptr = ctypes.POINTER(c_u32)

declare("kaldro_dense_solve_arena_bytes", c_u64, c_u32, c_u32)
declare("kaldro_dense_solve_f64_ws", c_i32, c_u32, c_u32, dptr, dptr, dptr, c_void_p, c_u64)
for _name in ("kaldro_graph_dense_adjacency", "kaldro_graph_dense_laplacian",
              "kaldro_graph_normalized_laplacian"):
    declare(_name, c_i32, c_u32, c_u32, u32ptr, u32ptr, dptr, dptr)
declare("kaldro_jacobi_eigvals", c_i32, c_u32, dptr, c_u32, dptr, ctypes.c_double)
declare("kaldro_hermitian_eigendecompose_ws", c_i32, c_u32, dptr, dptr, dptr, dptr, c_u64)
declare("kaldro_dense_matmul_complex", c_i32, c_u32, c_u32, c_u32, dptr, dptr, dptr)
declare("kaldro_elementwise_multiply_complex", c_i32, c_u32, dptr, dptr, dptr)
declare("kaldro_elementwise_transcendental", c_i32, c_u32, dptr, c_u32, dptr)
declare("kaldro_three_fold_bands", c_i32, c_u32, u32ptr, u32ptr, u32ptr)
declare("kaldro_laplacian_fiedler_sparse", c_i32, c_u32, c_u32, u32ptr, u32ptr, dptr, c_u32,
        dptr, dptr, c_u64)
declare("kaldro_laplacian_fiedler_sparse_file", c_i32, c_u32, ctypes.c_char_p, c_u32, dptr,
        dptr, c_u64)


def _u32(v, what):
    return _lib.check_int(v, 0, U32_MAX, what)


def _rows(matrix):
    # A square or rectangular matrix given as rows; returns (flat list, rows, cols).
    m = matrix.tolist() if hasattr(matrix, "tolist") else matrix
    rows = [list(r) if isinstance(r, (list, tuple)) else [r] for r in m]
    cols = len(rows[0]) if rows else 0
    if any(len(r) != cols for r in rows):
        raise ValueError("matrix rows must have the same length")
    return [x for r in rows for x in r], len(rows), cols


def _doubles(flat):
    arr = (ctypes.c_double * max(len(flat), 1))()
    for i, v in enumerate(flat):
        arr[i] = float(v)
    return arr


def _shape(flat, rows, cols):
    return [list(flat[r * cols:(r + 1) * cols]) for r in range(rows)]


def dense_solve(a, b):
    """Solve A X = B by Gauss-Jordan elimination with partial pivoting. `a` is n x n;
    `b` is n x m, or a vector of n values (then a vector is returned). Raises
    KaldroInvalidError for a singular matrix (a pivot column of zeros)."""
    fa, n, n2 = _rows(a)
    if n != n2:
        raise ValueError("a must be square")
    bl = b.tolist() if hasattr(b, "tolist") else b
    vector = bool(bl) and not isinstance(bl[0], (list, tuple))
    fb, nb, m = _rows([[x] for x in bl] if vector else bl)
    if nb != n:
        raise ValueError("b must have as many rows as a")
    _u32(n, "n")
    _u32(m, "m")
    size = lib().kaldro_dense_solve_arena_bytes(n, m)
    if size == _lib.U64_MAX:
        raise _lib.error_for(_lib.ERR_CAPACITY, "kaldro_dense_solve_f64_ws", "system too large")
    ws = (ctypes.c_uint8 * max(size, 1))()
    x = (ctypes.c_double * max(n * m, 1))()
    check(lib().kaldro_dense_solve_f64_ws(n, m, _doubles(fa), _doubles(fb), x, ws, size),
          "kaldro_dense_solve_f64_ws")
    out = [x[i] for i in range(n)] if vector else _shape(x, n, m)
    return maybe_numpy(out, a)


def _edges(n, edges, weights):
    # Edges as (src, dst) or (src, dst, weight) tuples; weights may also come apart.
    src, dst, wts = [], [], []
    for e in edges:
        e = tuple(e)
        src.append(_u32(e[0], "edge source"))
        dst.append(_u32(e[1], "edge destination"))
        if len(e) > 2:
            wts.append(float(e[2]))
    if weights is not None:
        wts = [float(w) for w in weights]
    if wts and len(wts) != len(src):
        raise ValueError("every edge needs a weight, or none does")
    k = len(src)
    _u32(k, "edge count")
    s = (c_u32 * max(k, 1))(*src)
    d = (c_u32 * max(k, 1))(*dst)
    w = _doubles(wts) if wts else None
    return k, s, d, w


def _graph(name, n, edges, weights):
    n = _u32(n, "n")
    k, s, d, w = _edges(n, edges, weights)
    out = (ctypes.c_double * max(n * n, 1))()
    check(getattr(lib(), name)(n, k, s, d, w, out), name)
    return _shape(out, n, n)


def graph_adjacency(n, edges, weights=None):
    """The n x n adjacency matrix of an undirected edge list ((src, dst[, weight]) tuples;
    weight 1.0 when absent). Duplicate edges add up; a self-loop counts twice."""
    return _graph("kaldro_graph_dense_adjacency", n, edges, weights)


def graph_laplacian(n, edges, weights=None):
    """The Laplacian D - A of an undirected edge list (self-loops left out)."""
    return _graph("kaldro_graph_dense_laplacian", n, edges, weights)


def graph_normalized_laplacian(n, edges, weights=None):
    """The normalised Laplacian I - D^-1/2 A D^-1/2 of an undirected edge list."""
    return _graph("kaldro_graph_normalized_laplacian", n, edges, weights)


def jacobi_eigvals(a, max_sweeps=0, tol=1e-14):
    """The eigenvalues of a symmetric matrix by cyclic Jacobi rotations, in the order of
    the final diagonal (unsorted). `max_sweeps` 0 means 100."""
    fa, n, n2 = _rows(a)
    if n != n2:
        raise ValueError("a must be square")
    arr = _doubles(fa)
    ev = (ctypes.c_double * max(n, 1))()
    check(lib().kaldro_jacobi_eigvals(_u32(n, "n"), arr, _u32(max_sweeps, "max_sweeps"), ev,
                                      float(tol)), "kaldro_jacobi_eigvals")
    return maybe_numpy(list(ev[:n]), a)


def _complex_flat(flat):
    out = []
    for z in flat:
        z = complex(z)
        out.extend((z.real, z.imag))
    return out


def _complex_rows(flat, rows, cols):
    return [[complex(flat[2 * (r * cols + c)], flat[2 * (r * cols + c) + 1])
             for c in range(cols)] for r in range(rows)]


def hermitian_eigh(a):
    """Eigenvalues (ascending) and orthonormal eigenvectors of a Hermitian matrix of
    complex (or real) numbers: returns (values, vectors), vectors[i][j] being component
    i of the eigenvector of values[j]. Raises KaldroCapacityError when n exceeds the
    configured Hermitian node limit or the rotations do not converge."""
    fa, n, n2 = _rows(a)
    if n != n2:
        raise ValueError("a must be square")
    arr = _doubles(_complex_flat(fa))
    vals = (ctypes.c_double * max(n, 1))()
    vecs = (ctypes.c_double * max(2 * n * n, 1))()
    wsd = 2 * n * n
    ws = (ctypes.c_double * max(wsd, 1))()
    check(lib().kaldro_hermitian_eigendecompose_ws(_u32(n, "n"), arr, vals, vecs, ws, wsd),
          "kaldro_hermitian_eigendecompose_ws")
    return list(vals[:n]), _complex_rows(vecs, n, n)


def matmul_complex(a, b):
    """The complex matrix product a b (rows of complex numbers)."""
    fa, m, k = _rows(a)
    fb, k2, p = _rows(b)
    if k != k2:
        raise ValueError("inner dimensions differ")
    out = (ctypes.c_double * max(2 * m * p, 1))()
    check(lib().kaldro_dense_matmul_complex(_u32(m, "m"), _u32(k, "k"), _u32(p, "p"),
                                            _doubles(_complex_flat(fa)),
                                            _doubles(_complex_flat(fb)), out),
          "kaldro_dense_matmul_complex")
    return _complex_rows(out, m, p)


def multiply_complex(a, b):
    """Element-wise products of two equally long sequences of complex numbers."""
    a, b = list(a), list(b)
    if len(a) != len(b):
        raise ValueError("a and b must have the same length")
    n = _u32(len(a), "n")
    out = (ctypes.c_double * max(2 * n, 1))()
    check(lib().kaldro_elementwise_multiply_complex(n, _doubles(_complex_flat(a)),
                                                    _doubles(_complex_flat(b)), out),
          "kaldro_elementwise_multiply_complex")
    return [complex(out[2 * i], out[2 * i + 1]) for i in range(n)]


_KINDS = {"exp": 0, "cos": 1, "sin": 2, "log": 3}


def elementwise(function, x):
    """Apply the library's "exp", "cos", "sin" or "log" to every element of `x`; "log"
    raises KaldroInvalidError when any element is <= 0."""
    kind = _KINDS.get(function, function)
    arr, n = float_array(x)
    out = (ctypes.c_double * max(n, 1))()
    check(lib().kaldro_elementwise_transcendental(_u32(n, "n"), arr, _u32(kind, "kind"), out),
          "kaldro_elementwise_transcendental")
    return maybe_numpy(list(out[:n]), x)


def three_fold_bands(n):
    """Split n into three nearly equal bands (q, q, q), (q, q, q+1) or (q, q+1, q+1)."""
    f, s, t = c_u32(), c_u32(), c_u32()
    check(lib().kaldro_three_fold_bands(_u32(n, "n"), ctypes.byref(f), ctypes.byref(s),
                                        ctypes.byref(t)), "kaldro_three_fold_bands")
    return f.value, s.value, t.value


def fiedler(n, edges, weights=None, max_iterations=1000):
    """The Fiedler vector (for the second-smallest eigenvalue of the normalised
    Laplacian) of an undirected graph on n vertices, scaled to a largest magnitude of 1,
    by the library's deflated power iteration."""
    n = _u32(n, "n")
    k, s, d, w = _edges(n, edges, weights)
    out = (ctypes.c_double * max(n, 1))()
    wsd = 8 * n
    ws = (ctypes.c_double * max(wsd, 1))()
    check(lib().kaldro_laplacian_fiedler_sparse(n, k, s, d, w, _u32(max_iterations,
                                                                      "max_iterations"),
                                                out, ws, wsd), "kaldro_laplacian_fiedler_sparse")
    return list(out[:n])


def write_edge_file(path, edges, weights=None):
    """Write an edge list as the 16-byte records (uint32 source, uint32 destination,
    double weight, native byte order) that fiedler_file() reads."""
    k, s, d, w = _edges(0, edges, weights)
    with open(as_path(path), "wb") as f:
        for i in range(k):
            f.write(struct.pack("=IId", s[i], d[i], w[i] if w is not None else 1.0))


def fiedler_file(n, path, max_iterations=1000):
    """The Fiedler vector of the graph stored in the edge file `path` (see
    write_edge_file()), streamed by the library."""
    n = _u32(n, "n")
    out = (ctypes.c_double * max(n, 1))()
    wsd = 8 * n
    ws = (ctypes.c_double * max(wsd, 1))()
    check(lib().kaldro_laplacian_fiedler_sparse_file(n, as_path(path),
                                                     _u32(max_iterations, "max_iterations"),
                                                     out, ws, wsd),
          "kaldro_laplacian_fiedler_sparse_file")
    return list(out[:n])


def bisect(n, edges, weights=None, max_iterations=1000):
    """Split the vertices of a graph in two by the signs of its Fiedler vector; returns
    (vertices with a negative entry, the others), each a sorted list."""
    vec = fiedler(n, edges, weights, max_iterations)
    neg = [i for i, v in enumerate(vec) if v < 0]
    rest = [i for i, v in enumerate(vec) if not v < 0]
    return neg, rest
