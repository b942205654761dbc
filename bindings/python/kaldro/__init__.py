"""kaldro: Python bindings of libkaldro, loaded with ctypes.

The shared library is found through the environment variable KALDRO_LIBRARY, then next
to this package, then on the system's library path. Every failing call raises a
subclass of KaldroError carrying the status and the operation's name; workspaces and
arenas are sized and allocated here, so callers never see one.
"""
from ._lib import (KaldroError, KaldroNullError, KaldroInvalidError, KaldroIOError,
                   KaldroCapacityError, KaldroResourceError, lib, has,
                   OK, ERR_NULL, ERR_INVALID, ERR_IO, ERR_CAPACITY, ERR_RESOURCE)
from . import _lib as _l
from .text import (json_parse, json_canonical, json_canonical_bytes, json_dumps,
                   toml_parse, config_hermitian_max_nodes, config_reset_defaults,
                   config_load_toml, config_load_file, ndjson_lines, catalog_lookup,
                   template_render, tlv_pack)
from .hashing import (sha256_hex, sha256, sha256_batch, byte_search, byte_search_backward,
                      dispatch_match, hamming_encode, hamming_syndrome, hamming_decode)
from . import elementary
from . import numbers
from . import algebra
from .bus import BusServer, BusClient
from . import genome
from .genome import Genome
from . import linalg
from . import rationals
from . import cascade
from .numbers import (gcd, lcm, mod_add, mod_mul, mod_pow, mod_inv, three_cycle, is_prime,
                      factor, cyclic_period)

_l.declare("kaldro_version", __import__("ctypes").c_char_p)
_l.declare("kaldro_abi_version", __import__("ctypes").c_int)
for _q in ("sse2", "avx", "avx2", "shani"):
    _l.declare("kaldro_simd_has_" + _q, __import__("ctypes").c_int)

__version__ = "0.8.2"


def version():
    """The library's version text, e.g. "0.8.2"."""
    return lib().kaldro_version().decode("ascii")


def abi_version():
    """The revision number of the library's calling interface."""
    return lib().kaldro_abi_version()


def simd_features():
    """A dict telling which instruction-set extensions the library detected."""
    L = lib()
    return {name: bool(getattr(L, "kaldro_simd_has_" + name)())
            for name in ("sse2", "avx", "avx2", "shani")}
