"""A stand-in for the browser's host window: host_monitor.exe owns a
message-only window and records every WM_COPYDATA it receives.

    with HostWindow() as host:
        run something with "/w:%d" % host.hwnd
        host.wait_for_count(4)
        host.texts()      # ["OnCheckingForUpdate", ...]
        host.messages()   # [Message(wparam, dw_data, cb_data, data), ...]
"""
import collections
import os
import shutil
import subprocess
import tempfile

import harness

HOST_MONITOR = os.path.join(harness.BUILD_DIR, "host_monitor.exe")

Message = collections.namedtuple("Message", "wparam dw_data cb_data data")


def message_text(data):
    """The UTF-16 text of a message, up to its first zero unit."""
    text = data.decode("utf-16-le", "replace")
    end = text.find("\0")
    return text if end < 0 else text[:end]


class HostWindow:
    def __init__(self, seconds=120):
        os.makedirs(harness.TEMP_DIR, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="host-", dir=harness.TEMP_DIR)
        self.ready_file = os.path.join(self.dir, "ready.txt")
        self.record_file = os.path.join(self.dir, "messages.txt")
        self.stop_file = os.path.join(self.dir, "stop")
        self.seconds = seconds
        self.proc = None
        self.hwnd = None

    def start(self, timeout=30):
        """Starts the monitor and waits until its window exists; returns the handle."""
        self.proc = harness.wine_popen(
            [HOST_MONITOR, "--ready", harness.win_path(self.ready_file),
             "--record", harness.win_path(self.record_file),
             "--stop-file", harness.win_path(self.stop_file), "--seconds", str(self.seconds)],
            stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
        if not harness.wait_for(lambda: os.path.exists(self.ready_file) or self.proc.poll() is not None,
                                timeout=timeout) or not os.path.exists(self.ready_file):
            self.stop()
            raise RuntimeError("host_monitor did not start (exit %r)" % (self.proc.returncode,))
        with open(self.ready_file) as f:
            self.hwnd = int(f.read().strip())
        return self.hwnd

    def messages(self):
        if not os.path.exists(self.record_file):
            return []
        result = []
        with open(self.record_file) as f:
            for line in f.read().splitlines():
                fields = line.split(" ")
                result.append(Message(int(fields[0]), int(fields[1]), int(fields[2]),
                                      bytes.fromhex(fields[3] if len(fields) > 3 else "")))
        return result

    def texts(self):
        return [message_text(m.data) for m in self.messages()]

    def clear(self):
        """Forgets the messages so far; the monitor appends, so later ones start afresh."""
        if os.path.exists(self.record_file):
            open(self.record_file, "wb").close()

    def wait_for_count(self, count, timeout=10):
        return harness.wait_for(lambda: len(self.messages()) >= count, timeout=timeout)

    def stop(self, timeout=15):
        if self.proc is not None and self.proc.poll() is None:
            with open(self.stop_file, "w"):
                pass
            try:
                self.proc.wait(timeout=timeout)
            except subprocess.TimeoutExpired:
                self.proc.kill()
                self.proc.wait()
        shutil.rmtree(self.dir, ignore_errors=True)

    def __enter__(self):
        self.start()
        return self

    def __exit__(self, *exc):
        self.stop()
        return False
