#!/usr/bin/env bash
# Builds the project and runs ./test.sh in a Debian 13 (trixie) chroot, as a
# new user on today's stable would, and validates the AppStream file with that
# release's appstreamcli.
#
#   tools/ci/debian13.sh [COMMAND ...]
#
# With a COMMAND (e.g. ./run.sh or bash), runs that in the chroot's copy of the
# tree instead. The chroot is made with debootstrap from the same Debian mirror
# this machine's apt uses and kept in STROBIX_DEBIAN13_CACHE (default
# /var/cache/strobix-debian13) with a key file: it is made again only when the
# key changes, so a second run only checks. The packages and the build folder
# stay in it between runs. Needs root.
set -euo pipefail
top=$(cd "$(dirname "$0")/../.." && pwd)
suite=trixie
cache=$(realpath -m "${STROBIX_DEBIAN13_CACHE:-/var/cache/strobix-debian13}")
root=$cache/root
t_start=$SECONDS

[ "$(id -u)" -eq 0 ] || { echo "$0: needs root (debootstrap, mount, chroot)" >&2; exit 1; }
"$top/tools/install-deps.sh" debootstrap debian-archive-keyring

# The archive that this machine's apt takes SUITE from (apt reads both formats
# of its sources), so no host is written into the project.
mirror_for() { # <suite>
    # shellcheck disable=SC2016 # apt's own fields, not the shell's
    apt-get indextargets --no-release-info --format '$(REPO_URI) $(RELEASE)' 'Identifier: Packages' \
        | awk -v s="$1" '$2 == s && !found { sub(/\/$/, "", $1); print $1; found = 1 }'
}

host_suite=$(. /etc/os-release && echo "${VERSION_CODENAME:-}")
mirror=$(mirror_for "$host_suite")
[ -n "$mirror" ] || { echo "$0: no Debian mirror for $host_suite in this machine's apt sources" >&2; exit 1; }
security=$(mirror_for "$host_suite-security")
sources="deb $mirror $suite main
deb $mirror $suite-updates main"
[ -z "$security" ] || sources+="
deb $security $suite-security main"

mkdir -p "$cache"
# One run at a time per cache: a second would mount over the first.
exec {lock_fd}> "$cache/lock"
flock "$lock_fd"

mounts=()
unmount_all() {
    local i
    for ((i = ${#mounts[@]} - 1; i >= 0; i--)); do
        umount "${mounts[i]}" 2> /dev/null || umount -l "${mounts[i]}"
    done
    mounts=()
}
trap unmount_all EXIT
trap 'exit 129' HUP
trap 'exit 130' INT
trap 'exit 143' TERM

# Nothing from an earlier run or debootstrap that was killed hard may stay
# mounted in the cache: removing the chroot must not reach into the host's /dev.
still_mounted() {
    awk -v c="$cache/" 'index($5, c) == 1 { print $5 }' /proc/self/mountinfo
}
while read -r m; do
    [ -z "$m" ] || umount -l "$m"
done < <(still_mounted | sort -r)

key="suite=$suite variant=minbase debootstrap=$(dpkg-query -W -f='${Version}' debootstrap)
$sources"
if [ ! -d "$root" ] || [ "$(cat "$cache/key" 2> /dev/null)" != "$key" ]; then
    echo "Making the Debian 13 chroot in $root"
    rm -rf --one-file-system "$root" "$root.new" "$cache/key"
    debootstrap --variant=minbase --keyring=/usr/share/keyrings/debian-archive-keyring.gpg \
        "$suite" "$root.new" "$mirror" > "$cache/debootstrap.log" 2>&1 \
        || { tail -n 20 "$cache/debootstrap.log" >&2; echo "$0: debootstrap failed" >&2; exit 1; }
    echo "$sources" > "$root.new/etc/apt/sources.list"
    # Packages install without starting their services (nginx would serve
    # its default site on port 80 of the host).
    printf '#!/bin/sh\nexit 101\n' > "$root.new/usr/sbin/policy-rc.d"
    chmod 0755 "$root.new/usr/sbin/policy-rc.d"
    mv "$root.new" "$root"
    echo "$key" > "$cache/key"
    echo "chroot made: $((SECONDS - t_start)) s"
fi
[ ! -e /etc/resolv.conf ] || cp -L /etc/resolv.conf "$root/etc/resolv.conf"

mount_in() { # <target in the chroot> <mount arguments ...>
    local target=$root$1
    shift
    mkdir -p "$target"
    mount "$@" "$target"
    mounts+=("$target")
    # Where / is a shared mount, what is mounted below the bound /dev would
    # otherwise appear on the host's /dev too.
    mount --make-private "$target"
}
mount_in /proc -t proc proc
mount_in /sys -t sysfs -o ro,nosuid,nodev,noexec sysfs
mount_in /dev --bind /dev
mount_in /dev/pts --bind /dev/pts
mount_in /dev/shm -t tmpfs -o nosuid,nodev shm

# A fresh copy of the tree with its times kept, so the build folder beside it
# rebuilds only what changed.
rm -rf --one-file-system "$root/srv/strobix"
mkdir -p "$root/srv/strobix" "$root/srv/strobix-build"
tar -C "$top" -c --exclude=./.git --exclude='./build*' --exclude=./.run --exclude=./Testing \
    --exclude=./dfu-util . | tar -C "$root/srv/strobix" -x

if [ $# -eq 0 ]; then
    set -- bash -c './tools/install-deps.sh && ./test.sh &&
        appstreamcli validate --no-net data/*.metainfo.xml'
fi
# A clean login-like environment: no session folder, as in a root shell.
chroot "$root" /usr/bin/env -i PATH=/usr/local/sbin:/usr/local/bin:/usr/sbin:/usr/bin:/sbin:/bin \
    HOME=/root LANG=C.UTF-8 TERM="${TERM:-dumb}" DEBIAN_FRONTEND=noninteractive \
    STROBIX_BUILD_DIR=/srv/strobix-build \
    sh -c 'cd /srv/strobix && exec "$@"' sh "$@"
echo "Debian 13: $((SECONDS - t_start)) s"
