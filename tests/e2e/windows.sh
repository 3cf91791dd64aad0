#!/usr/bin/env bash
# The real programs' windows on a display, bare or under a window manager
# (MERIK_WM=openbox): the steps shown while the main window is disabled stay
# in front of it and keep taking clicks (the chooser after a cancelled
# extraction, the quit confirmation after a click on the main window), the
# viewer's first placement counts its frame (outer top 17, outer height the
# screen's minus 35, a text area 30 pixels lower than that),
# the launcher is centred by its outer frame, frameless windows keep their
# client placement, and the viewer's and the launcher's title bars offer only
# a close box.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"

fail() { echo "windows e2e${MERIK_WM:+ ($MERIK_WM)}: FAILED: $*" >&2; shot failure; exit 1; }
note() { echo "windows e2e${MERIK_WM:+ ($MERIK_WM)}: $*"; }

: "${MERIK_BINARY_DIR:?MERIK_BINARY_DIR not set}"
shots=$MERIK_BINARY_DIR/e2e-shots/windows${MERIK_WM:+-$MERIK_WM}
mkdir -p "$shots"
shot() { import -window root "$shots/$1.png" 2>/dev/null || true; }

work=$(mktemp -d)
work=$(cd "$work" && pwd -P)
xvfb_pid=
installer_pid=
launcher_pid=
cleanup() {
    [ -n "$installer_pid" ] && kill -9 "$installer_pid" 2>/dev/null || true
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
    stop_display
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

cp -r "$MERIK_BINARY_DIR/medium" "$work/medium"
mkdir -p "$work/bin" "$work/home"
recorder "$work/bin/xdg-open" "$work/calls.log"
recorder "$work/bin/wine" "$work/calls.log"
export PATH="$work/bin:$PATH" HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"

start_display "$work" || fail "the display did not start"
read -r screen_w screen_h < <(xwininfo -root | awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w, h}')

# The visible window with the given title and client size: its id.
window_of() {
    local title=$1 want_w=$2 want_h=$3 id
    for _ in $(seq 300); do
        for id in $(xdotool search --onlyvisible --name "^$title\$" 2>/dev/null); do
            read -r _ _ w h < <(xwininfo -id "$id" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
                /^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print x, y, w, h}')
            if [ -z "$want_w" ] || { [ "$w" = "$want_w" ] && [ "$h" = "$want_h" ]; }; then echo "$id"; return 0; fi
        done
        sleep 0.1
    done
    return 1
}
# Client area's top-left on the screen.
client_origin() { xwininfo -id "$1" | awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4} END {print x, y}'; }
# Waits until no visible window of that title and size is left.
gone() {
    for _ in $(seq 50); do
        window_of_quick "$@" || return 0
        sleep 0.1
    done
    return 1
}
window_of_quick() {
    local id w h
    for id in $(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null); do
        read -r w h < <(xwininfo -id "$id" | awk '/^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print w, h}')
        [ "$w" = "$2" ] && [ "$h" = "$3" ] && return 0
    done
    return 1
}
click_at() { xdotool mousemove "$1" "$2"; sleep 0.2; xdotool click 1; }
# Lights a menu row of the main window (from the background) and clicks it.
menu_row() {
    xdotool mousemove $((mx + 100)) $((my + 200)); sleep 0.2
    xdotool mousemove $((mx + 200)) $((my + $1)); sleep 0.3
    xdotool click 1
}
# only_close_box ID WHAT: the window asks for a close box and nothing else
# (Motif functions and decorations without minimise and maximise, a toolbar
# window first); under a window manager, the actions it allows are read back.
only_close_box() {
    local id=$1 what=$2 hints types actions
    hints=$(xprop -id "$id" _MOTIF_WM_HINTS | sed -n 's/.* = //p')
    IFS=', ' read -r _ functions decorations _ <<<"$hints"
    [ $((functions & 0x18)) = 0 ] && [ $((decorations & 0x60)) = 0 ] \
        || fail "the $what asks for more than a close box: Motif hints $hints"
    types=$(xprop -id "$id" _NET_WM_WINDOW_TYPE | sed -n 's/.* = //p')
    [ "${types%%,*}" = _NET_WM_WINDOW_TYPE_TOOLBAR ] || fail "the $what's window types are $types"
    [ -z "${MERIK_WM:-}" ] && return 0
    for _ in $(seq 300); do
        actions=$(xprop -id "$id" _NET_WM_ALLOWED_ACTIONS | sed -n 's/.* = //p')
        [ -n "$actions" ] && break
        sleep 0.1
    done
    case "$actions" in *_NET_WM_ACTION_CLOSE*) ;; *) fail "the $what cannot be closed: $actions" ;; esac
    case "$actions" in
    *MINIMIZE* | *MAXIMIZE*) fail "the window manager offers more than a close box on the $what: $actions" ;;
    esac
    note "$what: only a close box${actions:+ (allowed: $actions)}"
}
# Pixels of the screen as it is now.
screen_pixel() { import -window root "$work/screen.png"; pixel "$work/screen.png" "$1" "$2"; }

cd "$work/medium"
./installer >"$work/installer.out" 2>&1 &
installer_pid=$!
main=$(window_of "MERIK Installer" 452 345) || fail "the main window did not appear"
read -r mx my < <(client_origin "$main")
# A frameless window is placed by its client area, frame or none.
expected="$(( (screen_w - 452) / 2 )) $(( (screen_h - 345) / 2 )) 452 345"
seen=$(wait_for_outer "$main" "$expected") || fail "main window at $seen, expected $expected"
note "main window at $seen"

# INSTALL, ok, cancel in the extraction window (which shows the main window
# in front), INSTALL again: the chooser is in front and takes the clicks.
menu_row 272
chooser=$(window_of "MERIK Installer" 252 314) || fail "the chooser did not appear"
read -r cx cy < <(client_origin "$chooser")
click_at $((cx + 42)) $((cy + 290))                  # ok
extraction=$(window_of "MERIK Installer" 349 124) || fail "the extraction window did not appear"
read -r ex ey < <(client_origin "$extraction")
click_at $((ex + 290)) $((ey + 100))                 # cancel
gone "MERIK Installer" 349 124 || fail "cancel did not close the extraction window"
menu_row 272
chooser=$(window_of "MERIK Installer" 252 314) || fail "the chooser did not appear the second time"
read -r cx cy < <(client_origin "$chooser")
sleep 0.3
shot 1-chooser-again
# The chooser's dark directory list shows where the main window's artwork
# would be if the chooser were behind it.
[ "$(screen_pixel $((cx + 200)) $((cy + 210)))" = "16,16,16" ] || fail "the chooser is not in front of the main window"
click_at $((cx + 195)) $((cy + 290))                 # cancel
gone "MERIK Installer" 252 314 || fail "the chooser does not take clicks: it is behind the disabled main window"
note "chooser in front after a cancelled extraction"

# QUIT, then a click on the disabled main window beside the confirmation:
# the confirmation stays in front and its cancel works.
menu_row 302
quitbox=$(window_of "MERIK Installer" 253 123) || fail "the quit confirmation did not appear"
read -r qx qy < <(client_origin "$quitbox")
click_at $((mx + 20)) $((my + 20))
sleep 0.5   # a window manager raises on the click itself; nothing to wait for
shot 2-quit-after-click
[ "$(screen_pixel "$qx" $((qy + 60)))" = "128,128,128" ] || fail "the quit confirmation went behind the main window"
click_at $((qx + 200)) $((qy + 102))                 # cancel
gone "MERIK Installer" 253 123 || fail "the quit confirmation does not take clicks"
note "quit confirmation in front after a click on the main window"

# The viewer's first opening, frame counted.
menu_row 286
viewer=$(window_of "Showing merik.nfo" "" "") || fail "the viewer did not appear"
outer=
for _ in $(seq 300); do
    read -r vx vy vw vh < <(outer_geometry "$viewer")
    outer="$vx $vy $vw $vh"
    [ "$vy" = 17 ] && [ "$vh" = $((screen_h - 35)) ] && [ "$vx" = $(( (screen_w - vw) / 2 )) ] && break
    sleep 0.1
done
[ "$vy" = 17 ] && [ "$vh" = $((screen_h - 35)) ] && [ "$vx" = $(( (screen_w - vw) / 2 )) ] \
    || fail "viewer's outer geometry $outer: expected top 17, height $((screen_h - 35)), centred"
read -r _ client_top < <(client_origin "$viewer")
client_h=$(xwininfo -id "$viewer" | awk '/^ *Height:/ {print $2}')
read -r client_left _ < <(client_origin "$viewer")
sleep 0.3
shot 3-viewer
import -window root "$work/viewer.png"
# The text area is as high as the whole window less 30 pixels; below it,
# down to the client's bottom, the window's own colour (under a frame the
# strip is thinner by the frame's height).
text_bottom=$((client_top + vh - 30))
strip=$((client_top + client_h - text_bottom))
background="199,185,169"
[ "$(pixel "$work/viewer.png" $((client_left + 300)) $((text_bottom - 1)))" != "$background" ] \
    || fail "the text area ends above $text_bottom"
[ "$(pixel "$work/viewer.png" $((client_left + 300)) "$text_bottom")" = "$background" ] \
    || fail "the text area reaches below $text_bottom"
[ "$(pixel "$work/viewer.png" $((client_left + 300)) $((client_top + client_h - 1)))" = "$background" ] \
    || fail "no strip at the client's bottom"
note "viewer: outer $outer, strip below the text $strip pixels"
only_close_box "$viewer" viewer
xdotool windowclose "$viewer" 2>/dev/null || xdotool key --window "$viewer" alt+F4

# QUIT, ok: the installer ends.
menu_row 302
quitbox=$(window_of "MERIK Installer" 253 123) || fail "the quit confirmation did not appear the second time"
read -r qx qy < <(client_origin "$quitbox")
click_at $((qx + 40)) $((qy + 102))
for _ in $(seq 50); do kill -0 "$installer_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$installer_pid" 2>/dev/null && fail "the installer did not end"
installer_pid=

# The launcher, centred by its outer frame.
./launcher >"$work/launcher.out" 2>&1 &
launcher_pid=$!
launcher=$(window_of "MERIK Game Launcher - .*" 384 120) || fail "the launcher did not appear"
for _ in $(seq 300); do
    read -r lx ly lw lh < <(outer_geometry "$launcher")
    [ "$lx" = $(( (screen_w - lw) / 2 )) ] && [ "$ly" = $(( (screen_h - lh) / 2 )) ] && break
    sleep 0.1
done
[ "$lx" = $(( (screen_w - lw) / 2 )) ] && [ "$ly" = $(( (screen_h - lh) / 2 )) ] \
    || fail "launcher's outer geometry $lx $ly $lw $lh is not centred"
shot 4-launcher
note "launcher: outer $lx $ly $lw $lh"
only_close_box "$launcher" launcher
kill "$launcher_pid"; wait "$launcher_pid" 2>/dev/null || true; launcher_pid=
echo "windows e2e${MERIK_WM:+ ($MERIK_WM)}: passed"
