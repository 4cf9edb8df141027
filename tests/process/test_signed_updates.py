"""Signed updates: the test build carries the test key and installs only what
it signed; its twin without a key installs as before and never asks for a
signature."""
import os
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

    def test_package_without_a_good_signature_is_deleted_and_never_run(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        patch = self.serve_patch()
        kinds = {
            "patch": (dict(), "/v:1.0.0.5", patch, [CHECKING, available("1.0.0.9")]),
            "full": (dict(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe"),
                     "/v:1.0.0.5 /installpath:C:\\windows", "/full/VelmarSetup.exe", [CHECKING]),
        }
        for kind, (manifest, tail, path, before_install) in kinds.items():
            with open(os.path.join(self.root, path.lstrip("/")), "rb") as f:
                package = f.read()
            for name, (fault, reason) in self.bad_signatures(package).items():
                with self.subTest(kind=kind, signature=name):
                    self.fresh_run()
                    self.manifest(**manifest)
                    self.server.faults = {path + ".sig": fault}
                    self.run_cycle("--velmarupdate-log " + tail)
                    self.assertEqual(before_install + [complete(3)], self.texts())
                    self.assertIsNone(read_record(self.record), "the installer must not start")
                    for files in self.new_temp_entries()[1].values():
                        self.assertEqual([], files, "the rejected package is deleted")
                    self.assertIn(" SignatureRejected:%s %s" % (SERVER_ROOT_URL + path, reason), self.log())
            with self.subTest(kind=kind, signature="good"):
                self.fresh_run()
                self.manifest(**manifest)
                self.server.faults = {}
                self.run_cycle(tail)
                self.assertEqual(before_install + [INSTALLING, complete(1)], self.texts())
                self.assertIn(path + ".sig", self.server.requested_paths())
                self.assertIsNotNone(read_record(self.record))


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
