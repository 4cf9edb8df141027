"""Signed updates: the test build trusts the two test keys and the test log, and
installs only the exact package that a fresh, signed, logged manifest binds; its
twin without a key installs as before and never asks for a signature."""
import base64
import contextlib
import hashlib
import io
import os
import re
import shutil
import subprocess
import tempfile

import harness
from cycle_fixture import (CHECKING, FAKE_INSTALLER, INSTALLING, SERVER_ROOT_URL, UPDATE_PATH, Fault,
                           UpdateCycleFixture, available, complete, read_record)


def openssl(*args):
    return subprocess.run(["openssl"] + list(args), check=True, stdout=subprocess.PIPE,
                          stderr=subprocess.PIPE).stdout


class SignedUpdates(UpdateCycleFixture):
    @classmethod
    def setUpClass(cls):
        super().setUpClass()
        cls.keys = tempfile.mkdtemp(prefix="velmar-keys-")
        cls.other_key = os.path.join(cls.keys, "other.pem")
        openssl("ecparam", "-name", "prime256v1", "-genkey", "-noout", "-out", cls.other_key)

    @classmethod
    def tearDownClass(cls):
        shutil.rmtree(cls.keys, ignore_errors=True)
        super().tearDownClass()

    def signature(self, data, key=harness.TEST_SIGNING_KEY):
        path = os.path.join(self.keys, "data")
        with open(path, "wb") as f:
            f.write(data)
        return openssl("dgst", "-sha256", "-sign", key, path)

    def bad_signatures(self, signed_bytes):
        """What a .sig may hold that must be refused: name -> (fault for the .sig URL, log reason)."""
        return {
            "missing": (Fault(404, b"not found"), "signature missing or unreadable"),
            "empty": (Fault(200, b""), "signature malformed"),
            "over_1_KiB": (Fault(200, b"0" * 1025), "signature missing or unreadable"),
            "of_other_bytes": (Fault(200, self.signature(signed_bytes + b"\n")), "signature does not match"),
            "by_another_key": (Fault(200, self.signature(signed_bytes, self.other_key)), "signature does not match"),
        }

    def log(self):
        (_, text), = self.app.run_logs()
        return text

    def test_manifest_without_a_good_signature_ends_with_3(self):
        self.manifest()
        self.serve_patch()
        self.publish()
        with open(os.path.join(self.root, "update", "version.ini"), "rb") as f:
            manifest = f.read()
        for name, (fault, reason) in self.bad_signatures(manifest).items():
            with self.subTest(name):
                self.fresh_run()
                self.server.faults = {UPDATE_PATH + "version.ini.sig": fault}
                self.checked("--velmarupdate-log /v:1.0.0.5", [CHECKING, complete(3)])
                self.assertEqual([UPDATE_PATH + "version.ini", UPDATE_PATH + "version.ini.sig"],
                                 self.server.requested_paths(), "no package is asked for")
                self.assertIn(" SignatureRejected:%sversion.ini %s" % (SERVER_ROOT_URL + UPDATE_PATH, reason),
                              self.log())

    def test_packages_the_manifest_does_not_bind_are_refused_unrun(self):
        installer = open(FAKE_INSTALLER, "rb").read()
        self.serve("full/VelmarSetup.exe", installer)
        patch_data = b"PATCH 5-9 " * 1000
        patch = self.serve_patch(data=patch_data)
        other_pair = b"PATCH 4-9 " * 1000  # signed too, under its own name
        self.serve_patch(installed="1.0.0.4", data=other_pair)
        full = (dict(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe"),
                "/v:1.0.0.5 /installpath:C:\\windows", [CHECKING])
        cases = {
            "older_installer_at_newest": full + ({"/full/VelmarSetup.exe": Fault(200, installer[:-4096])},
                                                 "TransferFailed:%s/full/VelmarSetup.exe Content-Length differs"
                                                 % SERVER_ROOT_URL),
            "another_pairs_patch": (dict(), "/v:1.0.0.5", [CHECKING, available("1.0.0.9")],
                                    {patch: Fault(200, other_pair)}, "PackageRejected:%s%s its SHA-256 differs"
                                    % (SERVER_ROOT_URL, patch)),
            "no_entry": (dict(bindings={"1.0.0.5-1.0.0.9/velmar.diff": None}), "/v:1.0.0.5",
                         [CHECKING, available("1.0.0.9")], {},
                         "the manifest binds no [sha256] and [size] for 1.0.0.5-1.0.0.9/velmar.diff"),
            "too_many_bytes": (dict(), "/v:1.0.0.5", [CHECKING, available("1.0.0.9")],
                               {patch: Fault(200, patch_data + b"x" * 65536, no_length=True)},
                               "over the size limit of %d bytes" % len(patch_data)),
        }
        for name, (manifest, tail, before, faults, reason) in cases.items():
            with self.subTest(name):
                self.fresh_run()
                self.manifest(**manifest)
                self.server.faults = faults
                self.checked("--velmarupdate-log " + tail, before + [complete(3)])
                self.assertIsNone(read_record(self.record), "the installer must not start")
                self.assertEqual([], sum(self.new_temp_entries()[1].values(), []), "nothing unverified is left")
                self.assertIn(reason, self.log())
                self.assertEqual(name != "no_entry", len(self.server.requested_paths()) == 3)

    def test_stale_or_replayed_manifests_are_refused(self):
        self.serve_patch()
        self.manifest(version="1.0.0.5", serial=1000)
        self.checked("/v:1.0.0.5", [CHECKING, complete(1)])
        for name, publish, reason in (
                ("expired", dict(serial=1001, expires="2020-01-01T00:00:00Z"), "ManifestRejected:expired"),
                ("lower_serial", dict(serial=999), "ManifestRejected:serial lower than one accepted before")):
            with self.subTest(name):
                self.fresh_run()
                self.manifest(**publish)
                self.checked("--velmarupdate-log /v:1.0.0.5", [CHECKING, complete(3)])
                self.assertEqual([UPDATE_PATH + "version.ini", UPDATE_PATH + "version.ini.sig"],
                                 self.server.requested_paths())
                self.assertIn(reason, self.log())
        # The same serial again is the same manifest: accepted.
        self.fresh_run()
        self.manifest(serial=1000)
        self.checked("/v:1.0.0.5", [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)])

    def test_each_key_keeps_its_own_serial_and_a_later_key_retires_the_earlier(self):
        """A huge serial under one key (a leaked key, a signing clock gone wrong) locks out only that key;
        once the key listed after it was accepted, the earlier key is refused whatever its serial."""
        self.serve_patch()
        installed = [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)]
        a, b = harness.TEST_SIGNING_KEY, harness.TEST_SIGNING_KEY_2
        for key, serial, texts, reason in ((a, 2 ** 63 - 1, installed, None),
                                           (b, 1000, installed, None),
                                           (a, 2 ** 63 - 1, [CHECKING, complete(3)], "signed with a retired key"),
                                           (b, 999, [CHECKING, complete(3)], "serial lower than one accepted"),
                                           (b, 1000, installed, None)):
            with self.subTest(key=os.path.basename(key), serial=serial):
                self.fresh_run()
                self.server.sign_key = key
                self.manifest(serial=serial)
                self.checked("--velmarupdate-log /v:1.0.0.5", texts)
                if reason:
                    self.assertIn(" ManifestRejected:" + reason, self.log())
        self.server.sign_key = harness.TEST_SIGNING_KEY
        stored = set(re.findall(r'"(ManifestSerial[^"]*)"=hex\(b\)', self.registry_export()))
        spki = [openssl("pkey", "-in", key, "-pubout", "-outform", "DER") for key in (harness.TEST_SIGNING_KEY,
                                                                                       harness.TEST_SIGNING_KEY_2)]
        self.assertEqual({"ManifestSerial-" + hashlib.sha256(der).hexdigest()[:16] for der in spki}, stored)

    def test_second_key_signs_patch_and_full_update(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        self.serve_patch()
        self.server.sign_key = harness.TEST_SIGNING_KEY_2
        try:
            for manifest, tail, texts in (
                    (dict(), "/v:1.0.0.5", [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)]),
                    (dict(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe"),
                     "/v:1.0.0.5 /installpath:C:\\windows", [CHECKING, INSTALLING, complete(1)])):
                with self.subTest(tail=tail):
                    self.fresh_run()
                    self.manifest(**manifest)
                    self.checked(tail, texts)
                    self.assertIsNotNone(read_record(self.record))
        finally:
            self.server.sign_key = harness.TEST_SIGNING_KEY

    def test_a_full_installer_runs_only_when_signed_by_a_pinned_publisher(self):
        # The manifest binds each file served, as if its key had leaked: the pin decides, also after a failed
        # patch and in the build without keys. A refused package is not run, not left, and fetched once.
        signed, unsigned, foreign = (open(os.path.join(harness.BUILD_DIR, "fake_installer%s.exe" % s), "rb").read()
                                     for s in ("-signed", "", "-signed-foreign"))
        keyless = harness.Installation("unsigned", updater=harness.UNSIGNED_UPDATER)
        self.addCleanup(keyless.remove)
        for name, (data, miniver, app, why) in {
                "pinned": (signed, "1.0.0.6", self.app, None),
                "unsigned": (unsigned, "1.0.0.6", self.app, "not signed"),
                "foreign, after a failed patch": (foreign, "1.0.0.0", self.app, "publisher [0-9a-f]{16} not pinned"),
                "a byte changed, it still runs": (signed.replace(b"This", b"this", 1), "1.0.0.6", self.app,
                                                  r"the signature does not verify \(0x80096010\)"),
                "foreign, no keys": (foreign, "1.0.0.6", keyless, "publisher [0-9a-f]{16} not pinned")}.items():
            with self.subTest(name):
                self.fresh_run()
                self.serve("full/VelmarSetup.exe", data)
                self.manifest(miniver=miniver, newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe")
                patch = [available("1.0.0.9")] if miniver < "1.0.0.5" else []
                self.checked("--velmarupdate-log /v:1.0.0.5 /installpath:C:\\windows",
                             [CHECKING] + patch + ([complete(3)] if why else [INSTALLING, complete(1)]), app=app)
                self.assertEqual((why is None, 1, ([], {}), False), (read_record(self.record) is not None,
                                 self.server.requested_paths().count("/full/VelmarSetup.exe"), self.new_temp_entries(),
                                 os.path.exists(os.path.join(harness.TEMP_DIR, "VelmarUpdate"))))
                self.assertRegex(app.run_logs()[0][1], " PackageRejected:%s/full/VelmarSetup.exe %s" % (
                    re.escape(SERVER_ROOT_URL), why) if why else "^(?!.*PackageRejected)")

    def registry_export(self):
        """The values beside LastTimeCheck as regedit exports them (wine reg cannot show a REG_QWORD)."""
        export = os.path.join(self.keys, "export.reg")
        harness.wine(["regedit", "/E", harness.win_path(export), "HKEY_CURRENT_USER\\" + harness.REG_KEY[5:]])
        with open(export, encoding="utf-16") as f:
            return f.read()

    def stored_checkpoint(self):
        """(TlogSize, TlogRoot) as the registry holds them, None for one that is absent."""
        text = re.sub(r"\\\r?\n\s*", "", self.registry_export())
        values = [re.search(r'"%s"=%s:([0-9a-f,]*)' % name, text) for name in (("TlogSize", r"hex\(b\)"),
                                                                            ("TlogRoot", "hex"))]
        size, root = [bytes.fromhex(v[1].replace(",", "")) if v else None for v in values]
        return size and int.from_bytes(size, "little"), root

    def logged(self, *earlier):
        """Appends version.ini, after the entries earlier, as the vendor does; its proof and checkpoint."""
        with contextlib.redirect_stdout(io.StringIO()):
            self.server.tlog.append(self.root, harness.TEST_LOG_KEY, harness.LOG_ORIGIN, earlier=earlier)
        update = os.path.join(self.root, "update")
        with open(os.path.join(update, "version.ini.tlog-proof"), "rb") as f:
            proof = f.read()
        _, size, root = proof.split(b"\n\n")[1].split(b"\n")[:3]
        return proof, (int(size), base64.b64decode(root))

    def test_only_a_manifest_the_log_holds_is_taken(self):
        others = [b"velmar-manifest/v1\n%s\n" % os.urandom(32).hex().encode() for _ in range(300)]
        proof_path = UPDATE_PATH + "version.ini.tlog-proof"
        self.manifest(version="1.0.0.5", serial=1000)
        self.checked("/v:1.0.0.5", [CHECKING, complete(1)])
        self.assertEqual(self.logged()[1], self.stored_checkpoint(), "a fresh installation takes the first")

        # The log grows past a tile boundary, then on past the next, whose partial tiles go: the
        # installation reads the tiles of the size the proof names, the gone one from the full tile.
        self.manifest(version="1.0.0.5", serial=1001)
        self.main = None
        proof, checkpoint = self.logged(*others)
        with open(os.path.join(self.root, "update", "version.ini"), "rb") as f:
            manifest = f.read()
        self.serve("update/version.ini", b"[main]\r\nversion=1.0.0.4\r\n")
        self.logged(*others)
        self.serve("update/version.ini", manifest)
        shutil.rmtree(os.path.join(self.root, "update/log/tile/0/001.p"))
        self.server.faults = {proof_path: Fault(200, proof)}
        self.fresh_run()
        self.checked("/v:1.0.0.5", [CHECKING, complete(1)])
        tiles = [path for path in self.server.requested_paths(with_log=True) if "/log/" in path]
        self.assertEqual(["tile/0/001.p/46", "tile/0/001", "tile/0/000", "tile/1/000.p/1"],
                         [path.split("/log/")[1] for path in tiles])
        self.assertEqual(checkpoint, self.stored_checkpoint())

        # A shorter log, another history, a proof of another manifest, none: refused, the checkpoint kept.
        for name, (fault, entry) in {
                "a log rolled back": (None, " TlogStale:the log's size 1 is below the size 302 accepted before"),
                "another history": (None, " TlogFork:accepted before size 302 root %s; the log now has size 402"
                                    % base64.b64encode(checkpoint[1]).decode()),
                "another manifest's proof": (Fault(200, proof), " TlogRejected:the proof does not show this manifest"),
                "no proof": (Fault(404), " TlogRejected:no proof")}.items():
            with self.subTest(name):
                self.fresh_run()
                self.server.faults = {proof_path: fault} if fault else {}
                shutil.rmtree(os.path.join(self.root, "update", "log"))
                self.manifest(version="1.0.0.5", serial=1002)
                self.main = None  # the manifest as logged here
                self.logged(*{"another history": others + others[:101]}.get(name, []))
                self.checked("--velmarupdate-log /v:1.0.0.5", [CHECKING, complete(3)])
                self.assertIn(entry, self.log())
                self.assertEqual(checkpoint, self.stored_checkpoint())
                self.assertEqual([UPDATE_PATH + "version.ini", UPDATE_PATH + "version.ini.sig"],
                                 self.server.requested_paths(), "no package is asked for")


class UnsignedBuild(UpdateCycleFixture):
    """Built without a key, the updater behaves as it always did."""

    def setUp(self):
        super().setUp()
        self.app.remove()
        self.app = harness.Installation("unsigned", updater=harness.UNSIGNED_UPDATER)
        shutil.copy2(FAKE_INSTALLER, os.path.join(self.app.dir, "setup.exe"))
        self.record = os.path.join(self.app.dir, "installer-record.txt")

    def test_installs_patch_and_full_package_without_asking_for_signatures(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        self.serve_patch()
        # A wrong signature beside each file changes nothing: it is never read.
        for name in ("update/version.ini.sig", "update/1.0.0.5-1.0.0.9/velmar.diff.sig", "full/VelmarSetup.exe.sig"):
            self.serve(name, b"not a signature")
        for manifest, tail, expected in (
                (dict(), "/v:1.0.0.5", [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)]),
                (dict(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe"),
                 "/v:1.0.0.5 /installpath:C:\\windows", [CHECKING, INSTALLING, complete(1)])):
            with self.subTest(tail=tail):
                self.host.clear()
                with self.server.lock:
                    self.server.requests.clear()
                self.manifest(**manifest)
                self.run_cycle(tail)
                self.assertEqual(expected, self.texts())
                self.assertEqual([], [p for p in self.server.requested_paths() if p.endswith(".sig")])
