"""tools/sign-release: the signed manifest it writes, and its --check. No Wine needed."""
import ast
import configparser
import hashlib
import importlib.machinery
import importlib.util
import os
import pathlib
import re
import subprocess
import tempfile
import time
import unittest

SOURCE_DIR = pathlib.Path(os.environ.get("VELMAR_SOURCE_DIR", pathlib.Path(__file__).parents[2]))
TOOL, KEY, PUBLIC = (str(SOURCE_DIR / path) for path in
                     ("tools/sign-release", "tests/keys/test-update-key.pem", "tests/keys/test-update-key.pub.pem"))
LOG_KEY, LOG_PUB = (str(SOURCE_DIR / "tests/keys" / name) for name in ("test-log-key.pem", "test-log-key.pub.pem"))
PATCHES = ("1.0.0.5-1.0.0.9/velmar.diff", "1.0.0.7-1.0.0.9/velmar.diff")
# Key in version.ini -> file; the full package is found through newest's URL path.
FILES = {"newest": "dl/velmar/VelmarSetup-1.0.0.9.exe", **{key: "update/" + key for key in PATCHES}}
LOADER = importlib.machinery.SourceFileLoader("sign_release", TOOL)
sign_release = importlib.util.module_from_spec(importlib.util.spec_from_loader("sign_release", LOADER))
LOADER.exec_module(sign_release)
MAIN = b"[main]\r\nversion=1.0.0.9\r\nminiver=1.0.0.0\r\nnewest=https://dl.example/velmar/VelmarSetup-1.0.0.9.exe\r\n"


def tricky_manifests():
    """tests/data/tricky_manifests.inc: (line refused or 0, manifest, {(section, key): value, None when absent})."""
    for line in (SOURCE_DIR / "tests/data/tricky_manifests.inc").read_text("ascii").splitlines():
        if line.startswith("{"):
            refused, ini, *reads = ast.literal_eval("(%s)" % line.rstrip(",")[1:-1])
            yield int(refused), ini.encode("latin-1"), {(section, key): None if value == "<absent>" else value
                                                        for section, key, value in zip(*[iter(reads)] * 3)}


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
        return self.signed()

    def signed(self):
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
        # Above the clock (by less than a day), the serial still rises at each signing.
        ahead = int(time.time()) + 3600
        self.ini.write_bytes(MAIN + b"serial=%d\r\n" % ahead)
        self.assertEqual([str(ahead + 1), str(ahead + 2)], [self.sign()["main"]["serial"] for _ in range(2)])

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

    def test_signing_appends_to_the_log_and_check_verifies_the_proof(self):
        origin = ["--log-origin", "update.velmar.test/log"]
        self.sign("--log-key", LOG_KEY, *origin)
        check = ["--check", PUBLIC, "--log-pub", LOG_PUB, *origin]
        self.assertEqual(0, self.tool(*check).returncode)
        self.sign()  # signed again, not logged: the proof is the earlier manifest's
        run = self.tool(*check)
        self.assertEqual((1, True), (run.returncode, "update/version.ini.tlog-proof: does not lead" in run.stdout),
                         run.stdout)
        (self.site / "update/log/checkpoint").write_bytes(b"not a note")
        before = self.ini.read_bytes()
        run = self.tool("--log-key", LOG_KEY, *origin, KEY)
        self.assertEqual((1, before), (run.returncode, self.ini.read_bytes()), "a log that does not check: nothing signed")

    def assertRefused(self, before, run, code, named):
        self.assertEqual((code, True), (run.returncode, named in run.stderr), run.stderr)
        self.assertEqual(before, self.ini.read_bytes())
        self.assertEqual([], list(self.site.rglob("*.sig")))

    def test_rollout_is_set_replaced_or_kept_and_a_malformed_one_refused(self):
        tail = MAIN[len(b"[main]\r\n"):]
        dated = MAIN + b"serial=5\r\nexpires=2020-01-01T00:00:00Z\r\nlabel=x\r\n"
        bad = MAIN + b"rollout=5.123\r\n"
        for before, args, code, after in (  # after: [main]'s keys in order, or what the refusal names
                (MAIN, [], 0, "version miniver newest serial expires"),
                (dated, ["--rollout", "12.25"], 0, "version miniver newest serial expires rollout=12.25 label"),
                (b"[main]\r\nrollout=50\r\n" + tail, ["--rollout", "100.00"], 0,
                 "rollout=100.00 version miniver newest serial expires"),
                (MAIN + b"rollout= 7.5 \r\n", [], 0, "version miniver newest rollout=7.5 serial expires"),
                (bad, ["--rollout", "0"], 0, "version miniver newest rollout=0 serial expires"),
                (bad, [], 1, "rollout=5.123"),
                *((MAIN, ["--rollout", bad_p], 2, repr(bad_p))
                  for bad_p in ("101", "-1", "+5", "5.", ".5", "5.123", "1e2", " 5"))):
            with self.subTest(before=before, args=args):
                for sig in self.site.rglob("*.sig"):
                    sig.unlink()
                self.ini.write_bytes(before)
                run = self.tool(*args, KEY)
                if code:
                    self.assertRefused(before, run, code, after)
                    continue
                self.assertEqual(0, run.returncode, run.stderr)
                main = self.signed()["main"]
                self.assertEqual(after.split(), [key + "=" + main[key] if key == "rollout" else key for key in main])
                self.assertIn("rollout " + main.get("rollout", "100 (no rollout key"), run.stdout)
        # --check names a malformed rollout even under a good signature.
        self.sign("--rollout", "0")
        self.ini.write_bytes(self.ini.read_bytes().replace(b"rollout=0", b"rollout=1e2"))
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", KEY, "-out", f"{self.ini}.sig", self.ini], check=True)
        run = self.tool("--check", PUBLIC)
        self.assertEqual((1, ["rollout=1e2"]), (run.returncode, re.findall(r"problem: .*?(rollout=\S+)", run.stdout)))

    def test_a_serial_over_a_day_ahead_of_the_clock_is_refused_unless_given(self):
        ahead = int(time.time()) + 86400 + 60
        before = MAIN + b"serial=%d\r\n" % ahead
        for given, code in ((None, 1), (0, 2), (2 ** 63, 2), (ahead + 1, 0), (7, 0), (2 ** 63 - 1, 0)):
            with self.subTest(serial=given):
                self.ini.write_bytes(before)
                run = self.tool(*([] if given is None else ["--serial", str(given)]), KEY)
                if code:
                    self.assertRefused(before, run, code, "--serial")
                else:
                    self.assertEqual((0, str(given)), (run.returncode, self.signed()["main"]["serial"]))
                    self.assertEqual(given < ahead, "warning" in run.stderr, run.stderr)  # lower: warned, written

    def test_publisher_pin_passes_only_the_pinned_publishers_installer(self):
        keys, build = SOURCE_DIR / "tests/keys", pathlib.Path(os.environ["VELMAR_BUILD_DIR"])
        pin = subprocess.run(f"openssl x509 -pubkey -noout -in {keys}/test-publisher.pem | openssl pkey -pubin "
                             "-outform DER | sha256sum", shell=True, check=True, capture_output=True, text=True)
        read = lambda name: (build / name).read_bytes()  # noqa: E731
        # Bytes slipped into the signature's table, its two lengths raised to match: osslsigncode still verifies it.
        padded = bytearray(read("fake_installer-signed.exe") + b"slipped!")
        entry = int.from_bytes(padded[0x3C:0x40], "little") + 24 + 112 + 32  # PE32+: the security directory
        for at in (entry + 4, int.from_bytes(padded[entry:entry + 4], "little")):
            padded[at:at + 4] = (int.from_bytes(padded[at:at + 4], "little") + 8).to_bytes(4, "little")
        for installer, code, said in ((read("fake_installer-signed.exe"), 0, "signed by a pinned publisher"),
                                      (read("fake_installer.exe"), 1, "not signed"),
                                      (read("fake_installer-signed-foreign.exe"), 1, "which is not pinned"),
                                      (padded, 1, "holds bytes beside the signature")):
            with self.subTest(said):
                self.files["newest"].write_bytes(installer)
                self.sign()
                run = self.tool("--check", PUBLIC, "--publisher-pin", pin.stdout[:64],
                                "--publisher-ca", str(keys / "test-publisher-ca.pem"))
                self.assertEqual((code, True), (run.returncode, said in run.stdout), run.stdout)

    def test_refusals_write_nothing(self):
        self.files["newest"].unlink()
        before = self.ini.read_bytes()
        for args, code in (([KEY], 1), (["--valid-days", "0", KEY], 2)):
            with self.subTest(args=args):
                self.assertEqual(code, self.tool(*args).returncode)
                self.assertEqual(before, self.ini.read_bytes())
                self.assertEqual([], list(self.site.rglob("*.sig")))

    def test_only_a_manifest_with_one_reading_is_signed(self):
        """Each shared tricky manifest is refused at its line, or read as the updater reads it."""
        cases = list(tricky_manifests())
        self.assertGreaterEqual(len(cases), 15)
        for refused, ini, reads in cases:
            with self.subTest(ini=ini):
                if refused:
                    self.assertRaisesRegex(sign_release.Refusal, "line %d:" % refused, sign_release.Manifest, ini)
                else:
                    sections = sign_release.Manifest(ini).sections
                    self.assertEqual(reads, {(s, k): sections.get(s.lower(), {}).get(k.lower()) for s, k in reads})
        # The updater takes a newest over 2083 characters for none: the tool must not bind a package to it.
        self.ini.write_bytes(MAIN.replace(b".exe\r\n", b".exe?%s\r\n" % (b"a" * 2100)))
        self.assertRefused(self.ini.read_bytes(), self.tool(KEY), 1, "line 4:")
        self.ini.write_bytes(MAIN)
        for folder in ("A-B", "a-b"):  # one key to the updater, which reads keys without regard to case
            (self.site / "update" / folder).mkdir()
            (self.site / "update" / folder / "velmar.diff").write_bytes(b"x")
        self.assertRefused(MAIN, self.tool(KEY), 1, "update/A-B and update/a-b")
        (self.site / "update/a-b/velmar.diff").unlink()
        # The tool itself: signing writes nothing, --check names the line even under a good signature.
        self.ini.write_bytes(MAIN + b"rollout\r\nrollout=0\r\n")
        self.assertRefused(self.ini.read_bytes(), self.tool(KEY), 1, "line 5:")
        subprocess.run(["openssl", "dgst", "-sha256", "-sign", KEY, "-out", f"{self.ini}.sig", self.ini], check=True)
        self.assertIn("problem: update/version.ini line 5:", self.tool("--check", PUBLIC).stdout)
