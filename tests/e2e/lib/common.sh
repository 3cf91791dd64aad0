# Sourced by the end-to-end tests.

# start_display WORKDIR: a private Xvfb display (Xvfb takes a free number
# itself, so tests may run side by side); exports DISPLAY and sets xvfb_pid.
# With MERIK_WM=openbox the display gets a window manager, as on a real
# desktop (it ends with the display); wm_pid is then its process.
start_display() {
    local attempt
    # Two servers starting side by side can race for one display number:
    # the loser exits, and is started again.
    for attempt in 1 2 3 4 5; do
        exec 5>"$1/display"
        display_log=$1/xvfb.log
        # -noreset: a server resets when its last client leaves, and a
        # program started in that moment could not connect.
        Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp -noreset >"$display_log" 2>&1 &
        xvfb_pid=$!
        exec 5>&-
        for _ in $(seq 300); do [ -s "$1/display" ] && break; kill -0 "$xvfb_pid" 2>/dev/null || break; sleep 0.1; done
        if [ -s "$1/display" ] && DISPLAY=:$(head -n1 "$1/display") xprop -root >/dev/null 2>&1 \
            && kill -0 "$xvfb_pid" 2>/dev/null; then
            break
        fi
        kill "$xvfb_pid" 2>/dev/null; wait "$xvfb_pid" 2>/dev/null
        xvfb_pid=
        : >"$1/display"
    done
    [ -n "$xvfb_pid" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(head -n1 "$1/display")
    export QT_QPA_PLATFORM=xcb
    wm_pid=
    case "${MERIK_WM:-}" in
    "") ;;
    openbox)
        command -v openbox >/dev/null || { echo "openbox is needed (package openbox)" >&2; return 1; }
        openbox >"$1/openbox.log" 2>&1 &
        wm_pid=$!
        # Ready once it has claimed the screen.
        for _ in $(seq 300); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && return 0
            sleep 0.1
        done
        echo "openbox did not start: $(cat "$1/openbox.log")" >&2
        return 1
        ;;
    *) echo "unknown window manager $MERIK_WM" >&2; return 1 ;;
    esac
}

# outer_geometry ID: "X Y WIDTH HEIGHT" of the window with its frame (the
# window manager's frame window, or the window itself without one).
outer_geometry() {
    local id=$1 parent root
    root=$(xwininfo -root | awk '/Window id:/ {print $4}')
    for _ in $(seq 10); do
        parent=$(xwininfo -children -id "$id" | awk '/Parent window id:/ {print $4}')
        [ -z "$parent" ] || [ "$((parent))" = "$((root))" ] && break
        id=$parent
    done
    xwininfo -id "$id" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print x, y, w, h}'
}

# wait_for_outer ID "X Y W H": waits (up to 30 s) until the window's outer
# geometry is the one given; prints the last one seen either way.
wait_for_outer() {
    local seen=
    for _ in $(seq 300); do
        seen=$(outer_geometry "$1")
        [ "$seen" = "$2" ] && { echo "$seen"; return 0; }
        sleep 0.1
    done
    echo "$seen"
    return 1
}

# pixel PNG X Y: the colour of one pixel as "R,G,B".
pixel() {
    convert "$1" -crop "1x1+$2+$3" +repage -format '%[fx:int(255*r)],%[fx:int(255*g)],%[fx:int(255*b)]' info:
}

# recorder PATH LOG: a program that appends, in one write per start, its
# name, the directory it ran in and its arguments (one a line) to LOG.
recorder() {
    mkdir -p "$(dirname "$1")"
    cat >"$1" <<SCRIPT
#!/bin/sh
r=\$(printf '%s\n' "--- \$(basename "\$0")" "\$(pwd -P)"; for a in "\$@"; do printf '%s\n' "\$a"; done; printf .)
printf '%s' "\${r%.}" >> '$2'
SCRIPT
    chmod +x "$1"
}

# display_report: whether the display's server still runs, and what it said
# (for a failure's message).
display_report() {
    [ -n "${xvfb_pid:-}" ] || return 0
    if kill -0 "$xvfb_pid" 2>/dev/null; then echo "display $DISPLAY: server running"; else echo "display $DISPLAY: server gone"; fi
    ls -la /tmp/.X11-unix/ 2>/dev/null | sed 's/^/  /'
    [ -s "${display_log:-}" ] && sed 's/^/  xvfb: /' "$display_log"
    return 0
}

# stop_display: ends the display's server and waits until it is gone, so
# that the next test's server cannot meet it still ending on the same number.
stop_display() {
    [ -n "${xvfb_pid:-}" ] || return 0
    kill "$xvfb_pid" 2>/dev/null
    for _ in $(seq 50); do kill -0 "$xvfb_pid" 2>/dev/null || break; sleep 0.1; done
    wait "$xvfb_pid" 2>/dev/null
    xvfb_pid=
    return 0
}
