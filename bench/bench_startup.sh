#!/bin/sh
# Runs bench_startup under Xvfb (no window manager), the installer's music
# playing to SDL's silent output.
#   bench/bench_startup.sh [BUILD_DIR] [ARGUMENTS...]
# Build the targets installer, bench_plain_window and bench_startup first.
set -e
build=${1:-build}
[ $# -gt 0 ] && shift
SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/bench/bench_startup" --installer "$build/installer/installer" \
    --plain "$build/bench/bench_plain_window" "$@"
