#!/bin/sh
# Takes the hicolor icons out of ui/strobix.ico (drawn by tools/make-artwork.sh):
# the 16, 32 and 48 pixel pictures as PNG, and the 512 pixel PNG entry byte for byte.
# Rerun after the artwork changes. Needs imagemagick and python3.
set -eu
here=$(cd "$(dirname "$0")" && pwd)
ico=$here/../../ui/strobix.ico
for i in 0 1 2; do
    size=$(identify -format '%w' "$ico[$i]")
    convert "$ico[$i]" -strip -define png:exclude-chunks=date,time,tEXt,zTXt,iTXt \
        "PNG32:$here/strobix-updater-$size.png"
done
python3 - "$ico" "$here/strobix-updater-512.png" <<'PY'
import struct, sys
data = open(sys.argv[1], "rb").read()
count = struct.unpack_from("<H", data, 4)[0]
for i in range(count):
    size, offset = struct.unpack_from("<II", data, 6 + 16 * i + 8)
    if data[offset:offset + 8] == b"\x89PNG\r\n\x1a\n":
        open(sys.argv[2], "wb").write(data[offset:offset + size])
PY
