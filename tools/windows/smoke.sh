#!/usr/bin/env bash
# Smoke test of a Windows folder made by build.sh, under Wine and Xvfb: the
# folder's shipped dfu-util.exe finds no unit (Wine reaches no USB), and nothing
# is downloaded. Whole updates are e2e.sh's rows.
# Usage: smoke.sh <folder>. STROBIX_SCREENSHOT_DIR, if set, receives
# windows-no-device.png.
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
. "$here/common.sh"
. "$here/wine.sh"
# The program's fixed firmware port, in a network namespace of its own.
. "$here/../../tests/support/common.sh"
own_loopback "$0" "$@"
t_start=$SECONDS
folder=$(cd "${1:?usage: smoke.sh <folder>}" && pwd)
exe=$folder/strobix-updater.exe
[ -f "$exe" ] || { echo "no strobix-updater.exe in $folder" >&2; exit 1; }
ensure_packages wine64 wine xvfb xdotool imagemagick x11-utils python3

title='^strobix Firmware Updater$'
work=$(mktemp -d /tmp/strobix-smoke.XXXXXX)
pids=()

cleanup() {
    local status=$?
    wine_end
    local pid
    for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${pids[@]}"; do wait "$pid" 2>/dev/null || true; done
    if [ "$status" -eq 0 ]; then rm -rf "$work"; else echo "smoke: logs and screenshots kept in $work" >&2; fi
}
trap cleanup EXIT

# The server address is compiled into the program; serve exactly there.
url=$(grep -aoE 'http://127\.0\.0\.1:[0-9]+/firmware/' "$exe" | head -n1 || true)
[ -n "$url" ] || fail "the program's firmware URL is not a loopback http://127.0.0.1:<port>/firmware/ one"
port=${url#http://127.0.0.1:}; port=${port%%/*}
port_open() { (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null; }
! port_open || fail "port $port is in use already"

# --- X server, Wine prefix ------------------------------------------------
wine_session "$work" || fail "no Wine session"
localappdata=$(timeout 60 wine cmd /c 'echo %LOCALAPPDATA%' </dev/null 2>/dev/null | tr -d '\r')
[ -n "$localappdata" ] || fail "no %LOCALAPPDATA% in the prefix"
data_unix="$(timeout 60 winepath -u "$localappdata" 2>/dev/null)/Orvane kelvio GmbH/strobix Firmware Updater/kelvio"

# --- firmware server ------------------------------------------------------
mkdir -p "$work/www/firmware"
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
# Polled rather than xdotool's --sync, which gives up when a window it looks at
# goes away, as Wine's start-up windows do.
main_window() {
    local end=$((SECONDS + 90)) w
    while [ "$SECONDS" -lt "$end" ]; do
        w=$(xdotool search --onlyvisible --name "$title" 2>/dev/null | head -n1 || true)
        [ -z "$w" ] || { echo "$w"; return 0; }
        sleep 0.2
    done
    return 1
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
screenshot() { # <name>
    import -window root "$work/$1.png"
    if [ -n "${STROBIX_SCREENSHOT_DIR:-}" ]; then
        mkdir -p "$STROBIX_SCREENSHOT_DIR"
        cp "$work/$1.png" "$STROBIX_SCREENSHOT_DIR/$1.png"
    fi
}

# --- real dfu-util.exe, no unit -------------------------------------------
t0=$SECONDS
image_requests() { grep -c 'GET /firmware/[^ ]*\.dfu' "$work/http.log" || true; }
requests=$(image_requests)
start_app "$folder" app "$exe"
win=$(main_window) || true
[ -n "$win" ] || fail "no unit: the main window did not appear"
for attempt in 1 2 3; do
    click_start "$win"
    ! wait_for_box "$win" 30 || break
    [ "$attempt" -lt 3 ] || fail "no unit: no outcome box"
done
wait_for 30 box_drawn "$win" || fail "no unit: the outcome box was not drawn"
screenshot windows-no-device
[ "$(image_requests)" = "$requests" ] || fail "no unit: something was downloaded"
[ ! -e "$data_unix/strobix.otp" ] || fail "no unit: the identification dump was left behind"
stop_app "no unit"
log "no unit: $((SECONDS - t0)) s"

log "smoke: passed in $((SECONDS - t_start)) s"
