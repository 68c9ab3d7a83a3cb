#!/usr/bin/env bash
# Two updaters started at the same moment on one data folder, ROUNDS times
# (default 50): at most one may run its update each time, the other must say
# that another update is running. Each one's first dfu-util run (the fake
# tool) holds until both have decided, so that the runs overlap. Prints one
# line per round that went wrong and the counts.
#
#   tools/ci/lock-race.sh BUILD_DIR [ROUNDS]
#
# BUILD_DIR holds tests/fakedfu/fakedfu and tests/lock-race-updater.
set -uo pipefail
build=$(cd "$1" && pwd)
rounds=${2:-50}
. "$(dirname "$0")/../../tests/support/common.sh"
top=$(mktemp -d)
trap 'stop_all; rm -rf "$top"' EXIT
mkdir -m 700 "$top/runtime"
mkfifo "$top/go"
running="Eine andere Aktualisierung läuft bereits / Another update is already running"

held() { [ -e "$top/u$1/control/first.held" ]; }
decided() { held "$1" || ended "${background[$1 - 1]}"; }
both_decided() { decided 1 && decided 2; }
both_waiting() { grep -qs waiting "$top/u1/out" && grep -qs waiting "$top/u2/out"; }

one=0 both=0 other=0
for ((round = 1; round <= rounds; round++)); do
    background=()
    for u in 1 2; do
        dir=$top/u$u
        rm -rf "$dir"
        mkdir -p "$dir/work/dfu-util" "$dir/control"
        ln -s "$build/tests/fakedfu/fakedfu" "$dir/work/dfu-util/dfu-util.exe"
        printf 'hold first\nexit 74\n' > "$dir/control/run1.txt"
        printf 'exit 74\n' > "$dir/control/default.txt"
        (cd "$dir/work" && exec env QT_QPA_PLATFORM=offscreen XDG_DATA_HOME="$top/data" \
            XDG_RUNTIME_DIR="$top/runtime" STROBIX_FAKE_DFU_DIR="$dir/control" \
            "$build/tests/lock-race-updater" "$top/go" > "$dir/out" 2>&1) &
        background+=($!)
    done
    poll 600 both_waiting || echo "round $round: an updater never got to its start"
    # Both are blocked in opening the FIFO (or about to): this lets them go at once.
    exec {go}<> "$top/go"
    poll 600 both_decided || echo "round $round: an updater neither ran nor ended"
    exec {go}>&-
    ran=0
    for u in 1 2; do held "$u" && ran=$((ran + 1)); touch "$top/u$u/control/first"; done
    wait "${background[@]}"
    outcomes=$(cat "$top/u1/out" "$top/u2/out" | grep -v '^waiting$' | LC_ALL=C sort | tr '\n' '|')
    if [ "$ran" -eq 2 ]; then
        both=$((both + 1))
        echo "round $round: both updaters ran"
    elif [ "$ran" -eq 1 ] && [ "$outcomes" = "$running|Kein kompatibles Gerät gefunden / No compatible device found|" ]; then
        one=$((one + 1))
    else
        other=$((other + 1))
        echo "round $round: $ran ran; outcomes: $outcomes"
    fi
done
echo "lock race: $rounds rounds; one updater ran in $one, both in $both, something else in $other"
[ "$both" -eq 0 ] && [ "$other" -eq 0 ]
