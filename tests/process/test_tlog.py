"""tools/tlog: the log it appends to, the proofs it writes, what its monitor alerts on. No Wine needed."""
import base64
import contextlib
import hashlib
import importlib.machinery
import importlib.util
import io
import os
import pathlib
import shutil
import subprocess
import sys
import tempfile
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("VELMAR_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
TOOL = str(SOURCE_DIR / "tools/tlog")
KEY, PUB, ED_KEY = (str(SOURCE_DIR / "tests/keys" / name) for name in
                    ("test-log-key.pem", "test-log-key.pub.pem", "test-log-ed25519-key.pem"))
ORIGIN = "update.velmar.test/log"
sys.path.insert(0, str(SOURCE_DIR / "tools"))
from update_server import UpdateServer  # noqa: E402


def h(data):
    return hashlib.sha256(data).digest()


def root_from_inclusion(index, size, leaf, path):
    """RFC 9162 2.1.3.2, apart from the tool's recursive PATH."""
    fn, sn, r = index, size - 1, leaf
    for p in path:
        if sn == 0:
            return None
        if fn & 1 or fn == sn:
            r = h(b"\x01" + p + r)
            while fn and not fn & 1:
                fn, sn = fn >> 1, sn >> 1
        else:
            r = h(b"\x01" + r + p)
        fn, sn = fn >> 1, sn >> 1
    return r if sn == 0 else None


def roots_from_consistency(first, second, first_hash, path):
    """RFC 9162 2.1.4.2: the (first, second) roots the proof leads to."""
    if first & (first - 1) == 0:
        path = [first_hash] + path
    fn, sn = first - 1, second - 1
    while fn & 1:
        fn, sn = fn >> 1, sn >> 1
    fr = sr = path[0]
    for c in path[1:]:
        if fn & 1 or fn == sn:
            fr, sr = h(b"\x01" + c + fr), h(b"\x01" + c + sr)
            while fn and not fn & 1:
                fn, sn = fn >> 1, sn >> 1
        else:
            sr = h(b"\x01" + sr + c)
        fn, sn = fn >> 1, sn >> 1
    return (fr, sr) if sn == 0 else None


def oracle(*args):
    run = subprocess.run([TOOL, "oracle", *args], capture_output=True, text=True, check=True)
    return {int(row[0]): [bytes.fromhex(v) for v in row[1:]] for row in map(str.split, run.stdout.splitlines())}


class Tlog(unittest.TestCase):
    def setUp(self):
        self.site = pathlib.Path(self.enterContext(tempfile.TemporaryDirectory(prefix="velmar-tlog-")))
        self.log, self.known, self.state = self.site / "update/log", self.site / "known", self.site / "state"
        self.known.mkdir()
        (self.site / "update").mkdir()

    def manifest(self, n):
        data = b"[main]\r\nversion=1.0.0.%d\r\nserial=%d\r\n" % (n, 1800000000 + n)
        (self.site / "update/version.ini").write_bytes(data)
        (self.known / ("%d.ini" % n)).write_bytes(data)
        return data

    def release(self, n, *more, code=0):
        self.manifest(n)
        run = subprocess.run([TOOL, "append", "--key", KEY, "--origin", ORIGIN, *more, self.site],
                             capture_output=True, text=True)
        self.assertEqual(code, run.returncode, run.stdout + run.stderr)
        return run

    def monitor(self, *more, where=None):
        run = subprocess.run([TOOL, "monitor", "--pub", PUB, "--origin", ORIGIN, *more, where or self.site],
                             capture_output=True, text=True)
        return run.returncode, run.stdout

    def assert_proved(self, n):
        """The written proof leads from release n's entry to the root of the checkpoint it carries."""
        head, checkpoint = (self.site / "update/version.ini.tlog-proof").read_bytes().split(b"\n\n", 1)
        self.assertEqual((self.log / "checkpoint").read_bytes(), checkpoint)
        header, index, *path = head.decode().split("\n")
        entry = b"velmar-manifest/v1\n%s\n" % hashlib.sha256(self.manifest(n)).hexdigest().encode()
        _, size, root = checkpoint.split(b"\n")[:3]
        self.assertEqual(("c2sp.org/tlog-proof@v1", base64.b64decode(root)),
                         (header, root_from_inclusion(int(index.removeprefix("index ")), int(size), h(b"\x00" + entry),
                                                      [base64.b64decode(line) for line in path])))

    def test_three_releases_then_monitor_over_http_and_a_fork(self):
        for n in (1, 2, 3):
            self.release(n, *(["--ed25519-key", ED_KEY] if n == 3 else []))
        self.assert_proved(3)
        # Both signatures of the checkpoint verify on their own terms.
        text, signatures = (self.log / "checkpoint").read_text("utf-8").split("\n\n")
        (name, p256), (ed_name, ed25519) = [line.split(" ")[1:] for line in signatures.splitlines()]
        spki = subprocess.run(["openssl", "pkey", "-pubin", "-in", PUB, "-outform", "DER"], capture_output=True).stdout
        self.assertEqual((ORIGIN, ORIGIN, h(spki)[:4]), (name, ed_name, base64.b64decode(p256)[:4]))
        (self.site / "sig").write_bytes(base64.b64decode(p256)[4:])
        subprocess.run(["openssl", "dgst", "-sha256", "-verify", PUB, "-signature", self.site / "sig"],
                       input=(text + "\n").encode(), check=True, capture_output=True)
        from cryptography.hazmat.primitives.serialization import Encoding, PublicFormat, load_pem_private_key
        public = load_pem_private_key(pathlib.Path(ED_KEY).read_bytes(), None).public_key()
        raw = public.public_bytes(Encoding.Raw, PublicFormat.Raw)
        self.assertEqual(h(ORIGIN.encode() + b"\n\x01" + raw)[:4], base64.b64decode(ed25519)[:4])
        public.verify(base64.b64decode(ed25519)[4:], (text + "\n").encode())

        url = self.serve()
        code, out = self.monitor("--state", self.state, "--known", self.known, where=url)
        self.assertEqual((0, 3), (code, out.count("new entry")), out)
        code, out = self.monitor("--state", self.state)
        self.assertEqual((0, 0), (code, out.count("new entry")), out)

        # Another history under the same key: the stored checkpoint stays as the evidence.
        stored = self.state.read_bytes()
        shutil.rmtree(self.log)
        for n in (1, 4, 3, 5):
            self.release(n)
        code, out = self.monitor("--state", self.state, where=url)
        self.assertEqual((1, stored), (code, self.state.read_bytes()), out)
        self.assertRegex(out, r"ALERT .*fork.* size 3, root ")

    def serve(self):
        server = UpdateServer(self.site).start()
        self.addCleanup(server.stop)
        return "http://127.0.0.1:%d/update/" % server.port

    def test_an_unknown_manifest_and_a_changed_tile_are_alerted(self):
        for n in (1, 2, 3):
            self.release(n)
            if n == 2:
                self.assertEqual(0, self.monitor("--state", self.state)[0])
        os.unlink(self.known / "2.ini")
        code, out = self.monitor("--known", self.known)
        digest = hashlib.sha256(self.manifest(2)).hexdigest()
        self.assertEqual((1, 1), (code, out.count("ALERT")), out)
        self.assertRegex(out, "ALERT .*entry 1 .*" + digest)

        # A changed tile or bundle of this size, or the partial tile of the stored size. Over HTTP the
        # monitor sees only what updaters fetch; append reads the folder whole and names the file.
        self.manifest(4)
        url = self.serve()
        for name in ("tile/0/000.p/3", "tile/entries/000.p/3", "tile/0/000.p/2"):
            with self.subTest(changed=name):
                before = {path: path.read_bytes() for path in self.site.rglob("*") if path.is_file()}
                path = self.log / name
                path.write_bytes(bytes([path.read_bytes()[0] ^ 1]) + path.read_bytes()[1:])
                code, out = self.monitor("--state", self.state, where=url)
                self.assertEqual((1, True), (code, "ALERT" in out), out)
                self.assertIn(name, self.release(4, code=1).stderr)
                path.write_bytes(before[path])
                self.assertEqual(before, {path: path.read_bytes() for path in self.site.rglob("*") if path.is_file()})

    def test_crossing_a_tile_boundary(self):
        tlog = importlib.machinery.SourceFileLoader("tlog", TOOL)
        module = importlib.util.module_from_spec(importlib.util.spec_from_loader("tlog", tlog))
        tlog.exec_module(module)
        self.manifest(1)
        others = [b"velmar-manifest/v1\n%s\n" % os.urandom(32).hex().encode() for _ in range(253)]
        with contextlib.redirect_stdout(io.StringIO()):
            module.append(str(self.site), KEY, ORIGIN, earlier=others)
        self.assertEqual(0, self.monitor("--state", self.state)[0])
        for n in (2, 3, 4):  # sizes 255, 256 (tile 0 full), 257
            self.release(n)
            self.assert_proved(n)
        for name in ("tile/0/000", "tile/0/001.p/1", "tile/1/000.p/1", "tile/entries/000", "tile/entries/001.p/1"):
            self.assertTrue((self.log / name).is_file(), name)
        # Without the partial tile of the stored size, the full tile stands in for it.
        os.unlink(self.log / "tile/0/000.p/254")
        code, out = self.monitor("--state", self.state, "--known", self.known)
        self.assertEqual((0, 3), (code, out.count("new entry")), out)
        huge = module.sign_checkpoint(KEY, module.p256_public_der(KEY, True), ORIGIN, (1 << 63) - 1, bytes(32))
        (self.log / "checkpoint").write_bytes(huge.note)  # a size no log has: cannot be checked, said at once
        self.assertEqual(2, self.monitor("--state", self.state)[0])

    def test_oracle_agrees_with_rfc9162_verification(self):
        roots = oracle("roots", "257")
        for size in (1, 2, 7, 255, 256, 257):
            for index, path in oracle("inclusion", str(size)).items():
                self.assertEqual(roots[size][0], root_from_inclusion(index, size, h(b"\x00%d" % index), path))
        for first, path in oracle("consistency", "257").items():
            want = [] if first == 257 else [roots[first][0], roots[257][0]]
            self.assertEqual(want, path and list(roots_from_consistency(first, 257, roots[first][0], path)))


if __name__ == "__main__":
    unittest.main()
