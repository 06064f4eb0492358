# Sourced by the scripts that need an X display of their own: starts Xvfb
# on a free display number, exports DISPLAY, and leaves its pid in $xvfb.
start_private_display() {
    displayfile=$(mktemp)
    Xvfb -displayfd 3 -nolisten tcp -screen 0 1024x768x24 3>"$displayfile" >/dev/null 2>&1 &
    xvfb=$!
    for _ in $(seq 100); do
        [ -s "$displayfile" ] && break
        sleep 0.1
    done
    DISPLAY=":$(head -n 1 "$displayfile")"
    export DISPLAY
    rm -f "$displayfile"
}
