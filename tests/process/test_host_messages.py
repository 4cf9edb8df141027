"""Host messages between processes: what the host window receives, through
the host_monitor test window."""
import os
import time
import unittest

import harness
from host import HostWindow, message_text

LONG_VERSION = "0123456789" * 30
PROBE_TEXTS = ["OnCheckingForUpdate", "OnUpdateAvailable;2.0.0.7", "OnInstalling", "OnComplete;1;",
               "OnComplete;3;", "OnUpdateAvailable;" + LONG_VERSION[:241]]


class HostMessagesTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        cls.host = HostWindow()
        cls.host.start()

    @classmethod
    def tearDownClass(cls):
        cls.host.stop()

    def new_messages(self, run):
        before = len(self.host.messages())
        result = run()
        return result, self.host.messages()[before:]

    def notify(self, tail):
        proc = harness.wine([harness.tool("notify_probe.exe")] + tail.split())
        self.assertEqual(0, proc.returncode, proc.stderr)

    def test_texts_fields_and_zero_fill(self):
        # The monitor records wParam as a signed 64-bit number: -1 is all bits set.
        for tail, wparam in (("/w:%d /j:-1" % self.host.hwnd, -1),
                             ("/j:2147483647 /w:%d" % self.host.hwnd, 2147483647),
                             ("/w:%d" % self.host.hwnd, 0)):
            with self.subTest(tail=tail):
                _, messages = self.new_messages(lambda: self.notify(tail))
                self.assertEqual(PROBE_TEXTS, [message_text(m.data) for m in messages])
                for m in messages:
                    self.assertEqual(wparam, m.wparam)
                    self.assertEqual(12, m.dw_data)
                    self.assertEqual(520, m.cb_data)
                    self.assertEqual(520, len(m.data))
                    text = message_text(m.data)
                    self.assertEqual(text.encode("utf-16-le") + bytes(520 - 2 * len(text)), m.data)
        # The 300-character version was cut: 259 characters and the terminator.
        self.assertEqual(259, len(message_text(self.host.messages()[-1].data)))

    def test_without_window_messages_go_nowhere(self):
        _, messages = self.new_messages(lambda: self.notify("/j:5"))
        self.assertEqual([], messages)
        # The same host hears the next run that names it.
        _, messages = self.new_messages(lambda: self.notify("/j:5 /w:%d" % self.host.hwnd))
        self.assertEqual(PROBE_TEXTS, [message_text(m.data) for m in messages])

    def test_a_hung_host_holds_nothing(self):
        """A browser whose window thread never pumps: one message waits its time, then that host hears no more."""
        limit = int(os.environ.get("VELMAR_HOST_MESSAGE_TIMEOUT_SECONDS", "2"))
        app = harness.Installation("hung-host")
        harness.reg_set_last_check(int(time.time()))  # not due: checking and complete only
        try:
            with HostWindow(hang=True) as hung:
                started = time.monotonic()
                self.assertEqual(0, app.run("--velmarupdate-log /v:1.0.0.5 /w:%d" % hung.hwnd).code)
                self.assertLess(time.monotonic() - started, limit + 4)
            (_, log), = app.run_logs()
            self.assertIn(" HostNotResponding:OnCheckingForUpdate", log)
            self.assertEqual(1, log.count(" HostNotResponding:"), "no second wait on the same host")
        finally:
            app.remove()
            harness.reg_delete_key()


if __name__ == "__main__":
    unittest.main()
