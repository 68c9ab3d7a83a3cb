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

broken=0
if [ "${1-}" = "--broken" ]; then
    broken=1
    shift
fi
[ $# -eq 1 ] || { echo "usage: $0 [--broken] OUTDIR" >&2; exit 2; }
packer=$(command -v dfuse-pack) || { echo "$0: dfuse-pack not found (package dfu-util)" >&2; exit 1; }

python3 - "$1" "$broken" "$packer" <<'PY'
import hashlib, importlib.machinery, importlib.util, os, sys

outdir, broken, packer = sys.argv[1], sys.argv[2] == "1", sys.argv[3]
# Debian's dfuse-pack, loaded once rather than started once per image.
module_spec = importlib.util.spec_from_loader("dfusepack", importlib.machinery.SourceFileLoader("dfusepack", packer))
pack = importlib.util.module_from_spec(module_spec)
module_spec.loader.exec_module(pack)

# name  element  element ...   (element = address:size)
# X21: sectors of 16 KiB up to 0x0800FFFF; the one at 0x0800C000 holds the identity.
# X58: same sectors; a second element goes to the 128 KiB sector at 0x08020000.
# X33, X7: 256-byte pages; the page at 0x0800F800 must stay untouched.
CATALOGUE = """
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
"""


def pseudo_random(key, size):
    """SIZE bytes keyed by KEY: SHA-256 in counter mode."""
    out = bytearray()
    counter = 0
    while len(out) < size:
        out += hashlib.sha256(f"{key}:{counter}".encode()).digest()
        counter += 1
    return bytes(out[:size])


def build(path, name, elements, device="0x0483:0xdf11"):
    os.makedirs(os.path.dirname(path), exist_ok=True)
    images = []
    for n, element in enumerate(elements, 1):
        address, size = (int(x, 0) for x in element.split(":"))
        data = pseudo_random(f"{name}:{n}", size)
        images.append({"address": address, "alt": 0, "data": data})
    pack.build(path, [images], device=device)


for row in CATALOGUE.split("\n"):
    if not row:
        continue
    name, *elements = row.split()
    if not broken:
        build(f"{outdir}/{name}.dfu", name, elements)
        continue
    build(f"{outdir}/badcrc/{name}.dfu", name, elements)
    with open(f"{outdir}/badcrc/{name}.dfu", "r+b") as f:
        f.seek(-1, 2)
        last = f.read(1)[0]
        f.seek(-1, 2)
        f.write(bytes([last ^ 0xFF]))
    build(f"{outdir}/badvid/{name}.dfu", name, elements, device="0x0483:0xdf12")
    build(f"{outdir}/unwritable/{name}.dfu", name, elements + ["0x1FFF0000:256"])
PY
