#!/bin/sh
# The release preset must not configure an updater that skips signature checks by
# accident, nor one that still names the placeholder servers, must refuse a key file that is not a P-256 public key, and must build
# in exactly the key it was given; the same for the installer publishers' pins and the transparency log's key.
#   configure_release_guard.sh CMAKE SOURCE_DIR
set -u
cmake=$1
src=$2
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
failures=0
n=0

# configure ok|fail TEXT_EXPECTED_IN_OUTPUT [CMAKE_ARGS...]; leaves the tree in $work/build$n
configure() {
    expect=$1 text=$2
    shift 2
    n=$((n + 1))
    if (cd "$src" && "$cmake" --preset release -B "$work/build$n" "-DVELMAR_UPDATE_BASE_URL=$base_url" \
            "-DVELMAR_ERROR_LOG_URL=$errorlog_url" "-DVELMAR_INSTALLER_PUBLISHER_PINS=$pin" \
            "-DVELMAR_LOG_PUBLIC_KEY=$logpub" "-DVELMAR_LOG_ORIGIN=$origin" "$@") >"$work/out$n" 2>&1; then
        got=ok
    else
        got=fail
    fi
    # CMake wraps error messages: compare with all blanks and line ends as one space.
    if [ "$got" = "$expect" ] && tr -s ' \n' '  ' <"$work/out$n" | grep -qF -- "$text"; then
        echo "ok: release preset [$*]: $got"
    else
        echo "FAIL: release preset [$*]: expected $expect with \"$text\", got $got:"
        cat "$work/out$n"
        failures=$((failures + 1))
    fi
}

base_url=https://update.orvanta.test/velmar/update/
errorlog_url="https://errorlog.orvanta.test/index.php?do=adderrorlog"
pub=$src/tests/keys/test-update-key.pub.pem
logpub=$src/tests/keys/test-log-key.pub.pem
origin=update.orvanta.test/log
pin_of() { openssl x509 -pubkey -noout -in "$src/tests/keys/$1.pem" | openssl pkey -pubin -outform DER | sha256sum | cut -c1-64; }
pin=$(pin_of test-publisher)
openssl ecparam -name secp384r1 -genkey -noout 2>/dev/null | openssl ec -pubout -out "$work/p384.pub.pem" 2>/dev/null

configure fail "-DVELMAR_UPDATE_PUBLIC_KEY="
configure fail "VELMAR_UPDATE_BASE_URL is still a placeholder" -DVELMAR_ALLOW_UNSIGNED_UPDATES=ON \
    -DVELMAR_UPDATE_BASE_URL=http://update.velmar.orvanta.example/update/
configure ok "Update signatures: not checked" -DVELMAR_ALLOW_UNSIGNED_UPDATES=ON
configure fail "this is a private key" "-DVELMAR_UPDATE_PUBLIC_KEY=$src/tests/keys/test-update-key.pem"
configure fail "not an ECDSA P-256 public key" "-DVELMAR_UPDATE_PUBLIC_KEY=$work/p384.pub.pem"
pub2=$src/tests/keys/test-update-key-2.pub.pem
configure fail "the same key is listed twice" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub;$pub"

# The bytes built in are the points openssl reads from the same files, in order.
point() { openssl pkey -pubin -in "$1" -outform DER | tail -c 64 | od -An -v -tx1 | tr -d ' \n'; }
for keys in "$pub" "$pub;$pub2"; do
    configure ok "Update signatures: checked with $keys" "-DVELMAR_UPDATE_PUBLIC_KEY=$keys"
    built=$(grep -o '0x[0-9a-f][0-9a-f]' "$work/build$n/generated/update_public_key.cpp" | sed 's/^0x//' | tr -d '\n')
    expected=$(for key in $(echo "$keys" | tr ';' ' ') "$logpub"; do point "$key"; done)
    if [ -n "$expected" ] && [ "$built" = "$expected" ]; then
        echo "ok: built-in keys match openssl's X and Y"
    else
        echo "FAIL: built-in keys $built, openssl reads $expected"
        failures=$((failures + 1))
    fi
done

configure fail "-DVELMAR_LOG_PUBLIC_KEY=/path" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" -DVELMAR_LOG_PUBLIC_KEY=
configure ok "Manifest log: not checked" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" -DVELMAR_LOG_PUBLIC_KEY= \
    -DVELMAR_ALLOW_UNLOGGED_MANIFESTS=ON
configure fail "VELMAR_LOG_ORIGIN must be the log's origin" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" "-DVELMAR_LOG_ORIGIN=a b"
configure fail "VELMAR_LOG_PUBLIC_KEY ($src/tests/keys/test-log-key.pem): this is a private key" \
    "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" "-DVELMAR_LOG_PUBLIC_KEY=$src/tests/keys/test-log-key.pem"
configure fail "-DVELMAR_INSTALLER_PUBLISHER_PINS=<SHA-256" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" \
    -DVELMAR_INSTALLER_PUBLISHER_PINS=
configure ok "Installer publishers: not checked" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" -DVELMAR_INSTALLER_PUBLISHER_PINS= \
    -DVELMAR_ALLOW_UNPINNED_INSTALLERS=ON
configure fail "not hexadecimal digits only" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" "-DVELMAR_INSTALLER_PUBLISHER_PINS=${pin}  -"
pins="$pin;$(pin_of test-foreign-publisher)"
configure ok "Installer publishers: pinned" "-DVELMAR_UPDATE_PUBLIC_KEY=$pub" "-DVELMAR_INSTALLER_PUBLISHER_PINS=$pins"
built=$(grep -o '0x[0-9a-f][0-9a-f]' "$work/build$n/generated/publisher_pins.cpp" | sed 's/^0x//' | tr -d '\n')
if [ ${#built} = 128 ] && [ "$built" = "$(echo "$pins" | tr -d ';')" ]; then
    echo "ok: built-in pins match openssl's"
else
    echo "FAIL: built-in pins $built, openssl prints $pins"
    failures=$((failures + 1))
fi

[ "$failures" = 0 ]
