"""Shared helpers for the process-level tests: Wine, paths, the registry, and
starting the real VelmarUpdate.exe with an exact command line."""
import os
import pwd
import shutil
import subprocess
import tempfile
import time
import uuid

SOURCE_DIR = os.environ.get("VELMAR_SOURCE_DIR",
                            os.path.abspath(os.path.join(os.path.dirname(__file__), "..", "..")))
BUILD_DIR = os.environ.get("VELMAR_BUILD_DIR", os.path.join(SOURCE_DIR, "build", "loopback"))
WINE_RUN = os.path.join(SOURCE_DIR, "tests", "wine-run.sh")
WINEPREFIX = os.environ.get("VELMAR_WINEPREFIX", os.path.join(BUILD_DIR, "wineprefix"))
# The test build checks update signatures with the test key; its twin without a key does not.
UPDATER = os.path.join(BUILD_DIR, "VelmarUpdate.exe")
UNSIGNED_UPDATER = os.path.join(BUILD_DIR, "VelmarUpdate-unsigned.exe")
TEST_SIGNING_KEY = os.path.join(SOURCE_DIR, "tests", "keys", "test-update-key.pem")
TEST_SIGNING_KEY_2 = os.path.join(SOURCE_DIR, "tests", "keys", "test-update-key-2.pem")
# The transparency log the test build takes manifests from.
TEST_LOG_KEY = os.path.join(SOURCE_DIR, "tests", "keys", "test-log-key.pem")
TESTS_BUILD = os.path.join(BUILD_DIR, "tests")
DRIVE_C = os.path.join(WINEPREFIX, "drive_c")
USER_NAME = pwd.getpwuid(os.getuid()).pw_name
TEMP_DIR = os.path.join(DRIVE_C, "users", USER_NAME, "Temp")
REG_KEY = r"HKCU\Software\Orvanta Velmar\Velmar"


def build_setting(name, default):
    """A server address compiled into the build (the environment may override)."""
    if os.environ.get(name):
        return os.environ[name]
    try:
        with open(os.path.join(BUILD_DIR, "CMakeCache.txt"), encoding="utf-8") as f:
            for line in f:
                if line.startswith(name + ":"):
                    return line.split("=", 1)[1].strip()
    except OSError:
        pass
    return default


LOG_ORIGIN = build_setting("VELMAR_LOG_ORIGIN", "update.velmar.test/log")


def tool(name):
    """Path of a test tool built beside the tests."""
    return os.path.join(TESTS_BUILD, name)


def win_path(unix_path):
    """Windows path of a Unix path, through drive C: when inside the prefix, else Z:."""
    full = os.path.abspath(unix_path)
    if full == DRIVE_C or full.startswith(DRIVE_C + os.sep):
        return "C:" + full[len(DRIVE_C):].replace("/", "\\") if full != DRIVE_C else "C:\\"
    return "Z:" + full.replace("/", "\\")


def wine(args, timeout=60, **kwargs):
    """Runs a Windows program (or wine built-in such as 'reg') under the test prefix."""
    return subprocess.run([WINE_RUN] + list(args), timeout=timeout, stdin=subprocess.DEVNULL,
                          capture_output=True, **kwargs)


def wine_popen(args, **kwargs):
    return subprocess.Popen([WINE_RUN] + list(args), **kwargs)


class RunResult:
    def __init__(self, code, pid, command_line, stdout):
        self.code = code
        self.pid = pid
        self.command_line = command_line
        self.stdout = stdout


def run_exact(command_line, timeout=60, env=None, win_env=None):
    """Starts a program with exactly this command line (through the launch tool);
    returns its exit code and process id. win_env is set in the Windows
    environment of the program itself (TEMP, say, which Wine does not take from Unix)."""
    fd, line_file = tempfile.mkstemp(prefix="cmdline-", suffix=".txt", dir=TEMP_DIR)
    with os.fdopen(fd, "wb") as f:
        f.write(command_line.encode("utf-8"))
    try:
        full_env = dict(os.environ)
        full_env.update(env or {})
        assignments = ["%s=%s" % item for item in (win_env or {}).items()]
        proc = wine([tool("launch.exe"), win_path(line_file)] + assignments, timeout=timeout, env=full_env)
    finally:
        os.unlink(line_file)
    out = proc.stdout.decode("utf-8", "replace")
    pid = None
    for line in out.splitlines():
        if line.startswith("pid "):
            pid = int(line.split()[1])
    return RunResult(proc.returncode, pid, command_line, out)


class Installation:
    """A private copy of VelmarUpdate.exe in its own folder inside the prefix,
    so its module directory (log folder, setup.exe) belongs to one test."""

    def __init__(self, name=None, folder_name=None, updater=UPDATER):
        self.dir = os.path.join(DRIVE_C, "velmar-tests", folder_name or (name or "app") + "-" + uuid.uuid4().hex[:8])
        os.makedirs(self.dir)
        self.exe = os.path.join(self.dir, "VelmarUpdate.exe")
        shutil.copy2(updater, self.exe)

    def command_line(self, tail):
        return '"%s" %s' % (win_path(self.exe), tail) if tail else '"%s"' % win_path(self.exe)

    def run(self, tail, timeout=60, env=None, win_env=None):
        return run_exact(self.command_line(tail), timeout=timeout, env=env, win_env=win_env)

    def log_folder(self):
        return os.path.join(self.dir, "updatelog")

    def run_logs(self):
        """The run folders under updatelog, as (name, text of _velmarupdate.log)."""
        folder = self.log_folder()
        if not os.path.isdir(folder):
            return []
        runs = []
        for name in sorted(os.listdir(folder)):
            path = os.path.join(folder, name, "_velmarupdate.log")
            with open(path, "rb") as f:
                runs.append((name, f.read().decode("utf-8")))
        return runs

    def remove(self):
        shutil.rmtree(self.dir, ignore_errors=True)


def reg_query_last_check_typed():
    """LastTimeCheck as (type name, int), or None when absent."""
    proc = wine(["reg", "query", REG_KEY, "/v", "LastTimeCheck"])
    if proc.returncode != 0:
        return None
    for line in proc.stdout.decode("utf-8", "replace").splitlines():
        parts = line.split()
        if len(parts) >= 3 and parts[0] == "LastTimeCheck":
            return parts[1], int(parts[2], 0) if parts[1] == "REG_DWORD" else int(parts[2])
    return None


def reg_query_last_check():
    """LastTimeCheck as an int, or None when absent."""
    typed = reg_query_last_check_typed()
    return None if typed is None else typed[1]


def reg_set_last_check(value, reg_type="REG_DWORD"):
    proc = wine(["reg", "add", REG_KEY, "/v", "LastTimeCheck", "/t", reg_type, "/d", str(value), "/f"])
    assert proc.returncode == 0, proc.stderr


def reg_delete_key():
    wine(["reg", "delete", REG_KEY, "/f"])


def reg_delete_value(name):
    wine(["reg", "delete", REG_KEY, "/v", name, "/f"])


def clear_crash_record():
    """Forgets the crash reports made so far (what the storm guard counts), in one regedit run."""
    values = ("CrashReportStarts", "CrashReportWaitUntil", "CrashReportsSent", "CrashReportsRefused")
    fd, script = tempfile.mkstemp(prefix="clear-", suffix=".reg", dir=TEMP_DIR)
    with os.fdopen(fd, "w", encoding="ascii", newline="\r\n") as f:
        f.write("Windows Registry Editor Version 5.00\n\n[HKEY_CURRENT_USER\\%s]\n" % REG_KEY[5:])
        f.writelines('"%s"=-\n' % name for name in values)
    try:
        wine(["regedit", "/S", win_path(script)])
    finally:
        os.unlink(script)


def wait_for(predicate, timeout=10.0, interval=0.05):
    deadline = time.time() + timeout
    while time.time() < deadline:
        if predicate():
            return True
        time.sleep(interval)
    return predicate()


def read_installer_record(path):
    """What fake_installer.exe wrote about its start: (exe, command line, argv), or None."""
    record = read_installer_fields(path)
    return None if record is None else (record.get("exe"), record.get("cmdline"), record.get("arg", []))


def read_installer_fields(path):
    """The record as a dict: "arg" -> [arguments], every other key -> its value."""
    if not os.path.exists(path):
        return None
    record = {"arg": []}
    with open(path, encoding="utf-8") as f:
        for line in f.read().splitlines():
            key, _, value = line.partition("=")
            if key == "arg":
                record["arg"].append(value)
            else:
                record[key] = value
    return record
