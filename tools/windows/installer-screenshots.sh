#!/usr/bin/env bash
# Pictures of the installer's pages (English and German), the uninstall entry
# and the uninstaller, for docs/: the installer is walked through with Return
# in a Wine desktop window under Xvfb, which draws Windows-style frames.
# Usage: installer-screenshots.sh <setup.exe> <output folder>
. "$(dirname "$0")/common.sh"
. "$windows/wine.sh"
setup=$(realpath "${1:?usage: installer-screenshots.sh <setup.exe> <folder>}")
out=$(mkdir -p "${2:?output folder missing}" && cd "$2" && pwd)
ensure_packages wine64 wine xvfb xdotool imagemagick fonts-wine

work=$(mktemp -d /tmp/strobix-shots.XXXXXX)
trap 'wine_end; rm -rf "$work"' EXIT
wine_session "$work"
# Wine's own fonts, found by this Wine only in the prefix: the frames' buttons
# are drawn with its symbol font, the pages with its Tahoma.
cp /usr/share/wine/fonts/*.ttf "$WINEPREFIX/drive_c/windows/Fonts/"
# A steady caret, so that a page that is done looks the same from one moment to the next.
wine reg add 'HKCU\Control Panel\Desktop' /v CursorBlinkRate /d -1 /f >/dev/null 2>&1
desktop=shots,900x640

grab() { import -window root -crop 900x640+0+0 +repage "$work/screen.png" 2>/dev/null; md5sum < "$work/screen.png"; }
# Saves the screen once it has changed from the last picture and then stayed
# the same for <seconds> (default 1; the install page before the finish page
# moves on by itself), with the empty desktop around the window cut away.
last=
shot() { # <name> [seconds]
    local now same=0 prev= end=$((SECONDS + 90))
    while [ "$same" -lt $((${2:-1} * 4)) ]; do
        [ "$SECONDS" -lt "$end" ] || { echo "no new picture for $1" >&2; return 1; }
        now=$(grab)
        if [ "$now" = "$prev" ] && [ "$now" != "$last" ]; then
            same=$((same + 1))
        else
            same=0
        fi
        prev=$now
        sleep 0.25
    done
    last=$now
    convert "$work/screen.png" -trim +repage "$out/$1.png"
    echo "$out/$1.png"
}
desktop_window() { xdotool search --name '^shots - Wine desktop$' | head -n1 | grep .; }
press() { xdotool windowfocus --sync "$(desktop_window)" key "$1"; }
# The desktop stays when its program has ended: wait for it to be empty, then end it.
close_desktop() {
    empty() { grab >/dev/null; [ "$(identify -format '%k' "$work/screen.png")" -eq 1 ]; }
    poll 600 empty 2>/dev/null || { echo "the window did not close" >&2; return 1; }
    timeout 30 wineserver -k || true
    timeout 60 wineserver -w
}

for lang in en de; do
    locale=en_US.UTF-8; [ "$lang" = en ] || locale=de_DE.UTF-8
    LANG=$locale LC_ALL=$locale timeout 300 wine explorer /desktop=$desktop "$setup" </dev/null >/dev/null 2>&1 &
    background+=($!)
    poll 600 desktop_window 2>/dev/null
    shot "installer-$lang-welcome"; press Return
    shot "installer-$lang-folder"; press Return
    shot "installer-$lang-finish" 3; press Return
    close_desktop
done

LANG=en_US.UTF-8 timeout 300 wine explorer /desktop=$desktop control appwiz.cpl </dev/null >/dev/null 2>&1 &
background+=($!)
poll 600 desktop_window 2>/dev/null
shot uninstall-entry
timeout 30 wineserver -k || true
timeout 60 wineserver -w
