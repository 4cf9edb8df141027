#!/bin/sh
# Runs a Windows program under the build tree's private Wine prefix.
#   wine-run.sh PROGRAM [ARGS...]   run it (creating the prefix on first use)
#   wine-run.sh --init              only create the prefix and start its server
#   wine-run.sh --stop              stop the prefix's wineserver
# VELMAR_WINEPREFIX overrides the prefix location (default: build/loopback/wineprefix).
# Output goes through a file unless VELMAR_WINE_DIRECT=1: Wine's helper processes
# (services, the desktop) may inherit the caller's pipes and outlive the program,
# and a test runner reading such a pipe would then wait for ever.
set -e
here=$(cd "$(dirname "$0")" && pwd)
: "${VELMAR_WINEPREFIX:=$here/../build/loopback/wineprefix}"
export WINEPREFIX="$VELMAR_WINEPREFIX"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
# Wine's HTTP stack obeys the Unix proxy variables; tests talk to loopback only.
unset DISPLAY http_proxy https_proxy HTTP_PROXY HTTPS_PROXY ftp_proxy all_proxy ALL_PROXY
export no_proxy=127.0.0.1,localhost NO_PROXY=127.0.0.1,localhost

ensure_prefix() {
    mkdir -p "$(dirname "$WINEPREFIX")"
    (
        flock 9
        if [ ! -f "$WINEPREFIX/.velmar-ready" ]; then
            rm -rf "$WINEPREFIX"
            wineboot -i </dev/null >/dev/null 2>&1 9>&- || true
            wineserver -w
            touch "$WINEPREFIX/.velmar-ready"
        fi
    ) 9>"$WINEPREFIX.lock"
    # A persistent server: later starts are fast. It daemonizes once its socket
    # is ready, with no pipe of ours.
    wineserver -p </dev/null >/dev/null 2>&1 9>&- || true
}

case "${1:-}" in
    --init) ensure_prefix ;;
    --stop) wineserver -k 2>/dev/null || true ;;
    "") echo "usage: wine-run.sh PROGRAM [ARGS...] | --init | --stop" >&2; exit 2 ;;
    *)
        ensure_prefix
        if [ "${VELMAR_WINE_DIRECT:-0}" = 1 ]; then
            exec wine "$@"
        fi
        out=$(mktemp) err=$(mktemp)
        rc=0
        wine "$@" >"$out" 2>"$err" || rc=$?
        cat "$out"
        cat "$err" >&2
        rm -f "$out" "$err"
        exit "$rc"
        ;;
esac
