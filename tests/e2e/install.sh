#!/usr/bin/env bash
# A whole installation of the demo release with the real installer under
# Xvfb, driven with xdotool: INSTALL, a new directory in the chooser, ok,
# extract with a disk held back until the prompt asks for it, then QUIT.
# Checks the extracted tree against bsdtar, the shortcut with lnkinfo, the
# desktop entry with desktop-file-validate, and the shell requests recorded
# by stand-ins for xdg-open and wine.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"
binary_dir=${MERIK_BINARY_DIR:?}
shots=$binary_dir/e2e-shots/install
mkdir -p "$shots"
work=$(mktemp -d)
xvfb_pid=""
installer_pid=""
cleanup() {
  [ -n "$installer_pid" ] && kill -9 "$installer_pid" 2>/dev/null || true
  stop_display
  rm -rf "$work"
}
trap cleanup EXIT
fail() { echo "FAIL: $*" >&2; shot failure; exit 1; }
shot() { import -window root "$shots/$1.png" 2>/dev/null || true; }

# The medium, with one volume held back.
cp -r "$binary_dir/medium" "$work/medium"
mv "$work/medium/STARCRSR.R01" "$work/held-back.R01"

# Recording stand-ins for the programs the shell starts.
mkdir -p "$work/bin" "$work/home"
recorder "$work/bin/xdg-open" "$work/calls.log"
recorder "$work/bin/wine" "$work/calls.log"
# What the folder window's program finds of the installer's own display settings.
echo "printf '%s\\n' \"\${QT_XCB_NO_MITSHM-unset}\" >> '$work/opener.env'" >> "$work/bin/xdg-open"
export PATH="$work/bin:$PATH" HOME="$work/home" XDG_DATA_HOME="$work/home/data" XDG_CONFIG_HOME="$work/home/config"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}

start_display "$work" || fail "Xvfb did not start"

# The visible installer window of the given size: "X Y" of its top-left.
window_of_size() {
  local want_w=$1 want_h=$2 id geometry
  for _ in $(seq 300); do
    for id in $(xdotool search --onlyvisible --name '^MERIK Installer$' 2>/dev/null); do
      geometry=$(xdotool getwindowgeometry --shell "$id")
      eval "$geometry"
      if [ "$WIDTH" = "$want_w" ] && [ "$HEIGHT" = "$want_h" ]; then echo "$X $Y"; return 0; fi
    done
    sleep 0.1
  done
  return 1
}
click_at() { xdotool mousemove "$1" "$2"; sleep 0.2; xdotool click 1; sleep 0.3; }

cd "$work/medium"
./installer &
installer_pid=$!

read -r mx my < <(window_of_size 452 345) || fail "the main window did not appear"
sleep 1
shot 1-main
# INSTALL: the pointer lights the row, the lit row takes the click.
xdotool mousemove $((mx + 100)) $((my + 300)); sleep 0.2
xdotool mousemove $((mx + 200)) $((my + 272)); sleep 0.3
shot 2-install-lit
xdotool click 1; sleep 0.5

read -r cx cy < <(window_of_size 252 314) || fail "the chooser did not appear"
sleep 0.5
shot 3-chooser
click_at $((cx + 110)) $((cy + 290))   # makedir
read -r px py < <(window_of_size 253 126) || fail "the name prompt did not appear"
shot 4-prompt
click_at $((px + 40)) $((py + 100))    # ok: the default name STARCRSR
read -r cx cy < <(window_of_size 252 314) || fail "the chooser did not come back"
[ "$(pwd)" = "$work/medium" ]
click_at $((cx + 42)) $((cy + 290))    # ok
read -r ex ey < <(window_of_size 349 124) || fail "the extraction window did not appear"
shot 5-extraction
click_at $((ex + 35)) $((ey + 100))    # extract

# The disk prompt for the held-back volume: put it back, answer OK.
for _ in $(seq 300); do
  prompt=$(xdotool search --onlyvisible --name '^Confirm$' 2>/dev/null | head -1) && [ -n "$prompt" ] && break
  sleep 0.1
done
[ -n "${prompt:-}" ] || fail "no disk prompt"
shot 6-disk-prompt
mv "$work/held-back.R01" "$work/medium/STARCRSR.R01"
eval "$(xdotool getwindowgeometry --shell "$prompt")"
xdotool mousemove $((X + 20)) $((Y + 20)) click 1; sleep 0.2   # the box takes the keyboard
xdotool key Return                                             # its default button: OK

dest=$work/medium/STARCRSR
for _ in $(seq 300); do [ -f "$work/home/data/applications/Star Cruiser.lnk" ] && break; sleep 0.1; done
sleep 0.5
shot 7-after-extraction

# The extracted tree equals what bsdtar makes of the same volumes.
mkdir "$work/reference"
cat "$work/medium/STARCRSR.RAR" "$work/medium/STARCRSR.R00" "$work/medium/STARCRSR.R01" "$work/medium/STARCRSR.R02" \
  | (cd "$work/reference" && bsdtar -xf -)
diff -r "$work/reference" "$dest" || fail "the extracted tree differs from bsdtar's"
[ -x "$dest/PLAY.SH" ] || fail "PLAY.SH lost its execute permission"

# The shortcut, read by lnkinfo.
link="$work/home/data/applications/Star Cruiser.lnk"
info=$(LC_ALL=C.UTF-8 lnkinfo "$link") || fail "lnkinfo cannot read the shortcut"
grep -qP "^\tDescription\t+: This rules$" <<<"$info" || fail "description: $info"
grep -qP "^\tRelative path\t+: \Q$dest/PLAY.SH\E$" <<<"$info" || fail "target: $info"
grep -qP "^\tWorking directory\t+: \Q$dest\E$" <<<"$info" || fail "working directory: $info"
desktop-file-validate "$work/home/data/applications/Star Cruiser.desktop" || fail "desktop entry not valid"
echo "--- desktop entry"; cat "$work/home/data/applications/Star Cruiser.desktop"

# The shell requests: the registry file to the registry editor, a folder
# window on the destination, both from the medium.
for _ in $(seq 50); do [ "$(grep -c '^--- ' "$work/calls.log" 2>/dev/null)" -ge 2 ] && break; sleep 0.1; done
expected=$(printf '%s\n' "--- wine" "$work/medium" "regedit" "STARCRSR.REG" "--- xdg-open" "$work/medium" "$dest")
recorded=$(awk '/^--- /{if (c) print c; c=$0; next} {c=c "\n" $0} END{print c}' "$work/calls.log" | sort)
[ "$recorded" = "$(awk '/^--- /{if (c) print c; c=$0; next} {c=c "\n" $0} END{print c}' <<<"$expected" | sort)" ] \
  || fail "shell requests: $(cat "$work/calls.log")"
[ "$(cat "$work/opener.env")" = "unset" ] || fail "the folder window inherited QT_XCB_NO_MITSHM: $(cat "$work/opener.env")"

# QUIT, then ok: the program ends.
xdotool mousemove $((mx + 100)) $((my + 200)); sleep 0.2
xdotool mousemove $((mx + 200)) $((my + 302)); sleep 0.3
xdotool click 1; sleep 0.5
read -r qx qy < <(window_of_size 253 123) || fail "the quit window did not appear"
shot 8-quit
click_at $((qx + 40)) $((qy + 102))
for _ in $(seq 50); do kill -0 "$installer_pid" 2>/dev/null || break; sleep 0.1; done
if kill -0 "$installer_pid" 2>/dev/null; then fail "the installer did not end"; fi
wait "$installer_pid" || fail "the installer ended with an error"
installer_pid=""
echo "PASS: installed, shortcut written, folder window requested, program ended"
