#!/bin/sh
# Installs the Debian packages that building and testing need, when one is
# missing.  Wine's 32-bit half comes from the i386 archive; it is needed
# only where the kernel runs 32-bit code, so a failure to install it is
# told and not fatal (the tests then run the 64-bit build).
set -eu

packages="cmake make g++-mingw-w64-i686 mingw-w64-i686-dev
          g++-mingw-w64-x86-64 mingw-w64-x86-64-dev googletest python3
          wine wine64 fonts-wine xvfb xauth iproute2 util-linux halibut nsis
          chrony ntpsec-ntpdig dpkg-dev bzip2 xz-utils openssl libnettle8"
optional="wine32:i386"

as_root() {
    if [ "$(id -u)" -eq 0 ]; then "$@"; else sudo "$@"; fi
}

missing_of() {
    missing=""
    for package in "$@"; do
        dpkg-query -W -f='${Status}\n' "$package" 2>/dev/null | grep -q '^install ok installed$' \
            || missing="$missing $package"
    done
    echo "$missing"
}

install() {
    as_root env DEBIAN_FRONTEND=noninteractive \
        apt-get install -y -q --no-install-recommends "$@"
}

fetch_mbedtls() {
    "$(dirname "$0")/mbedtls-source.sh"
}

missing=$(missing_of $packages)
missing_optional=$(missing_of $optional)
if [ -z "$missing$missing_optional" ]; then
    fetch_mbedtls
    exit 0
fi

echo "Installing:$missing$missing_optional"
if ! dpkg --print-foreign-architectures | grep -qx i386; then
    as_root dpkg --add-architecture i386
fi
# A mirror in the middle of a sync fails one index now and then; the
# others still serve.
as_root apt-get update -q || echo "deps.sh: apt-get update reported errors; going on" >&2
[ -z "$missing" ] || install $missing
if [ -n "$missing_optional" ] && ! install $missing_optional; then
    echo "deps.sh: could not install$missing_optional; Wine will run 64-bit programs only" >&2
fi
# Installing chrony starts its daemon where an init system runs; the tests
# start their own, and nothing here may set the clock.
if command -v systemctl >/dev/null 2>&1 && systemctl is-active --quiet chrony 2>/dev/null; then
    as_root systemctl stop chrony || true
fi
fetch_mbedtls
