#!/bin/sh
# Measures how close each protocol brings the clock to the server's time:
# 20 exchanges each against chrony on loopback, against the scripted SNTP
# server 250 ms ahead, and against a loopback Time server; prints the
# median and worst |offset measured - offset true| and the median delay
# (the figures in the README).  Not a test: nothing here passes or fails.
# Run as root (or through sudo) from the checkout; builds first, then runs
# inside a network namespace that holds nothing but loopback.
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi
if [ "${1:-}" != --inside ]; then
    scripts/deps.sh
    . scripts/wine-env.sh
    scripts/build.sh "$bits"
    exec unshare --net -- "$0" --inside
fi

ip link set lo up
. scripts/wine-env.sh
. scripts/private-display.sh
export WINEPREFIX="$PWD/$build/wineprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
start_private_display
work=$(mktemp -d)
cleanup() {
    wineserver -k 2>/dev/null || true
    pkill -f "$work/chrony.conf" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

[ -f "$WINEPREFIX/system.reg" ] || "$wine" wineboot -i >/dev/null 2>&1
# chrony serves its own clock and never touches it (-x).
cat >"$work/chrony.conf" <<CONF
bindaddress 127.0.0.123
port 123
allow 127.0.0.0/8
local stratum 2
cmdport 0
pidfile $work/chronyd.pid
driftfile $work/drift
CONF
chronyd -d -x -u root -f "$work/chrony.conf" >"$work/chrony.log" 2>&1 &
for _ in $(seq 50); do
    ntpdig -j 127.0.0.123 >/dev/null 2>&1 && break
    sleep 0.2
done
echo "Wine $("$wine" --version), $(chronyd -v | head -n 1)"
"$wine" "$PWD/$build/bin/accuracy.exe" 127.0.0.123
