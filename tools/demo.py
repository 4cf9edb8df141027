"""Tells VelmarUpdate's whole story under Wine, on loopback only: a patch update
from a site signed with tools/sign-release, a full-package update, a run within
the day that does nothing, a release halted at 0% and taken at 100%, a patch
missing on the server mended by the full package, a tampered patch, an older
installer, an installer signed by another publisher, a replayed older manifest and a manifest
never logged refused, and a crash report
(and the same report with the administrator's policy turning reports off), each against the
bundled local servers, with the host window's messages as they arrive.

Run it through scripts/demo (which builds first), or, with a build in place:
    /usr/bin/python3 tools/demo.py
"""
import contextlib
import dataclasses
import hashlib
import os
import re
import shutil
import subprocess
import sys
import tempfile
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
sys.path.insert(0, HERE)
import harness  # noqa: E402
import host  # noqa: E402
from errorlog_server import ErrorLogServer  # noqa: E402
from update_server import UpdateServer  # noqa: E402

# The demo installer as the test publisher signs it (this build pins that publisher), and as another does.
FAKE_INSTALLER = os.path.join(harness.BUILD_DIR, "fake_installer-signed.exe")
FOREIGN_INSTALLER = os.path.join(harness.BUILD_DIR, "fake_installer-signed-foreign.exe")
SIGN_RELEASE = os.path.join(harness.SOURCE_DIR, "tools", "sign-release")
DEMO_ROOT = os.path.join(harness.DRIVE_C, "velmar-tests")
OLD, NEW, ANCIENT = "1.0.0.5", "1.0.0.9", "0.9.0.0"
CRASH_POLICY_KEY = r"HKLM\SOFTWARE\Policies\Orvanta\Velmar\CrashReporting"
WPARAM = 7

problems = []


# -- small helpers -------------------------------------------------------------

def heading(text):
    print()
    print("== %s ==" % text)


def say(label, value=""):
    print("%-17s %s" % (label, value) if value != "" else label)


def expect(condition, what):
    """Notes an outcome that differs from the documented one; the demo still goes on."""
    if not condition:
        problems.append(what)
        say("UNEXPECTED", what)


def unix_path(windows_path):
    """The Unix path of a C: path inside the prefix."""
    if windows_path[:3].upper() != "C:\\":
        return None
    return os.path.join(harness.DRIVE_C, windows_path[3:].replace("\\", "/"))


def sha256_of(path):
    with open(path, "rb") as f:
        return hashlib.sha256(f.read()).hexdigest()


def fresh_folder(*names):
    path = os.path.join(DEMO_ROOT, *names)
    shutil.rmtree(path, ignore_errors=True)
    os.makedirs(path)
    return path


def start_with_retry(start, what, seconds=60):
    """Starts a server; its port may be held for a moment by a test run of someone else."""
    deadline = time.monotonic() + seconds
    while True:
        try:
            return start()
        except OSError as error:
            if time.monotonic() > deadline:
                raise
            say("waiting", "%s: port busy (%s), retrying" % (what, error.strerror))
            time.sleep(2)


def stamp_text(stamp):
    if stamp is None:
        return "(absent)"
    return "%d (%s UTC)" % (stamp, time.strftime("%Y-%m-%d %H:%M:%S", time.gmtime(stamp)))


# -- the stage: servers, host window, installation ------------------------------------------

@dataclasses.dataclass
class Stage:
    """Everything the update runs share, and what to clean up afterwards."""
    base: urllib.parse.SplitResult
    server_root: str
    host: object
    server: object
    app: object = None
    temp: str = None
    record: str = None
    install_path: str = None


def lay_out_update_server(root, base):
    """A server folder as a real one looks: the manifest, one patch, the full installer."""
    site = "%s://%s" % (base.scheme, base.netloc)
    update = os.path.join(root, base.path.strip("/"))
    full_name = "full/VelmarSetup-%s.exe" % NEW
    os.makedirs(os.path.join(update, "%s-%s" % (OLD, NEW)))
    os.makedirs(os.path.join(root, "full"))
    with open(os.path.join(update, "version.ini"), "w", newline="") as f:
        f.write("[main]\r\nversion=%s\r\nminiver=1.0.0.0\r\nnewest=%s/%s\r\n" % (NEW, site, full_name))
    with open(os.path.join(update, "%s-%s" % (OLD, NEW), "velmar.diff"), "wb") as f:
        f.write(b"VELMAR-DIFF %s->%s\n" % (OLD.encode(), NEW.encode()) + os.urandom(64 * 1024))
    # The full package must run: the demo installer stands in for it.
    shutil.copy2(FAKE_INSTALLER, os.path.join(root, full_name))


def sign_site(root, why, *options, logged=True):
    """Publishes the site as a release is: tools/sign-release binds the packages into version.ini, signs it
    (here with a test key) and appends it to the transparency log (with the test log key); its report is shown."""
    log = ["--log-key", harness.TEST_LOG_KEY, "--log-origin", harness.LOG_ORIGIN] if logged else []
    out = subprocess.run([SIGN_RELEASE, *options, *log, harness.TEST_SIGNING_KEY, root], check=True,
                         stdout=subprocess.PIPE, text=True).stdout
    say("sign-release", why)
    for line in out.splitlines():
        if line.startswith(("bound", "serial", "expires", "rollout", "appended", "log ")):
            say("", line)


def show_update_server(stage):
    heading("1. The local update server")
    base = stage.base
    say("base URL", "%s://%s%s (built into this VelmarUpdate.exe)" % (base.scheme, base.netloc, base.path))
    say("signatures", "tools/sign-release bound every package into version.ini (SHA-256, size) and")
    say("", "signed it; this build trusts the public halves of the two test keys and installs")
    say("", "only the exact package a fresh manifest binds")
    say("log", "every signed manifest is appended to a transparency log beside it (update/log/); this")
    say("", "build takes only a manifest whose proof (version.ini.tlog-proof) shows it in that log")
    sign_site(stage.server_root, "the site as a release publishes it:")
    say("serving", stage.server_root)
    for folder, _, files in sorted(os.walk(stage.server_root)):
        for name in sorted(files):
            path = os.path.join(folder, name)
            say("", "%-40s %8d bytes" % (os.path.relpath(path, stage.server_root), os.path.getsize(path)))
    with open(os.path.join(stage.server_root, base.path.strip("/"), "version.ini")) as f:
        say("version.ini:")
        for line in f.read().splitlines():
            say("", line)


def show_host_monitor(stage):
    heading("2. The host window")
    say("host_monitor", "a message-only Win32 window standing in for the browser's; it prints")
    say("", "each WM_COPYDATA as it arrives: time, wParam, text")
    say("window handle", "%d (passed as /w:%d, with /j:%d for wParam)" % (stage.host.hwnd, stage.host.hwnd, WPARAM))


def installation(folder_name):
    """A copy of VelmarUpdate.exe in its own folder; one left by an interrupted run goes first."""
    shutil.rmtree(os.path.join(DEMO_ROOT, folder_name), ignore_errors=True)
    return harness.Installation(folder_name=folder_name)


def prepare_installation(stage):
    stage.app = installation("demo-app")
    shutil.copy2(FAKE_INSTALLER, os.path.join(stage.app.dir, "setup.exe"))
    stage.record = os.path.join(fresh_folder("demo-records"), "installer.txt")
    # The runs get a TEMP of their own, so what they download is easy to show and remove.
    stage.temp = fresh_folder("demo-temp")
    stage.install_path = fresh_folder("demo-browser", "Orvanta Velmar")


# -- one update run -------------------------------------------------------------

def run_update(stage, tail):
    """Runs update mode; prints the command line, the messages as they arrive, the exit code."""
    if os.path.exists(stage.record):
        os.unlink(stage.record)
    line = "/w:%d /j:%d %s" % (stage.host.hwnd, WPARAM, tail)
    mark = len(stage.host.texts())
    requests_before = len(stage.server.requested_paths())
    say("command line", stage.app.command_line(line))
    say("host window received:")
    temp = harness.win_path(stage.temp)
    result = stage.app.run(line, timeout=120, env={"VELMAR_FAKE_INSTALLER_RECORD": harness.win_path(stage.record),
                                                   "VELMAR_FAKE_INSTALLER_HASH": "1"},
                           win_env={"TEMP": temp, "TMP": temp})
    texts = stage.host.texts_after(mark)
    say("exit code", result.code)
    new_requests = stage.server.requested_paths()[requests_before:]
    say("server got", "\n                  ".join("GET " + p for p in new_requests) if new_requests else "no request")
    return texts, new_requests


def show_installer_record(stage, name):
    record = harness.read_installer_record(stage.record)
    if record is None:
        say("installer", "was not started")
        return None
    exe, cmdline, args = record
    say("installer", "%s ran: %s" % (name, exe))
    say("", "(its command line between the brackets, then argv as CommandLineToArgvW splits it)")
    say("  command line", "[%s]" % cmdline)
    for i, arg in enumerate(args):
        say("  argv[%d]" % i, arg if arg else "(empty)")
    return record


def show_package(stage, path, key, served):
    """What the installer read of its package (it is gone with its run folder by now), against the server's file."""
    read = harness.read_installer_fields(stage.record).get(key, "(unread: %s)" % harness.read_installer_fields(
        stage.record).get(key + "-error"))
    same = read == sha256_of(served)
    say("package", "%s, SHA-256 as the installer read it %s..., same as served: %s" % (path, read[:16],
                                                                                       "yes" if same else "NO"))
    local = unix_path(path)
    gone = local is None or not os.path.exists(os.path.dirname(local))
    say("run folder", "removed once the installer ended" if gone else "STILL THERE")
    return same and gone


def show_logs(stage):
    for name, text in stage.app.run_logs():
        folder = os.path.join(stage.app.log_folder(), name)
        say("log file", harness.win_path(os.path.join(folder, "_velmarupdate.log")))
        say("log text", text)
        say("log folder", ", ".join(sorted(os.listdir(folder))))


def show_last_check():
    stamp = harness.reg_query_last_check()
    say("LastTimeCheck", stamp_text(stamp))
    return stamp


# -- the steps ------------------------------------------------------------------

def show_patch_update(stage):
    heading("3. Signed patch update %s -> %s, diagnostic log on" % (OLD, NEW))
    say("setup.exe", "demo installer beside %s" % harness.win_path(stage.app.exe))
    say("TEMP", "%s, the runs' own, so their downloads are easy to show" % harness.win_path(stage.temp))
    harness.reg_delete_key()
    say("registry", "LastTimeCheck deleted: a check is due")
    texts, _ = run_update(stage, "/v:%s --velmarupdate-log" % OLD)
    expect(texts == ["OnCheckingForUpdate", "OnUpdateAvailable;" + NEW, "OnInstalling", "OnComplete;1;"],
           "patch update messages: %s" % texts)
    record = show_installer_record(stage, "setup.exe")
    expect(record is not None, "setup.exe was not started")
    if record:
        archive = next((a.split("=", 1)[1] for a in record[2] if a.startswith("--install-archive=")), "")
        served = os.path.join(stage.server_root, stage.base.path.strip("/"), "%s-%s" % (OLD, NEW), "velmar.diff")
        expect(show_package(stage, archive, "archive", served), "the patch read differs from the one served")
    show_logs(stage)
    expect(stage.app.run_logs(), "no log file was written")
    expect(show_last_check() is not None, "LastTimeCheck was not written")


def show_full_update(stage):
    heading("4. Full-package update: %s is older than miniver" % ANCIENT)
    harness.reg_delete_key()
    say("registry", "LastTimeCheck deleted: a check is due")
    say("install path", "%s (exists; the name has a space)" % harness.win_path(stage.install_path))
    texts, _ = run_update(stage, '/v:%s /installpath:"%s"' % (ANCIENT, harness.win_path(stage.install_path)))
    expect(texts == ["OnCheckingForUpdate", "OnInstalling", "OnComplete;1;"], "full update messages: %s" % texts)
    record = show_installer_record(stage, "the full package")
    expect(record is not None, "the full package was not started")
    if record:
        served = os.path.join(stage.server_root, "full", "VelmarSetup-%s.exe" % NEW)
        expect(show_package(stage, record[0], "self", served), "the full package differs from the one served")
        expect(record[2][-1:] == ["--orvantaupdate-installpath=" + harness.win_path(stage.install_path)],
               "the install path did not arrive as one argument")
    expect(show_last_check() is not None, "LastTimeCheck was not written")


def show_not_due(stage):
    heading("5. Once more within the day: nothing to do")
    stamp_before = harness.reg_query_last_check()
    temp_before = sorted(os.listdir(stage.temp))
    total_before = len(stage.server.requested_paths())
    texts, requests = run_update(stage, "/v:%s" % OLD)
    expect(texts == ["OnCheckingForUpdate", "OnComplete;1;"], "not-due messages: %s" % texts)
    total_after = len(stage.server.requested_paths())
    say("request list", "%d before, %d after: %s" % (total_before, total_after,
                                                     "unchanged" if total_after == total_before else "CHANGED"))
    expect(requests == [], "the run asked the server for %s" % requests)
    unchanged = sorted(os.listdir(stage.temp)) == temp_before
    say("TEMP", "%s: %s" % (harness.win_path(stage.temp), "unchanged, nothing downloaded" if unchanged else "CHANGED"))
    expect(unchanged, "files appeared in TEMP")
    expect(harness.read_installer_record(stage.record) is None, "an installer was started")
    stamp_after = show_last_check()
    expect(stamp_after == stamp_before, "LastTimeCheck changed on a run that was not due")


def due_run(stage, tail, texts, what):
    """A due run with the log on: its messages, and the log's entries that say what happened."""
    harness.reg_delete_value("LastTimeCheck")
    shutil.rmtree(stage.app.log_folder(), ignore_errors=True)
    run_texts, requests = run_update(stage, tail + " --velmarupdate-log")
    expect(run_texts == texts, "%s: messages %s" % (what, run_texts))
    return "".join(text for _, text in stage.app.run_logs()), requests


def show_log_entry(log, entry, what):
    """The entry up to the next one: the log runs its pieces together on one line."""
    found = re.search(re.escape(entry) + r".*?(?=szDownUrl:|RunPatchArchiveFile:| [A-Z][A-Za-z]+:|$)", log)
    say("log says", found.group(0).strip() if found else "(no %s entry)" % entry.strip())
    expect(found is not None, "the log does not say %s" % what)


def show_rollout(stage):
    heading("6. A staged release: halted at 0%, then taken at 100%")
    say("InstallId", "each installation draws a random id once and keeps it (HKCU, next to LastTimeCheck);")
    say("", "its place for a release, 0 to 9999, comes from SHA-256 of \"<version>:<id>\"")
    for rollout, texts in (("0", ["OnCheckingForUpdate", "OnComplete;1;"]),
                           ("100", ["OnCheckingForUpdate", "OnUpdateAvailable;" + NEW, "OnInstalling",
                                    "OnComplete;1;"])):
        sign_site(stage.server_root, "with --rollout %s:" % rollout, "--rollout", rollout)
        log, requests = due_run(stage, "/v:%s" % OLD, texts, "rollout %s" % rollout)
        if rollout == "0":
            expect(not [p for p in requests if p.endswith(".diff")], "a halted release asked for a package: %s" % requests)
            show_log_entry(log, " RolloutWait:", "why the release was not taken")
        else:
            expect(harness.read_installer_record(stage.record) is not None, "setup.exe was not started")


def show_patch_fallback(stage):
    heading("7. A patch missing on the server: the full package mends it")
    patch = os.path.join(stage.server_root, stage.base.path.strip("/"), "%s-%s" % (OLD, NEW), "velmar.diff")
    with open(patch, "rb") as f:
        kept = f.read()
    os.unlink(patch)
    say("on the server", "velmar.diff deleted after signing: the patch answers 404")
    try:
        log, requests = due_run(stage, '/v:%s /installpath:"%s"' % (OLD, harness.win_path(stage.install_path)),
                                ["OnCheckingForUpdate", "OnUpdateAvailable;" + NEW, "OnInstalling", "OnComplete;1;"],
                                "the fallback")
        show_log_entry(log, " PatchFallback:", "why the full package was taken")
        record = show_installer_record(stage, "the full package")
        expect(record is not None and record[0].endswith("VelmarSetup-%s.exe" % NEW), "the full package did not run")
    finally:
        with open(patch, "wb") as f:
            f.write(kept)


def package_files(temp):
    """The files in the numbered package folders under TEMP."""
    return {os.path.join(name, f) for name in os.listdir(temp) if name.isdigit()
            for f in os.listdir(os.path.join(temp, name))}


def refused(stage, tail, texts, entry, what):
    """Runs a due cycle that must refuse: the messages, no installer, nothing left, the log's reason."""
    harness.reg_delete_value("LastTimeCheck")
    shutil.rmtree(stage.app.log_folder(), ignore_errors=True)
    say("registry", "LastTimeCheck deleted: a check is due")
    files_before = package_files(stage.temp)
    run_texts, _ = run_update(stage, tail + " --velmarupdate-log")
    expect(run_texts == texts, "%s: messages %s" % (what, run_texts))
    started = harness.read_installer_record(stage.record) is not None
    say("installer", "STARTED" if started else "was not started")
    expect(not started, "an installer was started on %s" % what)
    left = package_files(stage.temp) - files_before
    say("TEMP", "no package left in a run folder" if not left else "LEFT: %s" % sorted(left))
    expect(not left, "%s was left in TEMP" % what)
    for _, text in stage.app.run_logs():
        at = text.find(entry)
        say("log says", text[at:].strip() if at >= 0 else "(no %s entry)" % entry.strip())
        expect(at >= 0, "the log does not say why %s was refused" % what)


def show_tampered_patch(stage):
    heading("8. A tampered patch is refused by its hash")
    patch = os.path.join(stage.server_root, stage.base.path.strip("/"), "%s-%s" % (OLD, NEW), "velmar.diff")
    with open(patch, "r+b") as f:
        f.seek(100)
        f.write(b"-- whoever answers for the update host wrote this --")
    say("on the server", "velmar.diff changed after signing (same size); version.ini binds its SHA-256")
    refused(stage, "/v:%s" % OLD, ["OnCheckingForUpdate", "OnUpdateAvailable;" + NEW, "OnComplete;3;"],
            " PackageRejected:", "a tampered patch")


def show_older_installer(stage):
    heading("9. An older installer served at newest is refused")
    full = os.path.join(stage.server_root, "full", "VelmarSetup-%s.exe" % NEW)
    with open(full, "ab") as f:
        f.write(b"\0" * 4096)  # stands in for the older release's installer: another file, another size
    say("on the server", "the newest URL now serves another installer, signed long ago with the same key")
    refused(stage, '/v:%s /installpath:"%s"' % (ANCIENT, harness.win_path(stage.install_path)),
            ["OnCheckingForUpdate", "OnComplete;3;"], " TransferFailed:", "an older installer")


def show_foreign_installer(stage):
    heading("10. An installer signed by another publisher is refused, though the manifest binds it")
    say("the threat", "whoever holds the manifest key (and the log's) binds a program of their own at newest;")
    say("", "this build runs a full installer only when its Authenticode signer is the pinned publisher")
    shutil.copy2(FOREIGN_INSTALLER, os.path.join(stage.server_root, "full", "VelmarSetup-%s.exe" % NEW))
    say("on the server", "newest is now the demo installer signed by another publisher under the same CA")
    sign_site(stage.server_root, "signed and logged as usual, binding it:")
    refused(stage, '/v:%s /installpath:"%s"' % (ANCIENT, harness.win_path(stage.install_path)),
            ["OnCheckingForUpdate", "OnComplete;3;"], " PackageRejected:", "a foreign-signed installer")


def show_replayed_manifest(stage):
    heading("11. An older manifest replayed after a newer one is refused")
    update = os.path.join(stage.server_root, stage.base.path.strip("/"))
    old = {name: open(os.path.join(update, name), "rb").read() for name in ("version.ini", "version.ini.sig")}
    sign_site(stage.server_root, "the vendor signs again: serial raised")
    harness.reg_delete_value("LastTimeCheck")
    texts, _ = run_update(stage, "/v:%s" % NEW)
    expect(texts == ["OnCheckingForUpdate", "OnComplete;1;"], "the newer manifest: messages %s" % texts)
    for name, data in old.items():
        with open(os.path.join(update, name), "wb") as f:
            f.write(data)
    say("on the server", "the older version.ini with its own valid signature, served again")
    refused(stage, "/v:%s" % OLD, ["OnCheckingForUpdate", "OnComplete;3;"], " ManifestRejected:",
            "a replayed manifest")


def show_unlogged_manifest(stage):
    heading("12. A manifest that was never logged is refused")
    say("the threat", "whoever holds the manifest key signs a manifest for one machine and serves it there")
    say("", "alone; without the log no one else would ever see it")
    sign_site(stage.server_root, "signed with the vendor's key, but not appended to the log:", logged=False)
    say("on the server", "version.ini.tlog-proof is still the one of the manifest logged before")
    refused(stage, "/v:%s" % OLD, ["OnCheckingForUpdate", "OnComplete;3;"], " TlogRejected:", "an unlogged manifest")


def show_crash_report():
    heading("13. Crash report: a dump posted to the local error-log server")
    url = urllib.parse.urlsplit(harness.build_setting("VELMAR_ERROR_LOG_URL",
                                              "http://127.0.0.1:18742/index.php?do=adderrorlog"))
    app = installation("demo-crash")
    dumps = os.path.join(harness.DRIVE_C, "velmar-tests", "demo-dumps", "\u4e2d\u6587")
    os.makedirs(dumps, exist_ok=True)
    dump = os.path.join(dumps, "crash.dmp")
    data = b"MDMP" + os.urandom(256 * 1024)
    with open(dump, "wb") as f:
        f.write(data)
    harness.clear_crash_record()  # the story told again today is no crash loop
    tail = "/v:%s /os:win10 /u:%s" % (OLD, harness.win_path(dump))
    try:
        server = start_with_retry(lambda: ErrorLogServer(port=url.port or 80).start(), "error-log server")
        try:
            say("server", "http://127.0.0.1:%d%s" % (server.port, url.path + ("?" + url.query if url.query else "")))
            result = app.run(tail)
            requests = server.requests
            harness.wine(["reg", "add", CRASH_POLICY_KEY, "/v", "Enabled", "/t", "REG_DWORD", "/d", "0", "/f"])
            try:
                off = app.run(tail)
            finally:
                harness.wine(["reg", "delete", CRASH_POLICY_KEY, "/f"])
            off_requests = len(server.requests) - len(requests)
        finally:
            server.stop()
        say("command line", result.command_line)
        say("exit code", "%s (1: uploaded)" % result.code)
        expect(result.code == 1 and len(requests) == 1,
               "crash report: exit code %s, %d requests" % (result.code, len(requests)))
        for record in requests:
            say("request", "%s %s" % (record.method, record.target))
            for name in ("Host", "User-Agent", "Content-Type", "Content-Length"):
                say("  " + name + ":", record.header(name))
            say("  parts", ", ".join(p.name for p in record.parts))
            for name, value in record.fields.items():
                say("  field " + name, repr(value))
            part = record.file
            say("  file part", "%s, filename %s" % (part.name, part.filename))
            say("  file size", "%d bytes, SHA-256 %s" % (part.size, part.sha256))
            say("  same as dump", "yes" if part.sha256 == hashlib.sha256(data).hexdigest() else "NO")
        say("policy off", "CrashReporting\\Enabled=0, the same report: exit code %s, %d requests" % (off.code, off_requests))
        expect(off.code == 0 and off_requests == 0, "crash reports off: exit code %s, %d requests" % (off.code, off_requests))
    finally:
        app.remove()
        shutil.rmtree(os.path.dirname(dumps), ignore_errors=True)


def clean_up(stage):
    if stage.app is not None:
        stage.app.remove()
    for name in ("demo-temp", "demo-records", "demo-browser"):
        shutil.rmtree(os.path.join(DEMO_ROOT, name), ignore_errors=True)


def update_story(base_url):
    """Steps 1 to 5: they share the update server, the host window and one installation."""
    with contextlib.ExitStack() as cleanup:
        work = tempfile.mkdtemp(prefix="velmar-demo-")
        cleanup.callback(shutil.rmtree, work, True)
        server_root = os.path.join(work, "site")
        base = urllib.parse.urlsplit(base_url)
        lay_out_update_server(server_root, base)
        server = start_with_retry(lambda: UpdateServer(server_root, base.port or 80).start(), "update server")
        cleanup.callback(server.stop)
        window = host.HostWindow(seconds=300, echo=True)
        window.start()
        cleanup.callback(window.stop)
        stage = Stage(urllib.parse.urlsplit(base_url), server_root, window, server)
        cleanup.callback(clean_up, stage)
        prepare_installation(stage)

        show_update_server(stage)
        show_host_monitor(stage)
        show_patch_update(stage)
        show_full_update(stage)
        show_not_due(stage)
        show_rollout(stage)
        show_patch_fallback(stage)
        show_tampered_patch(stage)
        show_older_installer(stage)
        show_foreign_installer(stage)
        show_replayed_manifest(stage)
        show_unlogged_manifest(stage)


def main():
    started = time.monotonic()
    subprocess.run([harness.WINE_RUN, "--init"], check=True)
    update_story(harness.build_setting("VELMAR_UPDATE_BASE_URL", "http://127.0.0.1:18741/update/"))
    show_crash_report()
    print()
    say("done in", "%.1f s; %s" % (time.monotonic() - started,
                                   "everything as documented" if not problems else "%d unexpected" % len(problems)))
    return 1 if problems else 0


if __name__ == "__main__":
    sys.exit(main())
