#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite: on a
# private X display, in a private Wine prefix (build/wineprefix), inside a
# network namespace that holds nothing but loopback.  Extra arguments go
# to ctest (for example -R quiet).  The namespace's /etc/hosts is
# tests/support/hosts.
set -eu
cd "$(dirname "$0")/.."

# Root for the namespace and for the test time servers on port 37.
if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi

scripts/deps.sh
# Both builds, warnings as errors: the 32-bit program is the product, and
# the tests run whichever of the two this machine's Wine can run.  Only
# that one builds its test programs.
. scripts/wine-env.sh
if [ "$bits" = 32 ]; then
    scripts/build.sh 32
    scripts/build.sh 64 notests
else
    scripts/build.sh 32 notests
    scripts/build.sh 64
fi
exec unshare --net --mount -- scripts/sandboxed-ctest.sh "$@"
