# Sourced by the end-to-end tests.

# start_display WORKDIR: a private Xvfb display (Xvfb takes a free number
# itself, so tests may run side by side); exports DISPLAY and sets xvfb_pid.
start_display() {
    exec 5>"$1/display"
    Xvfb -displayfd 5 -screen 0 1024x768x24 -nolisten tcp >/dev/null 2>&1 &
    xvfb_pid=$!
    exec 5>&-
    for _ in $(seq 100); do [ -s "$1/display" ] && break; sleep 0.1; done
    [ -s "$1/display" ] || { echo "Xvfb did not start" >&2; return 1; }
    export DISPLAY=:$(head -n1 "$1/display")
    export QT_QPA_PLATFORM=xcb
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
