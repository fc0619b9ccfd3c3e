#!/usr/bin/env bash
# The client end to end on a real X display, driven by key presses as a player would:
# a fresh run folder (no zelvik.ini), the name typed into the name box, Options -> Keys to bind
# Left to the arrow key, a PEXA Master game with a fixed seed in which the new key moves the
# first piece and three drops clear a line, soft drop held until the stack tops out, the replay
# found in replays/ and played in the F6 browser, and a second start that still has the binding.
# At each checkpoint screenshots (F5) are taken until one matches its reviewed reference inside
# rectangles that timing does not change, so the test waits only as long as the client takes.
#
#   client_play.sh <run folder> <reference folder> <e2e_shotdiff> <work folder>
#
# ZELVIK_E2E_WRITE_REFERENCE=1 copies the screenshots into the reference folder instead (look
# at every one before committing). ZELVIK_E2E_WM=openbox runs the session under that window
# manager. Exit status 77 (a skip) when Xvfb, xdotool or ImageMagick's import is missing.
set -euo pipefail
here=$(cd "${BASH_SOURCE[0]%/*}" && pwd)
# shellcheck source=tests/e2e/xdisplay.sh
. "$here/xdisplay.sh"
xd_require Xvfb xdotool import convert

game=$1 refs=$2 shotdiff=$3 work=$4
rm -rf "$work"
mkdir -p "$work/shots"
run=$work/run shots=$work/shots
client_pid='' client_log=$work/client.log
trap xd_cleanup EXIT
step() { echo "$(date +%T.%N | cut -c1-12) $*"; }
fail() {
  echo "FAIL: $*" >&2
  if command -v xwd >/dev/null 2>&1 && [ -n "${DISPLAY:-}" ]; then
    xwd -root -silent >"$work/failure.xwd" 2>/dev/null && echo "the screen is in $work/failure.xwd" >&2
  fi
  [ -f "$client_log" ] && tail -n 20 "$client_log" >&2
  exit 1
}

# The run folder as a fresh install has it: programs and data, no settings, no replays.
mkdir -p "$run/replays"
for item in "$game"/*; do
  name=$(basename "$item")
  case $name in zelvik.ini | replays | zelvik_*.png) continue ;; esac
  ln -s "$item" "$run/$name"
done

# A display of our own, with no window manager unless ZELVIK_E2E_WM names one.
xd_start_display "$work" none || fail "Xvfb did not start"
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy

# start_client LOG ARG...: the client in the run folder, its output in $work/LOG.
start_client() {
  client_log=$work/$1
  shift
  xd_spawn "$client_log" env -C "$run" ./zelvik "$@"
  client_pid=$XD_PID
}

# The window titled exactly Zelvik (the name box first, then the game window), other than $1.
window=''
wait_window() {
  window=$(xd_wait_window "$client_pid" 30 '^Zelvik$' "${1:-}") || fail "no window named Zelvik"
}
focus() { xd_focus "$window" || true; }

# A key tapped in the focused window; the client counts a tap inside one frame as held for it.
press() { xd_press "$1" "${2:-0.05}" "${3:-0.2}"; }

# F5 writes zelvik_<date>_<time>.png: what the client drew, kept as shots/<name>.png.
shot() { xd_screenshot "$run" "$shots/$1.png" || fail "F5 wrote no screenshot for $1"; }

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
# Shots until one matches the reference inside the rectangles (within 20 s), so the test waits
# exactly as long as the client takes; a reference being written gets a fixed wait instead.
await() {
  local name=$1 reference=$2
  shift 2
  if [ -n "${ZELVIK_E2E_WRITE_REFERENCE:-}" ]; then
    sleep 2
    shot "$name"
    check "$name" "$reference" "$@"
    return 0
  fi
  local until=$((SECONDS + 20))
  while [ "$SECONDS" -lt "$until" ]; do
    shot "$name"
    "$shotdiff" "$shots/$name.png" "$refs/$reference.png" "$@" >/dev/null 2>&1 && return 0
    sleep 0.1
  done
  check "$name" "$reference" "$@" # says what differs
}
# The whole screen but the frame counter in the bottom-left corner.
readonly SCREEN=(0,0,640,455 120,455,520,25)
# In a game: the mode's name, the grade box, the labels, the field's bottom three rows.
readonly GAME=(0,0,230,40 150,150,80,100 480,214,92,28 480,294,92,28 480,354,92,28 240,360,160,48)

# Waits until a piece is in play: coloured blocks in the field's two top rows.
await_piece() {
  local until=$((SECONDS + 20))
  while [ "$SECONDS" -lt "$until" ]; do
    shot piece
    [ "$(xd_block_fraction "$shots/piece.png" 240 88 160 32)" = 0 ] || return 0
    sleep 0.05
  done
  fail "no piece came into play"
}

# 1. First start: the name box, then the main menu.
start_client client.log /rs 12345
wait_window
box=$window
step "name box $box"
# Keys sent before the box draws its first frame are lost: the name is typed (over what is
# there) until a picture of the box shows it, then Return.
[ -z "${ZELVIK_E2E_WRITE_REFERENCE:-}" ] || sleep 3
typed=''
for _ in $(seq 20); do
  focus
  sleep 0.2
  xdotool key --delay 30 ctrl+a BackSpace
  xdotool type --delay 30 "Tester"
  for _ in 1 2 3 4 5; do
    sleep 0.1
    import -silent -window "$box" "$shots/name_box.png" 2>/dev/null || continue
    if [ -n "${ZELVIK_E2E_WRITE_REFERENCE:-}" ]; then
      check name_box name_box
      typed=yes
      break 2
    fi
    # The text box on its own too: a name missing letters differs in too few pixels of the
    # whole box to fail it.
    if "$shotdiff" "$shots/name_box.png" "$refs/name_box.png" 0,0,360,110 8,25,120,19 \
      >/dev/null 2>&1; then
      typed=yes
      break 2
    fi
  done
done
[ -n "$typed" ] || fail "the name box never showed the typed name"
press Return
step "name typed"
wait_window "$box"
focus
step "main window"
await menu_main menu_main "${SCREEN[@]}"

# 2. Options -> Keys: Left is chosen, the arrow key pressed and released binds it.
press x # soft drop: down to Options
press m # rotate released: open it
press m # Keys
press m # "Left: Z" -> waiting for a key
await keys_waiting keys_waiting "${SCREEN[@]}"
press Left
await keys_bound keys_bound "${SCREEN[@]}"
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
step "READY"
# READY, GO, then the first piece.
await_piece

# Seed 12345 deals J, I, L: J held to the left wall with the new key, I dropped in place, L
# held to the right wall; the bottom row is full and clears. Holding past the auto-repeat
# delay makes the moves independent of how fast the client runs. Each piece is dropped (S)
# and locked at once (X); the next is awaited before a key is meant for it.
step "game"
press Left 0.7 0.05
press s
press x
await game_first game_first "${GAME[@]}"
await_piece
press s
press x
await_piece
press c 0.7 0.05
press s
press x
await game_cleared game_cleared "${GAME[@]}"

step "line cleared"
# 4. Soft drop held: each piece falls and locks in place, and the held key shortens the entry
# delays, until the stack tops out; the game-over hook saves the replay.
replay=''
xdotool keydown x
for _ in $(seq 300); do
  sleep 0.1
  replay=$(ls "$run/replays"/*.er 2>/dev/null | head -n 1 || true)
  [ -n "$replay" ] && break
done
xdotool keyup x
[ -n "$replay" ] || fail "no replay in replays/ after the game"
case $(basename "$replay") in
  "PEXA Master_"[0-9][0-9]_[0-9][0-9]_[0-9][0-9].er) ;;
  *) fail "unexpected replay name $(basename "$replay")" ;;
esac
[ "$(stat -c %s "$replay")" -gt 100 ] || fail "the replay file is nearly empty"
step "game over"
# The game-over display, then the main menu again.
await game_over game_over 240,140,160,220

# 5. F6: the browser lists the replay and shows its rules; releasing rotate plays it.
press F6
await browser browser 240,250,160,60
press m
step "replay"
# Played back, the J lands at the left as it did in the game.
await replay_playing game_first 240,360,160,48
check replay_playing game_first "${GAME[@]}"
press F6 # close the browser

step "quit"
# 6. Escape quits; the binding is in zelvik.ini.
press Escape
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
kill -0 "$client_pid" 2>/dev/null && fail "Escape did not end the client"
grep -q '^PlayerName = Tester' "$run/zelvik.ini" || fail "the name is not in zelvik.ini"
grep -q '^Left = 203' "$run/zelvik.ini" || fail "the Left binding is not in zelvik.ini"

# 7. The next start asks no name and shows the binding under Options -> Keys.
start_client client2.log
wait_window
step "second start"
focus
await menu_again menu_main "${SCREEN[@]}"
press x
press m
press m
await keys_again keys_bound "${SCREEN[@]}"
press Escape
for _ in $(seq 100); do kill -0 "$client_pid" 2>/dev/null || break; sleep 0.1; done
step "PASS: screenshots in $shots"
