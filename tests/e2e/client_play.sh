#!/usr/bin/env bash
# The client end to end on a real X display, driven by key presses as a player would:
# a fresh run folder (no zelvik.ini), the name typed into the name box, Options -> Keys to bind
# Left to the arrow key, a PEXA Master game with a fixed seed in which the new key moves the
# first piece and three drops clear a line, hard drops until the stack tops out, the replay
# found in replays/ and played in the F6 browser, and a second start that still has the binding.
# Screenshots (F5) at fixed points are compared with reviewed references inside rectangles
# that timing does not change.
#
#   client_play.sh <run folder> <reference folder> <e2e_shotdiff> <work folder>
#
# ZELVIK_E2E_WRITE_REFERENCE=1 copies the screenshots into the reference folder instead (look
# at every one before committing). ZELVIK_E2E_WM=openbox runs the session under that window
# manager. Exit status 77 (a skip) when Xvfb, xdotool or ImageMagick's import is missing.
set -euo pipefail

game=$1 refs=$2 shotdiff=$3 work=$4
for tool in Xvfb xdotool import; do
  command -v "$tool" >/dev/null 2>&1 || { echo "SKIP: $tool is not installed"; exit 77; }
done

rm -rf "$work"
mkdir -p "$work/shots"
run=$work/run shots=$work/shots
xvfb_pid='' wm_pid='' client_pid=''
cleanup() {
  for pid in $client_pid $wm_pid $xvfb_pid; do kill "$pid" 2>/dev/null || true; done
  wait 2>/dev/null || true
}
trap cleanup EXIT
step() { echo "$(date +%T) $*"; }
fail() {
  echo "FAIL: $*" >&2
  if command -v xwd >/dev/null 2>&1 && [ -n "${DISPLAY:-}" ]; then
    xwd -root -silent >"$work/failure.xwd" 2>/dev/null && echo "the screen is in $work/failure.xwd" >&2
  fi
  [ -f "$work/client.log" ] && tail -n 20 "$work/client.log" >&2
  exit 1
}

# The run folder as a fresh install has it: programs and data, no settings, no replays.
mkdir -p "$run/replays"
for item in "$game"/*; do
  name=$(basename "$item")
  case $name in zelvik.ini | replays | zelvik_*.png) continue ;; esac
  ln -s "$item" "$run/$name"
done

# A display of our own: the server picks a free number and writes it to descriptor 3.
Xvfb -displayfd 3 -screen 0 1024x768x24 -nolisten tcp 3>"$work/display" 2>"$work/xvfb.log" &
xvfb_pid=$!
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.1; done
[ -s "$work/display" ] || fail "Xvfb did not start"
export DISPLAY=:$(head -n 1 "$work/display")
if [ "${ZELVIK_E2E_WM:-}" = openbox ] && command -v openbox >/dev/null 2>&1; then
  openbox >"$work/openbox.log" 2>&1 &
  wm_pid=$!
  sleep 1
fi
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy

start_client() {
  (cd "$run" && exec ./zelvik "$@" </dev/null >>"$work/client.log" 2>&1) &
  client_pid=$!
}

# The window titled exactly Zelvik (the name box first, then the game window).
window=''
wait_window() {
  window=''
  for _ in $(seq 300); do
    kill -0 "$client_pid" 2>/dev/null || fail "the client ended early"
    window=$(xdotool search --name '^Zelvik$' 2>/dev/null | head -n 1 || true)
    [ -n "$window" ] && [ "${1:-}" != "$window" ] && return 0
    sleep 0.1
  done
  fail "no window named Zelvik"
}
focus() {
  xdotool mousemove --window "$window" 20 20 2>/dev/null || true
  xdotool windowactivate --sync "$window" 2>/dev/null || xdotool windowfocus --sync "$window" || true
}

# A key held long enough for a pass of the client's loop to see it (it polls once per pass,
# and a press and release inside one pass is never seen as held), also on a busy machine.
press() { xdotool keydown "$1" sleep "${2:-0.25}" keyup "$1" sleep "${3:-0.25}"; }

# F5 writes zelvik_<date>_<time>.png; each shot waits for a second of its own so names differ.
last_second=''
shot() {
  while [ "$(date +%s)" = "$last_second" ]; do sleep 0.05; done
  rm -f "$run"/zelvik_*.png
  press F5 0.1 0
  local file=''
  for _ in $(seq 100); do
    file=$(ls "$run"/zelvik_*.png 2>/dev/null | head -n 1 || true)
    [ -n "$file" ] && break
    sleep 0.05
  done
  [ -n "$file" ] || fail "F5 wrote no screenshot for $1"
  sleep 0.2 # written whole
  mv "$file" "$shots/$1.png"
  last_second=$(date +%s)
}

# Compares a shot with its reference inside the given rectangles (or writes the reference).
check() {
  local name=$1 reference=$2
  shift 2
  if [ -n "${ZELVIK_E2E_WRITE_REFERENCE:-}" ]; then
    mkdir -p "$refs"
    [ "$name" = "$reference" ] && cp "$shots/$name.png" "$refs/$reference.png"
    return 0
  fi
  "$shotdiff" "$shots/$name.png" "$refs/$reference.png" "$@" || fail "$name differs from $reference"
}
# The whole screen but the frame counter in the bottom-left corner.
readonly SCREEN=(0,0,640,455 120,455,520,25)
# In a game: the mode's name, the grade box, the labels, the field's bottom three rows.
readonly GAME=(0,0,230,40 150,150,80,100 480,214,92,28 480,294,92,28 480,354,92,28 240,360,160,48)

# 1. First start: the name box, then the main menu.
start_client /rs 12345
wait_window
box=$window
step "name box $box"
# Keys sent before the box draws its first frame are lost: the name is typed (over what is
# there) until a picture of the box shows it, then Return.
[ -z "${ZELVIK_E2E_WRITE_REFERENCE:-}" ] || sleep 3
typed=''
for _ in $(seq 20); do
  focus
  sleep 0.3
  xdotool key --delay 50 ctrl+a BackSpace
  xdotool type --delay 50 "Tester"
  sleep 0.3
  import -silent -window "$box" "$shots/name_box.png" 2>/dev/null || continue
  if [ -n "${ZELVIK_E2E_WRITE_REFERENCE:-}" ]; then
    check name_box name_box
    typed=yes
    break
  fi
  if "$shotdiff" "$shots/name_box.png" "$refs/name_box.png" 0,0,360,110 >/dev/null 2>&1; then
    typed=yes
    break
  fi
done
[ -n "$typed" ] || fail "the name box never showed the typed name"
press Return
step "name typed"
wait_window "$box"
focus
step "main window"
sleep 0.5
shot menu_main
check menu_main menu_main "${SCREEN[@]}"

# 2. Options -> Keys: Left is chosen, the arrow key pressed and released binds it.
press x # soft drop: down to Options
press m # rotate released: open it
press m # Keys
press m # "Left: Z" -> waiting for a key
sleep 0.5
shot keys_waiting
check keys_waiting keys_waiting "${SCREEN[@]}"
press Left
sleep 0.5
shot keys_bound
check keys_bound keys_bound "${SCREEN[@]}"
press s # hard drop: up to Back
press m # back to Options
press s # up to Back
press m # back to the main menu

# 3. Start -> PEXA -> Dalmor WEXO -> PEXA Master (up from the first mode, round the wheel).
press m
press m
press m
press s
press m
[ -z "$(ls "$run/replays")" ] || fail "a replay before any game"
sleep 3 # READY, GO

# Seed 12345 deals J, I, L: J held to the left wall with the new key, I dropped in place, L
# held to the right wall; the bottom row is full and clears. Holding past the auto-repeat
# delay makes the moves independent of how fast the client runs.
step "game"
press Left 1.2 0.1
press s 0.2 0.8
shot game_first
check game_first game_first "${GAME[@]}"
press s 0.2 1
press c 1.2 0.1
press s 0.2 1.5
shot game_cleared
check game_cleared game_cleared "${GAME[@]}"

step "line cleared"
# 4. Hard drops in place until the stack tops out; the game-over hook saves the replay.
replay=''
for _ in $(seq 60); do
  press s 0.2 0.4
  replay=$(ls "$run/replays"/*.er 2>/dev/null | head -n 1 || true)
  [ -n "$replay" ] && break
done
[ -n "$replay" ] || fail "no replay in replays/ after the game"
case $(basename "$replay") in
  "PEXA Master_"[0-9][0-9]_[0-9][0-9]_[0-9][0-9].er) ;;
  *) fail "unexpected replay name $(basename "$replay")" ;;
esac
[ "$(stat -c %s "$replay")" -gt 100 ] || fail "the replay file is nearly empty"
step "game over"
sleep 3 # the game-over display, then the main menu again
shot game_over
check game_over game_over 240,140,160,220

# 5. F6: the browser lists the replay and shows its rules; releasing rotate plays it.
press F6
sleep 0.8
shot browser
check browser browser 240,250,160,60
press m
step "replay"
# Played back, the J lands at the left as it did in the game.
played=''
for _ in $(seq 20); do
  shot replay_playing
  if "$shotdiff" "$shots/replay_playing.png" "$refs/game_first.png" 240,360,160,48 \
    >/dev/null 2>&1; then
    played=yes
    break
  fi
done
[ -n "${ZELVIK_E2E_WRITE_REFERENCE:-}" ] || [ -n "$played" ] ||
  fail "the replay never showed the first piece at the left"
check replay_playing game_first "${GAME[@]}"
press F6 # close the browser

step "quit"
# 6. Escape quits; the binding is in zelvik.ini.
press Escape
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client_pid" 2>/dev/null && fail "Escape did not end the client"
wait "$client_pid" || true
client_pid=''
grep -q '^PlayerName = Tester' "$run/zelvik.ini" || fail "the name is not in zelvik.ini"
grep -q '^Left = 203' "$run/zelvik.ini" || fail "the Left binding is not in zelvik.ini"

# 7. The next start asks no name and shows the binding under Options -> Keys.
start_client
wait_window
step "second start"
focus
sleep 1
press x
press m
press m
sleep 0.5
shot keys_again
check keys_again keys_bound "${SCREEN[@]}"
press Escape
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
echo "PASS: screenshots in $shots"
