#!/bin/sh
# Runs bench_banner on Qt's offscreen platform and on X11 under Xvfb (with
# Qt's default MIT-SHM image transport, and without it for comparison).
#   bench/bench_banner.sh [BUILD_DIR] [SECONDS]
set -e
build=${1:-build}
seconds=${2:-10}
program="$build/bench/bench_banner"
QT_QPA_PLATFORM=offscreen "$program" "$seconds" 2>/dev/null
QT_QPA_PLATFORM=xcb xvfb-run -a "$program" "$seconds" 2>/dev/null
QT_XCB_NO_MITSHM=1 QT_QPA_PLATFORM=xcb xvfb-run -a "$program" "$seconds" 2>/dev/null | sed 's/platform=xcb/platform=xcb(no MIT-SHM)/'
