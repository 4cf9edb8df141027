"""Host messages between processes: what the host window receives, and the
update decision's announcement, through the host_monitor test window."""
import os
import unittest

import harness
from host import HostWindow, message_text

BASE_URL = os.environ.get("VELMAR_UPDATE_BASE_URL", "http://127.0.0.1:18741/update/")
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

    def decide(self, manifest, tail):
        proc = harness.wine([harness.tool("decide_probe.exe"), harness.win_path(manifest)] + tail.split())
        self.assertEqual(0, proc.returncode, proc.stderr)
        return proc.stdout.decode("utf-8").splitlines()

    def test_decision_announces_only_a_patch(self):
        manifest = os.path.join(self.host.dir, "version.ini")
        with open(manifest, "w", newline="\r\n") as f:
            f.write("[main]\nversion=1.0.0.9\nminiver=1.0.0.0\nnewest=http://127.0.0.1:18741/full/velmar_setup.exe\n")
        lines, messages = self.new_messages(
            lambda: self.decide(manifest, "/v:1.0.0.5 /j:3 /w:%d" % self.host.hwnd))
        self.assertEqual(["result=1 full=0", "patch=%s1.0.0.5-1.0.0.9/velmar.diff" % BASE_URL, "full="], lines)
        self.assertEqual([(3, "OnUpdateAvailable;1.0.0.9")], [(m.wparam, message_text(m.data)) for m in messages])

        lines, messages = self.new_messages(
            lambda: self.decide(manifest, "/v:0.9.9.9 /j:3 /w:%d" % self.host.hwnd))
        self.assertEqual(["result=1 full=1", "patch=", "full=http://127.0.0.1:18741/full/velmar_setup.exe"], lines)
        self.assertEqual([], messages)

        lines, messages = self.new_messages(lambda: self.decide(manifest, "/w:%d" % self.host.hwnd))
        self.assertEqual(["result=0 full=0", "patch=", "full="], lines)
        self.assertEqual([], messages)


if __name__ == "__main__":
    unittest.main()
