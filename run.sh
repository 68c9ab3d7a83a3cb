#!/usr/bin/env bash
# Opens the updater on its built-in default: the local firmware server on the
# build's address and, unless --hardware is given, a virtual flash unit.
#
#   ./run.sh [--model MODEL] [--hardware] [--fault FAULT] [--fresh-unit]
#
#   --model MODEL   the virtual unit's model (default x21-canon); see
#                   tools/virtualunit/README.md for the list (x58-pentax, x33-fuji, x7, blank, ...)
#   --hardware      use the flash unit on USB through the system's dfu-util
#   --fault FAULT   make the virtual unit misbehave (absent, program-fail:40, ...)
#   --fresh-unit    start from a factory-fresh virtual unit
#
# Without a display the updater runs under Xvfb, a scripted session presses
# its buttons (serving the images itself, slowly, so each stage can be seen),
# and the screenshots of every stage go to .run/screenshots/.
set -euo pipefail
cd "$(dirname "$0")"
top=$(pwd)

model=x21-canon
hardware=0
fault=none
fresh=0
while [ $# -gt 0 ]; do
    case $1 in
        --model) model=$2; shift 2 ;;
        --hardware) hardware=1; shift ;;
        --fault) fault=$2; shift 2 ;;
        --fresh-unit) fresh=1; shift ;;
        -h|--help) sed -n '2,15p' "$0" | sed 's/^# \{0,1\}//'; exit 0 ;;
        *) echo "$0: unknown option $1 (try --help)" >&2; exit 2 ;;
    esac
done

./tools/install-deps.sh
build=${STROBIX_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)" --target strobix-updater virtualunit vu-tool > /dev/null
build=$(cd "$build" && pwd)

url=$(sed -n 's/^STROBIX_FIRMWARE_BASE_URL:STRING=//p' "$build/CMakeCache.txt")
port=$(echo "$url" | sed -n 's|^http://127\.0\.0\.1:\([0-9]*\)/firmware/$|\1|p')

run=$top/.run
mkdir -p "$run/firmware" "$run/work/dfu-util"
if [ ! -e "$run/firmware/SX2100b0.dfu" ]; then
    ./tools/firmware/make-images.sh "$run/firmware" > /dev/null
fi

started_server=0
stop_server() {
    if [ "$started_server" = 1 ]; then
        ./tools/firmware/nginx.sh stop "$run/firmware" "$port" > /dev/null || true
    fi
}
trap stop_server EXIT
if [ -n "$port" ] && [ -n "${DISPLAY:-}" ]; then
    if ! ./tools/firmware/nginx.sh status "$run/firmware" "$port" > /dev/null 2>&1; then
        ./tools/firmware/nginx.sh start "$run/firmware" "$port"
        started_server=1
    fi
elif [ -z "$port" ]; then
    echo "The build's firmware server is $url: not a local one, so no server is started."
fi

# The updater runs dfu-util/dfu-util.exe relative to its working directory.
ln -sf "$top/tools/dfu-util-launcher.sh" "$run/work/dfu-util/dfu-util.exe"
if [ "$hardware" = 1 ]; then
    unset STROBIX_VU_LIB STROBIX_VU_MODEL STROBIX_VU_STATE STROBIX_VU_FAULT
    echo "Using the flash unit on USB through $(command -v dfu-util)."
else
    export STROBIX_VU_LIB=$build/virtualunit/lib
    export STROBIX_VU_MODEL=$model
    export STROBIX_VU_STATE=$run/unit-$model.state
    export STROBIX_VU_FAULT=$fault
    # A unit kept from a build whose layout of the model differs starts afresh.
    if [ "$fresh" = 1 ] || ! "$build/virtualunit/vu-tool" info "$STROBIX_VU_STATE" > /dev/null 2>&1; then
        rm -f "$STROBIX_VU_STATE"
    fi
    echo "Using a virtual $model unit (state in $STROBIX_VU_STATE, fault: $fault)."
fi

cd "$run/work"
if [ -n "${DISPLAY:-}" ]; then
    "$build/strobix-updater"
else
    export STROBIX_VU_PROGRAM_MS=${STROBIX_VU_PROGRAM_MS:-250}
    # A root shell or a chroot has no session folder; Qt wants one of its own (0700).
    if [ -z "${XDG_RUNTIME_DIR:-}" ]; then
        export XDG_RUNTIME_DIR=$run/xdg-runtime
        mkdir -p "$XDG_RUNTIME_DIR"
        chmod 0700 "$XDG_RUNTIME_DIR"
    fi
    "$top/tools/screenshots.sh" "$build/strobix-updater" "$run/screenshots" "$run/firmware" "$port"
    echo "No display: ran a scripted session under Xvfb; screenshots are in $run/screenshots/"
fi
