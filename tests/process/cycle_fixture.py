"""The update-cycle test bed: a local update server, a host window that records
the status messages, a private installation with a fake setup.exe, and helpers
to run one cycle and look at what it left."""
import glob
import hashlib
import os
import re
import shutil
import tempfile
import time
import unittest
import urllib.parse

import sys

import harness
import host

sys.path.insert(0, os.path.join(harness.SOURCE_DIR, "tools"))
from update_server import Fault, UpdateServer  # noqa: E402,F401

BASE_URL = os.environ.get("VELMAR_UPDATE_BASE_URL", "http://127.0.0.1:18741/update/")
BASE = urllib.parse.urlsplit(BASE_URL)
PORT = BASE.port
UPDATE_PATH = BASE.path            # "/update/"
SERVER_ROOT_URL = "%s://%s" % (BASE.scheme, BASE.netloc)
FAKE_INSTALLER = os.path.join(harness.BUILD_DIR, "fake_installer-signed.exe")  # the pinned publisher's: runs as newest

CHECKING = "OnCheckingForUpdate"
INSTALLING = "OnInstalling"


def available(version):
    return "OnUpdateAvailable;" + version


def complete(code):
    return "OnComplete;%d;" % code


def read_record(path):
    """What a fake installer recorded: (command line, argv list), or None."""
    record = harness.read_installer_record(path)
    return None if record is None else record[1:]


class UpdateCycleFixture(unittest.TestCase):
    """Set-up and helpers only; the tests live in the modules that use it."""

    @classmethod
    def setUpClass(cls):
        cls.root = tempfile.mkdtemp(prefix="velmar-update-server-")
        # Signs and logs what it serves, as a release is published.
        cls.server = UpdateServer(cls.root, PORT, sign_key=harness.TEST_SIGNING_KEY, log_key=harness.TEST_LOG_KEY,
                                  log_origin=harness.LOG_ORIGIN).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        shutil.rmtree(cls.root, ignore_errors=True)

    def setUp(self):
        self.main = None  # no manifest set: version.ini, if any, is served as the test wrote it
        harness.reg_delete_key()
        shutil.rmtree(os.path.join(harness.TEMP_DIR, "VelmarUpdate"), ignore_errors=True)
        self.server.faults.clear()
        with self.server.lock:
            self.server.requests.clear()
            self.server.headers_seen.clear()
        shutil.rmtree(os.path.join(self.root, "update"), ignore_errors=True)
        os.makedirs(os.path.join(self.root, "update"))
        self.app = harness.Installation("update")
        shutil.copy2(FAKE_INSTALLER, os.path.join(self.app.dir, "setup.exe"))
        self.record = os.path.join(self.app.dir, "installer-record.txt")
        self.temp_before = set(os.listdir(harness.TEMP_DIR))
        self.host = host.HostWindow(seconds=900)  # outlives the slowest test, even with production limits
        self.host.start()

    def tearDown(self):
        self.host.stop()
        self.app.remove()
        self.clean_temp()

    def clean_temp(self, keep_partial=False, keep_folders=False):
        """Removes what update runs left in the temporary folder: manifest copies, package
        folders and the partial download. Other tests share the folder, so nothing else is touched."""
        if not keep_partial:
            shutil.rmtree(os.path.join(harness.TEMP_DIR, "VelmarUpdate"), ignore_errors=True)
        for name in set(os.listdir(harness.TEMP_DIR)) - self.temp_before:
            path = os.path.join(harness.TEMP_DIR, name)
            if re.fullmatch(r"[0-9]+", name) and not keep_folders:
                shutil.rmtree(path, ignore_errors=True)
            elif re.fullmatch(r"ov[0-9a-f]+\.tmp", name, re.IGNORECASE):
                try:
                    os.unlink(path)
                except FileNotFoundError:
                    pass

    # -- helpers -------------------------------------------------------------

    def manifest(self, version="1.0.0.9", miniver="1.0.0.0", newest=None, **publish):
        """Sets the manifest's [main]; it is published as a release is (see publish) before each run.
        publish: serial, expires and rollout as text, and bindings, name -> bytes to bind (None: no entry)."""
        self.main = "[main]\r\nversion=%s\r\nminiver=%s\r\n" % (version, miniver)
        if newest is not None:
            self.main += "newest=%s\r\n" % newest
        self.newest = newest
        self.publishing = publish
        self.publish()

    def publish(self):
        """Writes version.ini with a serial, an expiry and the [sha256] and [size] of every patch served
        and of the file that "newest" names, as tools/sign-release binds them; the server signs it."""
        now = int(time.time())
        rollout = self.publishing.get("rollout")
        main = self.main + ("rollout=%s\r\n" % rollout if rollout is not None else "")
        main += "serial=%s\r\nexpires=%s\r\n" % (
            self.publishing.get("serial", now),
            self.publishing.get("expires", time.strftime("%Y-%m-%dT%H:%M:%SZ", time.gmtime(now + 86400))))
        bound = {}
        for path in glob.glob(os.path.join(self.root, "update", "*", "velmar.diff")):
            with open(path, "rb") as f:
                bound[os.path.relpath(path, os.path.join(self.root, "update")).replace(os.sep, "/")] = f.read()
        newest = os.path.join(self.root, urllib.parse.urlsplit(self.newest or "").path.lstrip("/"))
        if (self.newest or "").startswith(SERVER_ROOT_URL + "/") and os.path.isfile(newest):
            with open(newest, "rb") as f:
                bound["newest"] = f.read()
        bound.update(self.publishing.get("bindings", {}))
        bound = {name: data for name, data in bound.items() if data is not None}
        text = main + "[sha256]\r\n" + "".join("%s=%s\r\n" % (n, hashlib.sha256(d).hexdigest()) for n, d in bound.items())
        text += "[size]\r\n" + "".join("%s=%d\r\n" % (n, len(d)) for n, d in bound.items())
        with open(os.path.join(self.root, "update", "version.ini"), "w", encoding="latin-1", newline="") as f:
            f.write(text)

    def serve(self, rel_path, data):
        path = os.path.join(self.root, rel_path)
        os.makedirs(os.path.dirname(path), exist_ok=True)
        with open(path, "wb") as f:
            f.write(data)

    def serve_patch(self, installed="1.0.0.5", new="1.0.0.9", data=b"PATCH" * 1000):
        self.serve("update/%s-%s/velmar.diff" % (installed, new), data)
        return "%s%s-%s/velmar.diff" % (UPDATE_PATH, installed, new)

    def run_cycle(self, tail, installer_exit=0, win_env=None, app=None, due=True, installer_seconds=0, setup_exit=""):
        app = app or self.app
        if self.main is not None:
            self.publish()
        if due:
            harness.reg_delete_value("LastTimeCheck")
        line = "/w:%d /j:7 %s" % (self.host.hwnd, tail)
        env = {"VELMAR_FAKE_INSTALLER_RECORD": harness.win_path(self.record),
               "VELMAR_FAKE_INSTALLER_EXIT": str(installer_exit),
               "VELMAR_FAKE_INSTALLER_SECONDS": str(installer_seconds), "VELMAR_FAKE_SETUP_EXIT": str(setup_exit),
               "VELMAR_FAKE_INSTALLER_HASH": "1"}
        result = app.run(line, env=env, win_env=win_env, timeout=120)
        self.assertEqual(0, result.code, "update mode always exits 0")
        return result

    def checked(self, tail, texts, **run_options):
        """Runs a due cycle and checks the host's messages and that the day's check was stamped."""
        before = int(time.time())
        result = self.run_cycle(tail, **run_options)
        self.assertEqual(texts, self.texts())
        self.assert_time_stamp_written(before)
        return result

    def fresh_run(self, keep_partial=False, keep_folders=False):
        """Forgets what earlier runs of the same test left: messages, downloads, logs, requests."""
        self.host.clear()
        self.clean_temp(keep_partial, keep_folders)
        shutil.rmtree(self.app.log_folder(), ignore_errors=True)
        if os.path.exists(self.record):
            os.unlink(self.record)
        with self.server.lock:
            self.server.requests.clear()
            self.server.headers_seen.clear()

    def texts(self):
        return self.host.texts()

    def new_temp_entries(self):
        """New files and folders in the temporary folder: (ov files, {numeric folder: [files]})."""
        ov, folders = [], {}
        for name in set(os.listdir(harness.TEMP_DIR)) - self.temp_before:
            path = os.path.join(harness.TEMP_DIR, name)
            if re.fullmatch(r"ov[0-9a-f]+\.tmp", name, re.IGNORECASE):
                ov.append(name)
            elif os.path.isdir(path) and re.fullmatch(r"[0-9]+", name):
                self.assertRegex(name, r"^(0|[1-9][0-9]{0,4})$", "decimal, no leading zeros")
                self.assertLessEqual(int(name), 32767)
                folders[name] = sorted(os.listdir(path))
        return ov, folders

    def assert_time_stamp_written(self, before):
        stamp = harness.reg_query_last_check()
        self.assertIsNotNone(stamp)
        self.assertGreaterEqual(stamp, before)
        self.assertLessEqual(stamp, int(time.time()) + 1)
