"""Packages that get through a bad line and end whole: resumed within a run and
across runs, retried with back-off and Retry-After, bounded in size and time, a
full disk given back, and an installer that cannot hold the updater for ever."""
import os
import shutil
import subprocess
import tempfile
import time
import unittest

import harness
from cycle_fixture import (CHECKING, FAKE_INSTALLER, INSTALLING, Fault, UpdateCycleFixture, available, complete,
                           read_record)

PATCH = bytes(range(256)) * 400  # 100 KiB
PACKAGE_LIMIT = int(os.environ.get("VELMAR_PACKAGE_TIME_LIMIT_SECONDS", "8"))
INSTALLER_LIMIT = int(os.environ.get("VELMAR_INSTALLER_TIME_LIMIT_SECONDS", "4"))
PATCHED = [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)]
FAILED = [CHECKING, available("1.0.0.9"), complete(3)]


class DownloadFixture(UpdateCycleFixture):
    updater = harness.UPDATER

    def setUp(self):
        super().setUp()
        if self.updater != harness.UPDATER:
            self.app.remove()
            self.app = harness.Installation("unsigned", updater=self.updater)
            shutil.copy2(FAKE_INSTALLER, os.path.join(self.app.dir, "setup.exe"))
            self.record = os.path.join(self.app.dir, "installer-record.txt")
        self.path = self.serve_patch(data=PATCH)
        self.manifest()

    def run_logged(self, texts, **options):
        started = time.monotonic()
        self.run_cycle("--velmarupdate-log /v:1.0.0.5", **options)
        self.assertEqual(texts, self.texts())
        log = "".join(text for _, text in self.app.run_logs())
        return time.monotonic() - started, log

    def installed_bytes(self):
        archive = read_record(self.record)[1][1].split("=", 1)[1]
        with open(os.path.join(harness.TEMP_DIR, *archive.split("\\")[-2:]), "rb") as f:
            return f.read()


class ResilientDownloads(DownloadFixture):

    def test_cut_once_is_resumed_in_the_same_run(self):
        self.server.faults[self.path] = Fault(cut_file_at=30000, times=1)
        self.run_logged(PATCHED)
        self.assertEqual(PATCH, self.installed_bytes())
        (_, first, _), (_, second, if_range) = self.server.headers_seen[2:]
        self.assertEqual((None, "bytes=30000-"), (first, second))
        self.assertRegex(if_range, r'^"[0-9a-f]+-[0-9a-f]+"$', "the strong ETag of the first answer")

    def test_cut_every_time_is_given_up_then_resumed_by_the_next_run(self):
        self.server.faults[self.path] = Fault(cut_file_at=20000, times=3)
        _, log = self.run_logged(FAILED)
        self.assertIn(" PackageKept:60000 bytes", log)
        self.assertEqual([], sum(self.new_temp_entries()[1].values(), []), "nothing unverified in a run folder")
        self.fresh_run(keep_partial=True)
        _, log = self.run_logged(PATCHED)
        self.assertIn(" Resume:60000 bytes kept", log)
        self.assertEqual("bytes=60000-", self.server.headers_seen[2][1])
        self.assertEqual(PATCH, self.installed_bytes())

    def test_retries_and_what_is_never_retried(self):
        cases = {  # name: (fault, messages, requests for the package, log)
            "503_retry_after_1_s": (Fault(503, headers={"Retry-After": "1"}, times=1), PATCHED, 2, "in 1000 ms"),
            "503_retry_after_an_hour": (Fault(503, headers={"Retry-After": "3600"}), FAILED, 1, "HTTP status 503"),
            "500_twice_then_whole": (Fault(500, times=2), PATCHED, 3, " Retry:"),
            "404_never_retried": (Fault(404), FAILED, 1, "HTTP status 404"),
        }
        for name, (fault, texts, requests, logged) in cases.items():
            with self.subTest(name):
                self.fresh_run()
                self.server.faults = {self.path: fault}
                _, log = self.run_logged(texts)
                self.assertEqual(requests, self.server.requested_paths().count(self.path))
                self.assertIn(logged, log)
                self.assertEqual(requests > 1, " Retry:" in log)

    def test_a_trickle_ends_at_the_package_time_limit_and_is_kept(self):
        # 4 KiB/s: fast enough for the stall guard, far too slow for the time limit.
        self.server.faults[self.path] = Fault(200, body=PATCH, trickle=0.5, trickle_bytes=2048)
        elapsed, log = self.run_logged(FAILED)
        self.assertGreaterEqual(elapsed, PACKAGE_LIMIT)
        self.assertLess(elapsed, PACKAGE_LIMIT + 6)
        self.assertIn("over the time limit", log)
        self.assertIn(" PackageKept:", log)

    def test_installer_that_outlives_its_limit_no_longer_holds_the_updater(self):
        elapsed, log = self.run_logged([CHECKING, available("1.0.0.9"), INSTALLING, complete(3)],
                                       installer_seconds=INSTALLER_LIMIT + 20)
        self.assertLess(elapsed, INSTALLER_LIMIT + 8)
        self.assertIn(" InstallerTimeLimit:", log)
        # The mutex is free: the next run gets through its cycle while the installer still runs.
        self.fresh_run()
        self.run_cycle("/v:1.0.0.5", due=False)
        self.assertEqual([CHECKING, complete(1)], self.texts())

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "mounting a small tmpfs needs root")
    def test_a_full_disk_gets_its_space_back(self):
        self.serve_patch(data=os.urandom(4 << 20))
        temp = tempfile.mkdtemp(prefix="velmar-full-disk-")
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", temp], capture_output=True, text=True)
        if mounted.returncode != 0:
            os.rmdir(temp)
            self.skipTest("no small tmpfs here: %s" % mounted.stderr.strip())
        try:
            _, log = self.run_logged(FAILED, win_env={"TEMP": harness.win_path(temp), "TMP": harness.win_path(temp)})
            self.assertIn("could not store what arrived", log)
            used = subprocess.run(["du", "-sb", temp], capture_output=True, text=True).stdout.split()[0]
            self.assertLess(int(used), 64 * 1024, "the partial package is deleted")
        finally:
            subprocess.run(["umount", temp], check=False)
            os.rmdir(temp)


class ResilientDownloadsWithoutKeys(DownloadFixture):
    """Without keys, only a strong validator allows a resume, and only a Content-Length makes a body whole."""
    updater = harness.UNSIGNED_UPDATER

    def test_a_changed_file_is_taken_whole(self):
        self.server.faults[self.path] = Fault(cut_file_at=20000, times=3)
        self.run_logged(FAILED)
        new = PATCH[::-1]
        time.sleep(0.01)  # a new modification time, and so a new ETag
        self.serve_patch(data=new)
        self.fresh_run(keep_partial=True)
        self.run_logged(PATCHED)
        self.assertEqual("bytes=60000-", self.server.headers_seen[1][1])
        self.assertEqual(new, self.installed_bytes(), "the If-Range no longer matched: the new file, whole")

    def test_bodies_that_cannot_be_told_whole_are_refused(self):
        cases = {
            "forty_digit_length_over_a_cut_body": (Fault(200, PATCH[:5000], content_length="%040d" % len(PATCH)),
                                                   "body length differs"),
            "no_length": (Fault(200, PATCH, no_length=True), "no Content-Length"),
            "endless_body_over_the_size_limit": (Fault(200, PATCH, content_length=str(1 << 40)), "over the size limit"),
        }
        for name, (fault, logged) in cases.items():
            with self.subTest(name):
                self.fresh_run()
                self.server.faults = {self.path: fault}
                _, log = self.run_logged(FAILED)
                self.assertIn(logged, log)
                self.assertIsNone(read_record(self.record))
