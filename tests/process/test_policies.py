"""The administrator steers updates from the machine's policy key, staged here with
`wine reg add` as Group Policy would write it; the user's own policy key counts for nothing."""
import os
import shutil
import time

import harness
from cycle_fixture import (CHECKING, INSTALLING, PORT, UPDATE_PATH, UpdateCycleFixture, available, complete)

MACHINE_KEY = r"HKLM\SOFTWARE\Policies\Orvanta\Velmar\Update"
USER_KEY = r"HKCU\SOFTWARE\Policies\Orvanta\Velmar\Update"
NOTHING = [CHECKING, complete(1)]
PATCHED = [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)]


class Policies(UpdateCycleFixture):
    def setUp(self):
        super().setUp()
        self.clear_policies()
        self.serve_patch()
        self.manifest()

    def tearDown(self):
        self.clear_policies()
        super().tearDown()

    def clear_policies(self):
        for key in (MACHINE_KEY, USER_KEY):
            harness.wine(["reg", "delete", key, "/f"])

    def policy(self, name, value, reg_type="REG_DWORD", key=MACHINE_KEY):
        proc = harness.wine(["reg", "add", key, "/v", name, "/t", reg_type, "/d", str(value), "/f"])
        self.assertEqual(0, proc.returncode, proc.stderr)

    def cycle(self, texts, last_check=None):
        """One run with the log on: the host's messages, then the log and the requests."""
        if last_check is not None:
            harness.reg_set_last_check(last_check)
        self.run_cycle("--velmarupdate-log /v:1.0.0.5", due=last_check is None)
        self.assertEqual(texts, self.texts())
        return "".join(text for _, text in self.app.run_logs()), self.server.requested_paths()

    def test_updates_off_and_quiet_hours_ask_no_server(self):
        now = time.localtime()
        start = (now.tm_hour * 60 + now.tm_min - 30) % 1440  # a window around now, in local time
        for name, values, logged in (
                ("off", {"UpdateDefault": 0}, " Policy:updates are off"),
                ("quiet_hours", {"UpdatesSuppressedStartHour": start // 60, "UpdatesSuppressedStartMin": start % 60,
                                 "UpdatesSuppressedDurationMin": 60}, " Policy:within the quiet hours")):
            with self.subTest(name):
                self.fresh_run()
                self.clear_policies()
                for value_name, value in values.items():
                    self.policy(value_name, value)
                log, requests = self.cycle(NOTHING)
                self.assertIn(logged, log)
                self.assertEqual([], requests)
                self.assertIsNone(harness.reg_query_last_check(), "no time stamp written")

    def test_version_pin(self):
        for prefix, texts in (("1.0.", PATCHED), ("1.0.0.9", PATCHED), ("1.1", NOTHING), ("1.0.x", NOTHING)):
            with self.subTest(prefix=prefix):
                self.fresh_run()
                self.policy("TargetVersionPrefix", prefix, "REG_SZ")
                log, requests = self.cycle(texts)
                self.assertIn(" Policy:TargetVersionPrefix=" + prefix, log)
                self.assertEqual(texts == NOTHING, " Policy:1.0.0.9 is outside TargetVersionPrefix" in log)
                self.assertEqual(texts == PATCHED, len(requests) == 3, "no package asked for outside the pin")

    def test_a_shorter_period_makes_a_check_due(self):
        two_hours_ago = int(time.time()) - 7200
        log, _ = self.cycle(NOTHING, last_check=two_hours_ago)  # the day has not passed
        self.fresh_run()
        self.policy("CheckPeriodMinutes", 1)
        log, _ = self.cycle(PATCHED, last_check=two_hours_ago)
        self.assertIn(" Policy:CheckPeriodMinutes=1, taken as 60", log)

    def test_a_mirror_serves_the_vendors_signed_files(self):
        self.publish()
        shutil.copytree(os.path.join(self.root, "update"), os.path.join(self.root, "mirror", "update"))
        self.main = None  # published already, the mirror holds a copy
        self.policy("UpdateUrl", "http://127.0.0.1:%d/mirror%s" % (PORT, UPDATE_PATH), "REG_SZ")
        _, requests = self.cycle(PATCHED)
        self.assertEqual(["/mirror" + UPDATE_PATH + name for name in
                          ("version.ini", "version.ini.sig", "1.0.0.5-1.0.0.9/velmar.diff")], requests)

    def test_the_users_own_policy_key_counts_for_nothing(self):
        self.policy("UpdateDefault", 0, key=USER_KEY)
        self.policy("UpdateUrl", "http://127.0.0.1:9/elsewhere/", "REG_SZ", key=USER_KEY)
        log, _ = self.cycle(PATCHED)
        self.assertNotIn("Policy", log)
