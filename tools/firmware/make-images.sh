#!/bin/bash
# Builds a DfuSe image for every row of the firmware catalogue, for the test server
# and the virtual unit. Contents are pseudo-random but fixed per image, so that every
# run builds byte-identical files.
#
#   make-images.sh OUTDIR            OUTDIR/SXxxxxxx.dfu, one per catalogue row
#   make-images.sh --broken OUTDIR   OUTDIR/badcrc/SXxxxxxx.dfu (suffix CRC wrong),
#                                    OUTDIR/badvid/SXxxxxxx.dfu (built for 0483:df12) and
#                                    OUTDIR/unwritable/SXxxxxxx.dfu (a last element in system
#                                    memory, which dfu-util refuses after writing the others)
#
# Elements stay clear of the identity cells (flash page or sector holding 0x0800F800,
# OTP, data EEPROM), so that a unit still identifies itself after an installation.
set -euo pipefail

usage() {
    echo "usage: $0 [--broken] OUTDIR" >&2
    exit 2
}

broken=0
if [ "${1-}" = "--broken" ]; then
    broken=1
    shift
fi
[ $# -eq 1 ] || usage
outdir=$1
command -v dfuse-pack >/dev/null || { echo "$0: dfuse-pack not found (package dfu-util)" >&2; exit 1; }

# name  element  element ...   (element = address:size)
# X21: sectors of 16 KiB up to 0x0800FFFF; the one at 0x0800C000 holds the identity.
# X58: same sectors; a second element goes to the 128 KiB sector at 0x08020000.
# X33, X7: 256-byte pages; the page at 0x0800F800 must stay untouched.
catalogue() {
    cat <<'ROWS'
SX2100b0 0x08004000:20000
SX2100b1 0x08004000:21111
SX2100b2 0x08004000:22222
SX2100b4 0x08004000:23333
SX2100b6 0x08004000:24444
SX330190 0x08004000:28000 0x08010000:4096
SX330191 0x08004000:28500 0x08010000:5000
SX330192 0x08004000:29000 0x08010000:6000
SX330193 0x08004000:29500 0x08010000:7000
SX330194 0x08004000:30000 0x08010000:8000
SX330196 0x08004000:30500 0x08010000:9000
SX580170 0x08004000:20480 0x08020000:16384
SX580171 0x08004000:21000 0x08020000:17000
SX580172 0x08004000:22000 0x08020000:18000
SX580173 0x08004000:23000 0x08020000:19000
SX580174 0x08004000:24000 0x08020000:20000
SX0701a0 0x08004000:18000
ROWS
}

# Writes SIZE bytes keyed by KEY to FILE: SHA-256 in counter mode.
pseudo_random() {
    python3 - "$1" "$2" "$3" <<'PY'
import hashlib, sys
key, size, path = sys.argv[1], int(sys.argv[2]), sys.argv[3]
out = bytearray()
counter = 0
while len(out) < size:
    out += hashlib.sha256(f"{key}:{counter}".encode()).digest()
    counter += 1
open(path, "wb").write(out[:size])
PY
}

# build NAME DEVICE OUTFILE ELEMENT...
build() {
    local name=$1 device=$2 out=$3
    shift 3
    local args=() n=0 element
    for element in "$@"; do
        n=$((n + 1))
        pseudo_random "$name:$n" "${element#*:}" "$work/$name.$n.bin"
        args+=(-b "${element%%:*}:$work/$name.$n.bin")
    done
    dfuse-pack "${args[@]}" -D "$device" "$out" >/dev/null
}

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

if [ $broken -eq 0 ]; then
    mkdir -p "$outdir"
    while read -r name elements; do
        # shellcheck disable=SC2086 # elements are separate words on purpose
        build "$name" 0x0483:0xdf11 "$outdir/$name.dfu" $elements
    done < <(catalogue)
else
    mkdir -p "$outdir/badcrc" "$outdir/badvid" "$outdir/unwritable"
    while read -r name elements; do
        # shellcheck disable=SC2086
        build "$name" 0x0483:0xdf11 "$outdir/badcrc/$name.dfu" $elements
        # Spoil the last byte of the suffix CRC.
        python3 -c 'import sys; p=sys.argv[1]; b=bytearray(open(p,"rb").read()); b[-1]^=0xff; open(p,"wb").write(b)' \
            "$outdir/badcrc/$name.dfu"
        # shellcheck disable=SC2086
        build "$name" 0x0483:0xdf12 "$outdir/badvid/$name.dfu" $elements
        # shellcheck disable=SC2086
        build "$name" 0x0483:0xdf11 "$outdir/unwritable/$name.dfu" $elements 0x1FFF0000:256
    done < <(catalogue)
fi
