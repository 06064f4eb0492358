#!/bin/sh
# Installs what is missing, builds, and starts horavex.exe under Wine.
# Arguments go to the program (its only one is a time server's host name).
# The program runs in your Wine prefix (WINEPREFIX, else ~/.wine); without
# an X display it gets a private one, shown inside a Wine desktop window.
# On a machine whose Wine runs only 64-bit programs, the 64-bit build runs.
set -eu
cd "$(dirname "$0")/.."

scripts/deps.sh
. scripts/wine-env.sh
scripts/build.sh "$bits" notests

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
program="$PWD/$build/bin/horavex.exe"

if [ -n "${DISPLAY:-}" ]; then
    exec "$wine" "$program" "$@"
fi

. scripts/private-display.sh
start_private_display
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
echo "No X display: horavex runs on the private display $DISPLAY"
echo "(look at it with: DISPLAY=$DISPLAY import -window root shot.png)."
"$wine" explorer /desktop=Horavex,1024x768 "$program" "$@"
