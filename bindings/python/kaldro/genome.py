"""The genome store as a Python object: save a body of fixed-width records, read its
manifest as Python data, load and window it with verification, and edit chromosomes.

A body is a run of records of `leaf_dim` bytes; a record whose first byte is 'C' opens a
chromosome and carries its label, 'G' records belong to it without being leaves.
"""
import ctypes
import os

from . import _lib
from ._lib import check, declare, lib, as_bytes, as_path
from .text import _Node, _NodeP, _json_value

c_i32 = ctypes.c_int32
c_u32 = ctypes.c_uint32
c_u64 = ctypes.c_uint64
c_size = ctypes.c_size_t
c_void_p = ctypes.c_void_p
c_char_p = ctypes.c_char_p

declare("kaldro_genome_arena_bytes", c_u64, c_u64, c_u32, c_u64)
declare("kaldro_genome_save", c_i32, c_char_p, c_void_p, c_size, c_u32, c_void_p, c_size,
        c_void_p, c_size)
declare("kaldro_genome_catalog", c_i32, c_char_p, c_void_p, c_size, c_void_p, c_size,
        ctypes.POINTER(_NodeP))
declare("kaldro_genome_load", c_i32, c_char_p, c_void_p, c_size, ctypes.POINTER(c_size),
        c_void_p, c_size, c_void_p, c_size)
declare("kaldro_genome_window", c_i32, c_char_p, c_char_p, c_void_p, c_size,
        ctypes.POINTER(c_size), c_void_p, c_size, c_void_p, c_size)
declare("kaldro_genome_append", c_i32, c_char_p, c_char_p, c_void_p, c_size, c_u32, c_void_p,
        c_size, c_void_p, c_size)
declare("kaldro_genome_remove", c_i32, c_char_p, c_char_p, c_void_p, c_size, c_void_p, c_size)
declare("kaldro_genome_replace", c_i32, c_char_p, c_char_p, c_void_p, c_size, c_u32, c_void_p,
        c_size, c_void_p, c_size)

declare("kaldro_genome_export", c_i32, c_char_p, c_char_p, c_char_p, c_void_p, c_size, c_void_p,
        c_size)
declare("kaldro_genome_import", c_i32, c_char_p, c_char_p, c_void_p, c_size, c_void_p, c_size)
declare("kaldro_genome_explode", c_i32, c_char_p, c_char_p, c_void_p, c_size, c_void_p, c_size)
declare("kaldro_genome_pack", c_i32, c_char_p, c_char_p, c_void_p, c_size, c_void_p, c_size)

BODY_FILE = "turns.bin"
MANIFEST_FILE = "manifest.json"


def count_caps(body, leaf_dim):
    """The number of cap records ('C' at a record boundary) in `body`."""
    if leaf_dim <= 0:
        return 0
    return sum(1 for at in range(0, len(body) - len(body) % leaf_dim, leaf_dim)
               if body[at] == 0x43)


def cap_record(label, leaf_dim, content=b""):
    """Build a cap record of `leaf_dim` bytes: 'C', the label (str or bytes), a zero
    byte when room is left, then `content`, padded with zeros."""
    lab = as_bytes(label, "label")
    rec = b"C" + lab + (b"\0" if len(lab) + 1 < leaf_dim else b"") + as_bytes(content)
    if len(rec) > leaf_dim:
        raise ValueError("label and content do not fit a %d-byte record" % leaf_dim)
    return rec + b"\0" * (leaf_dim - len(rec))


class _Workspace:
    # A zero-filled workspace sized by the library's query and 16-byte aligned (ctypes
    # arrays of 64-bit words are only 8-byte aligned, so one spare word is carved off).
    def __init__(self, body_bytes, chromosomes, region_bytes, extra=0):
        chromosomes = min(int(chromosomes), _lib.U32_MAX)
        size = lib().kaldro_genome_arena_bytes(int(body_bytes), chromosomes,
                                               int(region_bytes)) + int(extra)
        self.raw = (ctypes.c_uint64 * (size // 8 + 3))()
        base = ctypes.addressof(self.raw)
        self.ptr = c_void_p(base + (-base) % 16)
        self.size = size


def _label(label):
    raw = as_bytes(label, "label")
    if b"\0" in raw:
        raise ValueError("labels must not contain NUL bytes")
    return raw


class Genome:
    """A genome directory holding "turns.bin" and "manifest.json".

    Genome(dir) opens an existing genome; `the_one` (the genome's record-sized value)
    is read from the manifest when not given. Genome.save() writes a new one.
    Every failing operation raises the KaldroError subclass of its status: a digest
    mismatch is KaldroInvalidError, a missing file KaldroIOError.
    """

    def __init__(self, directory, the_one=None):
        """Open the genome in `directory`; `the_one` is needed only when the manifest is
        missing (it is then rebuilt from the body with len(the_one) as leaf_dim)."""
        self.directory = os.fspath(directory)
        self._dir = as_path(directory)
        self._the_one = as_bytes(the_one, "the_one") if the_one is not None else None

    # Sizing --------------------------------------------------------------------------

    def _file_size(self, name):
        try:
            return os.path.getsize(os.path.join(self._dir, os.fsencode(name)))
        except OSError:
            return 0

    def _chromosome_estimate(self):
        # Entries in the manifest when there is one, else the caps of the body.
        try:
            with open(os.path.join(self._dir, os.fsencode(MANIFEST_FILE)), "rb") as f:
                return f.read().count(b'"cap_sha256"')
        except OSError:
            pass
        dim = len(self._the_one) if self._the_one else 0
        try:
            with open(os.path.join(self._dir, os.fsencode(BODY_FILE)), "rb") as f:
                return count_caps(f.read(), dim)
        except OSError:
            return 0

    def _workspace(self, extra_body=0, extra_chromosomes=0, region=None, extra=0):
        body = self._file_size(BODY_FILE)
        if region is None:
            region = body
        return _Workspace(body + extra_body, self._chromosome_estimate() + extra_chromosomes,
                          region, extra)

    def _optional_one(self):
        one = self._the_one
        keep, ptr = _lib.byte_pointer(one) if one else (None, None)
        return keep, ptr, len(one) if one else 0

    def _one(self):
        if self._the_one is not None:
            return self._the_one
        hex_text = self.catalog()["data"]["the_one"]["hex"]
        self._the_one = bytes.fromhex(hex_text)
        return self._the_one

    # Operations ----------------------------------------------------------------------

    @classmethod
    def save(cls, directory, body, leaf_dim, the_one):
        """Write `body` (whole records of `leaf_dim` bytes, opening with a cap record,
        or empty) and its manifest into the existing `directory`; `the_one` is one
        record of `leaf_dim` bytes. Returns the Genome. Identical inputs give
        byte-identical files; a failed save leaves the directory as it was."""
        raw = as_bytes(body, "body")
        one = as_bytes(the_one, "the_one")
        dim = int(leaf_dim)
        if not 0 <= dim <= _lib.U32_MAX:
            raise _lib.error_for(_lib.ERR_INVALID, "kaldro_genome_save", "leaf_dim outside 1..256")
        ws = _Workspace(len(raw), count_caps(raw, dim) if 1 <= dim <= 256 else 0, 0)
        keep, ptr = _lib.byte_pointer(raw)
        okeep, optr = _lib.byte_pointer(one)
        if optr is None:
            okeep = ctypes.create_string_buffer(1)
            optr = okeep
        check(lib().kaldro_genome_save(as_path(directory), ptr, len(raw), dim, optr, len(one),
                                       ws.ptr, ws.size), "kaldro_genome_save")
        return cls(directory, one)

    def catalog(self):
        """Return the manifest as Python data (dicts, lists, str, int): the "data"
        member lists the chromosomes with their offsets, lengths, digests and labels.
        Without manifest.json the manifest is rebuilt from the body (nothing written)."""
        ws = self._workspace()
        one = self._the_one
        okeep, optr = _lib.byte_pointer(one) if one else (None, None)
        root = _NodeP()
        check(lib().kaldro_genome_catalog(self._dir, optr, len(one) if one else 0, ws.ptr,
                                          ws.size, ctypes.byref(root)), "kaldro_genome_catalog")
        return _json_value(root.contents)

    def chromosomes(self):
        """The catalogued chromosomes, in body order, as a list of dicts with "label",
        "byte_offset", "byte_len", "leaf_count" and "cap_sha256"."""
        return self.catalog()["data"]["chromosomes"]

    @property
    def leaf_dim(self):
        """The genome's record width in bytes."""
        return len(self._one())

    @property
    def the_one(self):
        """The genome's record-sized value (bytes)."""
        return self._one()

    def load(self):
        """Read the body and return it as bytes after checking it against the
        manifest's body digest (KaldroInvalidError when they differ)."""
        body = self._file_size(BODY_FILE)
        ws = self._workspace()
        out = ctypes.create_string_buffer(max(body, 1))
        got = c_size(0)
        one = self._the_one
        okeep, optr = _lib.byte_pointer(one) if one else (None, None)
        check(lib().kaldro_genome_load(self._dir, out, body, ctypes.byref(got), optr,
                                       len(one) if one else 0, ws.ptr, ws.size),
              "kaldro_genome_load")
        return out.raw[:got.value]

    def window(self, label):
        """Return the region (bytes) of the first chromosome labelled `label`, its cap
        record verified against the manifest's "cap_sha256"."""
        lab = _label(label)
        body = self._file_size(BODY_FILE)
        ws = self._workspace()
        out = ctypes.create_string_buffer(max(body, 1))
        got = c_size(0)
        one = self._the_one
        okeep, optr = _lib.byte_pointer(one) if one else (None, None)
        check(lib().kaldro_genome_window(self._dir, lab, out, body, ctypes.byref(got), optr,
                                         len(one) if one else 0, ws.ptr, ws.size),
              "kaldro_genome_window")
        return out.raw[:got.value]

    def append(self, label, region):
        """Add a chromosome: `region` is whole records opening with a cap record that
        carries `label`; the genome is verified, extended and saved anew."""
        lab = _label(label)
        src = as_bytes(region, "region")
        one = self._one()
        ws = self._workspace(extra_body=len(src), extra_chromosomes=count_caps(src, len(one)),
                             region=len(src))
        skeep, sptr = _lib.byte_pointer(src)
        okeep, optr = _lib.byte_pointer(one)
        check(lib().kaldro_genome_append(self._dir, lab, sptr, len(src), len(one), optr,
                                         len(one), ws.ptr, ws.size), "kaldro_genome_append")

    def remove(self, label):
        """Cut the chromosome labelled `label` out of the genome and save it anew (the
        last chromosome cannot be removed; replace it with b"" instead)."""
        lab = _label(label)
        one = self._one()
        ws = self._workspace()
        okeep, optr = _lib.byte_pointer(one)
        check(lib().kaldro_genome_remove(self._dir, lab, optr, len(one), ws.ptr, ws.size),
              "kaldro_genome_remove")

    def replace(self, label, region):
        """Put `region` (empty, or whole records opening with a cap record) in place of
        the chromosome labelled `label` and save the genome anew; a cap with another
        label renames the chromosome."""
        lab = _label(label)
        src = as_bytes(region, "region")
        one = self._one()
        ws = self._workspace(extra_body=len(src), extra_chromosomes=count_caps(src, len(one)),
                             region=len(src))
        skeep, sptr = _lib.byte_pointer(src)
        okeep, optr = _lib.byte_pointer(one)
        check(lib().kaldro_genome_replace(self._dir, lab, sptr, len(src), len(one), optr,
                                          len(one), ws.ptr, ws.size), "kaldro_genome_replace")

    # Bundles ---------------------------------------------------------------------------

    def export(self, label, path):
        """Write the chromosome labelled `label` as a self-verifying bundle file at
        `path` (its region as hex text with digests, and the genome's the_one)."""
        lab = _label(label)
        ws = self._workspace()
        keep, optr, olen = self._optional_one()
        check(lib().kaldro_genome_export(self._dir, lab, as_path(path), optr, olen, ws.ptr,
                                         ws.size), "kaldro_genome_export")

    def import_bundle(self, path):
        """Verify the bundle file at `path` and add its chromosome to this genome (the
        genome is created when the directory holds no body yet)."""
        p = as_path(path)
        try:
            size = os.path.getsize(p)
        except OSError:
            size = 0
        ws = self._workspace(extra_body=size, extra_chromosomes=1, region=size)
        keep, optr, olen = self._optional_one()
        check(lib().kaldro_genome_import(p, self._dir, optr, olen, ws.ptr, ws.size),
              "kaldro_genome_import")

    def explode(self, out_dir):
        """Export every chromosome as "<label>.chr" into the existing directory
        `out_dir`; returns the file names written, in manifest order."""
        chromosomes = self.chromosomes()
        ws = self._workspace(extra=256 * (len(chromosomes) + 1) + 16)
        keep, optr, olen = self._optional_one()
        check(lib().kaldro_genome_explode(self._dir, as_path(out_dir), optr, olen, ws.ptr,
                                          ws.size), "kaldro_genome_explode")
        return [c["label"] + ".chr" for c in chromosomes]

    def pack(self, bundle_dir):
        """Import every "*.chr" bundle of `bundle_dir` into this genome, in the order of
        their labels."""
        bdir = as_path(bundle_dir)
        names = [n for n in os.listdir(bdir) if n.endswith(b".chr") and 5 <= len(n) <= 263]
        sizes = [os.path.getsize(os.path.join(bdir, n)) for n in names]
        largest = max(sizes or [0])
        ws = self._workspace(extra_body=sum(sizes), extra_chromosomes=len(names),
                             region=largest, extra=(264 + 256) * len(names) + 32)
        keep, optr, olen = self._optional_one()
        check(lib().kaldro_genome_pack(bdir, self._dir, optr, olen, ws.ptr, ws.size),
              "kaldro_genome_pack")

    def __repr__(self):
        return "Genome(%r)" % self.directory
