#!/usr/bin/env bash
# Builds the updater and runs every test, the end-to-end ones included.
set -euo pipefail
cd "$(dirname "$0")"

./tools/install-deps.sh
build=${STROBIX_BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
cmake --build "$build" -j"$(nproc)"
cd "$build"
ctest --output-on-failure --timeout 600 -j"$(nproc)"
