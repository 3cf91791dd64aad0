#!/usr/bin/env bash
# The real launcher under Xvfb: its window found by its title, its size and
# place, buttons shown and hidden, a click that starts a program (a recording
# stand-in), the error box of a missing autoplay.ini, and Quit ending it.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"

fail() {
    echo "launcher e2e: FAILED: $*" >&2
    display_report >&2
    exit 1
}
note() { echo "launcher e2e: $*"; }

: "${MERIK_BINARY_DIR:?MERIK_BINARY_DIR not set}"
binary=$MERIK_BINARY_DIR/launcher/launcher
[ -x "$binary" ] || fail "no launcher program at $binary"
for tool in Xvfb xdotool import convert compare; do
    command -v "$tool" >/dev/null || fail "$tool is needed (packages xvfb, xdotool, imagemagick)"
done

work=$(mktemp -d)
work=$(cd "$work" && pwd -P)
xvfb_pid=
launcher_pid=
cleanup() {
    [ -n "$launcher_pid" ] && kill "$launcher_pid" 2>/dev/null || true
    stop_display
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_display "$work" || fail "Xvfb did not start"

log=$work/calls.log
recorder "$work/bin/xdg-open" "$log"
recorder "$work/bin/wine" "$log"
export PATH=$work/bin:$PATH

medium=$work/medium
mkdir -p "$medium"
cp "$binary" "$medium/launcher"
recorder "$medium/game/play.sh" "$log"

# autoplay.ini with CR LF line ends; the caption of entry 2 is $1.
write_autoplay() {
    printf '%s\r\n' "[MERIK autoplay]" "Titl:E2E Cruiser" "Publ:the MERIK test crew" \
        "Dir1:game" "Cap1:Play" "Prg1:play.sh" 'Cmd1:-fast "two words"' \
        "Dir2:" "Cap2:$1" "Prg2:notes.txt" "Cmd2:" \
        "Dir3:" "Cap3:Notes" "Prg3:notes.txt" "Cmd3:" >"$medium/autoplay.ini"
}
printf 'notes\r\n' >"$medium/notes.txt"

# Waits for a window whose whole title is $1 and prints its id.
find_window() {
    local id
    for _ in $(seq 300); do
        id=$(xdotool search --onlyvisible --name "^$1\$" 2>/dev/null | head -n1) || true
        [ -n "$id" ] && { echo "$id"; return 0; }
        sleep 0.1
    done
    return 1
}

start_launcher() {
    (cd / && exec "$medium/launcher") >"$work/launcher.out" 2>&1 &
    launcher_pid=$!
}

wait_for_end() {
    for _ in $(seq 50); do kill -0 "$launcher_pid" 2>/dev/null || { wait "$launcher_pid" 2>/dev/null || true; launcher_pid=; return 0; }; sleep 0.1; done
    return 1
}

click_quit() {
    xdotool mousemove --window "$1" 341 108 click 1
    wait_for_end || fail "Quit did not end the launcher"
}

# Pixels of a control's rectangle (w h x y) in the window's picture $1.
crop() { convert "$1" -crop "$2x$3+$4+$5" +repage "$6"; }
differing_pixels() { compare -metric AE "$1" "$2" null: 2>&1 || true; }

# 1. Every button shown, to compare against.
write_autoplay "Read"
start_launcher
title="MERIK Game Launcher - E2E Cruiser"
window=$(find_window "$title") || fail "no window titled \"$title\" (output: $(cat "$work/launcher.out"))"
xdotool mousemove 0 0
sleep 0.5
import -window "$window" "$work/all.png"
click_quit "$window"

# 2. Entry 2 without a caption: its button is hidden.
write_autoplay ""
start_launcher
window=$(find_window "$title") || fail "no window titled \"$title\" the second time"
shown_ms=$(( $(date +%s%N) / 1000000 ))
note "window $window titled \"$(xdotool getwindowname "$window")\""

geometry=$(xdotool getwindowgeometry "$window")
grep -q "Geometry: 384x120" <<<"$geometry" || fail "window size is not 384 x 120: $geometry"
# Centred on the 1024 x 768 screen by its outer frame (the window itself
# without a window manager), once the frame is known.
for _ in $(seq 300); do
    read -r lx ly lw lh < <(outer_geometry "$window")
    [ "$lx" = $(( (1024 - lw) / 2 )) ] && [ "$ly" = $(( (768 - lh) / 2 )) ] && break
    sleep 0.1
done
[ "$lx" = $(( (1024 - lw) / 2 )) ] && [ "$ly" = $(( (768 - lh) / 2 )) ] \
    || fail "window not centred: outer $lx $ly $lw $lh"
[ -n "${MERIK_WM:-}" ] || [ "$lx $ly" = "320 324" ] || fail "window not at 320,324 without a frame"

xdotool mousemove 0 0
sleep 0.5
import -window "$window" "$work/hidden.png"
for shot in all hidden; do
    crop "$work/$shot.png" 75 21 6 98 "$work/$shot-b1.png"
    crop "$work/$shot.png" 75 21 88 98 "$work/$shot-b2.png"
    crop "$work/$shot.png" 72 21 172 98 "$work/$shot-b3.png"
done
[ "$(differing_pixels "$work/all-b1.png" "$work/hidden-b1.png")" = 0 ] || fail "Button1 looks different although it is shown both times"
[ "$(differing_pixels "$work/all-b3.png" "$work/hidden-b3.png")" = 0 ] || fail "Button3 looks different although it is shown both times"
changed=$(differing_pixels "$work/all-b2.png" "$work/hidden-b2.png")
[ "$changed" -gt 200 ] || fail "Button2 is still drawn although its caption is empty ($changed pixels differ)"
# Where Button2 was, the background shows through: as plain as the area
# between the buttons, with none of a button's outline and caption.
b2_colours=$(convert "$work/hidden-b2.png" -format %k info:)
b1_colours=$(convert "$work/hidden-b1.png" -format %k info:)
[ "$b2_colours" -lt "$b1_colours" ] || fail "Button2's place has as many colours ($b2_colours) as a shown button ($b1_colours)"

# A click on Button1 starts its program in its directory with its parameters.
xdotool mousemove --window "$window" 43 108 click 1
for _ in $(seq 300); do [ -s "$log" ] && break; sleep 0.1; done
expected=$(printf '%s\n' "--- play.sh" "$medium/game" "-fast" "two words")
[ "$(cat "$log" 2>/dev/null)" = "$expected" ] || fail "Button1 started $(cat "$log" 2>/dev/null || echo nothing), expected $expected"
kill -0 "$launcher_pid" 2>/dev/null || fail "the launcher ended after starting a program"
# A frame the manager states late is heard at once: stated here by hand
# 6 s after showing, seconds before the launcher would next ask on its own
# (at 5.1 and 10.2 s), it moves the window to the place centred with that
# frame (outer corner 316,312 plus left 4 and top 20) within a second.
if [ -z "${MERIK_WM:-}" ]; then
    while [ $(( $(date +%s%N) / 1000000 - shown_ms )) -lt 6000 ]; do sleep 0.1; done
    xprop -id "$window" -f _NET_FRAME_EXTENTS 32c -set _NET_FRAME_EXTENTS 4,4,20,4
    for _ in $(seq 10); do
        read -r lx ly lw lh < <(outer_geometry "$window")
        [ "$lx $ly" = "320 332" ] && break
        sleep 0.1
    done
    [ "$lx $ly" = "320 332" ] || fail "a frame stated 6 s after showing left the window at $lx,$ly, not 320,332"
fi
click_quit "$window"
note "window, hidden button, start and Quit: fine"

# 3. No autoplay.ini: one error box captioned with the application title,
# then the window with its design-time caption.
rm "$medium/autoplay.ini"
: >"$log"
start_launcher
box=$(find_window "MERIK-Runner") || fail "no error box titled MERIK-Runner"
sleep 0.3
xdotool windowfocus --sync "$box"
xdotool key Return
window=$(find_window "MERIK Game Launcher - ") || fail "no window titled \"MERIK Game Launcher - \" after the error box"
xdotool search --onlyvisible --name "^MERIK-Runner\$" >/dev/null 2>&1 && fail "the error box is still open"
recorder "$medium/prg1" "$log"
xdotool mousemove --window "$window" 43 108 click 1
for _ in $(seq 300); do [ -s "$log" ] && break; sleep 0.1; done
expected=$(printf '%s\n' "--- prg1" "$medium" "cmd1")
[ "$(cat "$log" 2>/dev/null)" = "$expected" ] || fail "Button1 of the design started $(cat "$log" 2>/dev/null || echo nothing), expected $expected"
click_quit "$window"
note "missing autoplay.ini: fine"
echo "launcher e2e: passed"
