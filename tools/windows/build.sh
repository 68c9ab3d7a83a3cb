#!/usr/bin/env bash
# Cross-builds the updater for Windows and assembles a folder that runs as it
# is (program, Qt and mingw runtime DLLs, Qt plugins, dfu-util/dfu-util.exe),
# plus a zip of it and an installer (installer.sh; STROBIX_WINDOWS_INSTALLER=0
# leaves it out). Every .exe and .dll in it is signed when
# STROBIX_SIGN_PKCS12 is set (sign.sh).
# Needs the trees from build-deps.sh.
# Usage: build.sh [build folder]   (default: <repo>/build-windows)
# Prints the path of the finished folder as its last line.
. "$(dirname "$0")/common.sh"
build=${1:-$repo/build-windows}

[ -f "$QT_TREE.key" ] && [ -f "$DFU_TREE.key" ] && [ -f "$SODIUM_TREE.key" ] \
    || { echo "Qt, dfu-util or libsodium for Windows is missing; run tools/windows/build-deps.sh first" >&2; exit 1; }
ensure_packages cmake make zip unzip g++-mingw-w64-x86-64-posix mingw-w64-tools

setting_args=()
[ -z "${STROBIX_FIRMWARE_BASE_URL:-}" ] || setting_args=(-DSTROBIX_FIRMWARE_BASE_URL="$STROBIX_FIRMWARE_BASE_URL")
# Always given, so that a build folder used before with keys loses them when none are set.
setting_args+=(-DSTROBIX_FIRMWARE_PUBLIC_KEYS="${STROBIX_FIRMWARE_PUBLIC_KEYS:-}")
mkdir -p "$build/cmake"
timed "app configure" logged "$build/configure.log" cmake -S "$repo" -B "$build/cmake" \
    -DCMAKE_BUILD_TYPE=Release -DCMAKE_TOOLCHAIN_FILE="$repo/cmake/mingw-w64.cmake" \
    -DSTROBIX_QT_WINDOWS="$QT_TREE" -DSTROBIX_SODIUM_WINDOWS="$SODIUM_TREE" -DSTROBIX_BUILD_TESTS=OFF "${setting_args[@]}"
timed "app build" logged "$build/build.log" nice -n 19 cmake --build "$build/cmake" -j2

version=$(sed -n 's/^CMAKE_PROJECT_VERSION:STATIC=//p' "$build/cmake/CMakeCache.txt")
name=strobix-updater
out=$build/$name
rm -rf "$out"
mkdir -p "$out/platforms" "$out/styles" "$out/imageformats" "$out/dfu-util"

strip=$MINGW_PREFIX-strip
$strip -o "$out/strobix-updater.exe" "$build/cmake/strobix-updater.exe"
for m in Core Gui Widgets Network; do
    $strip --strip-unneeded -o "$out/Qt5$m.dll" "$QT_TREE/bin/Qt5$m.dll"
done
$strip --strip-unneeded -o "$out/platforms/qwindows.dll" "$QT_TREE/plugins/platforms/qwindows.dll"
$strip --strip-unneeded -o "$out/styles/qwindowsvistastyle.dll" "$QT_TREE/plugins/styles/qwindowsvistastyle.dll"
for f in qjpeg qico qgif; do
    $strip --strip-unneeded -o "$out/imageformats/$f.dll" "$QT_TREE/plugins/imageformats/$f.dll"
done
for dll in libstdc++-6.dll libgcc_s_seh-1.dll libwinpthread-1.dll; do
    path=$($MINGW_CXX -print-file-name=$dll)
    [ -f "$path" ] || { echo "mingw runtime $dll not found" >&2; exit 1; }
    $strip --strip-unneeded -o "$out/$dll" "$path"
done
cp "$DFU_TREE/dfu-util.exe" "$DFU_TREE"/COPYING.* "$out/dfu-util/"
# Linked into the program.
cp "$SODIUM_TREE/COPYING.libsodium" "$out/"
# The unit's USB driver package, which the installer adds to Windows.
"$here/driver/build-driver.sh" "$out/driver"
# Plugins come from this folder only, never from the path Qt was built for.
printf '[Paths]\r\nPrefix=.\r\nPlugins=.\r\n' > "$out/qt.conf"

# Every program and DLL we ship, Qt's and mingw's too: Smart App Control and
# company policies judge each file on its own.
mapfile -t pe < <(pe_files "$out")
"$here/sign.sh" "${pe[@]}"
"$here/check-folder.sh" "$out" >&2

zipfile=$build/$name-$version-windows-x64.zip
rm -f "$zipfile"
(cd "$build" && zip -qr -9 -X "$zipfile" "$name")
"$here/check-folder.sh" "$zipfile" >&2
# The test dfu-util.exe for e2e.sh goes beside the folder, never into it.
"$here/build-test-dfu.sh" "$build"
log "folder: $out ($(du -sh "$out" | cut -f1)); zip: $zipfile ($(du -h "$zipfile" | cut -f1))"
[ "${STROBIX_WINDOWS_INSTALLER:-1}" = 0 ] \
    || timed "installer" "$here/installer.sh" "$out" "$version" "$build/$name-$version-windows-x64-setup.exe"
"$here/sign.sh" --warn-untimestamped
log "build.sh done in $((SECONDS - t_start)) s"
echo "$out"
