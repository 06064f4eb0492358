#!/bin/sh
# Installs what is missing, builds, and runs the whole test suite: on a
# private X display, in a private Wine prefix (build/wineprefix), inside a
# network namespace that holds nothing but loopback.  Extra arguments go
# to ctest (for example -R quiet).
set -eu
cd "$(dirname "$0")/.."

# Root for the namespace and for the test time servers on port 37.
if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi

scripts/deps.sh
scripts/build.sh
exec unshare --net -- scripts/sandboxed-ctest.sh "$@"
