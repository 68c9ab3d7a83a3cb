#!/usr/bin/env bash
# Builds the Debian package from this tree with Debian's tools and checks it as
# Debian does: lintian (no errors, no warnings), desktop-file-validate and
# appstreamcli. Then installs it with apt-get, runs the installed program through
# one whole update headless (tools/deb/update.sh), purges it and checks that none
# of its files is left. Prints the time of each step.
#
#   tools/deb/check.sh [OUTDIR]       (default build-deb/; the .deb and logs go there)
#
# Needs root and the packages of tools/install-deps.sh. The virtual unit comes
# from the build tree $STROBIX_BUILD_DIR (default build/), built here if needed.
# The package is built for $STROBIX_FIRMWARE_BASE_URL (default the local test
# server's http://127.0.0.1:48213/firmware/), which must be on 127.0.0.1.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
out=${1:-$top/build-deb}
build=${STROBIX_BUILD_DIR:-$top/build}
export STROBIX_FIRMWARE_BASE_URL=${STROBIX_FIRMWARE_BASE_URL:-http://127.0.0.1:48213/firmware/}
export DEBIAN_FRONTEND=noninteractive
package=strobix-updater

port=$(echo "$STROBIX_FIRMWARE_BASE_URL" | sed -n 's|^http://127\.0\.0\.1:\([0-9]*\)/firmware/$|\1|p')
[ -n "$port" ] || { echo "check: the headless update needs a firmware address on 127.0.0.1, not $STROBIX_FIRMWARE_BASE_URL" >&2; exit 2; }
[ "$(id -u)" -eq 0 ] || { echo "check: run as root (apt-get, unshare)" >&2; exit 2; }

times=()
step_start=$SECONDS
step() { # NAME: ends the step that ran since the last call
    times+=("$1 $((SECONDS - step_start)) s")
    step_start=$SECONDS
}
# Waits for another apt on the machine rather than failing on its lock.
apt_get=(apt-get -o DPkg::Lock::Timeout=600)
purge_on_exit=0
finish() {
    [ "$purge_on_exit" = 0 ] || "${apt_get[@]}" purge -y -qq "$package" > /dev/null 2>&1 || true
    [ ${#times[@]} -eq 0 ] || printf '  %s\n' "${times[@]}"
}
trap finish EXIT

# From a clean copy of the tree (as committed, plus changes not yet committed),
# so that nothing of a local build gets in and the results stay out of the tree.
version=$(dpkg-parsechangelog -l "$top/debian/changelog" -S Version)
deb=$out/${package}_${version}_$(dpkg --print-architecture).deb
rm -rf "$out"
src=$out/src/$package-$version
mkdir -p "$src"
(cd "$top" && git ls-files -z -c -o --exclude-standard \
    | tar --null --ignore-failed-read -T - -cf - 2> /dev/null) | tar -x -C "$src"
(cd "$src" && dpkg-checkbuilddeps)
echo "Building $package $version for $STROBIX_FIRMWARE_BASE_URL (log: $out/build.log)"
if ! (cd "$src" && dpkg-buildpackage -us -uc -b -j"$(nproc)") > "$out/build.log" 2>&1; then
    tail -n 40 "$out/build.log"
    echo "check: dpkg-buildpackage failed" >&2
    exit 1
fi
mv "$out"/src/*.deb "$out"/src/*.changes "$out"/src/*.buildinfo "$out"/
rm -rf "$out/src"
grep -E '^(100% tests passed|[0-9]+% tests passed)' "$out/build.log" || true
step "package build (with its unit tests)"

# Its note that it runs as root is no finding.
lintian_rc=0
lintian --fail-on error,warning --display-info "$deb" > "$out/lintian.txt" 2>&1 || lintian_rc=$?
sed -i '/^running with root privileges is not recommended!$/d' "$out/lintian.txt"
echo "lintian: exit $lintian_rc, $(wc -l < "$out/lintian.txt") lines of output"
sed 's/^/  /' "$out/lintian.txt"
[ "$lintian_rc" = 0 ] || { echo "check: lintian found errors or warnings" >&2; exit 1; }
dpkg-deb -x "$deb" "$out/contents"
desktop-file-validate "$out/contents/usr/share/applications/$package.desktop"
appstreamcli validate --no-net "$out"/contents/usr/share/metainfo/*.metainfo.xml
step "lintian, desktop-file-validate, appstreamcli"

if dpkg-query -W -f='${Status}' "$package" 2> /dev/null | grep -q 'install ok installed'; then
    echo "Purging the $package that was installed before"
    "${apt_get[@]}" purge -y -qq "$package" > /dev/null
fi
purge_on_exit=1
"${apt_get[@]}" install -y -q --no-install-recommends "$deb" > "$out/install.log"
dpkg -L "$package" > "$out/files.txt"
[ "$(readlink -f /usr/lib/$package/dfu-util/dfu-util.exe)" = "$(readlink -f /usr/bin/dfu-util)" ] \
    || { echo "check: dfu-util/dfu-util.exe does not lead to the system's dfu-util" >&2; exit 1; }
step "apt-get install"

if [ ! -e "$build/CMakeCache.txt" ]; then
    cmake -S "$top" -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo > /dev/null
fi
cmake --build "$build" -j"$(nproc)" --target virtualunit vu-tool > /dev/null
step "virtual unit (from $build)"
"$top/tools/deb/update.sh" "$build/virtualunit/lib" "$build/virtualunit/vu-tool" "$port"
step "headless update with the installed launcher"

"${apt_get[@]}" purge -y -q "$package" > "$out/purge.log"
purge_on_exit=0
left=()
while IFS= read -r path; do
    [ "$path" != /. ] || continue
    [ -e "$path" ] || [ -L "$path" ] || continue
    # A folder may stay when it is another package's, or when others' files are in it.
    if [ -d "$path" ] && [ ! -L "$path" ]; then
        dpkg -S "$path" > /dev/null 2>&1 && continue
        [ -z "$(ls -A "$path")" ] || continue
    fi
    left+=("$path")
done < "$out/files.txt"
if [ ${#left[@]} -gt 0 ]; then
    printf 'check: left after purging: %s\n' "${left[@]}" >&2
    exit 1
fi
echo "purge: none of the $(grep -cv '^/\.$' "$out/files.txt") paths of the package is left"
step "apt-get purge and its check"
times+=("package stage in all $SECONDS s")
echo "Debian package ok: $deb"
