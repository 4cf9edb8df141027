"""The check schedule on the real machine: the registry stamp as `wine reg`
sees it, and the real clock against it."""
import time
import unittest

import harness


def probe(*args):
    proc = harness.wine([harness.tool("schedule_probe.exe")] + list(args))
    if proc.returncode != 0:
        raise AssertionError("schedule_probe failed: %r" % proc.stderr)
    return proc.stdout.decode("utf-8").strip()


def reg_query_line():
    proc = harness.wine(["reg", "query", harness.REG_KEY, "/v", "LastTimeCheck"])
    if proc.returncode != 0:
        return None
    for line in proc.stdout.decode("utf-8", "replace").splitlines():
        if line.split()[:1] == ["LastTimeCheck"]:
            return line.split()
    return None


class ScheduleTest(unittest.TestCase):
    def tearDown(self):
        harness.reg_delete_key()

    def test_save_creates_key_and_dword(self):
        harness.reg_delete_key()
        self.assertIsNone(reg_query_line())
        before = int(time.time())
        self.assertEqual("connected=1 due=1", probe("save"))
        after = int(time.time())
        fields = reg_query_line()
        self.assertIsNotNone(fields, "LastTimeCheck written")
        self.assertEqual("REG_DWORD", fields[1])
        self.assertTrue(before - 2 <= int(fields[2], 0) <= after + 2, fields)
        # The stamp just written makes the next check wait.
        self.assertEqual("connected=1 due=0", probe())

    def test_real_clock_against_stored_stamp(self):
        now = int(time.time())
        cases = [
            (now - 3600, "REG_DWORD", "connected=1 due=0"),
            (now - 86400 - 120, "REG_DWORD", "connected=1 due=1"),
            (now + 3600, "REG_DWORD", "connected=1 due=1"),
            # The right number in the wrong type counts as never checked.
            (now - 3600, "REG_SZ", "connected=1 due=1"),
        ]
        for stamp, reg_type, expected in cases:
            with self.subTest(stamp=stamp - now, reg_type=reg_type):
                harness.reg_set_last_check(stamp, reg_type)
                self.assertEqual(expected, probe())
        self.assertEqual(str(now - 3600), reg_query_line()[2], "a check that is not saved leaves the stamp")


if __name__ == "__main__":
    unittest.main()
