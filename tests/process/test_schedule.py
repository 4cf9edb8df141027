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


class ScheduleTest(unittest.TestCase):
    def tearDown(self):
        harness.reg_delete_key()

    def test_save_creates_key_and_dword(self):
        harness.reg_delete_key()
        self.assertIsNone(harness.reg_query_last_check_typed())
        before = int(time.time())
        self.assertEqual("connected=1 due=1", probe("save"))
        after = int(time.time())
        reg_type, stamp = harness.reg_query_last_check_typed()
        self.assertEqual("REG_DWORD", reg_type)
        self.assertTrue(before - 2 <= stamp <= after + 2, stamp)
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
        self.assertEqual(("REG_SZ", now - 3600), harness.reg_query_last_check_typed(),
                         "a check that is not saved leaves the stamp")


if __name__ == "__main__":
    unittest.main()
