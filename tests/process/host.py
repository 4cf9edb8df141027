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
import threading
import time

import harness

HOST_MONITOR = os.path.join(harness.BUILD_DIR, "host_monitor.exe")

Message = collections.namedtuple("Message", "wparam dw_data cb_data data")


def message_text(data):
    """The UTF-16 text of a message, up to its first zero unit."""
    text = data.decode("utf-16-le", "replace")
    end = text.find("\0")
    return text if end < 0 else text[:end]


class HostWindow:
    """echo=True also prints each message as it arrives ("  host  <time>  wParam <n>  <text>")."""

    def __init__(self, seconds=120, echo=False, hang=False):
        os.makedirs(harness.TEMP_DIR, exist_ok=True)
        self.dir = tempfile.mkdtemp(prefix="host-", dir=harness.TEMP_DIR)
        self.ready_file = os.path.join(self.dir, "ready.txt")
        self.record_file = os.path.join(self.dir, "messages.txt")
        self.stop_file = os.path.join(self.dir, "stop")
        self.print_file = os.path.join(self.dir, "printed.txt")
        self.seconds = seconds
        self.echo = echo
        self.hang = hang
        self.echoing = threading.Event()
        self.proc = None
        self.hwnd = None

    def start(self, timeout=30):
        """Starts the monitor and waits until its window exists; returns the handle."""
        args = [HOST_MONITOR, "--ready", harness.win_path(self.ready_file),
                "--record", harness.win_path(self.record_file),
                "--stop-file", harness.win_path(self.stop_file), "--seconds", str(self.seconds)]
        # Printed lines go through a file, not a pipe: Wine's helper processes may
        # inherit a pipe and keep it open.
        with open(self.print_file, "wb") as out:
            self.proc = harness.wine_popen(args + (["--print"] if self.echo else []) + (["--hang"] if self.hang else []),
                                           env=dict(os.environ, VELMAR_WINE_DIRECT="1"),
                                           stdin=subprocess.DEVNULL, stdout=out, stderr=subprocess.DEVNULL)
        if not harness.wait_for(lambda: os.path.exists(self.ready_file) or self.proc.poll() is not None,
                                timeout=timeout) or not os.path.exists(self.ready_file):
            self.stop()
            raise RuntimeError("host_monitor did not start (exit %r)" % (self.proc.returncode,))
        with open(self.ready_file) as f:
            self.hwnd = int(f.read().strip())
        if self.echo:
            self.echoing.set()
            threading.Thread(target=self._relay, daemon=True).start()
        return self.hwnd

    def _relay(self):
        position, pending = 0, b""
        while self.echoing.is_set():
            with open(self.print_file, "rb") as f:
                f.seek(position)
                chunk = f.read()
            position += len(chunk)
            *lines, pending = (pending + chunk).split(b"\n")
            for raw in lines:
                line = raw.decode("utf-8", "replace").rstrip("\r")
                if line and not line.startswith("host window "):
                    when, wparam, text = (line.split(" ", 2) + ["", ""])[:3]
                    print("  host  %s  wParam %s  %s" % (when, wparam, text), flush=True)
            time.sleep(0.02)

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

    def texts_after(self, mark, timeout=10):
        """The texts after the first `mark` ones, once an "OnComplete" is among them."""
        harness.wait_for(lambda: any(t.startswith("OnComplete;") for t in self.texts()[mark:]), timeout=timeout)
        return self.texts()[mark:]

    def stop(self, timeout=15):
        if self.echoing.is_set():
            time.sleep(0.1)  # the last lines reach the screen
            self.echoing.clear()
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
