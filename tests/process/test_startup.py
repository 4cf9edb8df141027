"""Start-up: exit codes, the single-instance mutex and the diagnostic log."""
import os
import subprocess
import time
import unittest

import harness


class StartupTest(unittest.TestCase):
    def setUp(self):
        self.app = harness.Installation("startup")

    def tearDown(self):
        self.app.remove()

    def expected_start(self, result):
        return "Velmar update is running. PID:%dCmdLine is%s" % (result.pid, result.command_line)

    def test_update_mode_exits_0_without_log(self):
        result = self.app.run("/v:1.0.0.5")
        self.assertEqual(0, result.code)
        self.assertFalse(os.path.exists(self.app.log_folder()))

    def test_log_holds_start_lines_then_mode(self):
        cases = [
            ("--velmarupdate-log /v:1.0.0.5", "AutoUpdateVelmar"),
            ("--velmarupdate-log /u:C:\\nothing.dmp", "Upload dump file"),
            # Substring match: a longer word holding the switch turns the log on too.
            ("--velmarupdate-logging", "AutoUpdateVelmar"),
        ]
        for tail, mode_text in cases:
            with self.subTest(tail=tail):
                app = harness.Installation("log")
                try:
                    result = app.run(tail)
                    self.assertEqual(0, result.code)
                    runs = app.run_logs()
                    self.assertEqual(1, len(runs))
                    name, text = runs[0]
                    self.assertRegex(name, r"^[0-9]+$")
                    start = self.expected_start(result)
                    self.assertTrue(text.startswith(start), text)
                    # With no server the update run then logs why its manifest download failed.
                    self.assertTrue(text[len(start):].startswith(mode_text), text)
                finally:
                    app.remove()

    def test_wait_for_debug_logs_before_the_mode(self):
        # Without a display the message box returns at once, so the run goes on.
        result = self.app.run("--velmarupdate-log --wait-for-debug /u:C:\\nothing.dmp")
        self.assertEqual(0, result.code)
        _, text = self.app.run_logs()[0]
        self.assertEqual(self.expected_start(result) + "Wait for debugger\r\nUpload dump file", text)

    def test_non_latin_command_line_is_logged_whole(self):
        app = harness.Installation(folder_name="\u4e2d\u6587-" + os.urandom(4).hex())
        try:
            result = app.run("--velmarupdate-log /os:\u4e2d\u6587 /v:1.0.0.5")
            self.assertEqual(0, result.code)
            name, text = app.run_logs()[0]
            self.assertIn("\\\u4e2d\u6587-", text)
            self.assertEqual(self.expected_start(result) + "AutoUpdateVelmar", text)
            with open(os.path.join(app.log_folder(), name, "_velmarupdate.log"), "rb") as f:
                raw = f.read()
            self.assertFalse(raw.startswith(b"\xef\xbb\xbf"), "no byte-order mark")
            self.assertIn("/os:\u4e2d\u6587".encode("utf-8"), raw)
        finally:
            app.remove()

    def test_unwritable_module_directory_does_not_stop_the_run(self):
        # A file named "updatelog" keeps the log folder from being made.
        with open(self.app.log_folder(), "w") as f:
            f.write("not a folder")
        for tail in ("--velmarupdate-log /v:1.0.0.5", "--velmarupdate-log /u:C:\\nothing.dmp"):
            with self.subTest(tail=tail):
                result = self.app.run(tail)
                self.assertEqual(0, result.code)
                self.assertTrue(os.path.isfile(self.app.log_folder()))

    def test_second_instance_exits_at_once_while_mutex_held(self):
        ready = os.path.join(self.app.dir, "held")
        holder = harness.wine_popen([harness.tool("hold_mutex.exe"), harness.win_path(ready)],
                                    stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        try:
            self.assertTrue(harness.wait_for(lambda: os.path.exists(ready), timeout=30))
            started = time.time()
            second = self.app.run("--velmarupdate-log /v:1.0.0.5 /w:1 /j:2")
            self.assertEqual(0, second.code)
            # Only its start lines: no "AutoUpdateVelmar", so no cycle ran.
            runs = self.app.run_logs()
            self.assertEqual(self.expected_start(second), runs[-1][1])
            # Crash report mode takes no mutex, so it is not held up.
            upload = self.app.run("/u:C:\\nothing.dmp")
            self.assertEqual(0, upload.code)
            self.assertLess(time.time() - started, 20)
        finally:
            holder.stdin.close()
            holder.wait(timeout=30)
        # Once the holder is gone, update mode runs its cycle again.
        app = harness.Installation("after")
        try:
            again = app.run("--velmarupdate-log /v:1.0.0.5")
            self.assertTrue(app.run_logs()[-1][1].endswith("AutoUpdateVelmar"))
            self.assertEqual(0, again.code)
        finally:
            app.remove()


if __name__ == "__main__":
    unittest.main()
