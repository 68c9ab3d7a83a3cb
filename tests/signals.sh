#!/usr/bin/env bash
# Signals to the real updater while it writes a virtual unit with the real
# dfu-util, and a file size limit during the download. The unit must hold the
# whole image whatever happens to the updater: SIGTERM, SIGINT and SIGHUP end
# it as closing the window does (the tool finishes first), also when they go
# to the whole process group (Ctrl-C, a closed terminal) or the whole session
# (a logout); after SIGKILL the tool goes on alone.
#
#   signals.sh BUILD_DIR SOURCE_DIR
#
# BUILD_DIR holds strobix-updater, virtualunit/ and CMakeCache.txt (for the
# firmware port). Runs in a private network namespace where it can.
set -uo pipefail
build=$(cd "$1" && pwd)
source_dir=$(cd "$2" && pwd)
. "$source_dir/tests/support/common.sh"
own_loopback "$0" "$@"

url=$(sed -n 's/^STROBIX_FIRMWARE_BASE_URL:[A-Z]*=//p' "$build/CMakeCache.txt")
port=$(printf '%s\n' "$url" | sed -n 's|^http://127\.0\.0\.1:\([0-9]*\)/firmware/$|\1|p')
[ -n "$port" ] || { echo "signals: the firmware URL $url is not a local one" >&2; exit 1; }
top=$(mktemp -d)
stop_server() { STROBIX_NGINX_RUN=$top/nginx bash "$source_dir/tools/firmware/nginx.sh" stop "$top/firmware" "$port" > /dev/null; }
trap 'stop_all; stop_server; rm -rf "$top"' EXIT
model=x58-pentax image=SX580173.dfu

bash "$source_dir/tools/firmware/make-images.sh" "$top/firmware" > /dev/null || exit 1
STROBIX_NGINX_RUN=$top/nginx bash "$source_dir/tools/firmware/nginx.sh" start "$top/firmware" "$port" > /dev/null \
    || exit 1
start_xvfb || exit 1

# One update until SIGNAL is sent once the install has begun (or, for "limit",
# under a file size limit of 8 KiB); prints what went wrong, nothing if all is well.
# TO is "process" (the updater alone), "group" or "session"; the updater leads both,
# as a program started from a terminal leads its group.
row() {
    local signal=$1 to=$2 dir=$top/$1-$2
    local data=$dir/xdg/"Orvane kelvio GmbH"/"strobix Firmware Updater"/kelvio hold=()
    # The unit waits before its second block until the signal is out.
    [ "$signal" = limit ] || hold=(STROBIX_VU_HOLD="block:2:$dir/go")
    mkdir -p "$dir/work/dfu-util" "$dir/xdg"
    ln -s "$source_dir/tools/dfu-util-launcher.sh" "$dir/work/dfu-util/dfu-util.exe"
    "$build/virtualunit/vu-tool" init "$dir/pristine" "$model" > /dev/null && cp "$dir/pristine" "$dir/unit"
    (
        cd "$dir/work" || exit 1
        [ "$signal" != limit ] || ulimit -f 8
        # The subshell leads no group, so setsid keeps its process id.
        exec setsid env QT_QPA_PLATFORM=xcb XDG_DATA_HOME="$dir/xdg" STROBIX_VU_LIB="$build/virtualunit/lib" \
            STROBIX_VU_MODEL=$model STROBIX_VU_STATE="$dir/unit" "${hold[@]}" \
            "$build/strobix-updater" > "$dir/out" 2>&1
    ) &
    local app=$! main i p
    poll 300 other_window "$app" || { echo "no main window"; kill -KILL "$app"; return; }
    main=$window
    # A click before the window can take it is lost: click until the run has begun
    # (its first tool run writes the log).
    for ((i = 0; i < 20; i++)); do
        xdotool mousemove --window "$main" 74 393 click 1
        poll 20 test -e "$data/dfu-util.log" && break
    done
    if [ "$signal" = limit ]; then
        # The failed download ends in a message box; the program lives on.
        poll 300 other_window "$app" "$main" || echo "no dialog"
        poll 300 test ! -e "$data/$image" || echo "a partial image is left"
        kill -0 "$app" 2> /dev/null || echo "the program died"
        kill -TERM "$app" 2> /dev/null
    else
        poll 600 test -e "$dir/go.held" || echo "the install did not reach its second block"
        case $to in
        process) kill "-$signal" "$app" ;;
        group) kill "-$signal" -- "-$app" ;;
        session) for p in $(ps -o pid= -s "$app"); do kill "-$signal" "$p" 2> /dev/null; done ;;
        esac
        : > "$dir/go"
    fi
    poll 600 ended "$app" || { echo "still running 60 s after SIG$signal"; kill -KILL "$app"; }
    wait "$app"
    local code=$?
    [ "$signal" = KILL ] || [ "$code" = 0 ] || echo "exit code $code"
    # After SIGKILL, the tool that outlived the updater writes on to its end.
    poll 600 no_tool "$dir/unit" || echo "dfu-util still runs"
    if [ "$signal" != limit ]; then
        "$build/virtualunit/vu-tool" compare "$dir/unit" "$top/firmware/$image" "$dir/pristine" > "$dir/compare" 2>&1 \
            || { echo "the unit does not hold the image:"; grep -E 'MISMATCH|differs' "$dir/compare" | head -n 3
              grep -hs "never released" "$data/dfu-util.log" "$dir/out"; }
    fi
}

no_tool() { ! grep -qsaF "STROBIX_VU_STATE=$1" /proc/[0-9]*/environ; }

status=0
for what in TERM:process KILL:process INT:group HUP:group TERM:session limit:process; do
    signal=${what%:*} to=${what#*:}
    label="SIG$signal to the $to during the install"
    [ "$signal" != limit ] || label="a file size limit of 8 KiB during the download"
    problems=$(row "$signal" "$to")
    if [ -z "$problems" ]; then
        echo "$label: ok"
    else
        echo "$label: FAIL"; printf '%s\n' "$problems" | sed 's/^/  /'; status=1
    fi
done
exit $status
