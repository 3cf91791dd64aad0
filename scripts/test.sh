#!/usr/bin/env bash
# Sets everything up, then builds and runs every test.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/scripts/setup.sh" "$build"
cd "$build"
ctest --output-on-failure -j "$(nproc)"
