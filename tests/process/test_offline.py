"""Offline for real: the schedule probe in a network namespace without any
interface but loopback. The prefix's wineserver must start inside the
namespace, so this test stops it, runs there, and starts it again outside."""
import shutil
import subprocess
import unittest

import harness
import host

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

    def test_offline_update_cycle_only_checks_and_completes(self):
        if not namespaces_work():
            self.skipTest("no network namespaces here (unshare -n needs root or user namespaces)")
        harness.reg_set_last_check(0)
        window = host.HostWindow()  # its files only: the monitor runs inside the namespace
        app = harness.Installation("offline")
        script = ('ip link set lo up; w="$0"; '
                  '"$w" "$1" --ready "$2" --record "$3" --stop-file "$4" --seconds 60 & '
                  'i=0; while [ ! -s "$5" ] && [ $i -lt 300 ]; do sleep 0.1; i=$((i+1)); done; '
                  '"$w" "$6" --velmarupdate-log "/w:$(cat "$5")" /j:3 /v:1.0.0.5; rc=$?; '
                  ': > "$7"; wait; "$w" --stop; exit $rc')
        subprocess.run([harness.WINE_RUN, "--stop"], check=True, timeout=60)
        try:
            offline = subprocess.run(
                ["unshare", "-n", "sh", "-c", script, harness.WINE_RUN, host.HOST_MONITOR,
                 harness.win_path(window.ready_file), harness.win_path(window.record_file),
                 harness.win_path(window.stop_file), window.ready_file, app.exe, window.stop_file],
                stdin=subprocess.DEVNULL, capture_output=True, timeout=180)
        finally:
            subprocess.run([harness.WINE_RUN, "--init"], timeout=120)
        try:
            self.assertEqual(0, offline.returncode, offline.stderr)
            self.assertEqual(["OnCheckingForUpdate", "OnComplete;1;"], window.texts())
            self.assertEqual(0, harness.reg_query_last_check(), "no time stamp when offline")
            self.assertRegex(app.run_logs()[0][1], r" Offline:flags 0x[0-9a-f]+", "the log says why")
        finally:
            window.stop()
            app.remove()
            harness.reg_delete_key()


if __name__ == "__main__":
    unittest.main()
