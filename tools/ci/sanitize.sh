#!/usr/bin/env bash
# Builds the updater and its tests with AddressSanitizer and UndefinedBehaviorSanitizer
# (LeakSanitizer on) and runs the whole test suite. The options reach every test
# through tests/CMakeLists.txt; suppressions: tools/ci/lsan.supp.
#
#   tools/ci/sanitize.sh            # build dir build-asan
#
# Environment: STROBIX_SANITIZE_BUILD_DIR (default build-asan), STROBIX_JOBS
# (default: the number of cores).
set -euo pipefail
cd "$(dirname "$0")/../.."

build=${STROBIX_SANITIZE_BUILD_DIR:-build-asan}
jobs=${STROBIX_JOBS:-$(nproc)}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DSTROBIX_SANITIZE=ON > /dev/null
cmake --build "$build" -j"$jobs"
cd "$build"
# Instrumented code runs two to three times slower: the default timeouts still hold.
ctest --output-on-failure --timeout 900 -j"$jobs"
