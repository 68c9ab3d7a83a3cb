#!/usr/bin/env bash
# Builds the benchmarks and runs them: the image download against Qt under the
# same dialog, a whole update against a script of the same tool calls, start-up
# against a bare Qt window, the forwarding of tool output against cat, each
# model's update with its data sheet's timing, and the whole update against its
# four command lines without the read-back. Prints the medians and ratios and
# writes them, with how they are measured, to docs/PERFORMANCE.md.
#
#   bench/run.sh [--runs N] [--startup-runs N] [--only 1,2,3,4,5,6] [--no-write]
#
# Build folder: $STROBIX_BENCH_BUILD (default build-bench); nginx port:
# $STROBIX_BENCH_PORT (default 48277, away from the tests' port).
# Exits 1 when a goal is missed.
set -euo pipefail
cd "$(dirname "$0")/.."
root=$PWD

./tools/install-deps.sh
# The first-frame probe talks to the X server's DAMAGE extension.
./tools/install-deps.sh libxdamage-dev

build=$(realpath -m "${STROBIX_BENCH_BUILD:-build-bench}")
port=${STROBIX_BENCH_PORT:-48277}
write=1
args=()
while [ $# -gt 0 ]; do
    case $1 in
    --no-write) write=0 ;;
    *) args+=("$1") ;;
    esac
    shift
done

cmake -S bench -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBIX_BENCH_PORT="$port" > /dev/null
cmake --build "$build" -j"$(nproc)" --target httpbench updatebench toolbench floodtool bareqt firstframe \
    strobix-updater virtualunit vu-tool > /dev/null

. tests/support/common.sh
results=$(mktemp)
trap 'stop_all; rm -f "$results"' EXIT
# Start-up is measured under an X server of its own.
start_xvfb
status=0
python3 bench/run.py --build "$build" --source "$root" --port "$port" --display "$DISPLAY" --write "$results" \
    ${args[@]+"${args[@]}"} || status=$?
if [ $write -eq 1 ] && [ -s "$results" ]; then
    { cat bench/method.md; echo; echo "## Results of the last run"; echo; cat "$results"; } > docs/PERFORMANCE.md
    echo "wrote docs/PERFORMANCE.md"
fi
exit $status
