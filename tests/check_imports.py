"""Fails when the exe imports a DLL that Windows does not ship."""
import re
import subprocess
import sys

WINDOWS_DLLS = {
    "kernel32.dll", "user32.dll", "shlwapi.dll", "wininet.dll", "urlmon.dll",
    "msvcrt.dll", "advapi32.dll", "ole32.dll", "shell32.dll", "ucrtbase.dll",
    "ws2_32.dll", "crypt32.dll", "bcrypt.dll", "wintrust.dll",
}


def imported_dlls(exe):
    out = subprocess.run(["x86_64-w64-mingw32-objdump", "-p", exe],
                         check=True, capture_output=True, text=True).stdout
    return sorted({m.lower() for m in re.findall(r"DLL Name: (\S+)", out)})


def main():
    dlls = imported_dlls(sys.argv[1])
    foreign = [d for d in dlls if d not in WINDOWS_DLLS and not d.startswith("api-ms-win-")]
    print("imports:", ", ".join(dlls))
    if not dlls or foreign:
        print("not a Windows DLL:", ", ".join(foreign) or "(no imports read)")
        return 1
    return 0


if __name__ == "__main__":
    sys.exit(main())
