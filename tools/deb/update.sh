#!/usr/bin/env bash
# Runs the installed updater, started by its launcher on PATH as a desktop does,
# through one whole update under Xvfb: a virtual unit behind the system's
# dfu-util, the images served by nginx on the package's firmware port, Start
# pressed with xdotool. Then checks the outcome box's text, the unit's memory
# and the data folder.
#
#   update.sh VU_LIB_DIR VU_TOOL PORT [MODEL]
#
# VU_LIB_DIR holds the virtual unit's libusb-1.0.so.0, VU_TOOL is its vu-tool.
# Runs in a private network namespace of its own, so that the port is free
# whatever else runs. Needs Xvfb, openbox, xdotool, xprop, xclip, nginx,
# curl and dfu-util.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
. "$top/tests/support/common.sh"
own_loopback "$0" "$@"

vu_lib=$(cd "$1" && pwd)
vu_tool=$2
port=$3
model=${4:-x21-canon}
for tool in Xvfb openbox xdotool xprop xclip strobix-updater; do
    command -v "$tool" > /dev/null || { echo "update: $tool is missing" >&2; exit 1; }
done

scratch=$(mktemp -d)
cleanup() {
    stop_all
    STROBIX_NGINX_RUN=$scratch/nginx "$top/tools/firmware/nginx.sh" stop "$scratch/firmware" "$port" > /dev/null 2>&1 || true
    rm -rf "$scratch"
}
trap cleanup EXIT
fail() { echo "update: FAIL: $*" >&2; exit 1; }

mkdir -p "$scratch/firmware" "$scratch/home" "$scratch/runtime" "$scratch/elsewhere"
chmod 700 "$scratch/runtime"
"$top/tools/firmware/make-images.sh" "$scratch/firmware" > /dev/null
STROBIX_NGINX_RUN=$scratch/nginx "$top/tools/firmware/nginx.sh" start "$scratch/firmware" "$port" > /dev/null
"$vu_tool" init "$scratch/pristine" "$model" > /dev/null
cp "$scratch/pristine" "$scratch/unit"

start_xvfb || fail "Xvfb did not start"
start_openbox || fail "openbox did not start"

# A fresh home, and a working directory elsewhere: the launcher must find the
# program's folder itself. The system's dfu-util inherits LD_LIBRARY_PATH and so
# talks to the virtual unit.
(cd "$scratch/elsewhere" && exec env -u XDG_DATA_HOME -u XDG_CONFIG_HOME -u XDG_CACHE_HOME \
    HOME="$scratch/home" XDG_RUNTIME_DIR="$scratch/runtime" QT_QPA_PLATFORM=xcb \
    LD_LIBRARY_PATH="$vu_lib" STROBIX_VU_STATE="$scratch/unit" STROBIX_VU_MODEL="$model" \
    strobix-updater > "$scratch/stdout" 2> "$scratch/stderr") &
app=$!
background+=("$app")

poll 300 other_window "$app" || fail "no main window; stderr: $(cat "$scratch/stderr")"
main=$window
# Mapped is not enough: a click before the first frame can be lost.
poll 300 drawn "$main" || fail "the main window was never drawn"
xdotool mousemove --window "$main" 74 393 click 1

# The outcome box's label can be selected with the mouse; a triple click selects
# its first line, which X then offers as the primary selection. The progress
# dialogs' labels cannot be selected, so nothing is offered until the box is up.
box_text=""
outcome() {
    kill -0 "$app" 2> /dev/null || fail "the updater ended; stderr: $(cat "$scratch/stderr")"
    local active
    active=$(xdotool getactivewindow 2> /dev/null) || return 1
    [ -n "$active" ] && [ "$active" != "$main" ] || return 1
    xdotool mousemove --window "$active" 70 20 click --repeat 3 --delay 80 1
    box_text=$(timeout 5 xclip -o -selection primary 2> /dev/null) || true
    [ -n "$box_text" ]
}
poll 600 outcome || fail "no outcome box within a minute"
box=$(xdotool getactivewindow)
xdotool key --clearmodifiers Return
poll 100 sh -c "! xdotool search --onlyvisible --pid $app 2>/dev/null | grep -qx $box" \
    || fail "the outcome box stayed"
xdotool windowactivate "$main" > /dev/null 2>&1 || true
xdotool key --clearmodifiers alt+F4
poll 100 ended "$app" || fail "the updater did not end on closing its window"

failures=()
[ "$box_text" = "Firmware Update ok" ] || failures+=("the box says '$box_text'")
data="$scratch/home/.local/share/Orvane kelvio GmbH/strobix Firmware Updater/kelvio"
images=$(cd "$data" 2> /dev/null && ls -- *.dfu 2> /dev/null || true)
if [ "$(echo "$images" | wc -w)" != 1 ]; then
    failures+=("the data folder holds '$images', not one image")
else
    cmp -s "$data/$images" "$scratch/firmware/$images" || failures+=("$images differs from the server's")
    "$vu_tool" compare "$scratch/unit" "$scratch/firmware/$images" "$scratch/pristine" > "$scratch/compare" 2>&1 \
        || failures+=("the unit does not hold $images: $(cat "$scratch/compare")")
    grep -q "\"GET /firmware/$images HTTP/1.1\" 200 " "$scratch/nginx/access.log" \
        || failures+=("nginx did not serve $images on port $port")
fi
grep -q "Download done" "$data/dfu-util.log" 2> /dev/null || failures+=("dfu-util.log does not show the download")
[ ! -e "$data/strobix.otp" ] || failures+=("strobix.otp is left in the data folder")

if [ ${#failures[@]} -gt 0 ]; then
    printf 'update: FAIL: %s\n' "${failures[@]}" >&2
    sed 's/^/  stderr: /' "$scratch/stderr" | head -n 20 >&2
    exit 1
fi
echo "update ok: '$box_text', $images written into a virtual $model unit, served on port $port"
