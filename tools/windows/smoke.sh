#!/usr/bin/env bash
# Smoke test of a Windows folder made by build.sh, under Wine and Xvfb.
#   Run 1: a Windows stand-in for dfu-util (standin-dfu.cpp) and a loopback
#          HTTP server drive a complete successful update.
#   Run 2: the folder's real dfu-util.exe finds no unit (Wine reaches no USB).
# Usage: smoke.sh <folder>. STROBIX_SCREENSHOT_DIR, if set, receives
# windows-update-ok.png and windows-no-device.png.
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
t_start=$SECONDS
folder=$(cd "${1:?usage: smoke.sh <folder>}" && pwd)
exe=$folder/strobix-updater.exe
[ -f "$exe" ] || { echo "no strobix-updater.exe in $folder" >&2; exit 1; }
ensure_packages wine64 wine xvfb xdotool imagemagick x11-utils python3 g++-mingw-w64-x86-64-posix

title='^strobix Firmware Updater$'
work=$(mktemp -d /tmp/strobix-smoke.XXXXXX)
pids=()
fail() {
    echo "smoke: FAIL: $*" >&2
    [ -z "${DISPLAY:-}" ] || import -window root "$work/failure.png" 2>/dev/null || true
    exit 1
}

cleanup() {
    local status=$?
    if [ -n "${WINEPREFIX:-}" ]; then timeout 30 wineserver -k 2>/dev/null || true; fi
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "smoke: logs and screenshots kept in $work" >&2; fi
}
trap cleanup EXIT

# Waits until a command succeeds, checking every 0.2 s, at most $1 seconds.
wait_for() {
    local limit=$1; shift
    local end=$((SECONDS + limit))
    until "$@" 2>/dev/null; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.2
    done
}

# The server address is compiled into the program; serve exactly there.
url=$(grep -aoE 'http://127\.0\.0\.1:[0-9]+/firmware/' "$exe" | head -n1 || true)
[ -n "$url" ] || fail "the program's firmware URL is not a loopback http://127.0.0.1:<port>/firmware/ one"
port=${url#http://127.0.0.1:}; port=${port%%/*}
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
! port_open || fail "port $port is in use already"

# --- X server, Wine prefix ------------------------------------------------
Xvfb -displayfd 5 -screen 0 800x600x24 -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
pids+=($!)
wait_for 30 test -s "$work/display" || fail "Xvfb did not start"
DISPLAY=:$(head -n1 "$work/display")
export DISPLAY
export WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
# No Mono or Gecko installer dialogs: they would wait for a click forever.
export WINEDLLOVERRIDES="mscoree,mshtml="
t0=$SECONDS
timeout 180 wineboot --init </dev/null >"$work/wineboot.log" 2>&1 || fail "wineboot failed"
timeout 120 wineserver -w || fail "wineserver did not settle"
log "wine prefix: $((SECONDS - t0)) s"
localappdata=$(timeout 60 wine cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')
[ -n "$localappdata" ] || fail "no %LOCALAPPDATA% in the prefix"
data_unix="$(timeout 60 winepath -u "$localappdata" 2>/dev/null)/Orvane kelvio GmbH/strobix Firmware Updater/kelvio"
# Qt's DataLocation as the program gives it to the tool: forward slashes.
data_win="${localappdata//\\//}/Orvane kelvio GmbH/strobix Firmware Updater/kelvio/"

# --- firmware server ------------------------------------------------------
mkdir -p "$work/www/firmware"
head -c 204800 /dev/urandom > "$work/www/firmware/SX2100b0.dfu"
python3 -m http.server "$port" --bind 127.0.0.1 --directory "$work/www" >"$work/http.log" 2>&1 &
pids+=($!)
wait_for 30 port_open || fail "the HTTP server did not start"

app_pid=
start_app() { # <working folder> <log name> <program>
    (cd "$1" && exec timeout 180 wine "$3" </dev/null >"$work/$2.log" 2>&1) &
    app_pid=$!
    pids+=("$app_pid")
}
app_ended() { ! kill -0 "$app_pid" 2>/dev/null; }
# Confirms the box and closes the window as a user would; the program must then
# end by itself. Only if it does not are the prefix's processes ended.
stop_app() { # <run name>
    local rc=0
    xdotool key Return
    wait_for 20 sh -c "[ \$(xdotool search --onlyvisible --name '$title' | wc -l) -le 1 ]" \
        || fail "$1: the box did not close on Return"
    xdotool key alt+F4
    if wait_for 30 app_ended; then
        wait "$app_pid" || rc=$?
        [ "$rc" -eq 0 ] || fail "$1: the program ended with $rc"
    else
        timeout 30 wineserver -k 2>/dev/null || true
        fail "$1: the program did not end after its window was closed"
    fi
    timeout 30 wineserver -w || true
}
main_window() {
    timeout 90 xdotool search --sync --onlyvisible --name "$title" 2>/dev/null | head -n1
}
# Progress dialogs carry the program's title too, but close when their work
# ends; the outcome box stays until it is confirmed. So the box is the one
# other window that stays the same for 2 s (giving up after $2 s).
wait_for_box() { # <main window> <limit s>
    local main=$1 end=$((SECONDS + $2)) seen='' same=0 now
    while [ "$SECONDS" -lt "$end" ]; do
        now=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | grep -vx "$main" | tr '\n' ' ' || true)
        if [ -n "$now" ] && [ "$now" = "$seen" ] && [ "$(wc -w <<< "$now")" -eq 1 ]; then
            same=$((same + 1))
            [ "$same" -lt 10 ] || return 0
        else
            same=0
        fi
        seen=$now
        sleep 0.2
    done
    return 1
}
# The box is drawn, not only mapped, once it has more than a few colours.
box_drawn() {
    local w colours
    for w in $(xdotool search --onlyvisible --name "$title"); do
        [ "$w" = "$1" ] && continue
        colours=$(import -window "$w" png:- 2>/dev/null | identify -format '%k' - 2>/dev/null || echo 0)
        [ "${colours:-0}" -gt 8 ] && return 0
    done
    return 1
}
# Start's top-left is at (-2, 336) of the 480x480 client area; click inside it.
# Should the X window ever include a frame, the client area is taken as
# centred horizontally and at the bottom.
click_start() {
    local w=$1 WIDTH HEIGHT X Y SCREEN WINDOW
    eval "$(xdotool getwindowgeometry --shell "$w")"
    local ox=$(((WIDTH - 480) / 2)) oy
    oy=$((HEIGHT - 480 - ox))
    # Wine takes a press only where it has seen the pointer arrive: move in
    # two steps, then click as a separate request.
    xdotool mousemove --window "$w" $((70 + ox)) $((385 + oy))
    xdotool mousemove --window "$w" $((74 + ox)) $((389 + oy))
    xdotool click 1
}
screenshot() { # <name>
    import -window root "$work/$1.png"
    if [ -n "${STROBIX_SCREENSHOT_DIR:-}" ]; then
        mkdir -p "$STROBIX_SCREENSHOT_DIR"
        cp "$work/$1.png" "$STROBIX_SCREENSHOT_DIR/$1.png"
    fi
}

# --- run 1: complete update with the stand-in -----------------------------
t0=$SECONDS
# Windows looks for "dfu-util/dfu-util.exe" beside the program before it looks
# in the working folder, so the stand-in goes into a copy of the folder.
mkdir -p "$work/control"
cp -r "$folder" "$work/run1"
$MINGW_CXX -O2 -municode -static -s -o "$work/run1/dfu-util/dfu-util.exe" "$here/standin-dfu.cpp"
STROBIX_STANDIN_DIR=$(timeout 60 winepath -w "$work/control")
export STROBIX_STANDIN_DIR
printf 'upload 2100b0ffffffffff\n' > "$work/control/run1.txt"
{
    printf 'out dfu-util 0.11\\n\\nOpening DFU capable USB device...\\n\n'
    for p in 0 25 50 75 100; do
        bar=$(printf '%*s' $((p / 4)) '' | tr ' ' '=')
        printf 'out \\rDownload\\t[%-25s] %3d%%        %d bytes\n' "$bar" "$p" $((p * 100))
    done
    printf 'out \\n\n'
} > "$work/control/run2.txt"

exe1=$work/run1/strobix-updater.exe
start_app "$work/run1" app1 "$exe1"
win=$(main_window) || true
[ -n "$win" ] || fail "run 1: the main window did not appear"
for attempt in 1 2 3; do
    click_start "$win"
    ! wait_for 15 test -s "$work/control/calls.txt" || break
    [ "$attempt" -lt 3 ] || fail "run 1: pressing Start did not start the tool"
done
installed() { [ "$(wc -l < "$work/control/calls.txt")" -ge 2 ] && grep -aq '100%' "$data_unix/dfu-util.log"; }
wait_for 90 installed || fail "run 1: the install did not run to its end"
wait_for_box "$win" 60 || fail "run 1: no outcome box"
wait_for 30 box_drawn "$win" || fail "run 1: the outcome box was not drawn"
screenshot windows-update-ok

dump="${data_win}strobix.otp"
image="${data_win}SX2100b0.dfu"
tab_joined() { local IFS=$'\t'; echo "$*"; }
expected=$(tab_joined -d 0483:df11 -i 0 -a 0 -s 0x0800F800:8 -U "$dump"
           tab_joined -d 0483:df11 -c 1 -i 0 -a 0 -D "$image")
[ "$(cat "$work/control/calls.txt")" = "$expected" ] \
    || fail "run 1: the tool's command lines differ; expected:
$expected
got:
$(cat "$work/control/calls.txt")"
[ -d "$data_unix" ] || fail "run 1: no data folder $data_unix"
cmp -s "$work/www/firmware/SX2100b0.dfu" "$data_unix/SX2100b0.dfu" || fail "run 1: the image did not land in $data_unix"
[ ! -e "$data_unix/strobix.otp" ] || fail "run 1: the identification dump was left behind"
head -n1 "$data_unix/dfu-util.log" | grep -q '^dfu-util 0.11' || fail "run 1: dfu-util.log lacks the install output"
grep -aq 'Download.*100%' "$data_unix/dfu-util.log" || fail "run 1: dfu-util.log lacks the progress"
grep -q '"GET /firmware/SX2100b0.dfu HTTP/1.1" 200' "$work/http.log" || fail "run 1: the image was not fetched"
stop_app "run 1"
log "run 1 (update ok): $((SECONDS - t0)) s"

# --- run 2: real dfu-util.exe, no unit ------------------------------------
t0=$SECONDS
image_requests() { grep -c 'GET /firmware/[^ ]*\.dfu' "$work/http.log" || true; }
requests=$(image_requests)
start_app "$folder" app2 "$exe"
win=$(main_window) || true
[ -n "$win" ] || fail "run 2: the main window did not appear"
for attempt in 1 2 3; do
    click_start "$win"
    ! wait_for_box "$win" 30 || break
    [ "$attempt" -lt 3 ] || fail "run 2: no outcome box"
done
wait_for 30 box_drawn "$win" || fail "run 2: the outcome box was not drawn"
screenshot windows-no-device
[ "$(image_requests)" = "$requests" ] || fail "run 2: something was downloaded"
[ ! -e "$data_unix/strobix.otp" ] || fail "run 2: the identification dump was left behind"
stop_app "run 2"
log "run 2 (no unit): $((SECONDS - t0)) s"

log "smoke: passed in $((SECONDS - t_start)) s"
