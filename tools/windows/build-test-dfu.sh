#!/usr/bin/env bash
# Links the test dfu-util.exe for the Windows end-to-end rows (e2e.sh): the
# object files of the shipped dfu-util.exe, kept by build-deps.sh, with the
# virtual unit (tools/virtualunit, built for Windows) in place of libusb. All of
# dfu-util's own code is what users get; only the USB layer differs.
# It is never shipped: check-folder.sh fails on any file that carries the unit.
# Usage: build-test-dfu.sh <build folder>  -> <build folder>/test-dfu-util/dfu-util.exe
. "$(dirname "$0")/common.sh"
build=${1:?usage: build-test-dfu.sh <build folder>}

if [ ! -f "$DFU_TREE/obj/objects.txt" ] || [ ! -f "$DFU_TREE/include/libusb-1.0/libusb.h" ]; then
    echo "no dfu-util object files in $DFU_TREE; run tools/windows/build-deps.sh" >&2; exit 1
fi
ensure_packages cmake make g++-mingw-w64-x86-64-posix

mkdir -p "$build"
vu=$build/virtualunit-win
logged "$build/virtualunit-configure.log" cmake -S "$repo/tools/virtualunit" -B "$vu" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DVU_LIBUSB_INCLUDE_DIR="$DFU_TREE/include/libusb-1.0"
timed "virtual unit for Windows" logged "$build/virtualunit-build.log" \
    nice -n 19 cmake --build "$vu" -j2 --target virtualunit_win

out=$build/test-dfu-util
mkdir -p "$out"
read -ra names < "$DFU_TREE/obj/objects.txt"
objects=("${names[@]/#/$DFU_TREE/obj/}")
# Static, so that the test tool needs no DLL beside it, as the shipped one.
$MINGW_CXX -static -s -o "$out/dfu-util.exe" "${objects[@]}" "$vu/libvirtualunit_win.a"
log "test dfu-util.exe: $out/dfu-util.exe ($((SECONDS - t_start)) s)"
