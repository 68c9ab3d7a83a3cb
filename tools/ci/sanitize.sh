#!/usr/bin/env bash
# Builds the updater and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (LeakSanitizer on) and runs the whole test suite. The options reach every test
# through tests/CMakeLists.txt; suppressions: tools/ci/lsan.supp.
#
#   tools/ci/sanitize.sh            # build dir build-asan
#
# Environment: STROBIX_SANITIZE_BUILD_DIR (default build-asan), STROBIX_JOBS
# (default: the number of cores), STROBIX_FIRMWARE_BASE_URL (another port, when
# a second test run shares the machine).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${STROBIX_SANITIZE_BUILD_DIR:-build-asan}
jobs=${STROBIX_JOBS:-$(nproc)}
args=(-DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBIX_SANITIZE=ON)
if [ -n "${STROBIX_FIRMWARE_BASE_URL:-}" ]; then
    args+=("-DSTROBIX_FIRMWARE_BASE_URL=$STROBIX_FIRMWARE_BASE_URL")
fi

cmake -S . -B "$build" "${args[@]}" > /dev/null
cmake --build "$build" -j"$jobs"
cd "$build"
# Instrumented code runs two to three times slower: the default timeouts still hold.
ctest --output-on-failure --timeout 900 -j"$jobs"
