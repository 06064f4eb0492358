#!/bin/sh
# Takes the README's pictures from the real program: starts horavex.exe on
# a private X display inside a Wine desktop, against a time server on
# loopback, inside a network namespace that holds nothing else, and saves
# screenshots into docs/pictures.  Run as root (or through sudo) from the
# checkout; builds first.
set -eu
cd "$(dirname "$0")/.."

if [ "$(id -u)" -ne 0 ]; then
    exec sudo -- "$0" "$@"
fi
if [ "${1:-}" != --inside ]; then
    scripts/deps.sh
    for tool in import:imagemagick xdotool:xdotool; do
        command -v "${tool%%:*}" >/dev/null 2>&1 || \
            DEBIAN_FRONTEND=noninteractive apt-get install -y -q --no-install-recommends \
                "${tool#*:}"
    done
    . scripts/wine-env.sh
    scripts/build.sh "$bits" notests
    exec unshare --net -- "$0" --inside
fi

ip link set lo up
. scripts/wine-env.sh
. scripts/private-display.sh
export WINEPREFIX="$PWD/$build/shotprefix"
export WINEDEBUG=-all
export WINEDLLOVERRIDES="mscoree,mshtml="
start_private_display
work=$(mktemp -d)
cleanup() {
    wineserver -k 2>/dev/null || true
    kill "$xvfb" "${server:-}" 2>/dev/null || true
    rm -rf "$work"
}
trap cleanup EXIT

# An RFC 868 server on 127.0.0.1:37 that answers with the current time and
# counts its answers in a file.
python3 - "$work/answers" <<'PY' &
import socket, struct, sys, time
listener = socket.socket()
listener.bind(("127.0.0.1", 37))
listener.listen(5)
answers = 0
while True:
    client, _ = listener.accept()
    client.sendall(struct.pack("!I", int(time.time()) + 2208988800))
    client.close()
    answers += 1
    open(sys.argv[1], "w").write(str(answers))
PY
server=$!

if [ ! -f "$WINEPREFIX/system.reg" ]; then
    "$wine" wineboot -i >/dev/null 2>&1
    # One desktop with a taskbar and its notification area.
    "$wine" reg add 'HKCU\Software\Wine\Explorer' /v Desktop /d Horavex /f >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops' /v Horavex /d 640x400 /f \
        >/dev/null 2>&1
    "$wine" reg add 'HKCU\Software\Wine\Explorer\Desktops\Horavex' /v EnableShell \
        /t REG_DWORD /d 1 /f >/dev/null 2>&1
    wineserver -k 2>/dev/null || true
fi
key='HKLM\Software\Quillmoor\Horavex'
setting() { "$wine" reg add "$key" "/reg:$bits" /v "$1" /t "$2" /d "$3" /f >/dev/null 2>&1; }
setting host REG_SZ 127.0.0.1
setting reportOnly REG_DWORD 1
setting autoStart REG_DWORD 1
setting attempts REG_DWORD 0
setting sysTray REG_DWORD 1
setting quiet REG_DWORD 0
"$wine" reg add "$key\\hosts" "/reg:$bits" /v host0 /d 127.0.0.1 /f >/dev/null 2>&1
"$wine" reg add "$key\\hosts" "/reg:$bits" /v host1 /d time.example.org /f >/dev/null 2>&1

answers() { cat "$work/answers" 2>/dev/null || echo 0; }
wait_for_answers() {
    for _ in $(seq 300); do
        [ "$(answers)" -ge "$1" ] && return 0
        sleep 0.1
    done
    return 1
}
shot() { import -window root -crop 640x400+0+0 +repage "docs/pictures/$1.png"; echo "docs/pictures/$1.png"; }

# The main dialog after a reading, the icon in the taskbar.
"$wine" explorer /desktop=Horavex,640x400 "$PWD/$build/bin/horavex.exe" >/dev/null 2>&1 &
wait_for_answers 1
sleep 2 # the reading and the next clock tick paint
shot main-dialog
# Its Advanced ... and About buttons, where the main dialog shows them.
xdotool mousemove 462 110 click 1
sleep 1
shot advanced
xdotool key Escape
sleep 0.5
xdotool mousemove 462 143 click 1
sleep 1
shot about
wineserver -k 2>/dev/null || true

# Quiet: the flyout after a reading, then the icon's menu.
setting quiet REG_DWORD 1
"$wine" explorer /desktop=Horavex,640x400 "$PWD/$build/bin/horavex.exe" >/dev/null 2>&1 &
wait_for_answers 2
sleep 0.5
shot flyout
sleep 3 # the flyout goes
xdotool mousemove 630 390 click 3
sleep 1
shot tray-menu
