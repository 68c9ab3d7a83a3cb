#!/usr/bin/env bash
# The baseline of a whole update: the updater's dfu-util command lines and a
# curl download, one after the other, with nothing in between.
#
#   update-baseline.sh x21|x58|x33 DATAFOLDER IMAGEURL   (identified by area 1, 2 or 3)
#
# Run in the folder holding dfu-util/dfu-util.exe, with the virtual unit's
# variables set. Prints "ident_ms=.. download_ms=.. install_ms=.. total_ms=..".
set -uo pipefail

family=$1
data=$2
url=$3
tool=dfu-util/dfu-util.exe
dump=$data/strobix.otp
image=$data/${url##*/}

now() { echo "${EPOCHREALTIME/./}"; }
ms() { local d=$(($2 - $1)); printf "%d.%03d" $((d / 1000)) $((d % 1000)); }

t0=$(now)
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
t1=$(now)
curl -s -f -o "$image" "$url" || exit 1
t2=$(now)
"$tool" -d 0483:df11 -c 1 -i 0 -a 0 -D "$image" > /dev/null 2>&1 || true
t3=$(now)
echo "ident_ms=$(ms "$t0" "$t1") download_ms=$(ms "$t1" "$t2") install_ms=$(ms "$t2" "$t3") total_ms=$(ms "$t0" "$t3")"
