"""The vendor steers a release: staged by the signed manifest's rollout against
an id each installation keeps, and a failed patch mended by the full package."""
import hashlib
import os
import re
import struct

import harness
from cycle_fixture import (CHECKING, FAKE_INSTALLER, INSTALLING, SERVER_ROOT_URL, Fault, UpdateCycleFixture,
                           available, complete, read_record)

NOTHING = [CHECKING, complete(1)]
PATCHED = [CHECKING, available("1.0.0.9"), INSTALLING, complete(1)]


class RolloutAndFallback(UpdateCycleFixture):
    def install_id(self):
        """InstallId as (registry type tag, number) from an export; reg query cannot show a REG_QWORD."""
        export = os.path.join(self.root, "export.reg")
        harness.wine(["regedit", "/E", harness.win_path(export), "HKEY_CURRENT_USER\\" + harness.REG_KEY[5:]])
        with open(export, encoding="utf-16") as f:
            found = re.search(r'"InstallId"=(hex\(b\):|dword:|")([^\r\n]*)', f.read())
        if found is None or found.group(1) != "hex(b):":
            return found and found.group(1)
        return struct.unpack("<Q", bytes(int(b, 16) for b in found.group(2).split(",")))[0]

    def log(self):
        return "".join(text for _, text in self.app.run_logs())

    def test_a_release_reaches_this_installation_when_its_place_comes(self):
        self.serve_patch()
        self.manifest(rollout="0")
        self.checked("--velmarupdate-log /v:1.0.0.5", NOTHING)
        self.assertEqual(2, len(self.server.requested_paths()), "the manifest and its signature only")
        installation = self.install_id()
        self.assertIsInstance(installation, int)
        digest = hashlib.sha256(b"1.0.0.9:%d" % installation).digest()
        place = int.from_bytes(digest[:8], "big") % 10000
        self.assertIn(" RolloutWait:1.0.0.9 offered to 0%% of installations, this one is at %d.%02d%%"
                      % (place // 100, place % 100), self.log())
        for hundredths, texts in ((place, NOTHING), (place + 1, PATCHED)):
            with self.subTest(rollout=hundredths):
                self.fresh_run()
                self.manifest(rollout="%d.%02d" % (hundredths // 100, hundredths % 100))
                self.checked("/v:1.0.0.5", texts)
                self.assertEqual(installation, self.install_id(), "the id stays across runs")
        # An id of another type is drawn anew and stored as it should be.
        harness.wine(["reg", "add", harness.REG_KEY, "/v", "InstallId", "/t", "REG_SZ", "/d", str(installation), "/f"])
        self.fresh_run()
        self.manifest(rollout="100")
        self.checked("/v:1.0.0.5", PATCHED)
        self.assertIsInstance(self.install_id(), int)

    def test_a_failed_patch_falls_back_to_the_full_package(self):
        self.serve("full/VelmarSetup.exe", open(FAKE_INSTALLER, "rb").read())
        newest = SERVER_ROOT_URL + "/full/VelmarSetup.exe"
        cases = {  # name: (patch fault, setup.exe exit code, install path, messages, why in the log)
            "patch_404": (Fault(404, b"not found"), "", "C:\\windows", PATCHED[:2] + [INSTALLING, complete(1)],
                          "HTTP status 404"),
            "setup_fails": (None, 1, "C:\\windows", PATCHED[:3] + [INSTALLING, complete(1)], "setup.exe failed"),
            "no_install_path": (Fault(404, b"not found"), "", None, [CHECKING, available("1.0.0.9"), complete(3)],
                                None),
        }
        for name, (fault, setup_exit, install_path, texts, why) in cases.items():
            with self.subTest(name):
                self.fresh_run()
                patch = self.serve_patch()
                self.manifest(newest=newest)
                self.server.faults = {patch: fault} if fault else {}
                tail = "--velmarupdate-log /v:1.0.0.5" + (" /installpath:" + install_path if install_path else "")
                self.checked(tail, texts, setup_exit=setup_exit)
                self.assertEqual(why is not None, "/full/VelmarSetup.exe" in self.server.requested_paths())
                if why:
                    self.assertIn(" PatchFallback:%s, taking the full package" % why, self.log())
                    self.assertTrue(read_record(self.record)[0].endswith("--orvantaupdate-installpath=" + install_path))
                else:
                    self.assertNotIn("PatchFallback", self.log())
