#!/usr/bin/env bash
# Closes the real updater in the middle of each phase of an update, the way a
# user does (the progress dialog first, then the main window, both through the
# window manager), and checks that it ends by itself, cleanly, without leaving
# a half-run dfu-util or a partial image behind.
#
#   close-phases.sh BUILD_DIR|UPDATER FAKEDFU
#
# BUILD_DIR holds strobix-updater and CMakeCache.txt (for the firmware port);
# given the updater itself, its folder is taken as BUILD_DIR. FAKEDFU is the
# scripted stand-in for dfu-util. Needs Xvfb, openbox, xdotool, xprop and
# python3. Prints one line per phase; exits non-zero on any failure.
# CLOSE_PHASES_TRACE=1 traces every step on stderr.
set -uo pipefail

if [ -f "$1" ]; then
    build=$(cd "$(dirname "$1")" && pwd)
    updater=$build/$(basename "$1")
else
    build=$(cd "$1" && pwd)
    updater=$build/strobix-updater
fi
fake=$(cd "$(dirname "$2")" && pwd)/$(basename "$2")
here=$(cd "$(dirname "$0")" && pwd)
server_script=$here/../tools/slow-firmware-server.py
image=SX2100b0.dfu

for tool in Xvfb openbox xdotool xprop python3; do
    command -v "$tool" > /dev/null || { echo "close-phases: $tool is missing" >&2; exit 1; }
done
[ -x "$updater" ] || { echo "close-phases: no $updater" >&2; exit 1; }
[ -x "$fake" ] || { echo "close-phases: no $fake" >&2; exit 1; }

base_url=$(sed -n 's/^STROBIX_FIRMWARE_BASE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
port=$(printf '%s\n' "$base_url" | sed -n 's|^[a-z]*://[^:/]*:\([0-9]*\)/.*|\1|p')
[ -n "$port" ] || { echo "close-phases: no port in the firmware URL '$base_url'" >&2; exit 1; }

top=$(mktemp -d)
pids=()
cleanup() {
    local p
    for p in "${pids[@]}"; do kill "$p" 2> /dev/null; done
    wait 2> /dev/null
    rm -rf "$top"
}
trap cleanup EXIT

# Polls COMMAND every 0.1 s until it succeeds or TENTHS tries have passed.
poll() {
    local tenths=$1
    shift
    local i
    for ((i = 0; i < tenths; i++)); do
        "$@" && return 0
        sleep 0.1
    done
    return 1
}

port_open() { (exec 3<> "/dev/tcp/127.0.0.1/$port") 2> /dev/null; }
port_closed() { ! port_open; }

# The visible windows of the updater, one id per line.
windows() { xdotool search --onlyvisible --pid "$app" 2> /dev/null || true; }
# Puts the first visible window other than the main window (and any given) in $other.
other_window() {
    local w
    other=""
    for w in $(windows); do
        case " $main $* " in *" $w "*) ;; *) other=$w; return 0 ;; esac
    done
    return 1
}
window_gone() { ! windows | grep -qx "$1"; }
has_main() { main=$(windows | head -n 1); [ -n "$main" ]; }
call_count() { [ -f "$control/calls.jsonl" ] && [ "$(wc -l < "$control/calls.jsonl")" -ge "$1" ]; }
image_and_dialog() { [ -f "$data/$image" ] && other_window; }
app_ended() { ! kill -0 "$app" 2> /dev/null; }
# Processes started for this phase (the fake inherits the control directory).
# /proc entries that vanish while being read make grep fail, which is no fault.
leftovers() {
    { grep -lsaF "STROBIX_FAKE_DFU_DIR=$control" /proc/[0-9]*/environ 2> /dev/null || true; } \
        | sed 's|/proc/\([0-9]*\)/environ|\1|'
}

# With CLOSE_PHASES_TRACE set, says what is going on, with the window titles.
trace() {
    [ -n "${CLOSE_PHASES_TRACE:-}" ] || return 0
    local w names=""
    for w in $(windows); do names="$names $w='$(xdotool getwindowname "$w" 2> /dev/null)'"; done
    echo "  [$(date +%T.%N | cut -c1-12)] $*; windows:$names" >&2
}

# True while the fake dfu-util of this phase runs (the updater carries the same
# environment, so it is left out).
tool_running() {
    local found
    found=$(leftovers | grep -vx "$app")
    [ -n "$found" ]
}

# Closes a window as a user does: Alt+F4 while it is the active window, so that
# the window manager sends WM_DELETE_WINDOW (xdotool's own close destroys it).
# A busy window manager may not have taken a new window yet, so activation is
# retried; the key goes out only once the window is active, so that it cannot
# close another one.
close_window() {
    trace "closing $1"
    local i
    for ((i = 0; i < 100; i++)); do
        window_gone "$1" && return 0
        if [ "$(xdotool getactivewindow 2> /dev/null)" = "$1" ]; then
            xdotool key --clearmodifiers alt+F4
            poll 30 window_gone "$1" && return 0
        else
            xdotool windowactivate "$1" > /dev/null 2>&1
            sleep 0.1
        fi
    done
    failures+=("could not close window $1")
    return 1
}

# Answers a message box with Return, once it is the active window.
answer() {
    local i
    for ((i = 0; i < 100; i++)); do
        window_gone "$1" && return 0
        if [ "$(xdotool getactivewindow 2> /dev/null)" = "$1" ]; then
            xdotool key --clearmodifiers Return
            poll 30 window_gone "$1" && return 0
        else
            xdotool windowactivate "$1" > /dev/null 2>&1
            sleep 0.1
        fi
    done
    return 1
}

run_phase() {
    local phase=$1 rate=$2
    local dir=$top/$phase
    control=$dir/control
    data=$dir/xdg/"Orvane kelvio GmbH"/"strobix Firmware Updater"/kelvio
    local work=$dir/work firmware=$dir/firmware runtime=$dir/runtime
    mkdir -p "$control" "$work/dfu-util" "$firmware" "$runtime" "$dir/xdg"
    chmod 700 "$runtime"
    ln -s "$fake" "$work/dfu-util/dfu-util"
    ln -s "$fake" "$work/dfu-util/dfu-util.exe"
    head -c 49152 /dev/urandom > "$dir/image.bin"
    dfuse-pack -b "0x08004000:$dir/image.bin" -D 0x0483:0xdf11 "$firmware/$image" > /dev/null

    # The unit's identity: an X21 record in the first area.
    {
        if [ "$phase" = identifying ]; then
            printf '%s\n' 'out Opening DFU capable USB device...\n' 'pause 3000'
        fi
        printf '%s\n' 'upload 21 00 b0 ff ff ff ff ff'
    } > "$control/run1.txt"
    printf '%s\n' 'out \rDownload\t[==  ]  40%' 'pause 3000' \
        'out \rDownload\t[====] 100%\nDownload done.\n' 'exit 0' > "$control/run2.txt"

    local failures=() started closed="" ended code=none box="" phase_pids=()
    started=$(date +%s.%N)
    # Stops what this phase started when it cannot go on.
    give_up() {
        echo "$phase: FAIL: $1"
        kill "${phase_pids[@]}" 2> /dev/null
        wait "${phase_pids[@]}" 2> /dev/null
        unset DISPLAY
        return 1
    }

    # Each phase has its own display and window manager.
    exec {fd}<> <(:)
    Xvfb -displayfd "$fd" -screen 0 1024x768x24 -nolisten tcp > /dev/null 2>&1 &
    local xvfb=$!
    pids+=("$xvfb")
    phase_pids+=("$xvfb")
    local display=""
    read -r -t 30 -u "$fd" display
    exec {fd}>&-
    [ -n "$display" ] || { give_up "Xvfb did not start"; return 1; }
    export DISPLAY=:$display
    openbox --sm-disable > /dev/null 2>&1 &
    local wm=$!
    pids+=("$wm")
    phase_pids+=("$wm")
    poll 100 sh -c 'xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "window id"' \
        || { give_up "openbox did not start"; return 1; }

    poll 100 port_closed || { give_up "port $port is taken"; return 1; }
    python3 "$server_script" "$firmware" "$port" "$rate" 2> "$dir/server.err" &
    local server=$!
    pids+=("$server")
    phase_pids+=("$server")
    poll 100 port_open || { give_up "the firmware server did not start"; return 1; }

    (cd "$work" && exec env QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$dir/xdg" \
        XDG_RUNTIME_DIR="$runtime" STROBIX_FAKE_DFU_DIR="$control" \
        "$updater" > "$dir/stdout" 2> "$dir/stderr") &
    app=$!
    pids+=("$app")

    if ! poll 300 has_main; then
        failures+=("no main window")
    else
        sleep 0.3 # nothing to await: the window is mapped but may not have drawn yet
        xdotool mousemove --window "$main" 74 393 click 1
        case $phase in
        identifying)
            if poll 300 call_count 1; then
                tool_running || failures+=("dfu-util had ended before the close: too slow to test")
                closed=$(date +%s.%N)
                close_window "$main"
            else
                failures+=("dfu-util was not started")
            fi
            ;;
        downloading)
            if poll 300 image_and_dialog; then
                # The dialog blocks the main window; closing it cancels the download.
                local dialog=$other
                close_window "$dialog"
                poll 100 window_gone "$dialog" || failures+=("the download dialog stayed")
                # The cancelled download is reported in a message box, which is
                # application-modal: it must be answered before main can close.
                if poll 100 other_window "$dialog"; then
                    box=$other
                    trace "answering $box"
                    answer "$box" || failures+=("the message box stayed")
                fi
                [ -e "$data/$image" ] && failures+=("the partial image is still there while running")
                closed=$(date +%s.%N)
                close_window "$main"
            else
                failures+=("the download did not begin")
            fi
            ;;
        installing)
            # The download dialog may still be mapped when the tool starts, so it
            # is told apart from the install dialog by having been seen first.
            if poll 300 image_and_dialog && download_dialog=$other \
                && poll 300 call_count 2 && poll 100 other_window "$download_dialog"; then
                # Closing the install dialog only hides it; the tool goes on.
                local dialog=$other
                close_window "$dialog"
                poll 100 window_gone "$dialog" || failures+=("the install dialog stayed")
                tool_running || failures+=("dfu-util had ended before the close: too slow to test")
                closed=$(date +%s.%N)
                close_window "$main"
            else
                failures+=("the installation did not begin")
            fi
            ;;
        esac
    fi

    trace "waiting for the end"
    if poll 300 app_ended; then
        wait "$app"
        code=$?
    else
        failures+=("still running 30 s after the close")
        kill "$app" 2> /dev/null
        wait "$app" 2> /dev/null
    fi
    ended=$(date +%s.%N)

    [ "$code" = 0 ] || failures+=("exit code $code")
    local bad
    for bad in "QThread: Destroyed" "QProcess: Destroyed" ASSERT Fatal Segmentation; do
        grep -qF "$bad" "$dir/stderr" && failures+=("stderr has '$bad'")
    done
    # An orphaned child would have been handed to init; its environment still names the phase.
    local left
    left=$(leftovers | tr '\n' ' ')
    [ -z "$left" ] || failures+=("processes left: $left")
    # Nothing went on after the close: no further run of the tool.
    local calls=0 want=1
    [ -f "$control/calls.jsonl" ] && calls=$(wc -l < "$control/calls.jsonl")
    [ "$phase" = installing ] && want=2
    [ "$calls" -eq "$want" ] || failures+=("dfu-util ran $calls times, not $want")
    case $phase in
    identifying)
        [ -e "$data/$image" ] && failures+=("$image was downloaded after the close")
        ;;
    downloading)
        [ -e "$data/$image" ] && failures+=("partial $image left in the data folder")
        ;;
    installing)
        python3 - "$data/dfu-util.log" << 'EOF' || failures+=("dfu-util.log does not end with 'Download done.\\n'")
import sys
try:
    sys.exit(0 if open(sys.argv[1], "rb").read().endswith(b"Download done.\n") else 1)
except OSError:
    sys.exit(1)
EOF
        ;;
    esac

    kill "$server" "$wm" "$xvfb" 2> /dev/null
    wait "$server" "$wm" "$xvfb" 2> /dev/null
    unset DISPLAY

    local took after=""
    took=$(awk -v a="$started" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')
    [ -n "$closed" ] && after=$(awk -v a="$closed" -v b="$ended" 'BEGIN { printf "%.1f", b - a }')
    local note=""
    [ "$phase" = downloading ] && note=${box:+, answered the download failure box}
    [ "$phase" = downloading ] && [ -z "$box" ] && note=", no download failure box"
    if [ ${#failures[@]} -eq 0 ]; then
        echo "$phase: ok (exit 0, ended ${after} s after the main window was closed, phase ${took} s$note)"
        return 0
    fi
    local f
    echo "$phase: FAIL (${took} s):"
    for f in "${failures[@]}"; do echo "  $f"; done
    sed 's/^/  stderr: /' "$dir/stderr" | head -n 20
    return 1
}

status=0
run_phase identifying 1048576 || status=1
run_phase downloading 4096 || status=1
run_phase installing 16384 || status=1
exit $status
