#!/bin/sh
# The inside of scripts/test.sh, run in its private network and mount
# namespaces: brings up loopback, the tests' own /etc/hosts, an X display,
# the Wine prefix and one wineserver for the whole run, then ctest.
set -eu
cd "$(dirname "$0")/.."

ip link set lo up
# Names with several addresses; the machine's own file is not touched.
mount --bind tests/support/hosts /etc/hosts

. scripts/wine-env.sh
echo "Testing the ${bits}-bit build ($build)."
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="

. scripts/private-display.sh
start_private_display

stop() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
}
trap stop EXIT

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    echo "Creating the Wine prefix (once) ..."
    "$wine" wineboot -i >/dev/null 2>&1
fi
# All windows inside one Wine desktop window: without a window manager,
# Wine otherwise waits 2 s for every closed top-level window.  Its shell
# draws a taskbar with a notification area.  The settings count from the
# next wineserver on.
marker="$WINEPREFIX/.horavex-desktop-shell"
if [ ! -f "$marker" ]; then
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Default /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Default /d 1024x768 /f \
        >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops\Default' /v EnableShell \
        /t REG_DWORD /d 1 /f >/dev/null 2>&1
    touch "$marker"
fi
wineserver -k 2>/dev/null || true
wineserver -w
# One server for the run, detached from ctest's output pipes.
wineserver -f -p </dev/null >/dev/null 2>&1 &
"$wine" wineboot -u >/dev/null 2>&1

status=0
# A failed test runs once more: now and then a Wine process dies before its
# test begins (no output, a few milliseconds); a real fault fails twice.
ctest --test-dir "$build" --output-on-failure --parallel 3 --repeat until-pass:2 "$@" \
    || status=$?
exit $status
