#!/usr/bin/env bash
# Checks the unit's USB driver package (build-driver.sh) under Wine, with
# Windows' own code where Wine has it:
#   INF        strobix-driver.exe show: setupapi parses it; class USBDevice, the
#              maker as provider, the unit's hardware ID, an install section;
#   catalog    tests/catcheck.exe: wintrust finds the INF's SHA-1 and SHA-256
#              among the catalog's members, WinVerifyTrust accepts its
#              signature, from a chain to the CA placed in the prefix's root store;
#   signatures osslsigncode verify on the catalog and on strobix-driver.exe;
#   uninstall  strobix-driver.exe takes two versions of the package out of the
#              prefix's driver store.
# Then each check must catch its fault, on a broken copy: one byte of the INF
# changed after the catalog was made, a wrong hardware ID (with a catalog and a
# signature of its own), an unsigned catalog.
# Usage: check.sh <driver folder> <CA file>; STROBIX_SIGN_PKCS12 and
# STROBIX_SIGN_PASSWORD as for build.sh, with a certificate from that CA.
. "$(dirname "$0")/../common.sh"
. "$windows/wine.sh"
package=$(cd "${1:?usage: check.sh <driver folder> <CA file>}" && pwd)
ca=$(realpath "${2:?CA file missing}")
[ -n "${STROBIX_SIGN_PKCS12:-}" ] || { echo "check.sh: STROBIX_SIGN_PKCS12 is not set" >&2; exit 2; }
ensure_packages wine64 wine xvfb osslsigncode gcc-mingw-w64-x86-64-posix python3-asn1crypto

unit_id='USB\VID_0483&PID_DF11'
work=$(mktemp -d /tmp/strobix-driver-check.XXXXXX)
trap 'wine_finish $? "driver check: logs"' EXIT

$MINGW_CC -O2 -Wall -Wextra -Werror -municode -s -o "$work/catcheck.exe" "$here/tests/catcheck.c" \
    -lwintrust -lcrypt32
wine_session "$work" || fail "no Wine session"
trust_root_ca "$ca" || fail "cannot add the CA to the prefix's root store"

# Runs a Windows program in a folder, its output in a file: a pipe could stay
# open for good in Wine's desktop process, which the program may start and
# which now and then outlives it.
run_in() { # <folder> <output file> <program> <argument>...
    local dir=$1 out=$2
    shift 2
    (cd "$dir" && timeout 60 wine "$@" </dev/null >"$out" 2>&1)
}

# Runs the three checks on a package folder, prints what they say, and
# returns non-zero if any of them failed.
check_package() { # <folder>
    local dir=$1 failed=0 show line f
    run_in "$dir" "$work/show.txt" ./strobix-driver.exe show strobix-dfu.inf || failed=1
    show=$(tr -d '\r' <"$work/show.txt")
    printf '%s\n' "$show"
    for line in 'class: USBDevice' 'provider: Orvane kelvio GmbH' "hardware ID: $unit_id"; do
        grep -qxF -- "$line" <<<"$show" || { echo "INF check: no line '$line'"; failed=1; }
    done
    grep -q '^install section: .' <<<"$show" || { echo "INF check: no install section"; failed=1; }
    run_in "$dir" "$work/catcheck.txt" "$work/catcheck.exe" strobix-dfu.inf strobix-dfu.cat || failed=1
    tr -d '\r' <"$work/catcheck.txt"
    for f in strobix-dfu.cat strobix-driver.exe; do
        if osslsigncode verify -in "$dir/$f" -CAfile "$ca" >"$work/verify.log" 2>&1; then
            echo "osslsigncode verify $f: ok"
        else
            echo "osslsigncode verify $f: FAILED ($(grep -m1 -iE 'no signature|fail' "$work/verify.log"))"; failed=1
        fi
    done
    return "$failed"
}

log "the package as built"
check_package "$package" || fail "the driver package fails its checks"

# A broken copy must fail, and for the reason given.
expect_failure() { # <folder> <line the failure must print>
    local out
    if out=$(check_package "$1"); then
        printf '%s\n' "$out"; fail "the checks pass on a package with $(basename "$1")"
    fi
    printf '%s\n' "$out" | sed 's/^/    /'
    grep -qF -- "$2" <<<"$out" || fail "$(basename "$1") did not fail with '$2'"
    log "caught: $(basename "$1")"
}

copy=$work/spoilt-INF-hash
cp -r "$package" "$copy"
/usr/bin/python3 - "$copy/strobix-dfu.inf" <<'PY'
import sys
path = sys.argv[1]
data = open(path, 'rb').read()
old, new = '1.0.0.0'.encode('utf-16-le'), '1.0.0.1'.encode('utf-16-le')
assert old in data
open(path, 'wb').write(data.replace(old, new, 1))
PY
expect_failure "$copy" "the catalog lists the INF's SHA-1: FAILED"

# An update of the program may bring a newer package: uninstalling must take
# out every version of ours, or an older one goes on binding the unit.
run_in "$package" "$work/add.txt" ./strobix-driver.exe install strobix-dfu.inf || fail "install: $(cat "$work/add.txt")"
run_in "$copy" "$work/add-newer.txt" ./strobix-driver.exe install strobix-dfu.inf \
    || fail "install of a newer version: $(cat "$work/add-newer.txt")"
run_in "$package" "$work/remove.txt" ./strobix-driver.exe uninstall strobix-dfu.inf || fail "uninstall: $(cat "$work/remove.txt")"
tr -d '\r' <"$work/remove.txt"
left=$(cd "$WINEPREFIX/drive_c/windows/inf" && ls oem*.inf strobix-dfu.inf 2>/dev/null) || true
[ -z "$left" ] || fail "uninstall left in the driver store: $left"
log "uninstall removes two versions of the package"

copy=$work/wrong-hardware-ID
mkdir "$work/wrong-id"
sed 's/PID_DF11/PID_DF12/' "$here/strobix-dfu.inf" > "$work/wrong-id/strobix-dfu.inf"
"$here/build-driver.sh" "$copy" "$work/wrong-id/strobix-dfu.inf" 2>/dev/null
"$windows/sign.sh" "$copy/strobix-driver.exe" 2>/dev/null
expect_failure "$copy" "INF check: no line 'hardware ID: $unit_id'"

copy=$work/unsigned-catalog
cp -r "$package" "$copy"
/usr/bin/python3 "$here/make-catalog.py" "$copy/strobix-dfu.cat" "$unit_id" "$copy/strobix-dfu.inf"
expect_failure "$copy" "WinVerifyTrust accepts the catalog's signature: FAILED"

log "driver check: passed in $((SECONDS - t_start)) s"
