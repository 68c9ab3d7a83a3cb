#!/usr/bin/env bash
# Takes screenshots of every stage of an update from the real program under
# Xvfb, pressing its buttons with xdotool: main window, help, download, install,
# the success box and a failure box.
#
#   screenshots.sh UPDATER OUTDIR FIRMWARE_DIR PORT
#
# Run it in the updater's working directory (dfu-util/dfu-util.exe beside it) with
# the virtual unit's variables set, as run.sh does. It serves FIRMWARE_DIR itself,
# slowly, so that the download can be seen.
set -euo pipefail

updater=$1
out=$2
firmware=$3
port=$4
here=$(cd "$(dirname "$0")" && pwd)
. "$here/../tests/support/common.sh"
mkdir -p "$out"
trap stop_all EXIT

start_xvfb || exit 1
export QT_QPA_PLATFORM=xcb
# A window manager draws the title bars users see; without one the shots still work.
if command -v openbox > /dev/null; then start_openbox || true; fi

"$here/slow-firmware-server.py" "$firmware" "$port" 6144 &
server=$!
background+=($server)
poll 100 curl -s -o /dev/null "http://127.0.0.1:$port/" || true

"$updater" &
app=$!
background+=($app)

known=""
# Waits (at most 30 s) for a window of the updater that was not there before
# and puts it in $window.
new_window() {
    # shellcheck disable=SC2086  # one argument per window
    poll 300 other_window "$app" $known || { echo "no new window" >&2; return 1; }
    known="$known $window"
}
gone() { poll 300 sh -c '! xdotool search --onlyvisible --pid "$0" 2>/dev/null | grep -qx "$1"' "$app" "$1"; }
shot() {
    sleep 0.5 # let the window finish drawing
    import -window root "$out/$1.png.tmp.png"
    convert "$out/$1.png.tmp.png" -trim +repage "$out/$1.png"
    rm -f "$out/$1.png.tmp.png"
    echo "  $out/$1.png"
}
click() { xdotool mousemove --window "$main" "$1" "$2" click 1; }
# A new window that stays: a dialog that only flashes up is passed over.
lasting_window() {
    while new_window; do
        sleep 1
        xdotool search --onlyvisible --pid "$app" 2>/dev/null | grep -qx "$window" && return 0
    done
    return 1
}
# Confirms a message box with Return. Without a window manager the keyboard
# goes to the window under the pointer.
confirm() {
    xdotool mousemove --window "$1" 20 20 key Return
}

new_window; main=$window
shot main-window

click 237 393
new_window; help=$window
shot help-dialog
eval "$(xdotool getwindowgeometry --shell "$help")"
xdotool mousemove --window "$help" 60 $((HEIGHT - 22)) click 1
gone "$help"

click 74 393
new_window; download=$window
sleep 1
shot download-progress
new_window; install=$window
sleep 1
shot install-progress
new_window; box=$window
shot success-box
confirm "$box"
gone "$box"

# Without the server the next run cannot fetch its image.
kill "$server"
wait "$server" 2>/dev/null || true
click 74 393
lasting_window; box=$window
shot failure-box
# Ended with the box open, as a logout would (SIGTERM is a close to it). A box
# confirmed here races the window manager: Qt asks openbox's frame of the box
# where it is while openbox takes that frame down, and now and then prints a
# BadWindow error. Ended so, the updater handles no more window events.
kill "$app"
wait "$app" || { echo "the updater did not end cleanly" >&2; exit 1; }
