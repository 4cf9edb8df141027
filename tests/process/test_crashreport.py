"""Crash report mode ("/u:"): the request on the wire, the exit code for each
kind of answer, the dump file left as it was, and what keeps a report from
going out. The real exe runs under Wine against tools/errorlog_server.py on the
build's loopback error-log address."""
import calendar
import hashlib
import os
import re
import shutil
import subprocess
import sys
import time
import unittest
import urllib.parse
import uuid

import harness

sys.path.insert(0, os.path.join(harness.SOURCE_DIR, "tools"))
from errorlog_server import ErrorLogServer, Reply  # noqa: E402

ERROR_LOG_URL = urllib.parse.urlsplit(
    os.environ.get("VELMAR_ERROR_LOG_URL", "http://127.0.0.1:18742/index.php?do=adderrorlog"))
AGENT = "VelmarCrashReport/1.0 (Windows)"
BOUNDARY_RE = re.compile(r"^-{27}[0-9A-F]{16}$")
PER_DAY = int(harness.build_setting("VELMAR_CRASH_REPORTS_PER_DAY", "3"))
POLICY_KEY = r"HKLM\SOFTWARE\Policies\Orvanta\Velmar\CrashReporting"


def expected_body(boundary, fields, filename, data):
    """The body as the error-log server must receive it, built here on its own."""
    delimiter = b"--" + boundary.encode("ascii")
    out = b""
    for name, value in fields:
        out += (delimiter + b"\r\nContent-Disposition: form-data; name=\"" + name.encode("utf-8") + b"\"\r\n\r\n"
                + value.encode("utf-8") + b"\r\n")
    out += (delimiter + b"\r\nContent-Disposition: form-data; name=\"dump_file\"; filename=\""
            + filename.encode("utf-8") + b"\"\r\nContent-Type: application/octet-stream\r\n\r\n"
            + data + b"\r\n" + delimiter + b"--\r\n")
    return out


class CrashReportTest(unittest.TestCase):
    @classmethod
    def setUpClass(cls):
        subprocess.run([harness.WINE_RUN, "--init"], check=True)
        cls.app = harness.Installation("crash")
        cls.server = ErrorLogServer(port=ERROR_LOG_URL.port or 80).start()

    @classmethod
    def tearDownClass(cls):
        cls.server.stop()
        cls.app.remove()

    def setUp(self):
        self.server.reset()
        self.server.set_reply(Reply())
        self.dumps = os.path.join(harness.DRIVE_C, "velmar-tests", "dumps-" + uuid.uuid4().hex[:8])
        os.makedirs(self.dumps)

    def tearDown(self):
        shutil.rmtree(self.dumps, ignore_errors=True)

    # -- helpers -------------------------------------------------------------
    def make_dump(self, data, name="crash.dmp", folder=None):
        directory = os.path.join(self.dumps, folder) if folder else self.dumps
        os.makedirs(directory, exist_ok=True)
        path = os.path.join(directory, name)
        with open(path, "wb") as f:
            f.write(data)
        return path

    def assert_unchanged(self, path, data):
        with open(path, "rb") as f:
            self.assertEqual(hashlib.sha256(data).hexdigest(), hashlib.sha256(f.read()).hexdigest(),
                             "the dump must be left as it was")

    def report(self, tail):
        """One report as the first: the storm guard's record is cleared before it."""
        harness.clear_crash_record()
        return self.app.run(tail, timeout=120)

    def only_request(self):
        requests = self.server.requests
        self.assertEqual(1, len(requests), "exactly one request")
        return requests[0]

    # -- the request ---------------------------------------------------------
    def test_request_on_the_wire(self):
        data = b"MDMP\x93\xa7\0\0\r\n\n\r\"--" + os.urandom(3000) + b"\r\n--"
        path = self.make_dump(data)
        # The switch order differs from the part order on purpose.
        result = self.report("/os:win10 /u:%s /v:1.2.3.4" % harness.win_path(path))
        self.assertEqual(1, result.code)
        record = self.only_request()
        self.assertEqual("POST", record.method)
        self.assertEqual(ERROR_LOG_URL.path + "?" + ERROR_LOG_URL.query, record.target)
        self.assertEqual("/index.php", record.path)
        self.assertEqual("do=adderrorlog", record.query)
        self.assertEqual(AGENT, record.user_agent)
        self.assertEqual("%s:%d" % (ERROR_LOG_URL.hostname, ERROR_LOG_URL.port), record.header("Host"))
        self.assertEqual(1, record.header_count("Content-Type"))
        content_type = record.header("Content-Type")
        self.assertTrue(content_type.startswith("multipart/form-data; boundary="), content_type)
        boundary = content_type[len("multipart/form-data; boundary="):]
        self.assertRegex(boundary, BOUNDARY_RE)
        self.assertTrue(record.complete)
        self.assertEqual(len(record.body), record.content_length)
        fields = [("name", "Orvanta Velmar"), ("os", "win10"), ("version1", "1.2.3.4")]
        self.assertEqual(expected_body(boundary, fields, harness.win_path(path), data), record.body)
        self.assertEqual(harness.win_path(path), record.file.filename)
        self.assert_unchanged(path, data)

    def test_absent_switches_are_sent_empty(self):
        path = self.make_dump(b"dump")
        self.assertEqual(1, self.report("/u:" + harness.win_path(path)).code)
        record = self.only_request()
        self.assertEqual(["name", "os", "version1", "dump_file"], [p.name for p in record.parts])
        self.assertEqual({"name": "Orvanta Velmar", "os": "", "version1": ""}, record.fields)
        self.assertEqual(expected_body(record.boundary, [("name", "Orvanta Velmar"), ("os", ""), ("version1", "")],
                                       harness.win_path(path), b"dump"), record.body)

    def test_each_report_draws_its_own_boundary(self):
        path = self.make_dump(b"dump")
        for _ in range(2):
            self.assertEqual(1, self.report("/u:" + harness.win_path(path)).code)
        first, second = self.server.requests
        self.assertNotEqual(first.boundary, second.boundary)

    def test_path_longer_than_its_buffer_is_refused_not_cut(self):
        # The path's first 258 characters name a decoy, which must not go out instead.
        prefix = harness.win_path(self.dumps) + "\\"
        decoy = self.make_dump(b"decoy", name="d" * (258 - len(prefix)))
        self.assertEqual(258, len(harness.win_path(decoy)))
        self.assertEqual(0, self.report("/v:1.0 /u:" + harness.win_path(decoy) + ".dmp").code)
        self.assertEqual(0, self.server.connections)

    def test_path_beyond_ascii_is_opened_and_sent_as_utf8(self):
        data = os.urandom(1000)
        path = self.make_dump(data, name="\u5d29\u6e83 \u00e9.dmp", folder="\u4e2d\u6587 dumps")
        windows_path = harness.win_path(path)
        # Quoted, as the folder name holds a space.
        result = self.report('/v:2.0 /u:"%s" /os:\u4e2d\u6587' % windows_path)
        self.assertEqual(1, result.code)
        record = self.only_request()
        self.assertEqual(windows_path.encode("utf-8"), record.file.filename_bytes)
        self.assertIn(b'filename="' + windows_path.encode("utf-8") + b'"', record.body)
        self.assertEqual(hashlib.sha256(data).hexdigest(), record.file.sha256)
        self.assertEqual("\u4e2d\u6587", record.fields["os"])
        self.assert_unchanged(path, data)

    def test_dump_of_64_mib_goes_through(self):
        data = os.urandom(64 << 20)
        path = self.make_dump(data, name="full.dmp")
        self.assertEqual(1, self.report("/v:1.0 /u:" + harness.win_path(path)).code)
        record = self.only_request()
        self.assertEqual(len(data), record.file.size)
        self.assertEqual(hashlib.sha256(data).hexdigest(), record.file.sha256)
        self.assertEqual(record.body_size, record.content_length)
        self.assert_unchanged(path, data)

    # -- exit codes ----------------------------------------------------------
    def test_status_200_with_a_whole_answer_exits_1(self):
        for framing in ("length", "none", "chunked"):
            with self.subTest(framing=framing):
                self.server.reset()
                self.server.set_reply(Reply(status=200, framing=framing, body=b'{"stored": true}\n' * 50))
                data = os.urandom(2048)
                path = self.make_dump(data, name=framing + ".dmp")
                self.assertEqual(1, self.report("/u:" + harness.win_path(path)).code)
                self.assertTrue(self.only_request().complete)
                self.assert_unchanged(path, data)

    def test_any_other_answer_exits_0(self):
        cases = [
            ("201", Reply(status=201)),
            ("204", Reply(status=204)),
            ("404", Reply(status=404, body=b"<h1>Not Found</h1>")),
            ("500", Reply(status=500, body=b"<h1>Internal Server Error</h1>")),
            ("200_cut_short", Reply(status=200, framing="short", short_by=1)),
            ("200_cut_short_chunk", Reply(status=200, framing="short", short_by=4096)),
            ("close_without_answer", Reply(framing="close")),
        ]
        for label, reply in cases:
            with self.subTest(label):
                self.server.reset()
                self.server.set_reply(reply)
                data = os.urandom(2048)
                path = self.make_dump(data, name=label + ".dmp")
                self.assertEqual(0, self.report("/v:1.0 /os:win10 /u:" + harness.win_path(path)).code)
                record = self.only_request()
                self.assertTrue(record.complete, "the request itself arrived whole")
                self.assertEqual(hashlib.sha256(data).hexdigest(), record.file.sha256)
                self.assert_unchanged(path, data)

    def test_an_answer_without_end_is_cut_off(self):
        """Endless and fast: the first 64 KiB are the answer (exit 1); trickled: the answer's limit ends it."""
        limit = int(os.environ.get("VELMAR_REPORT_ANSWER_TIME_LIMIT_SECONDS", "5"))
        path = harness.win_path(self.make_dump(os.urandom(4096)))
        for label, reply, code in (("endless", Reply(framing="none", endless=True), 1),
                                   ("2_KiB_a_second", Reply(framing="none", body=b"x" * 65536, trickle=0.0005), 0)):
            with self.subTest(label):
                self.server.set_reply(reply)
                timed = os.path.join(self.dumps, label + ".time")
                started = time.monotonic()
                harness.clear_crash_record()
                run = subprocess.run(["/usr/bin/time", "-o", timed, "-f", "%M", harness.WINE_RUN, self.app.exe,
                                      "/u:" + path], timeout=120, capture_output=True)
                self.assertEqual(code, run.returncode)
                self.assertLess(time.monotonic() - started, limit + 4)
                with open(timed) as f:
                    self.assertLess(int(f.read().split()[-1]), 80 * 1024, "peak memory in KiB stays flat")

    def test_refused_connection_exits_0(self):
        data = os.urandom(100)
        path = self.make_dump(data)
        self.server.stop()
        try:
            self.assertEqual(0, self.report("/u:" + harness.win_path(path)).code)
        finally:
            self.server.start()
        self.assert_unchanged(path, data)

    def test_nothing_to_send_exits_0_without_a_request(self):
        empty = self.make_dump(b"", name="empty.dmp")
        cases = [
            ("empty_dump", "/v:1.0 /u:" + harness.win_path(empty)),
            ("missing_dump", "/v:1.0 /u:" + harness.win_path(os.path.join(self.dumps, "absent.dmp"))),
            ("folder_as_dump", "/u:" + harness.win_path(self.dumps)),
            ("empty_value_at_end", "/v:1.0 /u:"),
            ("empty_value_then_switch", "/u: /v:1.0"),
        ]
        for label, tail in cases:
            with self.subTest(label):
                self.server.reset()
                self.assertEqual(0, self.report(tail).code)
                self.assertEqual(0, self.server.connections, "no connection reaches the server")
        self.assertEqual(0, os.path.getsize(empty))

    def test_upload_while_the_update_mutex_is_held(self):
        ready = os.path.join(self.dumps, "held")
        holder = harness.wine_popen([harness.tool("hold_mutex.exe"), harness.win_path(ready)],
                                    stdin=subprocess.PIPE, stdout=subprocess.DEVNULL)
        try:
            self.assertTrue(harness.wait_for(lambda: os.path.exists(ready), timeout=30))
            data = os.urandom(4096)
            path = self.make_dump(data)
            self.assertEqual(1, self.report("/v:1.0 /u:" + harness.win_path(path)).code)
            self.assertEqual(hashlib.sha256(data).hexdigest(), self.only_request().file.sha256)
        finally:
            holder.stdin.close()
            holder.wait(timeout=30)

    # -- what keeps a report from going out ------------------------------------
    def test_policy_limit_server_wait_and_no_dump_twice(self):
        def offer(path):
            """One report with the log on: its exit code and log."""
            shutil.rmtree(self.app.log_folder(), ignore_errors=True)
            code = self.app.run("--velmarupdate-log /v:1.0 /u:" + harness.win_path(path), timeout=120).code
            (_, log), = self.app.run_logs()
            return code, log

        data = os.urandom(4096)
        dump = self.make_dump(data)
        harness.clear_crash_record()
        with self.subTest("policy_off"):
            harness.wine(["reg", "add", POLICY_KEY, "/v", "Enabled", "/t", "REG_DWORD", "/d", "0", "/f"])
            try:
                code, log = offer(dump)
            finally:
                harness.wine(["reg", "delete", POLICY_KEY, "/f"])
            self.assertEqual((0, 0), (code, self.server.connections))
            self.assertIn(" Policy:crash reports are off", log)
            self.assert_unchanged(dump, data)
        with self.subTest("accepted_dump_not_sent_again"):
            self.assertEqual(1, offer(dump)[0])
            code, log = offer(dump)
            self.assertEqual((1, 1), (code, self.server.connections))
            self.assertIn(" CrashReportSent:" + harness.win_path(dump), log)
            data = os.urandom(4096)
            self.make_dump(data)  # the same path, new content: a new dump
            self.assertEqual((1, 2), (offer(dump)[0], self.server.connections))
            self.assertEqual(hashlib.sha256(data).hexdigest(), self.server.requests[-1].file.sha256)
        with self.subTest("refused_for_good"):
            harness.clear_crash_record()
            self.server.set_reply(Reply(status=413))
            refused = self.make_dump(b"too large", name="refused.dmp")
            self.assertEqual((0, 3), (offer(refused)[0], self.server.connections))
            code, log = offer(refused)
            self.assertEqual((0, 3), (code, self.server.connections))
            self.assertIn(" CrashReportRefused:", log)
        with self.subTest("limit"):
            harness.clear_crash_record()
            self.server.reset()
            self.server.set_reply(Reply())
            codes = [offer(self.make_dump(os.urandom(100), name="%d.dmp" % n))[0] for n in range(PER_DAY)]
            self.assertEqual(([1] * PER_DAY, PER_DAY), (codes, self.server.connections))
            code, log = offer(self.make_dump(b"one more", name="over.dmp"))
            self.assertEqual((0, PER_DAY), (code, self.server.connections))
            self.assertIn(" CrashReportLimit:%d reports started in the last 24 h" % PER_DAY, log)
        with self.subTest("server_wait"):
            harness.clear_crash_record()
            self.server.reset()
            self.server.set_reply(Reply(status=429, retry_after="3600"))
            self.assertEqual(0, offer(self.make_dump(b"first", name="first.dmp"))[0])
            self.server.set_reply(Reply())
            code, log = offer(self.make_dump(b"next", name="next.dmp"))
            self.assertEqual((0, 1), (code, self.server.connections))
            until = re.search(r" CrashReportWait:(\S+Z)", log).group(1)
            self.assertAlmostEqual(time.time() + 3600, calendar.timegm(time.strptime(until, "%Y-%m-%dT%H:%M:%SZ")),
                                   delta=120)
        harness.clear_crash_record()


if __name__ == "__main__":
    unittest.main()
