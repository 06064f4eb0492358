#!/bin/sh
# Measures how close each protocol brings the clock to the server's time:
# 20 exchanges each against chrony on loopback (SNTP, and NTS with and
# without a key exchange in each fetch), against scripted SNTP servers
# 250 ms ahead, against four servers at once (chrony and three
# scripted ones, one 30 s off), and against a loopback Time server; prints the
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
    pkill -f "$work" 2>/dev/null || true
    kill "$xvfb" 2>/dev/null || true
    # The servers write into their folders until they are gone.
    for _ in $(seq 50); do pgrep -f "$work" >/dev/null || break; sleep 0.1; done
    rm -rf "$work"
}
trap cleanup EXIT

# A service started in the session that made the prefix fails to start
# (error 31 or 29), so the prefix's first session ends before any runs.
if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
    wineserver -w
fi
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
# Twenty scripted SNTP servers 250 ms ahead, each on an address of its
# own: one reading each, no two seconds' spacing between.
scripted=""
for i in $(seq 20); do
    mkdir "$work/sntp$i"
    timeout 300 python3 tests/support/sntpserver.py "$work/sntp$i" offset=250 \
        >"$work/sntp$i/log" 2>&1 &
done
for i in $(seq 20); do
    for _ in $(seq 50); do [ -f "$work/sntp$i/address" ] && break; sleep 0.1; done
    scripted="$scripted $(cat "$work/sntp$i/address")"
done
# A Time protocol server on loopback: the four bytes of the clock now.
timeout 300 python3 -c '
import socket, struct, time
s = socket.socket()
s.setsockopt(socket.SOL_SOCKET, socket.SO_REUSEADDR, 1)
s.bind(("127.0.0.37", 37))
s.listen(5)
while True:
    c, _ = s.accept()
    c.sendall(struct.pack("!I", (int(time.time()) + 2208988800) & 0xFFFFFFFF))
    c.close()
' >"$work/time.log" 2>&1 &
for _ in $(seq 50); do
    ntpdig -j 127.0.0.123 >/dev/null 2>&1 && break
    sleep 0.2
done
echo "Wine $("$wine" --version), $(chronyd -v | head -n 1)"
printf '%-34s %5s %14s %14s %14s %14s\n' "" n "median |err| ms" "worst |err| ms" \
    "median delay ms" "median fetch ms"
accuracy="$PWD/$build/bin/accuracy.exe"
# The scripted servers first: each ends after 30 s without a request.
"$wine" "$accuracy" "SNTP, scripted (true +250 ms)" sntp 250 $scripted
"$wine" "$accuracy" "SNTP, chrony 4.3 (true 0)" sntp 0 127.0.0.123
# chrony serving NTS on an address of its own, with a throwaway CA.
mkdir "$work/nts"
timeout 300 python3 tests/support/ntsserver.py "$work/nts" chrony nts.horavex.test direct \
    >"$work/nts.log" 2>&1 &
for _ in $(seq 100); do [ -f "$work/nts/ready" ] && break; sleep 0.1; done
nts=$(cat "$work/nts/address")
"$wine" "$accuracy" "NTS, chrony 4.3 (true 0)" nts 0 "Z:$work/nts/ca.pem" "$nts"
"$wine" "$accuracy" "NTS, with the key exchange" ntske 0 "Z:$work/nts/ca.pem" "$nts"
touch "$work/nts/stop"
# Four servers at once, chrony among them, one of the scripted ones 30 s
# off: the reading of the three that agree.
several=""
for offset in 0 0 30000; do
    folder=$(mktemp -d "$work/several.XXXX")
    timeout 300 python3 tests/support/sntpserver.py "$folder" offset=$offset \
        >"$folder/log" 2>&1 &
    for _ in $(seq 50); do [ -f "$folder/address" ] && break; sleep 0.1; done
    several="$several $(cat "$folder/address")"
done
"$wine" "$accuracy" "SNTP, 4 servers, one 30 s off" several 0 127.0.0.123 $several
# The time service takes the reading, as for a program without the right;
# the machine lets it serve any host for the run.
"$wine" reg add 'HKLM\Software\Quillmoor\Horavex' /v userHosts /t REG_DWORD /d 1 /f >/dev/null
"$wine" "$PWD/$build/bin/horavexsvc.exe" install \
    || { echo "The time service did not start (error $?)." >&2; exit 1; }
"$wine" "$accuracy" "SNTP through the service, chrony" service 0 127.0.0.123
"$wine" "$PWD/$build/bin/horavexsvc.exe" remove
"$wine" reg delete 'HKLM\Software\Quillmoor\Horavex' /v userHosts /f >/dev/null
"$wine" "$accuracy" "Time protocol (true 0)" time 0 127.0.0.37
