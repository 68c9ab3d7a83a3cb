#!/usr/bin/env bash
# Closes the real updater in the middle of each phase of an update, the way a
# user does (the progress dialog first, then the main window, both through the
# window manager), and checks that it ends by itself, cleanly, without leaving
# a half-run dfu-util or a partial image behind.
#
#   close-phases.sh BUILD_DIR SOURCE_DIR
#
# BUILD_DIR holds strobix-updater, tests/fakedfu/fakedfu (the scripted stand-in
# for dfu-util) and CMakeCache.txt (for the firmware port). Needs Xvfb, openbox,
# xdotool, xprop and ImageMagick. Prints one line per phase; exits non-zero on any failure.
set -uo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
. "$source_dir/tests/support/common.sh"
own_loopback "$0" "$@"
updater=$build/strobix-updater fake=$build/tests/fakedfu/fakedfu image=SX2100b0.dfu
url=$(sed -n 's/^STROBIX_FIRMWARE_BASE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
port=$(printf '%s\n' "$url" | sed -n 's|^[a-z]*://[^:/]*:\([0-9]*\)/.*|\1|p')
top=$(mktemp -d)
trap 'stop_all; rm -rf "$top"' EXIT

hex() { printf "$1" | od -An -tx1 | tr -d ' \n'; }
# Processes of this phase, the updater left out (the fake inherits the control folder).
tool_running() {
    local found
    found=$(grep -lsaF "STROBIX_FAKE_DFU_DIR=$control" /proc/[0-9]*/environ | grep -v "^/proc/$app/")
    [ -n "$found" ]
}
gone() { ! xdotool search --onlyvisible --pid "$app" 2> /dev/null | grep -qx "$1"; }

# Presses KEY in window W once it is the active one, as a user does: Alt+F4 makes
# the window manager send WM_DELETE_WINDOW. A busy window manager may not have
# taken a new window yet, so activation is retried.
press() {
    local w=$1 key=$2 i
    for ((i = 0; i < 100; i++)); do
        gone "$w" && return 0
        if [ "$(xdotool getactivewindow 2> /dev/null)" = "$w" ]; then
            xdotool key --clearmodifiers "$key"
            poll 30 gone "$w" && return 0
        else
            xdotool windowactivate "$w" > /dev/null 2>&1
            sleep 0.1
        fi
    done
    failures+=("$key did not close window $w")
}

phase() {
    local phase=$1 dir=$top/$1 failures=() main dialog code=none
    control=$dir/control
    local data=$dir/xdg/"Orvane kelvio GmbH"/"strobix Firmware Updater"/kelvio
    mkdir -p "$control" "$dir/work/dfu-util" "$dir/firmware" "$dir/xdg"
    ln -s "$fake" "$dir/work/dfu-util/dfu-util.exe"
    head -c 49152 /dev/urandom > "$dir/image.bin"
    dfuse-pack -b "0x08004000:$dir/image.bin" -D 0x0483:0xdf11 "$dir/firmware/$image" > /dev/null
    # The unit's identity: an X21 record in the first area.
    : > "$control/run1.txt"
    # Each phase's tool or download waits at a hold until the close is done.
    [ "$phase" != identifying ] || printf '%s\n' "out $(hex 'Opening DFU capable USB device...\n')" "hold identify" \
        > "$control/run1.txt"
    echo "upload 2100b0ffffffffff" >> "$control/run1.txt"
    printf '%s\n' "out $(hex '\rDownload\t[==  ]  40%%')" "hold install" \
        "out $(hex '\rDownload\t[====] 100%%\nDownload done.\n')" "exit 0" > "$control/run2.txt"

    background=()
    start_xvfb || { echo "$phase: FAIL: no Xvfb"; return 1; }
    start_openbox
    python3 "$source_dir/tools/slow-firmware-server.py" "$dir/firmware" "$port" 1048576 "$dir/serve" 2> /dev/null &
    background+=($!)
    poll 100 curl -so /dev/null "$url"
    (cd "$dir/work" && exec env QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$dir/xdg" STROBIX_FAKE_DFU_DIR="$control" \
        "$updater" > /dev/null 2> "$dir/stderr") &
    app=$!

    if ! poll 300 other_window "$app"; then
        failures+=("no main window")
    else
        main=$window
        # Mapped is not enough: a click before the first frame can be lost.
        poll 300 drawn "$main" || failures+=("the main window was never drawn")
        xdotool mousemove --window "$main" 74 393 click 1
        case $phase in
        identifying)
            poll 300 test -e "$control/identify.held" || failures+=("dfu-util did not reach its hold")
            ;;
        downloading)
            # The dialog blocks the main window; closing it cancels the download,
            # and the failure box must be answered before main can close.
            if poll 300 test -e "$dir/serve.held" && poll 100 other_window "$app" "$main"; then
                dialog=$window
                press "$dialog" alt+F4
                poll 100 other_window "$app" "$main" "$dialog" && press "$window" Return
                [ -e "$data/$image" ] && failures+=("the partial image is still there while running")
            else
                failures+=("the download did not begin")
            fi
            ;;
        installing)
            # Closing the install dialog only hides it; the tool goes on. The download
            # dialog may still be mapped when the tool starts: it is seen first.
            if poll 300 test -e "$dir/serve.held" && poll 100 other_window "$app" "$main" && dialog=$window \
                && : > "$dir/serve" && poll 300 test -e "$control/install.held" \
                && poll 100 other_window "$app" "$main" "$dialog"; then
                press "$window" alt+F4
            else
                failures+=("the installation did not begin")
            fi
            ;;
        esac
        press "$main" alt+F4
        : > "$control/identify"
        : > "$control/install"
        : > "$dir/serve"
    fi
    if poll 300 ended "$app"; then
        wait "$app"
        code=$?
    else
        failures+=("still running 30 s after the close")
        kill "$app"
    fi
    stop_all

    [ "$code" = 0 ] || failures+=("exit code $code")
    grep -E "QThread: Destroyed|QProcess: Destroyed|ASSERT|Fatal|Segmentation" "$dir/stderr" \
        && failures+=("a Qt warning or crash on stderr")
    tool_running && failures+=("dfu-util left running")
    local want=1 runs
    # The installation, then its read-back.
    [ "$phase" = installing ] && want=3
    runs=$(cat "$control/calls.txt" 2> /dev/null | wc -l)
    [ "$runs" -eq "$want" ] || failures+=("dfu-util ran $runs times, not $want")
    case $phase in
    identifying | downloading) [ -e "$data/$image" ] && failures+=("$image is in the data folder") ;;
    installing) tail -c 15 "$data/dfu-util.log" | grep -qx "Download done." \
        || failures+=("dfu-util.log does not end with 'Download done.'") ;;
    esac
    if [ ${#failures[@]} -eq 0 ]; then
        echo "$phase: ok"
        return 0
    fi
    echo "$phase: FAIL"
    printf '  %s\n' "${failures[@]}"
    return 1
}

status=0
phase identifying || status=1
phase downloading || status=1
phase installing || status=1
exit $status
