"""Transfers that misbehave always end, and end as a failed transfer does: the
manifest, the package and the crash upload against a server that stalls,
trickles, redirects for ever or sends far too much. The build's limits are
short in the test build, so each case ends in a few seconds."""
import hashlib
import os
import shutil
import sys
import time
import unittest
import urllib.parse

import harness
from cycle_fixture import CHECKING, UPDATE_PATH, Fault, UpdateCycleFixture, available, complete, read_record

sys.path.insert(0, os.path.join(harness.SOURCE_DIR, "tools"))
from errorlog_server import ErrorLogServer, Reply  # noqa: E402

TIMEOUT = int(os.environ.get("VELMAR_TRANSFER_TIMEOUT_SECONDS", "3"))
STALL = int(os.environ.get("VELMAR_STALL_SECONDS", "3"))
MANIFEST_LIMIT = int(os.environ.get("VELMAR_MANIFEST_TIME_LIMIT_SECONDS", "5"))
# Ends well before any of the misbehaving answers would (they last a minute and more),
# three tries and two waits included.
DEADLINE = 3 * (TIMEOUT + STALL + MANIFEST_LIMIT) + 10
# What may pass on another try is tried twice more.
RETRIED = {"stall_before_headers", "stall_mid_body", "one_byte_every_2_s", "head_one_byte_every_second"}

MANIFEST = b"[main]\r\nversion=1.0.0.9\r\nminiver=1.0.0.0\r\n"


def misbehaviours(path, body):
    """The ways a server misbehaves at `path`, serving `body`: name -> (fault, what the log says)."""
    return {
        "stall_before_headers": (Fault(stall=120), "timed out"),
        "stall_mid_body": (Fault(200, body=body, stall_after=len(body) // 2, stall=120), "timed out"),
        "one_byte_every_2_s": (Fault(200, body=body, trickle=2.0), "stalled"),
        # Every byte restarts WinINet's receive time-out: only the watcher ends this one.
        "head_one_byte_every_second": (Fault(200, body=body, trickle_head=1.0), "call that did not return"),
        "redirect_loop": (Fault(302, redirect=path), "more than 10 redirects"),
        "redirect_to_file": (Fault(302, redirect="file:///C:/windows/win.ini"), "redirect refused"),
    }


def upload_misbehaviours(path, body):
    """The same misbehaviours at the error-log server, answering a crash report with
    `body`, plus one that stops reading it: name -> (reply, what the log says)."""
    return {
        "stall_before_headers": (Reply(framing="stall", stall_seconds=120), "timed out"),
        "stall_mid_body": (Reply(body=body + b"x" * 4096, stall_after=len(body) // 2, stall_seconds=120),
                           "timed out"),
        "one_byte_every_2_s": (Reply(body=body + b"x" * 200, trickle=2.0), "stalled"),
        "head_one_byte_every_second": (Reply(body=body, trickle_head=1.0), "call that did not return"),
        # A redirect is never followed with the dump.
        "redirect_loop": (Reply(302, body=b"", location=path), "HTTP status 302"),
        "redirect_to_file": (Reply(302, body=b"", location="file:///C:/windows/win.ini"), "HTTP status 302"),
        "server_stops_reading": (Reply(framing="stall", read_body=False, stall_seconds=120), "timed out"),
    }


class CycleTransferFaults(UpdateCycleFixture):
    def run_timed(self, tail, case):
        started = time.monotonic()
        self.run_cycle("--velmarupdate-log " + tail)
        elapsed = time.monotonic() - started
        print("  %s ended after %.1f s: %s" % (case, elapsed, self.texts()[-1:]), file=sys.stderr)
        self.assertLess(elapsed, DEADLINE, "the run must end on its own")
        (_, log), = self.app.run_logs()
        return log

    def test_manifest(self):
        path = UPDATE_PATH + "version.ini"
        cases = misbehaviours(path, MANIFEST)
        cases["twenty_megabytes"] = (None, "over the size limit of 1048576 bytes")
        # 4 KiB/s: fast enough for the stall guard, four times too slow for the time limit.
        slow_body = MANIFEST + b";" * (MANIFEST_LIMIT * 4 * 4096)
        cases["steady_but_too_slow"] = (Fault(200, body=slow_body, trickle=0.5, trickle_bytes=2048),
                                        "over the time limit of %d s" % MANIFEST_LIMIT)
        for name, (fault, reason) in cases.items():
            with self.subTest(name):
                self.fresh_run()
                self.server.faults.clear()
                if fault is None:
                    self.serve("update/version.ini", MANIFEST + b";" * (20 * 1024 * 1024))
                else:
                    self.server.faults[path] = fault
                before, started = int(time.time()), time.monotonic()
                log = self.run_timed("/v:1.0.0.5", "manifest " + name)
                # A failed manifest: nothing to install, and the day's check is done.
                self.assertEqual([CHECKING, complete(1)], self.texts())
                self.assert_time_stamp_written(before)
                self.assertIn(" TransferFailed:", log)
                self.assertIn(reason, log)
                requested = self.server.requested_paths()
                self.assertEqual({path}, set(requested))
                # The manifest's one time budget takes the retries and their waits too: a try
                # given up late may leave no time for another.
                tries = {11} if name == "redirect_loop" else {1, 2, 3} if name in RETRIED else {1}
                self.assertIn(len(requested), tries)
                self.assertLess(time.monotonic() - started, MANIFEST_LIMIT + 3)
                self.assertEqual(name in RETRIED, " Retry:" in log)

    def test_package(self):
        self.manifest()
        patch = self.serve_patch()
        for name, (fault, reason) in misbehaviours(patch, b"PATCH" * 1000).items():
            with self.subTest(name):
                self.fresh_run()
                self.server.faults[patch] = fault
                log = self.run_timed("/v:1.0.0.5", "package " + name)
                self.assertEqual([CHECKING, available("1.0.0.9"), complete(3)], self.texts())
                self.assertIsNone(read_record(self.record), "the installer must not start")
                self.assertIn(reason, log)
        # The mutex was given back every time: a normal run installs.
        self.fresh_run()
        self.server.faults.clear()
        self.run_cycle("/v:1.0.0.5")
        self.assertEqual(complete(1), self.texts()[-1])


class UploadTransferFaults(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        url = urllib.parse.urlsplit(os.environ.get("VELMAR_ERROR_LOG_URL",
                                                   "http://127.0.0.1:18742/index.php?do=adderrorlog"))
        cls.path = url.path
        # Keeps sizes and digests only: seven uploads of 48 MiB.
        cls.server = ErrorLogServer(port=url.port, keep_bodies=False).start()
        cls.app = harness.Installation("upload-faults")
        cls.dump = os.path.join(cls.app.dir, "crash.dmp")
        # Larger than the socket buffers, so a server that stops reading blocks the sender.
        with open(cls.dump, "wb") as f:
            f.write(os.urandom(1024 * 1024) * 48)
        with open(cls.dump, "rb") as f:
            cls.digest = hashlib.sha256(f.read()).hexdigest()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.app.remove()

    def test_upload(self):
        cases = upload_misbehaviours(self.path, b'{"stored": true}\n')
        for name, (reply, reason) in cases.items():
            with self.subTest(name):
                self.server.set_reply(reply)
                self.server.reset()
                shutil.rmtree(self.app.log_folder(), ignore_errors=True)
                harness.clear_crash_record()  # each case is a first report
                started = time.monotonic()
                result = self.app.run("--velmarupdate-log /u:%s /v:1.0.0.5" % harness.win_path(self.dump))
                elapsed = time.monotonic() - started
                print("  upload %s ended after %.1f s: exit code %d" % (name, elapsed, result.code), file=sys.stderr)
                self.assertLess(elapsed, DEADLINE)
                self.assertEqual(0, result.code)
                (_, log), = self.app.run_logs()
                self.assertIn(reason, log)
                self.assertEqual(1, len(self.server.requests))
                # The dump arrived whole before the server misbehaved, except where it was left unread.
                self.assertEqual(name != "server_stops_reading", self.server.requests[0].complete)
                with open(self.dump, "rb") as f:
                    self.assertEqual(self.digest, hashlib.sha256(f.read()).hexdigest())


if __name__ == "__main__":
    unittest.main()
