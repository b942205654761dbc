"""The loader, version and capability queries, and the status exceptions."""
import os
import shutil
import subprocess
import sys
import tempfile
import unittest

from kaldro_testing import kaldro, HERE

PACKAGE = os.path.join(HERE, "..", "..", "bindings", "python", "kaldro")


def cpu_flags():
    try:
        with open("/proc/cpuinfo") as f:
            for line in f:
                if line.startswith("flags"):
                    return set(line.split(":", 1)[1].split())
    except OSError:
        pass
    return None


class FrameTest(unittest.TestCase):
    def test_version_and_features(self):
        self.assertEqual(kaldro.version(), "0.8.2")
        self.assertEqual(kaldro.abi_version(), 3)
        features = kaldro.simd_features()
        flags = cpu_flags()
        if flags is not None and os.uname().machine == "x86_64":
            self.assertEqual(features["sse2"], "sse2" in flags)
            self.assertEqual(features["shani"], "sha_ni" in flags)
            self.assertEqual(features["avx2"], "avx2" in flags)

    def test_exceptions_per_status(self):
        classes = {kaldro.ERR_NULL: kaldro.KaldroNullError,
                   kaldro.ERR_INVALID: kaldro.KaldroInvalidError,
                   kaldro.ERR_IO: kaldro.KaldroIOError,
                   kaldro.ERR_CAPACITY: kaldro.KaldroCapacityError,
                   kaldro.ERR_RESOURCE: kaldro.KaldroResourceError}
        for status, cls in classes.items():
            exc = kaldro._l.error_for(status, "kaldro_op")
            self.assertIs(type(exc), cls)
            self.assertIsInstance(exc, kaldro.KaldroError)
            self.assertEqual((exc.status, exc.operation), (status, "kaldro_op"))
            self.assertIn("kaldro_op", str(exc))
            with self.assertRaises(cls):
                kaldro._l.check(status, "kaldro_op")
        kaldro._l.check(0, "kaldro_op")
        self.assertIs(type(kaldro._l.error_for(99, "x")), kaldro.KaldroError)
        # A real null status from the library itself.
        self.assertEqual(kaldro.lib().kaldro_gcd(1, 2, None), kaldro.ERR_NULL)

    def run_python(self, env, cwd):
        return subprocess.run([sys.executable, "-c", "import kaldro; print(kaldro.version())"],
                              env=env, cwd=cwd, capture_output=True, text=True, timeout=60)

    def test_loader_order(self):
        library = os.environ.get("KALDRO_LIBRARY") or kaldro.lib()._name
        with tempfile.TemporaryDirectory() as d:
            shutil.copytree(PACKAGE, os.path.join(d, "kaldro"),
                            ignore=shutil.ignore_patterns("__pycache__"))
            env = {k: v for k, v in os.environ.items() if k not in ("KALDRO_LIBRARY",
                                                                   "PYTHONPATH")}
            env["PYTHONDONTWRITEBYTECODE"] = "1"
            # A library named by KALDRO_LIBRARY that cannot be loaded is an error.
            bad = dict(env, KALDRO_LIBRARY=os.path.join(d, "missing.so"))
            r = self.run_python(bad, d)
            self.assertNotEqual(r.returncode, 0)
            self.assertIn("libkaldro could not be loaded", r.stderr)
            # A copy next to the package is found without the variable.
            shutil.copy(library, os.path.join(d, "kaldro", "libkaldro.so"))
            r = self.run_python(env, d)
            self.assertEqual((r.returncode, r.stdout.strip()), (0, "0.8.2"), r.stderr)


if __name__ == "__main__":
    unittest.main()
