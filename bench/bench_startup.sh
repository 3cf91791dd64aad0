#!/bin/sh
# Runs bench_startup under Xvfb (no window manager), as a user runs the
# installer: no SDL_AUDIODRIVER, so the music layer finds the machine's sound
# output itself (here none: SDL's silent output). Set SDL_AUDIODRIVER=dummy
# in the environment to name the silent driver outright instead.
#   bench/bench_startup.sh [BUILD_DIR] [ARGUMENTS...]
# Build the targets installer, bench_plain_window and bench_startup first.
set -e
build=${1:-build}
[ $# -gt 0 ] && shift
QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/bench/bench_startup" --installer "$build/installer/installer" \
    --plain "$build/bench/bench_plain_window" "$@"
