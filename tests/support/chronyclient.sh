#!/bin/sh
# chrony's own NTS client against a test server: proof that the server
# serves NTS as chrony's clients know it.
#
# usage: chronyclient.sh DIR ADDRESS CA_FILE
# Runs chronyd as a client (-x: it never touches the clock) in DIR, asks
# chronyc for its authentication data until it holds cookies or 8 s pass,
# and writes the last line of "chronyc authdata" to DIR/authdata.
set -u
dir=$1
chmod 700 "$dir"
cat >"$dir/client.conf" <<CONF
server $2 iburst nts minpoll -2 maxpoll -2
ntstrustedcerts $3
port 0
cmdport 0
bindcmdaddress $dir/chronyd.sock
pidfile $dir/chronyd.pid
driftfile $dir/drift
CONF
timeout 10 chronyd -d -x -u root -f "$dir/client.conf" >"$dir/chronyd.log" 2>&1 &
line=""
for _ in $(seq 40); do
    line=$(chronyc -h "$dir/chronyd.sock" -n authdata 2>/dev/null | tail -n 1)
    # The cookie count, the second field from the end, is there once the
    # key exchange is done.
    case "$line" in *NTS*) [ "$(echo "$line" | awk '{print $(NF-1)}')" -gt 0 ] && break ;; esac
    sleep 0.2
done
kill "$!" 2>/dev/null
echo "$line" >"$dir/authdata.part"
mv "$dir/authdata.part" "$dir/authdata"
