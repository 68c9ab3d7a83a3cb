#!/usr/bin/env bash
# The baseline of a whole update: the updater's dfu-util command lines and a
# curl download, one after the other, with nothing in between. After the
# install, as the updater does, each element is read back (whole transfers,
# then the rest) and the unit identified again.
#
#   update-baseline.sh [--four-lines] x21|x58|x33 DATAFOLDER IMAGEURL   (identified by area 1, 2 or 3)
#
# --four-lines: only the identification reads, the download and the install:
# no read-back, no identification after it.
#
# Run in the folder holding dfu-util/dfu-util.exe, with the virtual unit's
# variables set. Prints "ident_ms=.. download_ms=.. install_ms=.. total_ms=..
# write_ms=.. readback_ms=.. recheck_ms=..": install_ms is write_ms (the -D),
# readback_ms and recheck_ms (the identification after it) together.
set -uo pipefail

verify=1
if [ "$1" = --four-lines ]; then
    verify=0
    shift
fi
family=$1
data=$2
url=$3
tool=dfu-util/dfu-util.exe
dump=$data/strobix.otp
image=$data/${url##*/}

now() { echo "${EPOCHREALTIME/./}"; }
ms() { local d=$(($2 - $1)); printf "%d.%03d" $((d / 1000)) $((d % 1000)); }

# The identification reads until the area that holds the unit's record.
identify() {
    rm -f "$dump"
    "$tool" -d 0483:df11 -i 0 -a 0 -s 0x0800F800:8 -U "$dump" > /dev/null 2>&1
    if [ "$family" != x21 ]; then
        rm -f "$dump"
        "$tool" -d 0483:df11 -i 0 -a 2 -s 0x1FFF7800 -U "$dump" > /dev/null 2>&1
    fi
    if [ "$family" = x33 ]; then
        rm -f "$dump"
        "$tool" -d 0483:df11 -c 1 -i 0 -a 2 -s 0x08080080:8 -U "$dump" > /dev/null 2>&1
    fi
    rm -f "$dump"
}

# The read-back ranges of the image the server holds, worked out before the clock runs.
reads=$(curl -s -f "$url" | python3 -c '
import struct, sys
data = sys.stdin.buffer.read()
at = 11
for _ in range(data[10]):
    alternate = data[at + 6]
    count = struct.unpack_from("<I", data, at + 270)[0]
    at += 274
    for _ in range(count):
        address, size = struct.unpack_from("<II", data, at)
        whole = size // 2048 * 2048
        for start, length in ((address, whole), (address + whole, size - whole)):
            if length:
                print(f"{alternate}/0x{start:08x}:{length}")
        at += 8 + size
')

t0=$(now)
identify
t1=$(now)
curl -s -f -o "$image" "$url" || exit 1
t2=$(now)
"$tool" -d 0483:df11 -c 1 -i 0 -a 0 -D "$image" > /dev/null 2>&1 || true
t3=$(now)
if [ $verify = 1 ]; then
    for read in $reads; do
        rm -f "$data/strobix.verify"
        "$tool" -d 0483:df11 -c 1 -i 0 -a "${read%%/*}" -s "${read#*/}" -U "$data/strobix.verify" > /dev/null 2>&1 || true
    done
    rm -f "$data/strobix.verify"
fi
t4=$(now)
[ $verify = 1 ] && identify
t5=$(now)
echo "ident_ms=$(ms "$t0" "$t1") download_ms=$(ms "$t1" "$t2") install_ms=$(ms "$t2" "$t5") total_ms=$(ms "$t0" "$t5")" \
     "write_ms=$(ms "$t2" "$t3") readback_ms=$(ms "$t3" "$t4") recheck_ms=$(ms "$t4" "$t5")"
