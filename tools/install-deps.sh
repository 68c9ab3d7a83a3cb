#!/usr/bin/env bash
# Installs the Debian packages that building, running and testing need, only
# when one of them is missing (a second run costs nothing).
set -euo pipefail

packages=(
    cmake make g++ pkg-config
    qtbase5-dev qtbase5-dev-tools libsodium-dev minisign zlib1g-dev
    dfu-util libusb-1.0-0-dev
    nginx-light curl python3 openssl
    imagemagick fonts-dejavu-core
    xvfb xdotool x11-utils openbox
    # the Debian package and its checks (tools/deb/check.sh)
    build-essential debhelper lintian desktop-file-utils appstream xclip
)

missing=()
for p in "${packages[@]}"; do
    dpkg-query -W -f='${Status}' "$p" 2>/dev/null | grep -q 'install ok installed' || missing+=("$p")
done
if [ ${#missing[@]} -eq 0 ]; then
    exit 0
fi
echo "Installing: ${missing[*]}"
sudo_cmd=()
[ "$(id -u)" -eq 0 ] || sudo_cmd=(sudo)
"${sudo_cmd[@]}" apt-get update -qq
"${sudo_cmd[@]}" env DEBIAN_FRONTEND=noninteractive apt-get install -y -qq --no-install-recommends "${missing[@]}"
