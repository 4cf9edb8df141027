"""Walks through one run of VelmarUpdate.exe under Wine and shows what it did."""
import os
import subprocess
import sys

sys.path.insert(0, os.path.join(os.path.dirname(os.path.abspath(__file__)), "..", "tests", "process"))
import harness  # noqa: E402


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


def main():
    subprocess.run([harness.WINE_RUN, "--init"], check=True)
    show_start_up()
    return 0


if __name__ == "__main__":
    sys.exit(main())
