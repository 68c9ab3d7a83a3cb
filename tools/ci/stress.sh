#!/usr/bin/env bash
# Runs the tests that drive processes, windows or time ROUNDS times in a row
# (default 10), from the plain build and from the sanitizer build, beside a CPU
# load of twice the cores (stress-ng), and prints one line per test: runs,
# failures, slowest run. A test that waits for a window of time instead of an
# event fails here sooner or later. Not part of CI: it takes one to two hours.
#
#   tools/ci/stress.sh [ROUNDS]
#
# Environment: STROBIX_BUILD_DIR (default build), STROBIX_SANITIZE_BUILD_DIR
# (default build-asan), STROBIX_STRESS_TESTS (CTest names, default below),
# STROBIX_STRESS_BUILDS ("plain asan"), STROBIX_WINDOWS_BUILD_DIR (default
# build-windows: its Wine rows run too once it holds a build),
# STROBIX_STRESS_NICE (default 0: the tests run that many nice steps below the
# load; 19 leaves them about a hundredth of the CPU, a far slower machine).
# Logs of failed runs stay in stress-logs/.
set -euo pipefail
cd "$(dirname "$0")/../.."

rounds=${1:-10}
tests=(${STROBIX_STRESS_TESTS:-close_phases signals tst_endtoend tst_dfuutil tst_http scaling})
builds=(${STROBIX_STRESS_BUILDS:-plain asan})
windows=${STROBIX_WINDOWS_BUILD_DIR:-build-windows}
logs=$PWD/stress-logs
cores=$(nproc)
# A load at the tests' own priority hardly delays a test that mostly sleeps: the
# scheduler runs a waking task first. A window of time that such a load never
# closes on a fast machine is closed by a slower one, as below the load.
gap=${STROBIX_STRESS_NICE:-0}
./tools/install-deps.sh stress-ng

# The timeouts are those of test.sh and sanitize.sh: none is raised here.
build_dir() { if [ "$1" = asan ]; then echo "${STROBIX_SANITIZE_BUILD_DIR:-build-asan}"; else echo "${STROBIX_BUILD_DIR:-build}"; fi; }
for kind in "${builds[@]}"; do
    dir=$(build_dir "$kind")
    sanitize=OFF
    [ "$kind" != asan ] || sanitize=ON
    cmake -S . -B "$dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBIX_SANITIZE=$sanitize > /dev/null
    cmake --build "$dir" -j"$cores" > /dev/null
done

stress-ng --cpu $((2 * cores)) --quiet &
load=$!
trap 'kill "$load" 2> /dev/null; wait "$load" 2> /dev/null' EXIT
mkdir -p "$logs"

declare -A runs failures slowest
# NAME then the command; records its time and keeps the log of a failure.
measure() {
    local name=$1 start took log
    shift
    log=$logs/${name//[^A-Za-z0-9_]/_}-$round.log
    start=$(date +%s%N)
    if nice -n "$gap" "$@" > "$log" 2>&1; then rm -f "$log"; else failures[$name]=$((${failures[$name]:-0} + 1)); fi
    took=$((($(date +%s%N) - start) / 1000000))
    runs[$name]=$((${runs[$name]:-0} + 1))
    [ "$took" -le "${slowest[$name]:-0}" ] || slowest[$name]=$took
}

names=()
for kind in "${builds[@]}"; do for t in "${tests[@]}"; do names+=("$kind $t"); done; done
[ ! -d "$windows/strobix-updater" ] || names+=("wine smoke" "wine e2e")
for ((round = 1; round <= rounds; round++)); do
    for kind in "${builds[@]}"; do
        timeout=600
        [ "$kind" != asan ] || timeout=900
        for t in "${tests[@]}"; do
            measure "$kind $t" ctest --test-dir "$(build_dir "$kind")" -R "^$t\$" --timeout "$timeout" --output-on-failure
        done
    done
    if [ -d "$windows/strobix-updater" ]; then
        measure "wine smoke" ./tools/windows/smoke.sh "$PWD/$windows/strobix-updater"
        measure "wine e2e" ./tools/windows/e2e.sh "$PWD/$windows" "$PWD/$(build_dir plain)/virtualunit/vu-tool"
    fi
    echo "round $round of $rounds done" >&2
done

status=0
[ "$gap" -eq 0 ] || echo "the tests ran $gap nice steps below the load"
printf '%-22s %5s %9s %12s\n' test runs failures "slowest (s)"
for name in "${names[@]}"; do
    ms=${slowest[$name]:-0}
    printf '%-22s %5d %9d %12s\n' "$name" "${runs[$name]:-0}" "${failures[$name]:-0}" "$((ms / 1000)).$((ms % 1000 / 100))"
    [ "${failures[$name]:-0}" -eq 0 ] || status=1
done
[ "$status" -eq 0 ] || echo "logs of the failed runs: $logs"
exit $status
