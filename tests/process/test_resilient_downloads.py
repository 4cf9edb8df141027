"""Packages that get through a bad line and end whole: resumed within a run and
across runs, retried with back-off and Retry-After, bounded in size and time, a
full disk given back, and an installer that cannot hold the updater for ever."""
import hashlib
import os
import re
import shutil
import signal
import subprocess
import tempfile
import threading
import time
import unittest

import harness
from cycle_fixture import (CHECKING, FAKE_INSTALLER, INSTALLING, SERVER_ROOT_URL, Fault, UpdateCycleFixture, available,
                           complete, read_record)

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

    def run_logged(self, texts, tail="", **options):
        started = time.monotonic()
        self.run_cycle("--velmarupdate-log /v:1.0.0.5" + tail, **options)
        self.assertEqual(texts, self.texts())
        log = "".join(text for _, text in self.app.run_logs())
        return time.monotonic() - started, log

    def endless_answer_is_not_read_on(self, refusal):
        """A keep-alive answer of the wrong length, sent fast and without end, is refused at its head: the
        run ends at once, nothing is retried, and the server gets rid of no more than the sockets hold."""
        self.server.faults[self.path] = Fault(endless=True, content_length=str(1 << 40))
        with self.server.lock:
            self.server.bytes_served = 0
        elapsed, log = self.run_logged(FAILED)
        self.assertLess(elapsed, 10)
        self.assertIn(refusal, log)
        self.assertNotIn(" Retry:", log)
        self.assertNotIn("stalled", log)
        time.sleep(0.5)
        with self.server.lock:
            self.assertLess(self.server.bytes_served, 48 << 20)

    def redirect_then_cut(self):
        """Behind a redirect, a cut manifest is retried, never parsed; a cut package resumed on both hops."""
        cdn = "http://127.0.0.1:%d/cdn/" % self.server.port
        self.server.faults = {"/update/version.ini": Fault(302, redirect=cdn + "version.ini"),
                              "/cdn/version.ini": Fault(200, b"[main]\r\nversion=1.0.0.1", cut_short_by=100)}
        _, log = self.run_logged([CHECKING, complete(1)])
        self.assertNotIn("NewVer:", log)
        self.assertGreater(self.server.requested_paths().count("/cdn/version.ini"), 1, "retried")
        self.fresh_run()
        installer = open(FAKE_INSTALLER, "rb").read()
        for folder in ("full", "cdn"):
            self.serve(folder + "/VelmarSetup.exe", installer)
        self.manifest(miniver="1.0.0.6", newest=cdn.replace("cdn", "full") + "VelmarSetup.exe")
        self.server.faults = {"/full/VelmarSetup.exe": Fault(302, redirect=cdn + "VelmarSetup.exe"),
                              "/cdn/VelmarSetup.exe": Fault(cut_file_at=30000, times=1)}
        self.checked("/v:1.0.0.5 /installpath:C:\\windows", [CHECKING, INSTALLING, complete(1)])
        seen = [(rest, if_range) for path, rest, if_range in self.server.headers_seen if "Setup" in path]
        self.assertEqual([(None, None)] * 2 + [("bytes=30000-", seen[2][1])] * 2, seen, "redirect, then the file")
        self.assertRegex(seen[2][1], '^"', "the cut answer's strong ETag, on both hops")
        self.assertEqual(hashlib.sha256(installer).hexdigest(), harness.read_installer_fields(self.record)["self"])

    def installed_sha256(self):
        """What setup.exe read from its archive (the run folder is gone by now)."""
        return harness.read_installer_fields(self.record)["archive"]


class ResilientDownloads(DownloadFixture):

    def test_cut_once_is_resumed_in_the_same_run(self):
        # Bound by the manifest, a body cut short needs no Content-Length to be told from a whole one.
        for no_length in (False, True):
            with self.subTest(no_length=no_length):
                self.fresh_run()
                self.server.faults[self.path] = Fault(cut_file_at=30000, no_length=no_length, times=1)
                self.run_logged(PATCHED)
                self.assertEqual(hashlib.sha256(PATCH).hexdigest(), self.installed_sha256())
                (_, first, _), (_, second, if_range) = self.server.headers_seen[2:]
                self.assertEqual((None, "bytes=30000-"), (first, second))
                self.assertRegex(if_range, r'^"[0-9a-f]+-[0-9a-f]+"$', "the strong ETag of the first answer")

    test_a_redirect_then_a_cut = DownloadFixture.redirect_then_cut

    def test_the_package_that_runs_is_held(self):
        """While setup.exe runs, it reads its archive; nobody else writes, renames or deletes it, nor renames the
        folders above it (Wine would let another program put a file at the held one's path)."""
        errors = []
        temp = os.path.join(harness.DRIVE_C, "velmar-tests", "held-temp-" + os.urandom(3).hex())
        os.makedirs(temp)
        self.addCleanup(shutil.rmtree, temp, True)
        win_temp = harness.win_path(temp)

        def run():
            try:
                self.run_logged(PATCHED, installer_seconds=3, win_env={"TEMP": win_temp + "\\", "TMP": win_temp + "\\"})
            except Exception as error:  # noqa: BLE001 - reported below, on the test's own thread
                errors.append(error)
        cycle = threading.Thread(target=run)
        cycle.start()
        self.assertTrue(harness.wait_for(lambda: read_record(self.record) is not None, timeout=30))
        archive = read_record(self.record)[1][1].split("=", 1)[1]
        folder = archive.rsplit("\\", 1)[0]
        harness.wine(["cmd", "/c",
                      "echo x>>%s & ren %s other.diff & del %s & ren %s moved & move %s %s-moved & ren %s t"
                      % (archive, archive, archive, folder, folder, folder, win_temp)])
        local = os.path.join(temp, *archive.split("\\")[-2:])  # the folders, too, stayed where they were
        with open(local, "rb") as f:
            self.assertEqual(PATCH, f.read())
        cycle.join()
        self.assertEqual([], errors)
        self.assertEqual(hashlib.sha256(PATCH).hexdigest(), self.installed_sha256())
        self.assertEqual([], os.listdir(temp), "the run folder goes after the installer, nor is an empty partial left")

    def test_an_endless_answer_is_not_read_on(self):
        self.endless_answer_is_not_read_on("over the size limit of %d bytes" % len(PATCH))

    def test_cut_every_time_is_given_up_then_resumed_by_the_next_run(self):
        self.server.faults[self.path] = Fault(cut_file_at=20000, times=3)
        _, log = self.run_logged(FAILED)
        self.assertIn(" PackageKept:60000 bytes", log)
        self.assertEqual([], sum(self.new_temp_entries()[1].values(), []), "nothing unverified in a run folder")
        self.fresh_run(keep_partial=True)
        _, log = self.run_logged(PATCHED)
        self.assertIn(" Resume:60000 bytes kept", log)
        self.assertEqual("bytes=60000-", self.server.headers_seen[2][1])
        self.assertEqual(hashlib.sha256(PATCH).hexdigest(), self.installed_sha256())

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

    def test_installer_that_outlives_its_limit_keeps_the_holds_but_not_the_updater(self):
        started = time.monotonic()
        elapsed, log = self.run_logged([CHECKING, available("1.0.0.9"), INSTALLING, complete(3)],
                                       installer_seconds=INSTALLER_LIMIT + 8)
        self.assertLess(elapsed, INSTALLER_LIMIT + 8)
        self.assertIn(" InstallerTimeLimit:", log)
        # The updater has exited; what it held, the installer now holds against other programs.
        (number, _), = self.new_temp_entries()[1].items()
        folder = harness.win_path(os.path.join(harness.TEMP_DIR, number))
        harness.wine(["cmd", "/c", "echo x>>%s\\velmar.diff & del %s\\velmar.diff & ren %s moved" % ((folder,) * 3)])
        with open(os.path.join(harness.TEMP_DIR, number, "velmar.diff"), "rb") as f:
            self.assertEqual(PATCH, f.read())
        # The mutex is free: the next run gets through its cycle while the installer still runs.
        self.fresh_run(keep_folders=True)
        self.run_cycle("/v:1.0.0.5", due=False)
        self.assertEqual([CHECKING, complete(1)], self.texts())
        self.assertEqual([number], list(self.new_temp_entries()[1]), "its folder waits for a later run")
        time.sleep(max(0.0, started + INSTALLER_LIMIT + 14 - time.monotonic()))
        self.run_cycle("/v:1.0.0.5", due=False)
        self.assertEqual(([], {}), self.new_temp_entries(), "once the installer has ended, a run removes it")

    def test_a_killed_run_is_cleaned_up_without_following_links(self):
        cycle = threading.Thread(target=lambda: self.app.run("--velmarupdate-log /v:1.0.0.5", env={
            "VELMAR_FAKE_INSTALLER_RECORD": harness.win_path(self.record),
            "VELMAR_FAKE_INSTALLER_SECONDS": str(INSTALLER_LIMIT + 4)}))
        cycle.start()
        self.assertTrue(harness.wait_for(lambda: read_record(self.record) is not None, timeout=30))
        # Killed as a logoff would: the Unix process that runs this installation's updater.
        updater = os.path.basename(self.app.dir) + r".VelmarUpdate\.exe"
        for pid in subprocess.run(["pgrep", "-f", updater], capture_output=True, text=True).stdout.split():
            os.kill(int(pid), signal.SIGKILL)
        cycle.join()
        recorded = harness.wine(["reg", "query", harness.REG_KEY, "/v", "LeftFolders"]).stdout.decode()
        record = re.search(r"REG_MULTI_SZ\s+(\S+\|\d+:\d+)\s*$", recorded, re.MULTILINE).group(1)
        temp, number, folder_id = re.fullmatch(r"(.+)\\(\d+)\|(.+)", record).groups()
        # Beside it: a link at a recorded number to another folder, recorded with that folder's own id (the
        # file index is the inode here), a folder recorded by path alone (an earlier build's record), and a
        # folder outside %TEMP%.
        victim = tempfile.mkdtemp(prefix="victim-", dir=os.path.dirname(self.app.dir))
        open(os.path.join(victim, "velmar.diff"), "wb").close()
        free = (n for n in map(str, range(30000, 32768)) if not os.path.lexists(os.path.join(harness.TEMP_DIR, n)))
        link, old = next(free), next(free)
        os.symlink(victim, os.path.join(harness.TEMP_DIR, link))
        shutil.copytree(victim, os.path.join(harness.TEMP_DIR, old))
        victim_id = "%s:%d" % (folder_id.split(":")[0], os.stat(victim).st_ino)
        records = [record, "%s\\%s|%s" % (temp, link, victim_id), "%s\\%s" % (temp, old),
                   harness.win_path(victim) + "|" + victim_id]
        harness.wine(["reg", "add", harness.REG_KEY, "/v", "LeftFolders", "/t", "REG_MULTI_SZ", "/d",
                      "\\0".join(records), "/f"])
        try:
            self.fresh_run(keep_folders=True)
            harness.reg_set_last_check(int(time.time()))
            _, log = self.run_logged([CHECKING, complete(1)], due=False)
            self.assertFalse(os.path.exists(os.path.join(harness.TEMP_DIR, number)), "the killed run's folder went")
            left_alone = (victim, os.path.join(harness.TEMP_DIR, old))
            self.assertEqual([["velmar.diff"]] * 2, [os.listdir(d) for d in left_alone])
            self.assertEqual(3, log.count(" LeftFolderSkipped:"), "each is dropped, and logged")
            self.assertNotEqual(0, harness.wine(["reg", "query", harness.REG_KEY, "/v", "LeftFolders"]).returncode)
        finally:
            os.unlink(os.path.join(harness.TEMP_DIR, link))
            shutil.rmtree(os.path.join(harness.TEMP_DIR, old), ignore_errors=True)
            shutil.rmtree(victim, ignore_errors=True)

    def test_links_beside_the_package_lead_nowhere(self):
        """Wine shows a link to a file as a plain file, and deleting it deletes what it leads to: a link where the
        partial's state belongs, or one put in the run folder while setup.exe runs, leaves that file alone."""
        # Beside them: a link at the old partial's name, and what a Unix name "..\victim-b" in the run folder reaches.
        victims = [os.path.join(os.path.dirname(self.app.dir), "victim-%s" % name) for name in ("state", "run", "old")]
        victims.append(os.path.join(harness.TEMP_DIR, "victim-b"))
        for victim in victims:
            with open(victim, "wb") as f:
                f.write(b"kept")
        os.makedirs(os.path.join(harness.TEMP_DIR, "VelmarUpdate"))
        os.symlink(victims[0], os.path.join(harness.TEMP_DIR, "VelmarUpdate", "patch.state"))
        os.symlink(victims[2], os.path.join(harness.TEMP_DIR, "VelmarUpdate", "package.part"))
        logs = []
        cycle = threading.Thread(target=lambda: logs.append(self.run_logged(PATCHED, installer_seconds=2)[1]))
        cycle.start()
        self.assertTrue(harness.wait_for(lambda: read_record(self.record) is not None, timeout=30))
        folder = read_record(self.record)[1][1].split("=", 1)[1].split("\\")[-2]
        os.symlink(victims[1], os.path.join(harness.TEMP_DIR, folder, "setup-data.bin"))
        with open(os.path.join(harness.TEMP_DIR, folder, "..\\victim-b"), "wb") as f:
            f.write(b"decoy")
        cycle.join()
        kept = [open(victim, "rb").read() if os.path.exists(victim) else None for victim in victims]
        for victim in filter(os.path.exists, victims):
            os.unlink(victim)
        self.assertEqual([b"kept"] * 4, kept)
        # A folder that holds what the cleanup leaves would be kept for ever: it leaves the record, and says so.
        self.assertIn("\\%s holds something other than plain files" % folder, logs[0])
        self.assertNotEqual(0, harness.wine(["reg", "query", harness.REG_KEY, "/v", "LeftFolders"]).returncode)

    def test_what_stands_where_the_partial_belongs(self):
        partial = os.path.join(harness.TEMP_DIR, "VelmarUpdate")
        cases = {  # name: (what to put in the way, what the log says)
            "folder_at_part": (lambda: os.makedirs(os.path.join(partial, "patch.part")), " removed"),
            "file_at_folder": (lambda: open(partial, "wb").close(), " removed"),
            "full_folder_at_state": (lambda: os.makedirs(os.path.join(partial, "patch.state", "x")),
                                     "downloading without resume"),
        }
        for name, (obstacle, logged) in cases.items():
            with self.subTest(name):
                self.fresh_run()
                obstacle()
                try:
                    _, log = self.run_logged(PATCHED)
                finally:
                    if os.path.isfile(partial):
                        os.unlink(partial)
                self.assertIn(" PartialObstacle:", log)
                self.assertIn(logged, log)

    @unittest.skipUnless(hasattr(os, "geteuid") and os.geteuid() == 0, "mounting a small tmpfs needs root")
    def test_a_full_disk_gets_its_space_back_and_brings_no_full_package(self):
        self.serve_patch(data=os.urandom(4 << 20))
        self.serve("full/VelmarSetup.exe", b"MZ" * 1000)
        self.manifest(newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe")
        temp = tempfile.mkdtemp(prefix="velmar-full-disk-")
        mounted = subprocess.run(["mount", "-t", "tmpfs", "-o", "size=2m", "tmpfs", temp], capture_output=True, text=True)
        if mounted.returncode != 0:
            os.rmdir(temp)
            self.skipTest("no small tmpfs here: %s" % mounted.stderr.strip())
        try:
            _, log = self.run_logged(FAILED, " /installpath:C:\\windows",
                                     win_env={"TEMP": harness.win_path(temp), "TMP": harness.win_path(temp)})
            self.assertIn("could not store what arrived", log)
            self.assertNotIn("/full/VelmarSetup.exe", self.server.requested_paths(), "it would fail the same way")
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
        self.assertEqual(hashlib.sha256(new).hexdigest(), self.installed_sha256(),
                         "the If-Range no longer matched: the new file, whole")

    def test_an_endless_answer_is_not_read_on(self):
        self.endless_answer_is_not_read_on("over the size limit of")

    test_a_redirect_then_a_cut = DownloadFixture.redirect_then_cut

    def test_no_validator_no_resume(self):
        self.server.faults[self.path] = Fault(cut_file_at=20000, no_validators=True, times=1)
        self.run_logged(PATCHED)
        self.assertEqual([None, None], [seen[1] for seen in self.server.headers_seen[1:]], "no Range either time")
        self.assertEqual(hashlib.sha256(PATCH).hexdigest(), self.installed_sha256())

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
