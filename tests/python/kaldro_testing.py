"""Shared helpers of the Python binding tests: the package import, the raw library and
guarded output buffers that reveal writes past their end."""
import ctypes
import os
import sys

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "..", "bindings", "python"))

import kaldro  # noqa: E402

GUARD = 0xA5


class Guarded:
    """A byte buffer of `size` usable bytes followed by `tail` guard bytes, all
    preset; `intact()` tells whether the guard (and, optionally, the body) kept its
    fill."""

    def __init__(self, size, tail=64, fill=GUARD):
        self.size = size
        self.tail = tail
        self.fill = fill
        self.raw = (ctypes.c_uint8 * (size + tail))(*([fill] * (size + tail)))

    @property
    def ptr(self):
        return ctypes.cast(self.raw, ctypes.c_void_p)

    def body(self):
        return bytes(self.raw[:self.size])

    def guard_intact(self):
        return all(b == self.fill for b in self.raw[self.size:])

    def untouched(self):
        return all(b == self.fill for b in self.raw)


def lib():
    return kaldro.lib()
