# Helpers for the test scripts that drive the real updater. Source it.
# shellcheck shell=bash

# Runs the calling script again in a network namespace of its own, so that its
# servers can use the build's fixed port beside other test runs and ./run.sh.
# Where the machine allows none, it says so and goes on with the shared port.
own_loopback() {
    [ -z "${STROBIX_OWN_LOOPBACK:-}" ] || return 0
    export STROBIX_OWN_LOOPBACK=1
    local unshare=(unshare -n)
    [ "$(id -u)" -eq 0 ] || unshare=(unshare -rn)
    if "${unshare[@]}" true 2> /dev/null; then
        exec "${unshare[@]}" bash -c 'ip link set lo up && exec bash "$0" "$@"' "$@"
    fi
    echo "note: no private network namespace here; using the shared loopback" >&2
}

# Polls COMMAND every 0.1 s until it succeeds or TENTHS tries have passed.
poll() {
    local tenths=$1 i
    shift
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

# Background processes the script started; stop_all ends them, the last
# started first, each gone before the next: a program leaves while its window
# manager and X server are still there (otherwise Qt prints a window that went
# away under it and a broken X11 connection).
background=()
stop_all() {
    local i
    for ((i = ${#background[@]} - 1; i >= 0; i--)); do
        kill "${background[i]}" 2> /dev/null || true
        wait "${background[i]}" 2> /dev/null || true
    done
}

# An X server of its own (display chosen by Xvfb), exported as DISPLAY. Its
# screen has 96 dots per inch, as a desktop at 100 % reports: at Xvfb's own
# 100, Qt would scale the updater by 1.04. It keeps what is set on its root
# window (-noreset) when the client that set it ends, and takes the next
# client at once (a reset refuses clients meanwhile).
start_xvfb() { # [WIDTHxHEIGHT]
    local fd display=""
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 "${1:-1024x768}x24" -dpi 96 -noreset -nolisten tcp > /dev/null 2>&1 &
    background+=($!)
    read -r -t 30 -u "$fd" display
    exec {fd}>&-
    [ -n "$display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$display
}

# Starts openbox, the window manager that draws the frames users see, and
# waits until it manages the screen (at most 10 s).
start_openbox() {
    openbox --sm-disable > /dev/null 2>&1 &
    background+=($!)
    poll 100 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"'
}

# Sets $window to a visible window of process PID other than those given after it.
other_window() {
    local pid=$1 w
    shift
    window=""
    for w in $(xdotool search --onlyvisible --pid "$pid" 2> /dev/null); do
        case " $* " in *" $w "*) ;; *) window=$w; return 0 ;; esac
    done
    return 1
}

# Whether window W shows a drawn frame: before its first paint it shows at
# most the two colours of the root window's pattern.
drawn() { [ "$(import -window "$1" png:- 2> /dev/null | identify -format '%k' - 2> /dev/null || echo 0)" -gt 2 ]; }

ended() { ! kill -0 "$1" 2> /dev/null; }
