#!/usr/bin/env bash
# Installs Debian packages only when one of them is missing (a second run
# costs nothing): the packages given as arguments, or without arguments those
# that building, running and testing need. Every script of the project
# installs through this one.
set -euo pipefail

if [ $# -gt 0 ]; then
    packages=("$@")
else
    packages=(
        cmake make g++ pkg-config
        qtbase5-dev qtbase5-dev-tools libsodium-dev minisign zlib1g-dev
        dfu-util libusb-1.0-0-dev
        nginx curl python3 openssl
        imagemagick fonts-dejavu-core
        xvfb xdotool x11-utils openbox
        # the Debian package and its checks (tools/deb/check.sh)
        build-essential debhelper lintian desktop-file-utils appstream xclip
    )
fi

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}" >&2
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
# On a shared machine another apt may hold dpkg's lock: wait for it. apt has no
# such wait for the package lists, so a concurrent update leaves us the lists
# at hand, which serve as well.
apt=("${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get -o DPkg::Lock::Timeout=600)
"${apt[@]}" update -qq || echo "apt-get update failed; installing from the package lists at hand" >&2
"${apt[@]}" install -y -qq --no-install-recommends "${missing[@]}"
