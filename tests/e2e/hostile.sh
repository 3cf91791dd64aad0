#!/usr/bin/env bash
# Hostile archive sets through the real installer under Xvfb: INSTALL, a
# new directory, ok, extract. For every set the extraction window must stay
# with its failure text, no end action may run (the stand-ins for wine and
# xdg-open record nothing, no shortcut is written), and nothing outside the
# destination may change: a fake ~/.bashrc two levels above it, the
# medium's install.ini and volumes, everything else around it.
# The status line is compared with the one a plainly refused entry shows
# ("File create error - Bad format!"), captured in a first run.
set -euo pipefail
. "$(dirname "$0")/lib/common.sh"
binary_dir=${MERIK_BINARY_DIR:?}
demo=${MERIK_SOURCE_DIR:-$(dirname "$0")/../..}/demo
installer=$binary_dir/installer/installer
writer=$binary_dir/tests/test_hostile
for tool in Xvfb xdotool import compare; do
  command -v "$tool" >/dev/null || { echo "FAIL: $tool is needed" >&2; exit 1; }
done
[ -x "$installer" ] && [ -x "$writer" ] || { echo "FAIL: build installer and test_hostile first" >&2; exit 1; }
shots=$binary_dir/e2e-shots/hostile
mkdir -p "$shots"
aux=$(mktemp -d)
xvfb_pid=""
installer_pid=""
work=""
cleanup() {
  [ -n "$installer_pid" ] && kill -9 "$installer_pid" 2>/dev/null || true
  stop_display
  wait 2>/dev/null || true
  rm -rf "$aux"
}
trap cleanup EXIT
failures=()
shot() { import -window root "$shots/$1.png" 2>/dev/null || true; }

recorder "$aux/bin/xdg-open" "$aux/calls.log"
recorder "$aux/bin/wine" "$aux/calls.log"
export PATH="$aux/bin:$PATH" XDG_CACHE_HOME="$aux/cache" XDG_CONFIG_HOME="$aux/config" XDG_RUNTIME_DIR="$aux/runtime"
mkdir -p "$aux/runtime" && chmod 700 "$aux/runtime"
export SDL_AUDIODRIVER=${SDL_AUDIODRIVER:-dummy}
start_display "$aux" || { echo "FAIL: Xvfb did not start" >&2; exit 1; }

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

# Everything under the work directory but the destination, with kinds,
# modes, sizes, times and link targets (the medium's own time changes when
# the chooser makes the destination in it).
listing() {
  find "$work" -path "$work/medium/STARCRSR" -prune -o -path "$work/medium" -printf '%P %y %m\n' \
    -o -printf '%P %y %m %s %T@ %l\n' | sort
}

# run_set TAG: a medium holding the set TAG as its archive; the installer
# driven to extract it into medium/STARCRSR, two levels below $HOME.
# Sets $status_crop to a picture of the status line; returns 1 when the
# run did not end as a failure should.
run_set() {
  local tag=$1 name first
  name=$(printf '%s' "$1" | tr -c 'A-Za-z0-9.' '-')
  work=$(mktemp -d "$aux/run.XXXXXX")
  mkdir -p "$work/medium" "$work/outside"
  export HOME=$work XDG_DATA_HOME=$work.data
  printf '# the user'"'"'s own\n' >"$work/.bashrc"
  echo secret >"$work/outside/secret"
  cp "$installer" "$demo/merik.nfo" "$demo/STARCRSR.REG" "$work/medium/"
  first=$("$writer" --write-set "$tag" "$work/medium" | head -n1)
  [ -n "$first" ] || { echo "no set $tag"; return 1; }
  sed "s|^Archive      : .*|Archive      : $(basename "$first")\r|" "$demo/install.ini" >"$work/medium/install.ini"
  touch -d @1500000000 "$work/.bashrc" "$work/outside/secret" "$work/medium/install.ini"
  rm -f "$aux/calls.log"
  local before
  before=$(listing)

  (cd "$work/medium" && exec ./installer) &
  installer_pid=$!
  local mx my cx cy px py ex ey
  read -r mx my < <(window_of_size 452 345) || { echo "no main window"; return 1; }
  sleep 1
  xdotool mousemove $((mx + 100)) $((my + 300)); sleep 0.2
  xdotool mousemove $((mx + 200)) $((my + 272)); sleep 0.3
  xdotool click 1; sleep 0.5
  read -r cx cy < <(window_of_size 252 314) || { echo "no chooser"; return 1; }
  sleep 0.5
  click_at $((cx + 110)) $((cy + 290))   # makedir
  read -r px py < <(window_of_size 253 126) || { echo "no name prompt"; return 1; }
  click_at $((px + 40)) $((py + 100))    # ok: STARCRSR
  read -r cx cy < <(window_of_size 252 314) || { echo "no chooser again"; return 1; }
  click_at $((cx + 42)) $((cy + 290))    # ok
  read -r ex ey < <(window_of_size 349 124) || { echo "no extraction window"; return 1; }
  click_at $((ex + 35)) $((ey + 100))    # extract
  sleep 3
  shot "$name"
  status_crop=$aux/$name-status.png
  import -window root -crop 307x15+$((ex + 20))+$((ey + 44)) +repage "$status_crop" 2>/dev/null || true

  local result=0
  window_of_size 349 124 >/dev/null || { echo "the extraction window went away as after success"; result=1; }
  if [ -s "$aux/calls.log" ]; then echo "end actions ran: $(tr '\n' ' ' <"$aux/calls.log")"; result=1; fi
  if ls "$XDG_DATA_HOME"/applications/* >/dev/null 2>&1; then
    echo "a shortcut was written: $(ls "$XDG_DATA_HOME/applications")"; result=1
  fi
  local dest link resolved
  dest=$(realpath "$work/medium/STARCRSR" 2>/dev/null || echo "$work/medium/STARCRSR")
  while IFS= read -r -d '' link; do
    resolved=$(realpath -m "$link")
    case "$resolved" in
      "$dest"|"$dest"/*) ;;
      *) echo "the link ${link#"$dest"/} -> $(readlink "$link") leads out to $resolved"; result=1 ;;
    esac
  done < <(find "$dest" -type l -print0 2>/dev/null)
  local after
  after=$(listing)
  if [ "$before" != "$after" ]; then
    echo "changed outside the destination:"; diff <(echo "$before") <(echo "$after") || true
    result=1
  fi
  kill -9 "$installer_pid" 2>/dev/null || true
  wait "$installer_pid" 2>/dev/null || true
  installer_pid=""
  return $result
}

same_picture() { [ "$(compare -metric AE "$1" "$2" null: 2>&1)" = "0" ]; }

# The reference: an absolute name, refused as every release has it.
run_set "rar4 absolute, backslash and dot-dot names" >"$aux/out" 2>&1 \
  || { echo "FAIL: the reference run did not fail as it should: $(cat "$aux/out")" >&2; exit 1; }
refused=$aux/refused-status.png
cp "$status_crop" "$refused"

check() {
  local tag=$1 want=$2
  if run_set "$tag" >"$aux/out" 2>&1; then
    if [ "$want" = refused ] && ! same_picture "$status_crop" "$refused"; then
      failures+=("$tag: the status line does not read \"File create error - Bad format!\"")
    elif [ "$want" = broken ] && same_picture "$status_crop" "$refused"; then
      failures+=("$tag: the status line reads the create error, not \"File header broken\"")
    else
      echo "ok: $tag"
    fi
  else
    failures+=("$tag: $(tr '\n' ' ' <"$aux/out")")
  fi
}

check "rar5 NUL names reach .bashrc and install.ini" refused
check "rar4 link chain up -> . then esc -> up/.." refused
check "rar4 damaged header halfway" broken

if [ ${#failures[@]} -gt 0 ]; then
  printf 'FAIL: %s\n' "${failures[@]}" >&2
  exit 1
fi
echo "PASS: every hostile set failed in the window, ran no end action and changed nothing outside"
