#!/bin/sh
# Installs what the build, the tests and the demo need, when it is missing.
# Debian packages only; needs root (or sudo) the first time.
set -e
need=""
have_pkg() { dpkg-query -W -f='${Status}' "$1" 2>/dev/null | grep -q "install ok installed"; }
for pkg in cmake make mingw-w64 g++-mingw-w64-x86-64-posix gcc-mingw-w64-x86-64-posix binutils-mingw-w64-x86-64 \
           googletest wine wine64 python3 python3-cryptography openssl osslsigncode curl iproute2 util-linux \
           ${VELMAR_EXTRA_PACKAGES:-}; do
    have_pkg "$pkg" || need="$need $pkg"
done
[ -z "$need" ] && exit 0
echo "Installing:$need"
if [ "$(id -u)" = 0 ]; then sudo=""; else sudo="sudo"; fi
export DEBIAN_FRONTEND=noninteractive
$sudo apt-get update -qq
# shellcheck disable=SC2086
$sudo apt-get install -y -qq $need >/dev/null
