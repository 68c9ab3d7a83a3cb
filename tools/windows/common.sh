# Shared by the scripts in tools/windows/: their opening, cache location,
# timing, package installs. Each script starts with . "$(dirname "$0")/common.sh".
# shellcheck shell=bash disable=SC2034

# Every failure ends the script, also one inside a $(...).
set -euo pipefail
shopt -s inherit_errexit
here=$(cd "$(dirname "$0")" && pwd)
windows=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
repo=$(cd "$windows/../.." && pwd)
. "$repo/tests/support/common.sh"
t_start=$SECONDS

STROBIX_WINDOWS_CACHE=${STROBIX_WINDOWS_CACHE:-/var/cache/strobix-windows}
export STROBIX_WINDOWS_CACHE
MINGW_PREFIX=x86_64-w64-mingw32
MINGW_CC=${MINGW_PREFIX}-gcc-posix
MINGW_CXX=${MINGW_PREFIX}-g++-posix

log() { printf '[%s] %s\n' "$(date +%H:%M:%S)" "$*" >&2; }

# Runs a command and reports how long it took, so slow steps stand out in CI logs.
timed() {
    local label=$1; shift
    local t0=$SECONDS
    "$@"
    log "$label: $((SECONDS - t0)) s"
}

# Runs a command with its output in a log file; shows the log's end on failure.
logged() {
    local file=$1; shift
    "$@" > "$file" 2>&1 || { tail -n 60 "$file" >&2; return 1; }
}

# Installs the given Debian packages only when one of them is missing.
ensure_packages() {
    "$repo/tools/install-deps.sh" "$@"
}

# Prints every Windows program and DLL (PE file: "MZ" at the start) under a folder.
pe_files() { # <folder>
    local f
    while IFS= read -r -d '' f; do
        [ "$(head -c 2 "$f")" != MZ ] || printf '%s\n' "$f"
    done < <(find "$1" -type f -print0 | sort -z)
}

mingw_gcc_version() {
    echo "$($MINGW_CXX -dumpfullversion) $(dpkg-query -W -f='${Version}' g++-mingw-w64-x86-64-posix)"
}

QT_TREE=$STROBIX_WINDOWS_CACHE/qt5-mingw64
DFU_TREE=$STROBIX_WINDOWS_CACHE/dfu-util-mingw64
SODIUM_TREE=$STROBIX_WINDOWS_CACHE/libsodium-mingw64
