#!/bin/sh
# Installs the Debian packages that building and testing need, when one is
# missing.  Wine's 32-bit half comes from the i386 archive.
set -eu

packages="cmake make g++-mingw-w64-i686 mingw-w64-i686-dev
          g++-mingw-w64-x86-64 mingw-w64-x86-64-dev googletest python3
          wine wine32:i386 wine64 fonts-wine xvfb xauth iproute2 util-linux halibut nsis"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing=""
for package in $packages; do
    dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' \
        || missing="$missing $package"
done
[ -z "$missing" ] && exit 0

echo "Installing:$missing"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
as_root apt-get update -q
as_root env DEBIAN_FRONTEND=noninteractive \
    apt-get install -y -q --no-install-recommends $missing
