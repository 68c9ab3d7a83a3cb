#!/usr/bin/env bash
# Builds the libFuzzer harnesses of tests/fuzz with clang and runs each one for
# a bounded time, from the seeds in tests/fuzz/corpus/<harness>/.
#
#   tools/ci/fuzz.sh [seconds per harness]     (default 30)
#
# Inputs found on the way go to <build>/fuzz-corpus/ (the seeds stay as they are);
# a failing input goes to <build>/fuzz-artifacts/ and is replayed by passing
# its path to the harness. Environment: STROBIX_FUZZ_BUILD_DIR (default
# build-fuzz), STROBIX_JOBS (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/../.."

seconds=${1:-30}
build=${STROBIX_FUZZ_BUILD_DIR:-build-fuzz}
jobs=${STROBIX_JOBS:-$(nproc)}
harnesses=(progress identification chunktotext dfuseimage)

# clang and its fuzzer runtime are not among the build's own packages.
./tools/install-deps.sh clang-14 libclang-rt-14-dev

cmake -S . -B "$build" -DCMAKE_CXX_COMPILER=clang++-14 -DCMAKE_BUILD_TYPE=RelWithDebInfo \
    -DSTROBIX_FUZZ=ON -DSTROBIX_BUILD_TESTS=OFF > /dev/null
cmake --build "$build" -j"$jobs" --target "${harnesses[@]/#/fuzz_}"

failed=()
for name in "${harnesses[@]}"; do
    corpus="$build/fuzz-corpus/$name"
    artifacts="$build/fuzz-artifacts"
    log="$build/fuzz-$name.log"
    mkdir -p "$corpus" "$artifacts"
    # A single input taking seconds is a hang, not a slow machine.
    if "$build/tests/fuzz/fuzz_$name" -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
        -artifact_prefix="$artifacts/$name-" "$corpus" "tests/fuzz/corpus/$name" > "$log" 2>&1; then
        runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log")
        echo "fuzz_$name: ${runs:-?} inputs in ${seconds} s, no failure"
    else
        echo "fuzz_$name FAILED; the end of $log:"
        tail -n 60 "$log"
        failed+=("$name")
    fi
done
if [ ${#failed[@]} -gt 0 ]; then
    echo "Failing inputs are in $build/fuzz-artifacts/"
    exit 1
fi
