#!/usr/bin/env bash
# The main window and the help dialog under Wine at 100, 150 and 200 % display
# scaling (LogPixels 96, 144 and 192 in the prefix, where Windows keeps it):
# scaling-check.exe (tests/scaling, built in build.sh's tree), run beside the package's DLLs
# and plugins, checks that the window is 480x480 logical pixels and 480 times
# the scale on the screen, and that the help text fits its dialog without a
# horizontal scroll bar. It saves a picture of both at each scaling.
# Usage: scaling-check.sh <build folder of build.sh> [screenshot folder]
. "$(dirname "$0")/common.sh"
. "$windows/wine.sh"
build=$(cd "${1:?usage: scaling-check.sh <build folder> [screenshot folder]}" && pwd)
[ -f "$build/cmake/CMakeCache.txt" ] || { echo "no build of tools/windows/build.sh in $build" >&2; exit 1; }
ensure_packages wine64 wine xvfb imagemagick

work=$(mktemp -d /tmp/strobix-scaling.XXXXXX)
shots=${2:-$work}
mkdir -p "$shots"
shots=$(cd "$shots" && pwd)
trap 'wine_finish $? "scaling-check: logs"' EXIT

# Not part of the package: built from build.sh's tree while the prefix is made.
logged "$work/build.log" nice -n 19 cmake --build "$build/cmake" --target scaling-check -j2 &
build_pid=$!
# Room for the window and the dialog at 200 %.
wine_session "$work" 2400x1600 || fail "no Wine session"
wait "$build_pid" || fail "scaling-check.exe did not build"
cp -r "$build/strobix-updater" "$work/app"
cp "$build/cmake/tests/scaling/scaling-check.exe" "$work/app/"
failed=0
for dpi in 96 144 192; do
    t0=$SECONDS
    # Each process reads it as it starts.
    timeout 60 wine reg add 'HKCU\Control Panel\Desktop' /v LogPixels /t REG_DWORD /d "$dpi" /f >/dev/null 2>&1
    echo "--- LogPixels $dpi"
    (cd "$work/app" && timeout 120 wine scaling-check.exe "$dpi" "$(winepath -w "$shots/wine-$dpi.png")" </dev/null) \
        || failed=1
    log "LogPixels $dpi: $((SECONDS - t0)) s"
done
[ "$failed" = 0 ] || fail "the window or the help dialog is not as designed at every scaling (above)"
log "scaling-check: passed in $((SECONDS - t_start)) s"
