#!/usr/bin/env bash
# A solid RAR 2.9 release through the real installer under Xvfb, driven
# with xdotool: INSTALL, a new directory, ok, extract.
# - The sound archive installs completely: the tree equals unar's
#   extraction, the extraction window goes away, and the end actions run
#   (the registry import and the folder window, recorded by stand-ins for
#   wine and xdg-open, and the shortcut).
# - A copy whose solid stream is damaged halfway (bytes flipped in the
#   second entry's packed data) stops with "CRC error" in the window, which
#   stays; no end action runs, and nothing of the damaged entry or of the
#   entries after it is left in the destination.
# The status line is compared with the one a stored entry with a wrong CRC
# shows, captured in a first run. Set MERIK_WM=openbox to run it under a
# window manager.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"
binary_dir=${MERIK_BINARY_DIR:?}
demo=${MERIK_SOURCE_DIR:-$(dirname "$0")/../..}/demo
fixtures=${MERIK_SHARED_FIXTURES:-${MERIK_SOURCE_DIR:-$(dirname "$0")/../..}/../shared/fixtures}
sample=$fixtures/rar/sharpcompress/Rar.solid.rar
installer=$binary_dir/installer/installer
helper=$binary_dir/tests/test_layer_damage
if [ ! -f "$sample" ]; then echo "SKIP: the shared sample $sample is not there"; exit 0; fi
if ! command -v unar >/dev/null; then echo "SKIP: unar, the reference for RAR 2.9, is not installed"; exit 0; fi
for tool in Xvfb xdotool xwininfo import compare; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is needed" >&2; exit 1; }
done
[ -x "$installer" ] && [ -x "$helper" ] || { echo "FAIL: build installer and test_layer_damage first" >&2; exit 1; }
shots=$binary_dir/e2e-shots/solid
mkdir -p "$shots"
aux=$(mktemp -d)
xvfb_pid=""
installer_pid=""
cleanup() {
  [ -n "$installer_pid" ] && kill -9 "$installer_pid" 2>/dev/null || true
  stop_display
  wait 2>/dev/null || true
  rm -rf "$aux"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; shot failure; exit 1; }
shot() { import -window root "$shots/$1.png" 2>/dev/null || true; }

recorder "$aux/bin/xdg-open" "$aux/calls.log"
recorder "$aux/bin/wine" "$aux/calls.log"
export PATH="$aux/bin:$PATH" XDG_CACHE_HOME="$aux/cache" XDG_CONFIG_HOME="$aux/config" XDG_RUNTIME_DIR="$aux/runtime"
mkdir -p "$aux/runtime" && chmod 700 "$aux/runtime"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
start_display "$aux" || fail "the display did not start"

# "X Y" of the visible installer window of the given inner size. The
# position is read with xwininfo, which gives the window's own corner also
# when a window manager has framed it. A third argument: tenths of a second
# to wait (30 s by default).
window_of_size() {
  local want_w=$1 want_h=$2 tries=${3:-300} id info x y w h
  for _ in $(seq "$tries"); do
    for id in $(xdotool search --onlyvisible --name '^MERIK Installer$' 2>/dev/null); do
      info=$(xwininfo -id "$id" 2>/dev/null) || continue
      read -r x y w h < <(awk '/Absolute upper-left X:/ {x=$4} /Absolute upper-left Y:/ {y=$4}
        /^ *Width:/ {w=$2} /^ *Height:/ {h=$2} END {print x, y, w, h}' <<<"$info")
      if [ "$w" = "$want_w" ] && [ "$h" = "$want_h" ]; then echo "$x $y"; return 0; fi
    done
    sleep 0.1
  done
  return 1
}
click_at() { xdotool mousemove "$1" "$2"; sleep 0.2; xdotool click 1; sleep 0.3; }

# install ARCHIVE TAG: a medium laid out as a release (the installer, its
# description naming ARCHIVE, the registry file, the nfo), the installer
# driven to extract into medium/STARCRSR. Leaves $work, $dest, $ex $ey (the
# extraction window) and the installer running; sets $status_crop to a
# picture of the status line once the extraction has ended.
install() {
  local archive=$1 tag=$2 mx my cx cy px py
  work=$(mktemp -d "$aux/run.XXXXXX")
  mkdir -p "$work/medium"
  export HOME=$work XDG_DATA_HOME=$work/data
  cp "$installer" "$demo/merik.nfo" "$demo/STARCRSR.REG" "$work/medium/"
  cp "$archive" "$work/medium/"
  sed "s|^Archive      : .*|Archive      : $(basename "$archive")\r|" "$demo/install.ini" >"$work/medium/install.ini"
  rm -f "$aux/calls.log"
  dest=$work/medium/STARCRSR

  (cd "$work/medium" && exec ./installer) &
  installer_pid=$!
  read -r mx my < <(window_of_size 452 345) || fail "$tag: the main window did not appear"
  sleep 1
  # INSTALL: the pointer lights the row, the lit row takes the click.
  xdotool mousemove $((mx + 100)) $((my + 300)); sleep 0.2
  xdotool mousemove $((mx + 200)) $((my + 272)); sleep 0.3
  xdotool click 1; sleep 0.5
  read -r cx cy < <(window_of_size 252 314) || fail "$tag: the chooser did not appear"
  sleep 0.5
  click_at $((cx + 110)) $((cy + 290))   # makedir
  read -r px py < <(window_of_size 253 126) || fail "$tag: the name prompt did not appear"
  click_at $((px + 40)) $((py + 100))    # ok: STARCRSR
  read -r cx cy < <(window_of_size 252 314) || fail "$tag: the chooser did not come back"
  click_at $((cx + 42)) $((cy + 290))    # ok
  read -r ex ey < <(window_of_size 349 124) || fail "$tag: the extraction window did not appear"
  shot "$tag-1-extraction"
  click_at $((ex + 35)) $((ey + 100))    # extract
}

# The status line of the extraction window, once its text has stayed the
# same for a second (the window stays after a failure).
settled_status() {
  local tag=$1 last="" now
  status_crop=$aux/$tag-status.png
  for _ in $(seq 30); do
    sleep 1
    import -window root -crop 307x15+$((ex + 20))+$((ey + 44)) +repage "$status_crop" 2>/dev/null || continue
    now=$(md5sum <"$status_crop")
    [ "$now" = "$last" ] && return 0
    last=$now
  done
  return 1
}

end_installer() {
  kill -9 "$installer_pid" 2>/dev/null || true
  wait "$installer_pid" 2>/dev/null || true
  installer_pid=""
}

same_picture() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }

# The files of a tree, with contents (directories and links as such).
listing() { (cd "$1" && find . -mindepth 1 -printf '%P %y %l\n' | sort); }

mkdir "$aux/reference"
unar -q -D -o "$aux/reference" "$sample" >/dev/null || fail "unar cannot extract the sound sample"

# 1. The sound solid archive installs completely.
install "$sample" sound
for _ in $(seq 200); do
  [ "$(grep -c '^--- ' "$aux/calls.log" 2>/dev/null)" -ge 2 ] && [ -f "$XDG_DATA_HOME/applications/Star Cruiser.lnk" ] && break
  sleep 0.1
done
sleep 0.5
shot sound-2-after
if window_of_size 349 124 20 >/dev/null 2>&1; then fail "sound: the extraction window stayed: $(ls -R "$dest")"; fi
diff -r "$aux/reference" "$dest" || fail "sound: the installed tree differs from unar's extraction"
[ "$(listing "$aux/reference")" = "$(listing "$dest")" ] || fail "sound: the installed tree's kinds differ from unar's"
expected=$(printf '%s\n' "--- wine" "$work/medium" "regedit" "STARCRSR.REG" "--- xdg-open" "$work/medium" "$dest")
blocks() { awk '/^--- /{if (c) print c; c=$0; next} {c=c "\n" $0} END{print c}' | sort; }
[ "$(blocks <"$aux/calls.log")" = "$(blocks <<<"$expected")" ] \
  || fail "sound: the end actions recorded: $(cat "$aux/calls.log" 2>/dev/null)"
[ -f "$XDG_DATA_HOME/applications/Star Cruiser.lnk" ] || fail "sound: no shortcut was written"
end_installer
echo "ok: the solid archive installed completely, end actions recorded"

# 2. The reference status: a stored entry with a wrong CRC.
mkdir "$aux/crc"
crc_set=$("$helper" --write-crc-error "$aux/crc") || fail "cannot write the wrong-CRC set"
install "$crc_set" crc
settled_status crc || fail "crc: the status line did not settle"
shot crc-2-failed
window_of_size 349 124 >/dev/null || fail "crc: the extraction window went away as after success"
crc_status=$aux/crc-reference.png
cp "$status_crop" "$crc_status"
end_installer

# 3. The solid stream damaged halfway.
mkdir "$aux/damaged"
later=$("$helper" --damage-entry "$sample" 1 "$aux/damaged/Rar.solid.rar") || fail "cannot damage the sample"
install "$aux/damaged/Rar.solid.rar" damaged
settled_status damaged || fail "damaged: the status line did not settle"
shot damaged-2-failed
problems=()
window_of_size 349 124 >/dev/null || problems+=("the extraction window went away as after success")
same_picture "$status_crop" "$crc_status" || problems+=("the status line does not read \"CRC error\" (see $shots)")
cp "$status_crop" "$shots/damaged-status.png"; cp "$crc_status" "$shots/crc-status.png"
sleep 1
if [ -s "$aux/calls.log" ]; then problems+=("end actions ran: $(tr '\n' ' ' <"$aux/calls.log")"); fi
if ls "$XDG_DATA_HOME"/applications/* >/dev/null 2>&1; then problems+=("a shortcut was written"); fi
while IFS= read -r name; do
  if [ -e "$dest/$name" ] || [ -L "$dest/$name" ]; then problems+=("left behind: $name"); fi
done <<<"$later"
# Only the first entry is there, equal to unar's; no temporary part.
first=$(listing "$dest")
want=$(cd "$aux/reference" && find . -mindepth 1 -maxdepth 1 -type f -printf '%P f \n' | sort)
[ "$first" = "$want" ] || problems+=("the destination holds: $(tr '\n' ',' <<<"$first") (want $(tr '\n' ',' <<<"$want"))")
while IFS= read -r f; do
  if ! cmp -s "$aux/reference/$f" "$dest/$f"; then problems+=("$f differs from unar's"); fi
done < <(cd "$dest" && find . -type f -printf '%P\n')
end_installer
if [ ${#problems[@]} -gt 0 ]; then
  printf 'FAIL: damaged: %s\n' "${problems[@]}" >&2
  exit 1
fi
echo "PASS: the solid archive installs completely; damaged halfway it stops with \"CRC error\", no end action, nothing of the damaged entries left"
