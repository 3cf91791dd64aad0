#!/bin/bash
# CPU share of the real installer while it sits idle with its music and
# banner running (under Xvfb, SDL's silent output), then the music layer
# alone against openmpt123 (bench_music).
#   bench/bench_music.sh [BUILD_DIR] [SECONDS]
# Build the targets installer and bench_music in BUILD_DIR first.
set -e
build=$(realpath "${1:-build}")
seconds=${2:-10}
source_dir=$(realpath "$(dirname "$0")/..")

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
# The installer reads install.ini from its own folder.
cp "$build/installer/installer" "$source_dir/demo/install.ini" "$work/"

# The measuring runs inside xvfb-run's display: user and system time of the
# process from /proc, after start-up.
cat > "$work/measure.sh" <<'SCRIPT'
"$work/installer" 2>/dev/null &
pid=$!
sleep 2
read -r -a stat < "/proc/$pid/stat"
before=$((stat[13] + stat[14]))
sleep "$seconds"
read -r -a stat < "/proc/$pid/stat"
after=$((stat[13] + stat[14]))
kill "$pid"
wait "$pid" 2>/dev/null || true
awk -v t=$((after - before)) -v hz="$(getconf CLK_TCK)" -v s="$seconds" \
    'BEGIN { printf "bench_music: installer idle with music and banner (Xvfb) %.2f%% of one core over %d s (target < 3%%)\n", 100 * t / hz / s, s }'
SCRIPT
export work seconds

cd "$work"
SDL_AUDIODRIVER=dummy xvfb-run -a bash "$work/measure.sh"
"$build/bench/bench_music" "$seconds"
