#!/bin/bash
# Each RAR method through the archive layer against unar and bsdtar
# (bench_rar_methods), output on /dev/shm as the installer's target would be
# on a fast disk; the figures go to stdout, every round's to stderr.
#   bench/bench_rar_methods.sh [BUILD_DIR] [bench_rar_methods options]
# Build the target bench_rar_methods in BUILD_DIR first.
set -e
build=$(realpath "${1:-build}")
shift || true
exec "$build/bench/bench_rar_methods" --tmp /dev/shm "$@"
