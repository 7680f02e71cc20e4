#!/usr/bin/env bash
# Installs the Debian packages the build, the tests and the window need, and only those
# that are missing, so a fresh machine needs nothing by hand and a prepared one costs nothing.
set -euo pipefail

packages=(
    cmake ninja-build g++ pkg-config
    googletest libgtest-dev libgmock-dev
    qt6-base-dev qt6-base-dev-tools libgl-dev
    clang libclang-rt-14-dev
    xvfb xauth xdotool openbox fonts-ipafont-gothic fonts-dejavu-core
    qt6-wayland weston
    srecord
    dpkg-dev lintian desktop-file-utils appstream
    g++-mingw-w64-x86-64-posix wine wine64 fonts-wine
    qemu-system-x86 busybox-static cpio
    ser2net
    x11-apps x11-utils imagemagick locales
)

missing=()
for p in "${packages[@]}"; do
    status=$(dpkg-query -W -f='${Status}' "$p" 2>/dev/null || true)
    [[ "$status" == "install ok installed" ]] || missing+=("$p")
done
[[ ${#missing[@]} -eq 0 ]] && exit 0

echo "Installing missing packages: ${missing[*]}"
sudo=()
if [[ $(id -u) -ne 0 ]]; then
    command -v sudo >/dev/null || { echo "need root or sudo to install: ${missing[*]}" >&2; exit 1; }
    sudo=(sudo)
fi
export DEBIAN_FRONTEND=noninteractive
"${sudo[@]}" apt-get update -qq
"${sudo[@]}" apt-get install -y -qq --no-install-recommends "${missing[@]}"
