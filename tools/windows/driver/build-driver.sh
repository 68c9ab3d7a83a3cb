#!/usr/bin/env bash
# Makes the flash unit's USB driver package for the Windows folder: the INF in
# UTF-16 with CRLF (as Windows reads a non-ASCII INF), its catalog listing the
# INF's hashes, signed by sign.sh like the programs, and strobix-driver.exe,
# which the installer runs to add and remove the package (build.sh signs it
# with the other programs).
# Usage: build-driver.sh <output folder> [INF source]   (default: strobix-dfu.inf here)
. "$(dirname "$0")/../common.sh"
out=${1:?usage: build-driver.sh <output folder> [INF source]}
source_inf=${2:-$here/strobix-dfu.inf}
ensure_packages gcc-mingw-w64-x86-64-posix python3 python3-asn1crypto

# The catalog's name and the hardware ID come from the INF, said once there.
catalog=$(sed -n 's/^CatalogFile *= *\([^ ;]*\).*/\1/p' "$source_inf")
hardware_id=$(grep -o 'USB\\VID_[0-9A-Fa-f]*&PID_[0-9A-Fa-f]*' "$source_inf" | head -n1)
if [ -z "$catalog" ] || [ -z "$hardware_id" ]; then
    echo "no CatalogFile or hardware ID in $source_inf" >&2; exit 1
fi

rm -rf "$out"
mkdir -p "$out"
inf=$out/$(basename "$source_inf")
{ printf '\xff\xfe'; sed 's/$/\r/' "$source_inf" | iconv -f UTF-8 -t UTF-16LE; } > "$inf"
# Debian's python3, where python3-asn1crypto lives, whatever python3 PATH finds.
/usr/bin/python3 "$here/make-catalog.py" "$out/$catalog" "$hardware_id" "$inf"
"$windows/sign.sh" "$out/$catalog"
$MINGW_CC -O2 -Wall -Wextra -Werror -municode -s -o "$out/strobix-driver.exe" "$here/strobix-driver.c" \
    -lsetupapi -lnewdev -lole32
log "driver package: $out ($hardware_id)"
