#!/bin/sh
# Runs bench_extract_window under Xvfb (SDL's silent output for the music),
# on tmpfs.
#   bench/bench_extract_window.sh [BUILD_DIR] [ARGUMENTS...]
set -e
build=${1:-build}
[ $# -gt 0 ] && shift
SDL_AUDIODRIVER=dummy QT_QPA_PLATFORM=xcb xvfb-run -a -s "-screen 0 1024x768x24" \
    "$build/bench/bench_extract_window" "$@"
