"""Offline for real: the schedule probe in a network namespace without any
interface but loopback. The prefix's wineserver must start inside the
namespace, so this test stops it, runs there, and starts it again outside."""
import shutil
import subprocess
import unittest

import harness

NAMESPACE_SCRIPT = 'ip link set lo up && "$0" "$1"; rc=$?; "$0" --stop; exit $rc'


def namespaces_work():
    if shutil.which("unshare") is None or shutil.which("ip") is None:
        return False
    probe = subprocess.run(["unshare", "-n", "sh", "-c", "ip link set lo up"],
                           stdin=subprocess.DEVNULL, capture_output=True, timeout=30)
    return probe.returncode == 0


class OfflineTest(unittest.TestCase):
    def test_offline_machine_is_never_due(self):
        if not namespaces_work():
            self.skipTest("no network namespaces here (unshare -n needs root or user namespaces)")
        schedule_probe = harness.tool("schedule_probe.exe")
        # A stamp this old makes a check due on any connected machine.
        harness.reg_set_last_check(0)
        online = harness.wine([schedule_probe])
        self.assertEqual("connected=1 due=1", online.stdout.decode().strip())

        subprocess.run([harness.WINE_RUN, "--stop"], check=True, timeout=60)
        try:
            offline = subprocess.run(["unshare", "-n", "sh", "-c", NAMESPACE_SCRIPT, harness.WINE_RUN,
                                      schedule_probe],
                                     stdin=subprocess.DEVNULL, capture_output=True, timeout=120)
        finally:
            subprocess.run([harness.WINE_RUN, "--init"], timeout=120)
        self.assertEqual(0, offline.returncode, offline.stderr)
        self.assertEqual("connected=0 due=0", offline.stdout.decode().strip())
        self.assertEqual(0, harness.reg_query_last_check())
        harness.reg_delete_key()


if __name__ == "__main__":
    unittest.main()
