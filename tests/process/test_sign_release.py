"""tools/sign-release: the signed manifest it writes, and its --check. No Wine needed."""
import configparser
import hashlib
import os
import pathlib
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("VELMAR_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
TOOL, KEY, PUBLIC = (str(SOURCE_DIR / path) for path in
                     ("tools/sign-release", "tests/keys/test-update-key.pem", "tests/keys/test-update-key.pub.pem"))
PATCHES = ("1.0.0.5-1.0.0.9/velmar.diff", "1.0.0.7-1.0.0.9/velmar.diff")
# Key in version.ini -> file; the full package is found through newest's URL path.
FILES = {"newest": "dl/velmar/VelmarSetup-1.0.0.9.exe", **{key: "update/" + key for key in PATCHES}}
MAIN = b"[main]\r\nversion=1.0.0.9\r\nminiver=1.0.0.0\r\nnewest=https://dl.example/velmar/VelmarSetup-1.0.0.9.exe\r\n"


class SignRelease(unittest.TestCase):
    def setUp(self):
        self.site = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory(prefix="velmar-site-")))
        self.files = {key: self.site / path for key, path in FILES.items()}
        for n, path in enumerate(self.files.values()):
            path.parent.mkdir(parents=True, exist_ok=True)
            path.write_bytes(os.urandom(1000 + 77 * n))
        self.ini = self.site / "update/version.ini"
        self.ini.write_bytes(MAIN + b"[sha256]\r\n1.0.0.1-1.0.0.9/velmar.diff=00\r\n")  # a patch no longer there

    def tool(self, *args):
        return subprocess.run([TOOL, *args, str(self.site)], capture_output=True, text=True)

    def sign(self, *args):
        run = self.tool(*args, KEY)
        self.assertEqual(0, run.returncode, run.stdout + run.stderr)
        ini = configparser.ConfigParser(delimiters=("=",))
        ini.optionxform = str
        ini.read_string(self.ini.read_bytes().decode("ascii"))
        return ini

    def test_signing_binds_every_package_and_raises_the_serial(self):
        ini = self.sign("--valid-days", "7")
        serial = int(ini["main"]["serial"])
        self.assertAlmostEqual(time.time(), serial, delta=5)
        self.assertEqual(time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(serial + 7 * 86400)), ini["main"]["expires"])
        self.assertEqual(["version", "miniver", "newest", "serial", "expires"], list(ini["main"]))
        self.assertEqual(self.ini.read_bytes().count(b"\n"), self.ini.read_bytes().count(b"\r\n"))
        bound = {key: (ini["sha256"].get(key), ini["size"].get(key)) for key in set(ini["sha256"]) | set(ini["size"])}
        self.assertEqual({key: (hashlib.sha256(path.read_bytes()).hexdigest(), str(path.stat().st_size))
                          for key, path in self.files.items()}, bound)
        for signed in [self.ini, *self.files.values()]:
            subprocess.run(["openssl", "dgst", "-sha256", "-verify", PUBLIC, "-signature", f"{signed}.sig", signed],
                           check=True, capture_output=True)
        # Above the clock, the serial still rises at each signing.
        self.ini.write_bytes(MAIN + b"serial=9000000000000\r\n")
        self.assertEqual(["9000000000001", "9000000000002"], [self.sign()["main"]["serial"] for _ in range(2)])

    def test_check_names_what_changed_after_signing(self):
        self.sign()
        self.assertEqual(0, self.tool("--check", PUBLIC).returncode)
        for path, edit in ((self.files[PATCHES[0]], lambda data: bytes([data[0] ^ 1]) + data[1:]),
                           (self.ini, lambda data: data.replace(b"version=1.0.0.9", b"version=1.0.0.8"))):
            with self.subTest(changed=path.name):
                path.write_bytes(edit(path.read_bytes()))
                if path != self.ini:  # a fresh detached .sig: only the manifest's binding can tell
                    subprocess.run(["openssl", "dgst", "-sha256", "-sign", KEY, "-out", f"{path}.sig", path],
                                   check=True)
                run = self.tool("--check", PUBLIC)
                self.assertNotEqual(0, run.returncode)
                self.assertIn(str(path.relative_to(self.site)), run.stdout)
                self.sign()

    def test_refusals_write_nothing(self):
        self.files["newest"].unlink()
        before = self.ini.read_bytes()
        for args, code in (([KEY], 1), (["--valid-days", "0", KEY], 2)):
            with self.subTest(args=args):
                self.assertEqual(code, self.tool(*args).returncode)
                self.assertEqual(before, self.ini.read_bytes())
                self.assertEqual([], list(self.site.rglob("*.sig")))
