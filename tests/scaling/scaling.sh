#!/usr/bin/env bash
# scaling-check on X11 at 100, 125, 150 and 200 %: the X server's Xft.dpi, as a
# Linux desktop sets it for its scaling. Not on the offscreen platform, which
# has neither a desktop's fonts nor its DPI setting.
# Usage: scaling.sh <scaling-check> [screenshot folder]
. "$(dirname "$0")/../support/common.sh"
check=${1:?usage: scaling.sh <scaling-check> [screenshot folder]}
shots=${2:-}
trap stop_all EXIT
# Room for the window and the dialog at 200 %.
start_xvfb 2400x1600 || exit 1
export QT_QPA_PLATFORM=xcb
failed=0
for dpi in 96 120 144 192; do
    xprop -root -format RESOURCE_MANAGER 8s -set RESOURCE_MANAGER "$(printf 'Xft.dpi:\t%s\n' "$dpi")"
    echo "--- Xft.dpi $dpi"
    "$check" "$dpi" ${shots:+"$shots/linux-$dpi.png"} || failed=1
done
exit "$failed"
