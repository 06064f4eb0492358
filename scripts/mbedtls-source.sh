#!/bin/sh
# Fetches Mbed TLS's Debian source package (Debian 13's mbedtls) into the
# cache, once, and unpacks it with Debian's patches: through a private apt
# configuration that adds one deb-src line and changes nothing of the
# system's sources.  cmake/mbedtls.cmake builds it from there.  The cache
# is HORAVEX_CACHE_DIR, else ~/.cache/horavex; HORAVEX_DEBIAN_MIRROR names
# another mirror.  Run by scripts/deps.sh.
set -eu

cache="${HORAVEX_CACHE_DIR:-${XDG_CACHE_HOME:-$HOME/.cache}/horavex}"
mirror="${HORAVEX_DEBIAN_MIRROR:-http://deb.debian.org/debian}"
if ls -d "$cache"/mbedtls-*/source >/dev/null 2>&1; then
    exit 0
fi

echo "Fetching Mbed TLS's Debian source package into $cache ..."
apt="$cache/apt"
mkdir -p "$apt/lists/partial" "$apt/cache/archives/partial"
echo "deb-src $mirror trixie main" >"$apt/sources.list"
# The fetch runs as whoever runs this: apt's own user could not write here.
set -- -o "Dir::Etc::SourceList=$apt/sources.list" -o Dir::Etc::SourceParts=/dev/null \
    -o "Dir::State::Lists=$apt/lists" -o "Dir::Cache=$apt/cache" \
    -o "APT::Sandbox::User=$(id -un)" -qq
apt-get "$@" update
work=$(mktemp -d "$cache/fetch.XXXXXX")
trap 'rm -rf "$work"' EXIT
if ! (cd "$work" && apt-get "$@" source --download-only mbedtls) >"$work/fetch.log" 2>&1; then
    cat "$work/fetch.log" >&2
    exit 1
fi
dsc=$(ls "$work"/mbedtls_*.dsc)
version=$(sed -n 's/^Version: //p' "$dsc")
# apt checked every file against the archive's signed index; dpkg-source
# checks them against the .dsc, whose own signature needs a keyring that
# this machine need not have: its warning goes to the log, errors show.
if ! dpkg-source -x "$dsc" "$work/source" >"$work/unpack.log" 2>&1; then
    cat "$work/unpack.log" >&2
    exit 1
fi
mkdir -p "$cache/mbedtls-$version"
mv "$work/source" "$cache/mbedtls-$version/source"
echo "Mbed TLS $version is in $cache/mbedtls-$version"
