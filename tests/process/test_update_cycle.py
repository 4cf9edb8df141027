"""Update mode end to end: the real exe under Wine against a local update
server, a host window that records the status messages, and fake installers."""
import os
import re
import shutil
import time
import unittest

import harness
from cycle_fixture import (BASE_URL, CHECKING, FAKE_INSTALLER, INSTALLING, SERVER_ROOT_URL, UPDATE_PATH, Fault,
                           UpdateCycleFixture, available, complete, read_record)


class UpdateCycleTest(UpdateCycleFixture):
    # -- the outcome table ---------------------------------------------------

    def test_not_due_within_a_day(self):
        stamp = int(time.time()) - 3600
        harness.reg_set_last_check(stamp)
        self.manifest()
        self.run_cycle("/v:1.0.0.5", due=False)
        self.assertEqual([CHECKING, complete(1)], self.texts())
        self.assertEqual(stamp, harness.reg_query_last_check())
        self.assertEqual([], self.server.requested_paths())
        self.assertEqual(([], {}), self.new_temp_entries())

    def test_manifest_download_failed(self):
        for fault in (Fault(404, b"no such file"), Fault(200, b"[main]\r\nversion=1.0.0.9", cut_short_by=50)):
            with self.subTest(status=fault.status):
                self.host.clear()
                self.server.faults[UPDATE_PATH + "version.ini"] = fault
                self.checked("/v:1.0.0.5", [CHECKING, complete(1)])
                self.assertEqual({}, self.new_temp_entries()[1])

    def test_nothing_to_install(self):
        self.manifest(version="1.0.0.5")
        self.checked("/v:1.0.0.5", [CHECKING, complete(1)])
        self.assertEqual(([], {}), self.new_temp_entries(), "the manifest is read in memory")
        # The manifest and its signature: this build checks signatures.
        self.assertEqual([UPDATE_PATH + "version.ini", UPDATE_PATH + "version.ini.sig"], self.server.requested_paths())

    def test_full_package_url_without_slash(self):
        self.manifest(miniver="1.0.0.6")  # no "newest": it reads as "0"
        self.checked("/v:1.0.0.5 /installpath:C:\\", [CHECKING, complete(3)])
        self.assertEqual({}, self.new_temp_entries()[1])

    def test_patch_download_failed(self):
        path = self.serve_patch()
        for fault in (Fault(404, b"<html>not found</html>"), Fault(200, b"PATCH" * 100, cut_short_by=1)):
            with self.subTest(status=fault.status, short=fault.cut_short_by):
                self.host.clear()
                self.manifest()
                self.server.faults[path] = fault
                self.run_cycle("/v:1.0.0.5")
                self.assertEqual([CHECKING, available("1.0.0.9"), complete(3)], self.texts())
                self.assertIsNone(read_record(self.record), "installer must not start")

    def test_full_package_download_failed(self):
        self.manifest(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/missing.exe", bindings={"newest": b"MZ"})
        self.run_cycle("/v:1.0.0.5 /installpath:C:\\")
        self.assertEqual([CHECKING, complete(3)], self.texts())
        self.assertIsNone(read_record(self.record))
        self.assertIn("/full/missing.exe", self.server.requested_paths())

    def test_patch_installed_and_failed(self):
        for exit_code, result in ((0, 1), (1, 3)):
            with self.subTest(exit_code=exit_code):
                self.host.clear()
                self.clean_temp()
                self.manifest()
                self.serve_patch()
                before = int(time.time())
                self.run_cycle("/v:1.0.0.5", installer_exit=exit_code)
                self.assertEqual([CHECKING, available("1.0.0.9"), INSTALLING, complete(result)], self.texts())
                self.assert_time_stamp_written(before)
                cmdline, args = read_record(self.record)
                package = args[1][len("--install-archive="):]
                self.assertTrue(package.lower().endswith("\\velmar.diff"), package)
                # Nothing is left once the installer has ended.
                self.assertEqual(([], {}), self.new_temp_entries())

    def test_full_package_installed_and_failed(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        for exit_code, result in ((0, 1), (5, 3)):
            with self.subTest(exit_code=exit_code):
                self.host.clear()
                self.clean_temp()
                self.manifest(version="1.0.0.4", miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe")
                self.run_cycle("/v:1.0.0.5 /installpath:C:\\windows", installer_exit=exit_code)
                self.assertEqual([CHECKING, INSTALLING, complete(result)], self.texts())
                cmdline, args = read_record(self.record)
                self.assertEqual(" --log-file= --verbose-logging=true --disable-installdlg=true"
                                 " --orvantaupdate-installpath=C:\\windows", cmdline)
                self.assertEqual("", args[0])
                self.assertEqual(([], {}), self.new_temp_entries())

    # -- command lines and the log -------------------------------------------

    def test_patch_command_line_without_log(self):
        self.manifest()
        self.serve_patch()
        self.run_cycle("/v:1.0.0.5")
        cmdline, args = read_record(self.record)
        setup = harness.win_path(os.path.join(self.app.dir, "setup.exe"))
        match = re.fullmatch(re.escape(setup) + r" --install-archive=(\S+) --log-file=  --verbose-logging=true",
                             cmdline)
        self.assertIsNotNone(match, cmdline)
        self.assertEqual([setup, "--install-archive=" + match.group(1), "--log-file=", "--verbose-logging=true"],
                         args)

    def test_log_records_download_and_installer_command_line(self):
        self.manifest()
        self.serve_patch()
        result = self.run_cycle("--velmarupdate-log /v:1.0.0.5")
        cmdline, _ = read_record(self.record)
        (run_name, text), = self.app.run_logs()
        run_folder = harness.win_path(os.path.join(self.app.log_folder(), run_name))
        self.assertIn(" --log-file=%s\\_setup.log  --verbose-logging=true" % run_folder, cmdline)
        package = re.search(r"--install-archive=(\S+)", cmdline).group(1)
        expected = ("Velmar update is running. PID:%dCmdLine is%s" % (result.pid, result.command_line)
                    + "AutoUpdateVelmar NewVer:1.0.0.9 MinVer:1.0.0.0"
                    + "szDownUrl:%s1.0.0.5-1.0.0.9/velmar.diff%s" % (BASE_URL, package)
                    + "RunPatchArchiveFile:" + cmdline)
        self.assertEqual(expected, text)

    def test_full_installer_gets_install_log_path(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        self.manifest(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe")
        self.run_cycle("--velmarupdate-log /v:1.0.0.5 /installpath:C:\\windows")
        cmdline, _ = read_record(self.record)
        (run_name, text), = self.app.run_logs()
        run_folder = harness.win_path(os.path.join(self.app.log_folder(), run_name))
        self.assertTrue(cmdline.startswith(" --log-file=%s\\_install.log --verbose-logging=true" % run_folder))
        self.assertNotIn("RunPatchArchiveFile:", text)

    def test_paths_with_spaces_stay_one_argument(self):
        app = harness.Installation(folder_name="Program Files " + os.urandom(3).hex())
        temp_with_space = os.path.join(harness.DRIVE_C, "velmar-tests", "Temp Folder " + os.urandom(3).hex())
        os.makedirs(temp_with_space)
        install_dir = os.path.join(harness.DRIVE_C, "velmar-tests", "My Apps " + os.urandom(3).hex())
        os.makedirs(install_dir)
        try:
            shutil.copy2(FAKE_INSTALLER, os.path.join(app.dir, "setup.exe"))
            self.manifest()
            self.serve_patch()
            win_env = {"TEMP": harness.win_path(temp_with_space) + "\\", "TMP": harness.win_path(temp_with_space) + "\\"}
            self.run_cycle("--velmarupdate-log /v:1.0.0.5", win_env=win_env, app=app)
            self.assertEqual(complete(1), self.texts()[-1])
            _, args = read_record(self.record)
            self.assertEqual(harness.win_path(os.path.join(app.dir, "setup.exe")), args[0])
            self.assertTrue(args[1].startswith("--install-archive=" + harness.win_path(temp_with_space) + "\\"))
            self.assertTrue(args[1].endswith("\\velmar.diff"))
            self.assertTrue(args[2].startswith("--log-file=" + harness.win_path(app.log_folder()) + "\\"))
            self.assertEqual(4, len(args))

            # The full installer gets the install folder as one argument too.
            self.host.clear()
            self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
            self.manifest(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe")
            self.run_cycle('/v:1.0.0.5 /installpath:"%s"' % harness.win_path(install_dir), win_env=win_env, app=app)
            self.assertEqual(complete(1), self.texts()[-1])
            _, args = read_record(self.record)
            self.assertEqual("--orvantaupdate-installpath=" + harness.win_path(install_dir), args[-1])
        finally:
            app.remove()
            shutil.rmtree(temp_with_space, ignore_errors=True)
            shutil.rmtree(install_dir, ignore_errors=True)

    # -- failures after the manifest -----------------------------------------

    def test_setup_exe_missing(self):
        os.unlink(os.path.join(self.app.dir, "setup.exe"))
        self.manifest()
        self.serve_patch()
        self.run_cycle("--velmarupdate-log /v:1.0.0.5")
        self.assertEqual([CHECKING, available("1.0.0.9"), INSTALLING, complete(3)], self.texts())
        (_, log), = self.app.run_logs()
        setup = harness.win_path(os.path.join(self.app.dir, "setup.exe"))
        self.assertIn(" InstallerNotStarted:%s (Windows error 2)" % setup, log)

    def test_install_path_absent_empty_or_missing(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        for tail in ("/v:1.0.0.5", "/v:1.0.0.5 /installpath:", "/v:1.0.0.5 /installpath:C:\\no\\such\\folder"):
            with self.subTest(tail=tail):
                self.host.clear()
                self.manifest(miniver="1.0.0.6", newest=SERVER_ROOT_URL + "/full/VelmarSetup.exe")
                self.run_cycle(tail)
                self.assertEqual([CHECKING, INSTALLING, complete(3)], self.texts())
                self.assertIsNone(read_record(self.record), "nothing may be started")

    def test_planted_numbered_folders_are_never_used(self):
        # The folder is picked at random: plant every candidate, each with a DLL
        # an installer would load. The run must refuse them all, not reuse one.
        planted = []
        for number in range(32768):
            folder = os.path.join(harness.TEMP_DIR, str(number))
            if os.path.exists(folder):
                continue
            os.mkdir(folder)
            with open(os.path.join(folder, "version.dll"), "wb") as f:
                f.write(b"planted")
            planted.append(folder)
        self.temp_before = set(os.listdir(harness.TEMP_DIR))
        try:
            self.manifest()
            patch = self.serve_patch()
            self.run_cycle("/v:1.0.0.5")
            self.assertEqual([CHECKING, available("1.0.0.9"), complete(3)], self.texts())
            self.assertIsNone(read_record(self.record))
            self.assertNotIn(patch, self.server.requested_paths())
            self.assertEqual([["version.dll"]] * len(planted), [os.listdir(d) for d in planted])
        finally:
            for folder in planted:
                shutil.rmtree(folder, ignore_errors=True)

    def test_hostile_package_urls(self):
        outside = os.path.join(harness.TEMP_DIR, "..")
        before_outside = set(os.listdir(outside))
        hostile = [
            SERVER_ROOT_URL + "/full/..\\evil.exe",
            SERVER_ROOT_URL + "/full/a:b",
            SERVER_ROOT_URL + "/full/",
            SERVER_ROOT_URL + "/full/..",
            SERVER_ROOT_URL + "/full/a%s" % "\x01",
            "file:///C:/windows/notepad.exe",
            "ftp://127.0.0.1/VelmarSetup.exe",
            SERVER_ROOT_URL + "/" + "n" * 300 + ".exe",
            SERVER_ROOT_URL + "/full/NUL",
            SERVER_ROOT_URL + "/full/nul.exe",
            SERVER_ROOT_URL + "/full/COM1",
        ]
        for newest in hostile:
            with self.subTest(newest=newest):
                self.host.clear()
                # Bound, so the URL's own checks are what refuse it.
                self.manifest(miniver="1.0.0.6", newest=newest, bindings={"newest": b"MZ"})
                self.run_cycle("/v:1.0.0.5 /installpath:C:\\windows")
                self.assertEqual([CHECKING, complete(3)], self.texts())
                self.assertIsNone(read_record(self.record))
        self.assertEqual(before_outside, set(os.listdir(outside)))
        self.assertEqual([UPDATE_PATH + "version.ini", UPDATE_PATH + "version.ini.sig"] * len(hostile),
                         self.server.requested_paths())
        # The over-long name may leave its fresh, empty folder; nothing else is made.
        for files in self.new_temp_entries()[1].values():
            self.assertEqual([], files)

    def test_very_long_newest_value_ends_cleanly(self):
        newest = SERVER_ROOT_URL + "/full/" + "x" * 3000 + ".exe"
        self.manifest(miniver="1.0.0.6", newest=newest)
        self.run_cycle("/v:1.0.0.5 /installpath:C:\\windows")
        self.assertEqual([CHECKING, complete(3)], self.texts())


if __name__ == "__main__":
    unittest.main()
