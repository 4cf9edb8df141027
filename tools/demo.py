"""Walks through one run of VelmarUpdate.exe under Wine and shows what it did."""
import hashlib
import os
import shutil
import subprocess
import sys
import urllib.parse

HERE = os.path.dirname(os.path.abspath(__file__))
sys.path.insert(0, os.path.join(HERE, "..", "tests", "process"))
sys.path.insert(0, HERE)
import harness  # noqa: E402
from errorlog_server import ErrorLogServer  # noqa: E402


def show_start_up():
    print("== Start-up with the diagnostic log on ==")
    app = harness.Installation(folder_name="demo-app")
    try:
        result = app.run("--velmarupdate-log /v:1.0.0.5 /os:win10")
        print("command line :", result.command_line)
        print("exit code    :", result.code)
        for name, text in app.run_logs():
            print("log file     :", harness.win_path(os.path.join(app.log_folder(), name, "_velmarupdate.log")))
            print("log text     :", text)
    finally:
        app.remove()


def show_crash_report():
    print("== Crash report: a dump posted to the local error-log server ==")
    url = urllib.parse.urlsplit(os.environ.get("VELMAR_ERROR_LOG_URL",
                                               "http://127.0.0.1:18742/index.php?do=adderrorlog"))
    app = harness.Installation(folder_name="demo-crash")
    dumps = os.path.join(harness.DRIVE_C, "velmar-tests", "demo-dumps", "\u4e2d\u6587")
    os.makedirs(dumps, exist_ok=True)
    dump = os.path.join(dumps, "crash.dmp")
    data = b"MDMP" + os.urandom(256 * 1024)
    with open(dump, "wb") as f:
        f.write(data)
    try:
        with ErrorLogServer(port=url.port or 80) as server:
            result = app.run("/v:1.0.0.5 /os:win10 /u:%s" % harness.win_path(dump))
            print("command line :", result.command_line)
            print("exit code    :", result.code, "(1: uploaded)")
            for record in server.requests:
                print("request      : %s %s" % (record.method, record.target))
                for name in ("Host", "User-Agent", "Content-Type", "Content-Length"):
                    print("  %-14s %s" % (name + ":", record.header(name)))
                print("  parts        :", ", ".join(p.name for p in record.parts))
                for name, value in record.fields.items():
                    print("  field %-8s %r" % (name, value))
                part = record.file
                print("  file part    : %s, filename %s" % (part.name, part.filename))
                print("  file size    : %d bytes, SHA-256 %s" % (part.size, part.sha256))
                print("  same as dump :", part.sha256 == hashlib.sha256(data).hexdigest())
    finally:
        app.remove()
        shutil.rmtree(os.path.dirname(dumps), ignore_errors=True)


def main():
    subprocess.run([harness.WINE_RUN, "--init"], check=True)
    show_start_up()
    show_crash_report()
    return 0


if __name__ == "__main__":
    sys.exit(main())
