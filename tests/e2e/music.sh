#!/usr/bin/env bash
# The real installer under Xvfb plays its music: what it plays is written to
# a file by SDL's disk driver and must grow and not be silent; the module's
# temporary copy is gone once the window is up; SIGTERM still ends the
# program while the music plays.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"

fail() { echo "music e2e: FAILED: $*" >&2; exit 1; }
note() { echo "music e2e: $*"; }

: "${MERIK_BINARY_DIR:?MERIK_BINARY_DIR not set}"
: "${MERIK_SOURCE_DIR:?MERIK_SOURCE_DIR not set}"
binary=$MERIK_BINARY_DIR/installer/installer
[ -x "$binary" ] || fail "no installer program at $binary"
for tool in Xvfb xdotool od awk; do
    command -v "$tool" >/dev/null || fail "$tool is needed"
done

work=$(mktemp -d)
work=$(cd "$work" && pwd -P)
xvfb_pid=
installer_pid=
cleanup() {
    [ -n "$installer_pid" ] && kill -9 "$installer_pid" 2>/dev/null || true
    stop_display
    wait 2>/dev/null
    rm -rf "$work"
}
trap cleanup EXIT

start_display "$work" || fail "Xvfb did not start"

mkdir -p "$work/medium" "$work/tmp" "$work/runtime"
chmod 700 "$work/runtime"
cp "$binary" "$MERIK_SOURCE_DIR/demo/install.ini" "$work/medium/"
music=$work/music.raw

cd "$work/medium"
# Qt keeps its runtime folder apart, so the temporary folder holds only what
# the music leaves there.
TMPDIR=$work/tmp XDG_RUNTIME_DIR=$work/runtime \
    SDL_AUDIODRIVER=disk SDL_DISKAUDIOFILE=$music \
    ./installer >"$work/out.log" 2>&1 &
installer_pid=$!

window=
for _ in $(seq 150); do
    window=$(xdotool search --name '^MERIK Installer$' 2>/dev/null | head -n1) && [ -n "$window" ] && break
    sleep 0.1
done
[ -n "$window" ] || fail "the main window did not appear"
note "main window up"

leftover=$(ls -A "$work/tmp")
[ -z "$leftover" ] || fail "the temporary folder still holds: $leftover"

sleep 2
first=$(stat -c %s "$music")
sleep 1
second=$(stat -c %s "$music")
[ "$second" -gt "$first" ] || fail "nothing more was played ($first then $second bytes)"
# About a second of 44.1 kHz 16-bit stereo is 176400 bytes.
[ $((second - first)) -gt 80000 ] || fail "too little played in a second: $((second - first)) bytes"

level=$(od -An -v -t d2 -w2 "$music" | awk '{ s += $1 * $1; n++ } END { if (n) printf "%d", sqrt(s / n); else print 0 }')
note "played $second bytes, level $level"
[ "$level" -gt 300 ] || fail "the music is silent (level $level)"

kill -TERM "$installer_pid"
for _ in $(seq 50); do kill -0 "$installer_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$installer_pid" 2>/dev/null && fail "SIGTERM did not end the installer"
installer_pid=
note "passed"
