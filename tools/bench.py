"""Benchmarks VelmarUpdate.exe against curl, a trivial Win32 program and a WinINet
yardstick, side by side in one run on the same loopback servers, and writes docs/benchmarks.md.
  bench.py [--quick]   --quick: one run of each, to see that the script works (its figures are no result)"""
import argparse
import contextlib
import datetime
import io
import os
import shutil
import statistics
import subprocess
import sys
import time
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
sys.path.insert(0, HERE)
import harness  # noqa: E402
import host  # noqa: E402
from errorlog_server import ErrorLogServer  # noqa: E402
from update_server import Fault, UpdateServer, load_tlog  # noqa: E402

MIB = 1024 * 1024
UPLOAD_SIZES = [1, 64, 512, 3072]
DOWNLOAD_SIZE = 512
RUNS = 3
DOWNLOAD_RUNS = 7  # writing 512 MiB to disk makes single runs vary by half their time
LINE_RUNS = 5
LINE_RATE = 100 * MIB  # about a 1 Gbit/s line
RESUME_RUNS = 3
NOT_DUE_RUNS = 21
DUE_RUNS = 11
CHECK_RUNS = 5
QUICK = False  # --quick: one run of each
ERROR_LOG_URL = harness.build_setting("VELMAR_ERROR_LOG_URL", "http://127.0.0.1:18742/index.php?do=adderrorlog")
UPDATE_BASE_URL = harness.build_setting("VELMAR_UPDATE_BASE_URL", "http://127.0.0.1:18741/update/")
TRIVIAL = os.path.join(harness.BUILD_DIR, "trivial.exe")
WININET_YARDSTICK = os.path.join(harness.BUILD_DIR, "wininet_yardstick.exe")
UNLOGGED_UPDATER = os.path.join(harness.BUILD_DIR, "VelmarUpdate-unlogged.exe")
UNPINNED_UPDATER = os.path.join(harness.BUILD_DIR, "VelmarUpdate-unpinned.exe")
PUBLISHER_YARDSTICK = os.path.join(harness.BUILD_DIR, "publisher_yardstick.exe")
KEYS_DIR = os.path.join(harness.SOURCE_DIR, "tests", "keys")
LOG_OPTIONS = ["--log-key", harness.TEST_LOG_KEY, "--log-origin", harness.LOG_ORIGIN]
# Time ratios hold from 64 MiB on; memory is the trivial program's peak plus a headroom.
# With keys at full speed, the cycle may take the CNG hash of the package alone plus this (seconds).
TARGETS = {"upload": 1.2, "download": 1.2, "memory_headroom": 16 * MIB, "not_due": 1.15, "signed_line": 1.05,
           "exe_bytes": MIB, "served": 1.05, "over_hash": 0.4}


def make_file(path, size_mib):
    block = os.urandom(MIB)
    with open(path, "wb") as f:
        for _ in range(size_mib):
            f.write(block)


def run_wine_measured(args, env=None):
    """Runs a Windows program in the foreground; returns (seconds, exit code, peak RSS bytes)."""
    full_env = dict(os.environ, VELMAR_WINE_DIRECT="1", **(env or {}))
    started = time.perf_counter()
    proc = subprocess.Popen([harness.WINE_RUN] + args, env=full_env, stdin=subprocess.DEVNULL,
                            stdout=subprocess.DEVNULL, stderr=subprocess.DEVNULL)
    peak = 0
    status = "/proc/%d/status" % proc.pid
    while proc.poll() is None:
        try:
            with open(status) as f:
                for line in f:
                    if line.startswith("VmHWM:"):
                        peak = max(peak, int(line.split()[1]) * 1024)
        except OSError:
            pass
        time.sleep(0.005)
    return time.perf_counter() - started, proc.returncode, peak


def run_timed(args):
    started = time.perf_counter()
    code = subprocess.run(args, stdin=subprocess.DEVNULL, stdout=subprocess.DEVNULL,
                          stderr=subprocess.DEVNULL).returncode
    return time.perf_counter() - started, code


def bench_memory_baseline():
    """The peak of a program that does nothing, under the same Wine."""
    peaks = [run_wine_measured([TRIVIAL])[2] for _ in range(5)]
    row = {"trivial_peak": statistics.median(peaks)}
    print("trivial.exe peak %.1f MiB" % (row["trivial_peak"] / MIB), flush=True)
    return row


def bench_upload(work):
    # Streams each body through, in bounded memory, and counts it.
    sink = ErrorLogServer(port=urllib.parse.urlsplit(ERROR_LOG_URL).port, count_only=True).start()
    rows = []
    try:
        for size in UPLOAD_SIZES:
            dump = os.path.join(work, "dump-%dm.dmp" % size)
            make_file(dump, size)
            ours, theirs, peaks = [], [], []
            for _ in range(RUNS):
                harness.clear_crash_record()  # each run a first report: not sent before, not over the day's limit
                seconds, code, peak = run_wine_measured(
                    [harness.UPDATER, "/u:" + harness.win_path(dump), "/v:1.0.0.5", "/os:bench"])
                if code != 1:
                    raise SystemExit("upload of %d MiB failed with exit code %d" % (size, code))
                ours.append(seconds)
                peaks.append(peak)
                seconds, code = run_timed(["curl", "-sS", "-o", "/dev/null", "--noproxy", "*",
                                           "-F", "name=Orvanta Velmar", "-F", "os=bench", "-F", "version1=1.0.0.5",
                                           "-F", "dump_file=@%s" % dump, ERROR_LOG_URL])
                if code != 0:
                    raise SystemExit("curl upload failed")
                theirs.append(seconds)
            os.unlink(dump)
            rows.append({"size": size, "ours": statistics.median(ours), "curl": statistics.median(theirs),
                         "peak": max(peaks)})
            print("upload %4d MiB: ours %.3f s, curl %.3f s, peak %.1f MiB" %
                  (size, rows[-1]["ours"], rows[-1]["curl"], rows[-1]["peak"] / MIB), flush=True)
    finally:
        sink.stop()
    return rows


def close_site(server, apps, root):
    server.stop()
    for app in apps:
        app.remove()
    shutil.rmtree(root, ignore_errors=True)


def medians(times, prefix=""):
    """The median of each measure's runs, named prefix + measure, once every run is printed."""
    print("  runs: %s" % {name: ["%.3f" % v for v in values] for name, values in times.items()}, flush=True)
    return {prefix + name: statistics.median(values) for name, values in times.items()}


def download_run(app, work, label, full_size=None):
    """One whole update cycle, log on, that must install the 512 MiB patch (or, given full_size, the full
    package of that size); its seconds. A run that does not ends the benchmark with the last entries of its log."""
    harness.reg_delete_key()
    shutil.rmtree(app.log_folder(), ignore_errors=True)
    os.sync()  # the last run's writes are not this one's
    record = os.path.join(work, "installer-record.txt")
    temp_before = set(os.listdir(harness.TEMP_DIR))
    tail = ["/installpath:C:\\"] if full_size else []
    seconds, _, _ = run_wine_measured([app.exe, "--velmarupdate-log", "/v:1.0.0.5"] + tail,
                                      env={"VELMAR_FAKE_INSTALLER_RECORD": harness.win_path(record)})
    installed = harness.read_installer_fields(record)
    size = None
    if installed is not None:
        os.unlink(record)
        # As the installer found its package (setup.exe its archive, a full installer itself): the run folder is
        # gone by now.
        size = int(installed.get("self-size" if full_size else "archive-size", -1))
    for entry in set(os.listdir(harness.TEMP_DIR)) - temp_before:
        path = os.path.join(harness.TEMP_DIR, entry)
        shutil.rmtree(path, ignore_errors=True) if os.path.isdir(path) else os.unlink(path)
    if size != (full_size or DOWNLOAD_SIZE * MIB):
        log = "".join(text for _, text in app.run_logs())
        raise SystemExit("the %s update cycle did not install the whole package (%s bytes); its log ends:\n%s"
                         % (label, size, log[-1500:]))
    return seconds


def bench_download(work):
    """The whole update cycle that fetches a 512 MiB patch, with and without keys: against curl -o on
    loopback at full speed, against each other on a 100 MiB/s line, and cut at half and resumed."""
    root = os.path.join(work, "server")
    os.makedirs(os.path.join(root, "update", "1.0.0.5-1.0.0.9"))
    with open(os.path.join(root, "update", "version.ini"), "w") as f:
        f.write("[main]\r\nversion=1.0.0.9\r\nminiver=1.0.0.0\r\n")
    package = os.path.join(root, "update", "1.0.0.5-1.0.0.9", "velmar.diff")
    make_file(package, DOWNLOAD_SIZE)
    # Published as a release is: version.ini binds the package and is signed.
    subprocess.run([os.path.join(harness.SOURCE_DIR, "tools", "sign-release"), harness.TEST_SIGNING_KEY, root,
                    *LOG_OPTIONS], check=True, stdout=subprocess.DEVNULL)
    server = UpdateServer(root, urllib.parse.urlsplit(UPDATE_BASE_URL).port).start()
    apps = {"signed": harness.Installation(folder_name="bench-signed"),
            "unsigned": harness.Installation(folder_name="bench-unsigned", updater=harness.UNSIGNED_UPDATER)}
    for app in apps.values():
        shutil.copy2(os.path.join(harness.BUILD_DIR, "fake_installer.exe"), os.path.join(app.dir, "setup.exe"))
    url = UPDATE_BASE_URL + "1.0.0.5-1.0.0.9/velmar.diff"
    patch_path = urllib.parse.urlsplit(url).path
    times = {name: [] for name in ("signed", "unsigned", "curl", "signed_line", "unsigned_line", "resumed")}
    served = []
    try:
        for _ in range(DOWNLOAD_RUNS):
            for name, app in apps.items():
                times[name].append(download_run(app, work, name))
            target = os.path.join(work, "curl-package")
            os.sync()
            seconds, code = run_timed(["curl", "-sS", "--noproxy", "*", "-o", target, url])
            times["curl"].append(seconds)
            os.unlink(target)
        server.rate = LINE_RATE
        for _ in range(LINE_RUNS):
            for name, app in apps.items():
                times[name + "_line"].append(download_run(app, work, name + " (100 MiB/s)"))
        server.rate = None
        for _ in range(RESUME_RUNS):
            with server.lock:
                server.bytes_served = 0
            server.faults[patch_path] = Fault(cut_file_at=DOWNLOAD_SIZE * MIB // 2, times=1)
            times["resumed"].append(download_run(apps["signed"], work, "cut and resumed"))
            served.append(server.bytes_served)
    finally:
        close_site(server, apps.values(), root)
    row = medians(times)
    row["size"] = DOWNLOAD_SIZE
    row["served"] = max(served)
    print("download %d MiB: signed %.3f s, unsigned %.3f s, curl %.3f s; at 100 MiB/s signed %.3f s, unsigned %.3f s;"
          " cut at half and resumed %.3f s, %d bytes served" %
          (DOWNLOAD_SIZE, row["signed"], row["unsigned"], row["curl"], row["signed_line"], row["unsigned_line"],
           row["resumed"], row["served"]), flush=True)
    return row


def make_signed_installer(path, size_mib):
    """The fake installer padded to size_mib MiB and signed as the build signs its fixtures, by the test
    publisher that the bench build pins (the signature adds a few KiB); its size."""
    unsigned = path + ".unsigned"
    shutil.copyfile(os.path.join(harness.BUILD_DIR, "fake_installer.exe"), unsigned)
    block = os.urandom(MIB)
    with open(unsigned, "ab") as f:
        left = size_mib * MIB - f.tell()
        while left > 0:
            f.write(block[:min(left, MIB)])
            left -= MIB
    subprocess.run(["osslsigncode", "sign", "-certs", os.path.join(KEYS_DIR, "test-publisher.pem"),
                    "-key", os.path.join(KEYS_DIR, "test-publisher-key.pem"),
                    "-ac", os.path.join(KEYS_DIR, "test-publisher-ca.pem"), "-h", "sha256", "-in", unsigned,
                    "-out", path], check=True, stdout=subprocess.DEVNULL)
    os.unlink(unsigned)
    return os.path.getsize(path)


def bench_publisher_check(installer):
    """Seconds the installer publisher check (WinVerifyTrust and the pin) takes alone on the full package."""
    times = []
    for _ in range(CHECK_RUNS):
        proc = subprocess.run([harness.WINE_RUN, PUBLISHER_YARDSTICK, harness.win_path(installer)],
                              capture_output=True, timeout=300)
        verdict, _, seconds = proc.stdout.decode().strip().rpartition(" ")
        if verdict != "accepted":
            raise SystemExit("the publisher check refused the benchmark's installer: %r" % proc.stdout)
        times.append(float(seconds))
    return statistics.median(times)


def bench_full_package(work):
    """The whole update cycle that fetches a 512 MiB full package, a signed installer: with keys alone (a build
    without pins) and with keys and pins (the bench build), at full speed and on a 100 MiB/s line, and the
    publisher check alone on the same file."""
    root = os.path.join(work, "full-site")
    os.makedirs(os.path.join(root, "update"))
    os.makedirs(os.path.join(root, "full"))
    origin = "%s://%s" % urllib.parse.urlsplit(UPDATE_BASE_URL)[:2]
    with open(os.path.join(root, "update", "version.ini"), "w") as f:
        f.write("[main]\r\nversion=1.0.0.9\r\nminiver=1.0.0.6\r\nnewest=%s/full/VelmarSetup-1.0.0.9.exe\r\n" % origin)
    installer = os.path.join(root, "full", "VelmarSetup-1.0.0.9.exe")
    size = make_signed_installer(installer, DOWNLOAD_SIZE)
    subprocess.run([os.path.join(harness.SOURCE_DIR, "tools", "sign-release"), harness.TEST_SIGNING_KEY, root,
                    *LOG_OPTIONS], check=True, stdout=subprocess.DEVNULL)
    server = UpdateServer(root, urllib.parse.urlsplit(UPDATE_BASE_URL).port).start()
    apps = {"keys": harness.Installation(folder_name="bench-full-keys", updater=UNPINNED_UPDATER),
            "pins": harness.Installation(folder_name="bench-full-pins")}
    times = {name: [] for name in ("keys", "pins", "keys_line", "pins_line")}
    try:
        for _ in range(DOWNLOAD_RUNS):
            for name, app in apps.items():
                times[name].append(download_run(app, work, "full package, " + name, full_size=size))
        server.rate = LINE_RATE
        for _ in range(LINE_RUNS):
            for name, app in apps.items():
                times[name + "_line"].append(download_run(app, work, "full package, %s (100 MiB/s)" % name,
                                                          full_size=size))
        server.rate = None
        check = bench_publisher_check(installer)
    finally:
        close_site(server, apps.values(), root)
    row = medians(times, "full_")
    row["full_bytes"] = size
    row["publisher_check"] = check
    print("full package %d bytes: keys %.3f s, keys and pins %.3f s; at 100 MiB/s keys %.3f s, keys and pins %.3f s;"
          " the publisher check alone %.3f s" % (size, row["full_keys"], row["full_pins"], row["full_keys_line"],
                                                 row["full_pins_line"], check), flush=True)
    return row


def bench_hash_rate():
    """Seconds the machine's CNG takes to hash the download's size with the updater's own hasher: alone, and
    fed in 64 KiB pieces through the thread that hashes a download."""
    proc = harness.wine([os.path.join(harness.BUILD_DIR, "hash_yardstick.exe"), str(DOWNLOAD_SIZE)], timeout=300)
    mebibytes, seconds, piped = proc.stdout.decode().split()
    row = {"hash_seconds": float(seconds), "hash_piped_seconds": float(piped)}
    print("CNG SHA-256 of %s MiB: %.3f s (%.0f MB/s); through the hash thread %.3f s" % (
        mebibytes, row["hash_seconds"], int(mebibytes) * MIB / row["hash_seconds"] / 1e6, row["hash_piped_seconds"]),
        flush=True)
    return row


def bench_not_due():
    """A run within the day: connectivity, the registry stamp, two host messages."""
    window = host.HostWindow()
    window.start()
    app = harness.Installation(folder_name="bench-not-due")
    times = {"ours": [], "ours_log": [], "trivial": [], "wininet": []}
    try:
        harness.reg_set_last_check(int(time.time()))
        line = ["/w:%d" % window.hwnd, "/j:1", "/v:1.0.0.5"]
        for _ in range(NOT_DUE_RUNS):
            times["ours"].append(run_wine_measured([harness.UPDATER] + line)[0])
            times["ours_log"].append(run_wine_measured([app.exe, "--velmarupdate-log"] + line)[0])
            times["trivial"].append(run_wine_measured([TRIVIAL])[0])
            times["wininet"].append(run_wine_measured([WININET_YARDSTICK])[0])
        texts = window.texts()
        if texts[:2] != ["OnCheckingForUpdate", "OnComplete;1;"]:
            raise SystemExit("the not-due cycle sent %r" % texts[:2])
    finally:
        window.stop()
        app.remove()
        harness.reg_delete_key()
    row = {name: statistics.median(values) for name, values in times.items()}
    print("not-due cycle: ours %.1f ms (log on %.1f ms), WinINet yardstick %.1f ms, trivial %.1f ms (median of %d)" %
          (row["ours"] * 1000, row["ours_log"] * 1000, row["wininet"] * 1000, row["trivial"] * 1000, NOT_DUE_RUNS),
          flush=True)
    return row


def bench_due_cycle(work):
    """A due cycle with nothing to install, signed: without a log key (the manifest and its signature), and
    with one, the log unchanged since the last accepted checkpoint (the proof too) or grown from 300 to 1001
    entries (the proof and three tiles)."""
    root = os.path.join(work, "due")
    os.makedirs(os.path.join(root, "update"))
    with open(os.path.join(root, "update", "version.ini"), "w") as f:
        f.write("[main]\r\nversion=1.0.0.5\r\nminiver=1.0.0.0\r\n")
    subprocess.run([os.path.join(harness.SOURCE_DIR, "tools", "sign-release"), harness.TEST_SIGNING_KEY, root],
                   check=True, stdout=subprocess.DEVNULL)
    tlog = load_tlog()
    earlier = [b"velmar-manifest/v1\n%s\n" % os.urandom(32).hex().encode() for _ in range(1000)]
    with contextlib.redirect_stdout(io.StringIO()):
        tlog.append(root, harness.TEST_LOG_KEY, harness.LOG_ORIGIN, earlier=earlier)
    with open(os.path.join(root, "update", "version.ini"), "rb") as f:
        leaves = [tlog.leaf_hash(entry) for entry in earlier + [tlog.manifest_entry(f.read())]]
    checkpoints = {"proof": (1001, tlog.mth(leaves)), "tiles": (300, tlog.mth(leaves[:300]))}
    # Which log the stored checkpoint is of: SHA-256 of the origin and the key's DER SubjectPublicKeyInfo.
    log_id = tlog.sha256(harness.LOG_ORIGIN.encode() + tlog.p256_public_der(harness.TEST_LOG_KEY, private=True))
    server = UpdateServer(root, urllib.parse.urlsplit(UPDATE_BASE_URL).port).start()
    window = host.HostWindow()
    window.start()
    apps = {"unlogged": harness.Installation(folder_name="bench-unlogged", updater=UNLOGGED_UPDATER),
            "proof": harness.Installation(folder_name="bench-logged")}
    apps["tiles"] = apps["proof"]
    times = {name: [] for name in apps}
    try:
        for _ in range(DUE_RUNS):
            for name, app in apps.items():
                harness.reg_delete_key()
                if name in checkpoints:
                    size, tree_root = checkpoints[name]
                    for value, kind, data in (("TlogSize", "REG_QWORD", str(size)),
                                              ("TlogRoot", "REG_BINARY", tree_root.hex()),
                                              ("TlogLog", "REG_BINARY", log_id.hex())):
                        harness.wine(["reg", "add", harness.REG_KEY, "/v", value, "/t", kind, "/d", data, "/f"])
                times[name].append(run_wine_measured([app.exe, "/w:%d" % window.hwnd, "/j:1", "/v:1.0.0.5"])[0])
        tiles = [path for path in server.requested_paths(with_log=True) if "/tile/" in path]
        if window.texts().count("OnComplete;1;") != 3 * DUE_RUNS or len(tiles) != 3 * DUE_RUNS:
            raise SystemExit("the due cycles did not all take the manifest (%d tiles read): %r"
                             % (len(tiles), window.texts()[-4:]))
    finally:
        server.stop()
        window.stop()
        apps["unlogged"].remove()
        apps["proof"].remove()
        harness.reg_delete_key()
    row = {name: statistics.median(values) for name, values in times.items()}
    print("due cycle, nothing to install: no log key %.1f ms, the proof %.1f ms, the proof and 3 tiles %.1f ms"
          " (median of %d)" % (row["unlogged"] * 1000, row["proof"] * 1000, row["tiles"] * 1000, DUE_RUNS), flush=True)
    return row


def verdict(value, target):
    return "met" if value <= target else "missed by %.0f%%" % ((value / target - 1) * 100)


def machine_line():
    model = "unknown CPU"
    with open("/proc/cpuinfo") as f:
        for line in f:
            if line.startswith("model name"):
                model = line.split(":", 1)[1].strip()
                break
    with open("/proc/meminfo") as f:
        mem_kib = int(f.readline().split()[1])
    wine = subprocess.run(["wine", "--version"], capture_output=True, text=True).stdout.strip()
    return "%d cores, %s, %.0f GiB RAM, %s" % (os.cpu_count(), model, mem_kib / 1024 / 1024, wine)


def write_report(path, baseline, uploads, download, not_due, due, exe_bytes):
    commit = subprocess.run(["git", "-C", harness.SOURCE_DIR, "rev-parse", "--short", "HEAD"],
                            capture_output=True, text=True).stdout.strip()
    lines = [
        "# Benchmarks",
        "",
        "Made by `scripts/bench` on %s, commit %s." % (datetime.date.today().isoformat(), commit or "?"),
        "Machine: %s." % machine_line(),
        "Everything runs on loopback; VelmarUpdate.exe (built with the release limits: `cmake --preset bench`)"
        " runs under Wine, curl natively. Times are medians of %d runs (a package download: %d, on the 100 MiB/s"
        " line: %d, cut and resumed: %d, the publisher check alone: %d, the not-due cycle: %d, the due cycle: %d),"
        " each program in turn; every update run writes its log."
        % (RUNS, DOWNLOAD_RUNS, LINE_RUNS, RESUME_RUNS, CHECK_RUNS, NOT_DUE_RUNS, DUE_RUNS),
    ]
    if QUICK:
        lines[-1] = lines[-1].split(" Times are")[0] + " Times are of one run each."
        lines += ["", "**A quick run (`scripts/bench --quick`), to show that the script works: its figures are no"
                      " result.**"]
    lines += ["", "| Measure | VelmarUpdate | Reference | Ratio | Target | Result |", "|---|---|---|---|---|---|"]
    for row in uploads:
        ratio = row["ours"] / row["curl"]
        judged = row["size"] >= 64
        lines.append("| crash upload, %d MiB dump | %.3f s | curl -F %.3f s | %.2f× | %s | %s |" % (
            row["size"], row["ours"], row["curl"], ratio, "≤ %.1f×" % TARGETS["upload"] if judged else "—",
            verdict(ratio, TARGETS["upload"]) if judged else "—"))
    limit = baseline["trivial_peak"] + TARGETS["memory_headroom"]
    for row in uploads:
        lines.append("| upload peak memory (VmHWM), %d MiB dump | %.1f MiB | trivial.exe %.1f MiB + 16 MiB = %.1f MiB"
                     " | | ≤ %.1f MiB | %s |" % (row["size"], row["peak"] / MIB, baseline["trivial_peak"] / MIB,
                                                 limit / MIB, limit / MIB, verdict(row["peak"], limit)))
    ratio = download["unsigned"] / download["curl"]
    lines.append("| package download, %d MiB, whole update cycle, no key | %.3f s | curl -o %.3f s | %.2f× | ≤ %.1f× |"
                 " %s |" % (download["size"], download["unsigned"], download["curl"], ratio, TARGETS["download"],
                            verdict(ratio, TARGETS["download"])))
    ratio = download["signed"] / download["curl"]
    lines.append("| package download, %d MiB, whole update cycle, keys (hash checked) | %.3f s | curl -o %.3f s |"
                 " %.2f× | (reported) | — |" % (download["size"], download["signed"], download["curl"], ratio))
    ratio = download["signed_line"] / download["unsigned_line"]
    lines.append("| keys against no key, %d MiB package on a 100 MiB/s line | %.3f s | no key %.3f s | %.3f× |"
                 " ≤ %.2f× | %s |" % (download["size"], download["signed_line"], download["unsigned_line"], ratio,
                                      TARGETS["signed_line"], verdict(ratio, TARGETS["signed_line"])))
    ratio = download["signed"] / download["unsigned"]
    lines.append("| keys against no key, %d MiB package, loopback at full speed | %.3f s | no key %.3f s | %.2f× |"
                 " (reported) | — |" % (download["size"], download["signed"], download["unsigned"], ratio))
    ratio = download["served"] / (download["size"] * MIB)
    lines.append("| cut at half, resumed in the same run: bytes served for a %d MiB package | %d | %d | %.3f× |"
                 " ≤ %.2f× | %s |" % (download["size"], download["served"], download["size"] * MIB, ratio,
                                      TARGETS["served"], verdict(ratio, TARGETS["served"])))
    lines.append("| cut at half, resumed in the same run (one retry wait of 10 s ± 25%% included) | %.3f s |"
                 " uncut %.3f s | %.2f× | (reported) | — |" % (download["resumed"], download["signed"],
                                                                download["resumed"] / download["signed"]))
    lines.append("| CNG SHA-256 of %d MiB in memory (hash_yardstick.exe) | %.3f s | | | (reported) | — |" % (
        download["size"], download["hash_seconds"]))
    lines.append("| the same, fed in 64 KiB pieces through the hash's own thread (as a download feeds it) | %.3f s |"
                 " alone %.3f s | %.2f× | (reported) | — |" % (download["hash_piped_seconds"], download["hash_seconds"],
                                                              download["hash_piped_seconds"] / download["hash_seconds"]))
    hash_limit = download["hash_seconds"] + TARGETS["over_hash"]
    over = "CNG SHA-256 alone %.3f s + %.1f s" % (download["hash_seconds"], TARGETS["over_hash"])
    for what, seconds in (("%d MiB patch" % download["size"], download["signed"]),
                          ("full package of %d bytes, a signed installer, keys alone (no pins)" % download["full_bytes"],
                           download["full_keys"])):
        lines.append("| package with keys, %s, whole update cycle, loopback at full speed | %.3f s | %s | +%.3f s |"
                     " ≤ %.3f s | %s |" % (what, seconds, over, seconds - download["hash_seconds"], hash_limit,
                                           verdict(seconds, hash_limit)))
    checked = download["full_keys"] + download["publisher_check"]
    lines.append("| full package, keys and pins (the publisher check too), loopback at full speed | %.3f s |"
                 " keys alone %.3f s + the check alone %.3f s = %.3f s | %.2f× | (reported) | — |" % (
                     download["full_pins"], download["full_keys"], download["publisher_check"], checked,
                     download["full_pins"] / checked))
    line_alone = download["full_bytes"] / LINE_RATE
    for name, what in (("keys", "keys alone"), ("pins", "keys and pins")):
        seconds = download["full_%s_line" % name]
        lines.append("| full package, %s, on a 100 MiB/s line | %.3f s | the line alone %.3f s | %.2f× |"
                     " (reported) | — |" % (what, seconds, line_alone, seconds / line_alone))
    lines.append("| installer publisher check alone (WinVerifyTrust and the pin) on the same full package"
                 " (publisher_yardstick.exe) | %.3f s | | | (reported) | — |" % download["publisher_check"])
    ratio = not_due["ours"] / not_due["wininet"]
    lines.append("| not-due update cycle | %.1f ms | WinINet yardstick %.1f ms | %.2f× | ≤ %.2f× | %s |" % (
        not_due["ours"] * 1000, not_due["wininet"] * 1000, ratio, TARGETS["not_due"],
        verdict(ratio, TARGETS["not_due"])))
    lines.append("| not-due update cycle | %.1f ms | trivial.exe %.1f ms | %.2f× | (reported) | — |" % (
        not_due["ours"] * 1000, not_due["trivial"] * 1000, not_due["ours"] / not_due["trivial"]))
    lines.append("| not-due update cycle, log on (written through) | %.1f ms | log off %.1f ms | %.2f× | (reported) |"
                 " — |" % (not_due["ours_log"] * 1000, not_due["ours"] * 1000, not_due["ours_log"] / not_due["ours"]))
    lines.append("| due update cycle, nothing to install, signed, no log key (manifest and .sig) | %.1f ms | | |"
                 " (reported) | — |" % (due["unlogged"] * 1000))
    for name, what in (("proof", "the proof too (the log as accepted last)"),
                       ("tiles", "the proof and 3 tiles (the log grew from 300 to 1001 entries)")):
        lines.append("| due update cycle, log key: %s | %.1f ms | no log key %.1f ms | %.2f× (+%.1f ms) |"
                     " (reported) | — |" % (what, due[name] * 1000, due["unlogged"] * 1000, due[name] / due["unlogged"],
                                            (due[name] - due["unlogged"]) * 1000))
    lines.append("| size of VelmarUpdate.exe | %d bytes | | | ≤ 1 MiB | %s |" % (
        exe_bytes, verdict(exe_bytes, TARGETS["exe_bytes"])))
    lines.append("")
    notes_path = os.path.join(harness.SOURCE_DIR, "docs", "benchmark-notes.md")
    if os.path.exists(notes_path):
        with open(notes_path) as f:
            lines.append(f.read().rstrip())
        lines.append("")
    with open(path, "w") as f:
        f.write("\n".join(lines))
    print("wrote", path)


def main():
    global QUICK, RUNS, DOWNLOAD_RUNS, LINE_RUNS, RESUME_RUNS, NOT_DUE_RUNS, DUE_RUNS, CHECK_RUNS
    parser = argparse.ArgumentParser(description=__doc__.splitlines()[0])
    parser.add_argument("--quick", action="store_true", help="one run of each: to see that the script works")
    if parser.parse_args().quick:
        QUICK = True
        RUNS = DOWNLOAD_RUNS = LINE_RUNS = RESUME_RUNS = NOT_DUE_RUNS = DUE_RUNS = CHECK_RUNS = 1
    subprocess.run([harness.WINE_RUN, "--init"], check=True)
    work = os.path.join(harness.DRIVE_C, "velmar-bench")
    shutil.rmtree(work, ignore_errors=True)
    os.makedirs(work)
    try:
        baseline = bench_memory_baseline()
        uploads = bench_upload(work)
        download = bench_download(work)
        download.update(bench_full_package(work))
        download.update(bench_hash_rate())
        not_due = bench_not_due()
        due = bench_due_cycle(work)
    finally:
        shutil.rmtree(work, ignore_errors=True)
    write_report(os.path.join(harness.SOURCE_DIR, "docs", "benchmarks.md"), baseline, uploads, download, not_due,
                 due, os.path.getsize(harness.UPDATER))
    return 0


if __name__ == "__main__":
    sys.exit(main())
