#!/bin/sh
# Installs what is missing, builds, and starts horavex.exe under Wine.
# Arguments go to the program (its only one is a time server's host name).
# The program runs in your Wine prefix (WINEPREFIX, else ~/.wine); without
# an X display it gets a private one, shown inside a Wine desktop window.
set -eu
cd "$(dirname "$0")/.."

scripts/deps.sh
scripts/build.sh

export WINEDEBUG="${WINEDEBUG:--all}"
export WINEDLLOVERRIDES="${WINEDLLOVERRIDES:-mscoree,mshtml=}"
program="$PWD/build/bin/horavex.exe"

if [ -n "${DISPLAY:-}" ]; then
    exec wine "$program" "$@"
fi

displayfile=$(mktemp)
Xvfb -displayfd 3 -screen 0 1024x768x24 3>"$displayfile" >/dev/null 2>&1 &
xvfb=$!
trap 'kill "$xvfb" 2>/dev/null || true' EXIT
for _ in $(seq 100); do
    [ -s "$displayfile" ] && break
    sleep 0.1
done
DISPLAY=":$(head -n 1 "$displayfile")"
export DISPLAY
rm -f "$displayfile"
echo "No X display: horavex runs on the private display $DISPLAY"
echo "(look at it with: DISPLAY=$DISPLAY import -window root shot.png)."
wine explorer /desktop=Horavex,1024x768 "$program" "$@"
