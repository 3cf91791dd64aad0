#!/usr/bin/env bash
# Sets everything up, then starts the installer from the demo release medium.
# Without a display it runs under Xvfb, saves a screenshot and says where.
set -euo pipefail
root=$(cd "$(dirname "$0")/.." && pwd)
build=$root/build
"$root/scripts/setup.sh" "$build"
medium=$build/medium
cd "$medium"
if [ -n "${DISPLAY:-}${WAYLAND_DISPLAY:-}" ]; then
  exec ./installer
fi
shot=$build/installer-screenshot.png
echo "No display: running the installer under Xvfb for a few seconds."
SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy} xvfb-run -a -s "-screen 0 1024x768x24" bash -c "
  ./installer & pid=\$!
  sleep 4
  import -window root '$shot'
  kill \$pid"
echo "Screenshot of the installer: $shot"
