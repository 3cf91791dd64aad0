#!/bin/sh
# Runs bench_idle under Xvfb, the music playing to SDL's silent output.
#   bench/bench_idle.sh [BUILD_DIR] [ARGUMENTS...]
# Build the targets installer, bench_idle and bench_plain_window in BUILD_DIR first.
set -e
build=${1:-build}
[ $# -gt 0 ] && shift
SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/bench/bench_idle" --installer "$build/installer/installer" \
    --plain "$build/bench/bench_plain_window" "$@"
