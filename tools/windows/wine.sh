# Shared by the Wine checks in tools/windows/ (after common.sh): an X server
# and a fresh 64-bit Wine prefix for one run, and their end.
# shellcheck shell=bash

wine_pids=()

# Ends the script with its message and a picture of the screen in $work.
fail() {
    echo "${0##*/}: FAIL: $*" >&2
    [ -z "${DISPLAY:-}" ] || import -window root "$work/failure.png" 2>/dev/null || true
    exit 1
}

# Waits until a command succeeds, checking every 0.2 s, at most $1 seconds.
wait_for() {
    local limit=$1; shift
    local end=$((SECONDS + limit))
    until "$@" 2>/dev/null; do
        [ "$SECONDS" -lt "$end" ] || return 1
        sleep 0.2
    done
}

# Prints a visible window whose title matches, or fails when there is none.
# Poll it with wait_for: xdotool's --sync gives up as soon as a window it looks
# at goes away, as Wine's start-up windows do.
window_named() { # <title regex>
    xdotool search --onlyvisible --name "$1" 2>/dev/null | head -n1 | grep .
}

# Starts Xvfb and makes a prefix in <work>/prefix; exports DISPLAY and WINEPREFIX.
wine_session() { # <work folder> [screen WIDTHxHEIGHT]
    local work=$1 t0=$SECONDS
    Xvfb -displayfd 5 -screen 0 "${2:-1024x768}x24" -nolisten tcp 5>"$work/display" 2>"$work/xvfb.log" &
    wine_pids+=($!)
    wait_for 30 test -s "$work/display" || { echo "Xvfb did not start" >&2; return 1; }
    DISPLAY=:$(head -n1 "$work/display")
    export DISPLAY WINEPREFIX=$work/prefix WINEARCH=win64 WINEDEBUG=-all
    # No Mono or Gecko installer dialogs: they would wait for a click forever.
    # No winemenubuilder: it would copy Start-menu shortcuts into the host's menus.
    export WINEDLLOVERRIDES="mscoree,mshtml=;winemenubuilder.exe=d"
    timeout 180 wineboot --init </dev/null >"$work/wineboot.log" 2>&1 || { echo "wineboot failed" >&2; return 1; }
    timeout 120 wineserver -w || { echo "wineserver did not settle" >&2; return 1; }
    log "wine prefix: $((SECONDS - t0)) s"
}

# Ends the prefix's processes and the X server.
wine_end() {
    if [ -n "${WINEPREFIX:-}" ]; then timeout 30 wineserver -k 2>/dev/null || true; fi
    local pid
    for pid in "${wine_pids[@]}"; do kill "$pid" 2>/dev/null || true; done
    for pid in "${wine_pids[@]}"; do wait "$pid" 2>/dev/null || true; done
}

# Start's top-left is at (-2, 336) of the 480x480 client area; click inside it.
# Should the X window ever include a frame, the client area is taken as
# centred horizontally and at the bottom.
click_start() {
    # shellcheck disable=SC2034  # set by the eval
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

# A path in the prefix as Linux sees it.
unix_path() { timeout 60 winepath -u "$1" 2>/dev/null; }

# The value of a REG_SZ or REG_DWORD registry value, empty when there is none.
reg_value() { # <key> <name>
    timeout 60 wine reg query "$1" /v "$2" 2>/dev/null | tr -d '\r' \
        | sed -n "s/^ *$2 *REG_[A-Z_]* *//p"
}
