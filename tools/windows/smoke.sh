#!/usr/bin/env bash
# Smoke test of a Windows folder made by build.sh, under Wine and Xvfb: the
# folder's shipped dfu-util.exe finds no unit (Wine reaches no USB), and nothing
# is downloaded. Whole updates are e2e.sh's rows.
# Usage: smoke.sh <folder>. STROBIX_SCREENSHOT_DIR, if set, receives
# windows-no-device.png.
. "$(dirname "$0")/common.sh"
. "$windows/wine.sh"
# The program's fixed firmware port, in a network namespace of its own.
own_loopback "$0" "$@"
folder=$(cd "${1:?usage: smoke.sh <folder>}" && pwd)
exe=$folder/strobix-updater.exe
[ -f "$exe" ] || { echo "no strobix-updater.exe in $folder" >&2; exit 1; }
ensure_packages wine64 wine xvfb xdotool imagemagick x11-utils python3

title='^strobix Firmware Updater$'
work=$(mktemp -d /tmp/strobix-smoke.XXXXXX)
trap 'wine_finish $? "smoke: logs and screenshots"' EXIT

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
background+=($!)
poll 300 port_open 2>/dev/null || fail "the HTTP server did not start"

app_pid=
start_app() { # <working folder> <log name> <program>
    (cd "$1" && exec timeout 180 wine "$3" </dev/null >"$work/$2.log" 2>&1) &
    app_pid=$!
    background+=("$app_pid")
}
stop_app() { # <run name>
    local rc
    close_app "$1"
    [ "$rc" -eq 0 ] || fail "$1: the program ended with $rc"
    timeout 30 wineserver -w || true
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
win=$(poll 900 window_named "$title" 2>/dev/null) || true
[ -n "$win" ] || fail "no unit: the main window did not appear"
for attempt in 1 2 3; do
    click_start "$win"
    ! wait_for_box "$win" 30 || break
    [ "$attempt" -lt 3 ] || fail "no unit: no outcome box"
done
poll 300 box_drawn "$win" 2>/dev/null || fail "no unit: the outcome box was not drawn"
screenshot windows-no-device
[ "$(image_requests)" = "$requests" ] || fail "no unit: something was downloaded"
[ ! -e "$data_unix/strobix.otp" ] || fail "no unit: the identification dump was left behind"
stop_app "no unit"
log "no unit: $((SECONDS - t0)) s"

log "smoke: passed in $((SECONDS - t_start)) s"
