#!/usr/bin/env python3
"""Save a small genome, list its chromosomes and bisect a graph, with the Python
bindings of libkaldro.

Run from the repository after `make`:
    KALDRO_LIBRARY=build/src/libkaldro.so PYTHONPATH=bindings/python \
        python3 examples/genome_and_graph.py
"""
import os
import sys
import tempfile

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..",
                                "bindings", "python"))
import kaldro  # noqa: E402
from kaldro.genome import cap_record  # noqa: E402

LEAF_DIM = 16


def leaf(tag, text):
    """One leaf record: a tag byte and up to 15 bytes of payload."""
    return (tag + text.encode())[:LEAF_DIM].ljust(LEAF_DIM, b"\0")


def main():
    body = b"".join([
        cap_record("chr1", LEAF_DIM), leaf(b"a", "first"), leaf(b"c", "second"),
        cap_record("chr2", LEAF_DIM), leaf(b"G", "not a leaf"), leaf(b"t", "third"),
        cap_record("mito", LEAF_DIM), leaf(b"g", "fourth"),
    ])
    the_one = b"the-one-record!!"

    with tempfile.TemporaryDirectory() as directory:
        genome = kaldro.Genome.save(directory, body, LEAF_DIM, the_one)
        catalog = genome.catalog()
        print("genome in", directory)
        print("  body sha256", catalog["data"]["body_sha256"])
        for c in genome.chromosomes():
            print("  %-5s offset %3d  length %3d  leaves %d  cap %s..." % (
                c["label"], c["byte_offset"], c["byte_len"], c["leaf_count"],
                c["cap_sha256"][:12]))
        region = genome.window("chr2")
        print("  chr2 window verified:", len(region), "bytes")

    # Two triangles joined by one edge: the Fiedler vector's signs separate them.
    edges = [(0, 1), (1, 2), (2, 0), (3, 4), (4, 5), (5, 3), (2, 3)]
    left, right = kaldro.linalg.bisect(6, edges)
    print("graph bisection:", left, right)


if __name__ == "__main__":
    main()
