"""The genome store through the Genome object: manifests checked against a catalog
computed here with hashlib, verified reads, edits, bundles, explode and pack."""
import hashlib
import json
import os
import random
import shutil
import tempfile
import unittest

from kaldro_testing import kaldro

G = kaldro.genome
HAS_GENOME = kaldro.has("kaldro_genome_save")
HAS_BUNDLES = kaldro.has("kaldro_genome_export")


def make_body(chromosomes, leaf_dim, rng):
    body = b""
    for label, leaves, extras in chromosomes:
        body += G.cap_record(label, leaf_dim, bytes([rng.randrange(256)]))
        for i in range(leaves + extras):
            tag = b"G" if i < extras else bytes([rng.choice(b"acgt")])
            body += tag + bytes(rng.randrange(256) for _ in range(leaf_dim - 1))
    return body


def reference_chromosomes(body, leaf_dim):
    # The catalog scan written from the record rules.
    out = []
    for at in range(0, len(body), leaf_dim):
        rec = body[at:at + leaf_dim]
        if rec[0] == 0x43:
            label = rec[1:].split(b"\0")[0].decode()
            out.append({"label": label, "byte_offset": at, "byte_len": 0, "leaf_count": 0,
                        "cap_sha256": hashlib.sha256(rec).hexdigest()})
        if rec[0] not in (0x43, 0x47):
            out[-1]["leaf_count"] += 1
        out[-1]["byte_len"] += leaf_dim
    return out


@unittest.skipUnless(HAS_GENOME, "the library has no genome store")
class GenomeTest(unittest.TestCase):
    def setUp(self):
        self.dir = tempfile.mkdtemp(prefix="kaldro-genome-")
        self.addCleanup(shutil.rmtree, self.dir)
        self.rng = random.Random(21)
        self.dim = 16
        self.one = bytes(range(100, 116))
        self.body = make_body([("chr1", 3, 1), ("chr2", 5, 0), ("mito", 1, 2)], self.dim,
                              self.rng)

    def test_manifest_agrees_with_reference(self):
        g = kaldro.Genome.save(self.dir, self.body, self.dim, self.one)
        cat = g.catalog()
        data = cat["data"]
        self.assertEqual(data["body_sha256"], hashlib.sha256(self.body).hexdigest())
        self.assertEqual(data["leaf_dim"], self.dim)
        self.assertEqual(data["n_turns"], len(self.body) // self.dim)
        self.assertEqual(data["format_version"], 2)
        self.assertEqual(data["the_one"], {"hex": self.one.hex(),
                                           "sha256": hashlib.sha256(self.one).hexdigest()})
        self.assertEqual(data["chromosomes"], reference_chromosomes(self.body, self.dim))
        self.assertEqual(cat["data_schema_id"], "kaldro://schema/genome_manifest/v1")
        self.assertEqual(cat["attestation"]["response_sha256"], data["body_sha256"])
        with open(os.path.join(self.dir, "manifest.json"), "rb") as f:
            text = f.read()
        # The file is the canonical text of the manifest and one line feed.
        self.assertEqual(text, kaldro.json_dumps(cat).encode() + b"\n")
        self.assertEqual(json.loads(text), cat)
        with open(os.path.join(self.dir, "turns.bin"), "rb") as f:
            self.assertEqual(f.read(), self.body)
        # Identical inputs give identical files; an opened genome reads its the_one.
        kaldro.Genome.save(self.dir, self.body, self.dim, self.one)
        with open(os.path.join(self.dir, "manifest.json"), "rb") as f:
            self.assertEqual(f.read(), text)
        self.assertEqual(kaldro.Genome(self.dir).the_one, self.one)
        # Without the manifest the same catalog is rebuilt from the body.
        os.unlink(os.path.join(self.dir, "manifest.json"))
        self.assertEqual(kaldro.Genome(self.dir, self.one).catalog(), cat)

    def test_load_and_window_verify(self):
        g = kaldro.Genome.save(self.dir, self.body, self.dim, self.one)
        self.assertEqual(g.load(), self.body)
        for c in reference_chromosomes(self.body, self.dim):
            self.assertEqual(g.window(c["label"]),
                             self.body[c["byte_offset"]:c["byte_offset"] + c["byte_len"]])
        with self.assertRaises(kaldro.KaldroInvalidError) as cm:
            g.window("nope")
        self.assertEqual(cm.exception.operation, "kaldro_genome_window")
        # A changed leaf breaks the body digest but not the cap digests.
        damaged = bytearray(self.body)
        damaged[self.dim + 3] ^= 0xFF
        with open(os.path.join(self.dir, "turns.bin"), "wb") as f:
            f.write(damaged)
        with self.assertRaises(kaldro.KaldroInvalidError) as cm:
            g.load()
        self.assertEqual(cm.exception.status, kaldro.ERR_INVALID)
        self.assertEqual(g.window("chr1")[:self.dim], self.body[:self.dim])
        damaged[1] ^= 0xFF  # now the cap of chr1 too
        with open(os.path.join(self.dir, "turns.bin"), "wb") as f:
            f.write(damaged)
        with self.assertRaises(kaldro.KaldroInvalidError):
            g.window("chr1")

    def test_edits_follow_a_model(self):
        g = kaldro.Genome.save(self.dir, self.body, self.dim, self.one)
        model = reference_chromosomes(self.body, self.dim)
        regions = {c["label"]: self.body[c["byte_offset"]:c["byte_offset"] + c["byte_len"]]
                   for c in model}
        order = [c["label"] for c in model]
        new = make_body([("plasmid", 2, 0)], self.dim, self.rng)
        g.append("plasmid", new)
        regions["plasmid"] = new
        order.append("plasmid")
        self.assertEqual(g.load(), b"".join(regions[l] for l in order))
        g.remove("chr2")
        order.remove("chr2")
        self.assertEqual(g.load(), b"".join(regions[l] for l in order))
        renamed = make_body([("chrX", 4, 1)], self.dim, self.rng)
        g.replace("chr1", renamed)
        order[order.index("chr1")] = "chrX"
        regions["chrX"] = renamed
        self.assertEqual(g.load(), b"".join(regions[l] for l in order))
        self.assertEqual([c["label"] for c in g.chromosomes()], order)
        self.assertEqual(g.chromosomes(), reference_chromosomes(g.load(), self.dim))
        with self.assertRaises(kaldro.KaldroInvalidError):
            g.append("mito", make_body([("mito", 1, 0)], self.dim, self.rng))
        with self.assertRaises(kaldro.KaldroInvalidError):
            g.append("odd", G.cap_record("odd", self.dim) + b"x")
        with self.assertRaises(kaldro.KaldroInvalidError):
            g.remove("chr2")
        self.assertEqual(g.load(), b"".join(regions[l] for l in order))

    def test_save_errors(self):
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.Genome.save(self.dir, self.body, self.dim, self.one[:-1])
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.Genome.save(self.dir, b"x" * self.dim, self.dim, self.one)
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.Genome.save(self.dir, self.body + b"\0", self.dim, self.one)
        with self.assertRaises(kaldro.KaldroIOError) as cm:
            kaldro.Genome.save(os.path.join(self.dir, "missing"), self.body, self.dim, self.one)
        self.assertEqual(cm.exception.operation, "kaldro_genome_save")
        with self.assertRaises(kaldro.KaldroCapacityError):
            kaldro.Genome.save("/" + "d" * 4100, self.body, self.dim, self.one)
        self.assertEqual(os.listdir(self.dir), [])
        empty = kaldro.Genome.save(self.dir, b"", self.dim, self.one)
        self.assertEqual(empty.chromosomes(), [])
        self.assertEqual(empty.load(), b"")
        with self.assertRaises(kaldro.KaldroIOError):
            kaldro.Genome(os.path.join(self.dir, "missing"), self.one).catalog()


@unittest.skipUnless(HAS_BUNDLES, "the library has no chromosome bundles")
class BundleTest(unittest.TestCase):
    def setUp(self):
        self.root = tempfile.mkdtemp(prefix="kaldro-bundle-")
        self.addCleanup(shutil.rmtree, self.root)
        for sub in ("src", "bundles", "dst", "one"):
            os.mkdir(os.path.join(self.root, sub))
        self.rng = random.Random(5)
        self.dim = 8
        self.one = b"THE_ONE!"
        self.body = make_body([("zeta", 2, 0), ("alpha", 3, 1), ("mid", 1, 0)], self.dim,
                              self.rng)
        self.g = kaldro.Genome.save(os.path.join(self.root, "src"), self.body, self.dim,
                                    self.one)

    def test_export_is_self_verifying(self):
        path = os.path.join(self.root, "alpha.chr")
        self.g.export("alpha", path)
        with open(path, "rb") as f:
            text = f.read()
        doc = json.loads(text)
        self.assertEqual(text, kaldro.json_dumps(doc).encode() + b"\n")
        region = self.g.window("alpha")
        self.assertEqual(doc["data"]["region"]["hex"], region.hex())
        self.assertEqual(doc["data"]["region"]["sha256"], hashlib.sha256(region).hexdigest())
        self.assertEqual(doc["data"]["label"], "alpha")
        self.assertEqual(doc["data"]["the_one"]["hex"], self.one.hex())
        target = kaldro.Genome(os.path.join(self.root, "one"), self.one)
        target.import_bundle(path)
        self.assertEqual(target.load(), region)
        # A tampered region is refused.
        doc["data"]["region"]["hex"] = region[:-1].hex() + "00"
        with open(path, "w") as f:
            f.write(json.dumps(doc))
        with self.assertRaises(kaldro.KaldroInvalidError):
            kaldro.Genome(os.path.join(self.root, "dst"), self.one).import_bundle(path)
        with self.assertRaises(kaldro.KaldroInvalidError):
            self.g.export("absent", path)

    def test_explode_and_pack_order_by_label(self):
        names = self.g.explode(os.path.join(self.root, "bundles"))
        self.assertEqual(sorted(names), sorted(os.listdir(os.path.join(self.root, "bundles"))))
        dst = kaldro.Genome(os.path.join(self.root, "dst"), self.one)
        dst.pack(os.path.join(self.root, "bundles"))
        labels = [c["label"] for c in dst.chromosomes()]
        self.assertEqual(labels, ["alpha", "mid", "zeta"])
        self.assertEqual(dst.load(), b"".join(self.g.window(l) for l in labels))


if __name__ == "__main__":
    unittest.main()
