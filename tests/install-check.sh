#!/bin/sh
# Installs the build into a scratch folder and checks what a desktop needs:
# the program beside its dfu-util link, the desktop entry that starts it there,
# the icon in the hicolor theme and the launcher on PATH.
set -eu
build=$1
dest=$(mktemp -d)
trap 'rm -rf "$dest"' EXIT
# Desktop entries hold absolute paths, so the prefix is the configured one.
prefix=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")
DESTDIR=$dest cmake --install "$build" > /dev/null
program=$prefix/lib/strobix-updater
dir=$dest$program
fail() { echo "install check: $*" >&2; exit 1; }
[ -x "$dir/strobix-updater" ] || fail "no program in $dir"
[ -L "$dir/dfu-util/dfu-util.exe" ] || fail "no dfu-util/dfu-util.exe link"
[ "$(readlink "$dir/dfu-util/dfu-util.exe")" = /usr/bin/dfu-util ] || fail "dfu-util link points elsewhere"
entry=$dest$prefix/share/applications/strobix-updater.desktop
grep -qx "Path=$program" "$entry" || fail "desktop entry does not start in the program's folder"
grep -qx "Exec=$program/strobix-updater" "$entry" || fail "desktop entry runs something else"
grep -qx 'Icon=strobix-updater' "$entry" || fail "desktop entry without the icon"
[ -s "$dest$prefix/share/icons/hicolor/128x128/apps/strobix-updater.png" ] || fail "no icon"
grep -q "cd \"$program\"" "$dest$prefix/bin/strobix-updater" || fail "launcher does not change to the program's folder"
echo "install layout ok"
