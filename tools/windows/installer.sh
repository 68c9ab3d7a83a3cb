#!/usr/bin/env bash
# Packs a folder made by build.sh into a Windows installer (NSIS): per-machine
# into Program Files, a Start-menu shortcut, an uninstall entry, silent with /S.
# The uninstaller and the installer are signed by sign.sh as makensis makes them.
# Usage: installer.sh <folder> <version> <output setup.exe>
. "$(dirname "$0")/common.sh"
folder=$(cd "${1:?usage: installer.sh <folder> <version> <setup.exe>}" && pwd)
version=${2:?version missing}
out=${3:?output missing}
ensure_packages nsis imagemagick
tmp=$(mktemp -d /tmp/strobix-installer.XXXXXX)
trap 'rm -rf "$tmp"' EXIT

# The flash unit of the main window's picture, as the side picture of the
# first and the last page.
convert "$repo/ui/images/background_2.jpg" -crop 164x314+288+14 +repage -type TrueColor "BMP3:$tmp/side.bmp"

# The uninstaller removes exactly the files it installed, deepest folders last.
list=$tmp/uninstall.nsh
# shellcheck disable=SC2016  # $INSTDIR is NSIS's
(
    cd "$folder"
    find . -mindepth 1 -type f -printf '%P\n' | sort | sed 's|/|\\|g; s|.*|    Delete "$INSTDIR\\&"|'
    find . -mindepth 1 -type d -printf '%d %P\n' | sort -rn | cut -d' ' -f2- \
        | sed 's|/|\\|g; s|.*|    RMDir "$INSTDIR\\&"|'
) > "$list"

size_kb=$(du -sk "$folder" | cut -f1)
mkdir -p "$(dirname "$out")"
logged "$out.log" makensis -V2 -WX -INPUTCHARSET UTF8 \
    -DFOLDER="$folder" -DVERSION="$version" -DOUTFILE="$out" -DICON="$repo/ui/strobix.ico" -DSIDE_PICTURE="$tmp/side.bmp" \
    -DFILE_LIST="$list" -DSIZE_KB="$size_kb" -DSIGN="\"$here/sign.sh\"" "$here/installer.nsi"
log "installer: $out ($(du -h "$out" | cut -f1))"
