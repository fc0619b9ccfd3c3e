#!/usr/bin/env bash
# Network play end to end on a real X display: a master list, a dedicated server on a moved game
# port, and two game clients that join it from the command line, are driven through the menu
# into one game by synthetic keys, and drop pieces. Each client's own screenshot (F5) must show
# the other player's field with blocks in it, the same blocks that player sees on its own field.
#
#   network_play.sh <run folder> <e2e_cells>   (exit 0 pass, 1 fail, 77 skipped: no Xvfb/xdotool)
# ZELVIK_E2E_KEEP=1 keeps the work folder (logs, screenshots) and prints its path.
set -euo pipefail
here=$(cd "${BASH_SOURCE[0]%/*}" && pwd)
# shellcheck source=tests/e2e/xdisplay.sh
. "$here/xdisplay.sh"
xd_require Xvfb xdotool

game=$(cd "${1:?usage: network_play.sh <run folder> <e2e_cells>}" && pwd)
cells=${2:?usage: network_play.sh <run folder> <e2e_cells>}
xd_work "$game" zelvik_e2e "*.log" "*/*.log"
work=$XD_WORK
started=$SECONDS

# Players joined on the server at 127.0.0.1:$1, from its info reply ("" when it does not answer).
server_players() {
    local reply
    reply=$(timeout 2 bash -c "exec 3<>/dev/tcp/127.0.0.1/$1 && printf '\\x10' >&3 &&
                                head -c 521 <&3 | od -An -v -tu1" 2>/dev/null) || return 0
    # shellcheck disable=SC2086 # one argument per byte
    set -- $reply
    [ "$#" -eq 521 ] && [ "$1" -eq 17 ] || return 0
    shift 513
    echo $(($1 + 256 * $2))
}

wait_players() {
    local port=$1 want=$2 i
    for ((i = 0; i < 150; ++i)); do
        [ "$(server_players "$port")" = "$want" ] && return 0
        sleep 0.1
    done
    fail "the server at port $port never had $want players (has '$(server_players "$port")')"
}

# F5 in the client writes zelvik_<date>_<time>.png into its folder: exactly what it drew.
screenshot() { xd_screenshot "$2" "$3" "$1" || fail "no screenshot from window $1"; }

xd_start_display "$work"
export SDL_AUDIODRIVER=dummy

# The master list, on a port the system picks.
master_dir=$(xd_run_folder master)
xd_spawn "$work/master.log" "$game/zelvik_master" --address 127.0.0.1 --port 0 \
    --state "$master_dir/list.txt"
for ((i = 0; i < 50; ++i)); do
    master_port=$(sed -n 's/.*listening on .*:\([0-9]*\)$/\1/p' "$work/master.log")
    [ -n "$master_port" ] && break
    sleep 0.1
done
[ -n "${master_port:-}" ] || fail "zelvik_master did not start"
export ZELVIK_MASTER="127.0.0.1:$master_port"

# The dedicated server, headless, on a free game port that only ZELVIK_GAME_PORT names.
server_dir=$(xd_run_folder server)
cat >"$server_dir/Zelvik_Server.ini" <<INI
Name = e2e $$
Public = 1
Mode1 = PEXA Master
RotationSystem = Dalmor WEXO
Randomizer = PEXA
INI
server_pid=""
for attempt in 1 2 3 4 5; do
    game_port=$((20000 + (RANDOM * 7 + attempt * 131) % 40000))
    # A port that answers already belongs to someone else.
    (exec 3<>"/dev/tcp/127.0.0.1/$game_port") 2>/dev/null && continue
    xd_spawn "$work/server.log" env -C "$server_dir" ZELVIK_GAME_PORT="$game_port" \
        SDL_VIDEODRIVER=dummy "$game/Zelvik_Server"
    server_pid=$XD_PID
    for ((i = 0; i < 100; ++i)); do
        [ "$(server_players "$game_port")" = 0 ] && break
        kill -0 "$server_pid" 2>/dev/null || break
        sleep 0.1
    done
    [ "$(server_players "$game_port")" = 0 ] && break
    server_pid=""
done
[ -n "$server_pid" ] || fail "Zelvik_Server did not start"
xd_log "server on port $game_port, master on $master_port"
export ZELVIK_GAME_PORT=$game_port

# Two players: columns of 160 design units, fields of 80 x 160 units 75 units from the top; at
# 640 x 480 the local player's field is at (80, 150), the opponent's at (400, 150), 160 x 320.
own_x=80 other_x=400 field_y=150 field_w=160 field_h=320

# Two clients, each with a name preset so no name box waits, joining with a bare address.
start_client() {
    local name=$1 dir
    dir=$(xd_run_folder "$name")
    printf 'PlayerName=%s\nWindowed=1\nScreenWidth=640\nScreenHeight=480\n' "$name" \
        >"$dir/zelvik.ini"
    xd_spawn "$work/$name.log" env -C "$dir" SDL_VIDEODRIVER=x11 "$game/zelvik" /c 127.0.0.1
    client_dir=$dir
    client_pid=$XD_PID
}
start_client Ann
ann_dir=$client_dir ann_pid=$client_pid
start_client Bob
bob_dir=$client_dir bob_pid=$client_pid
ann=$(xd_wait_window "$ann_pid" 40) || fail "Ann's client has no window"
bob=$(xd_wait_window "$bob_pid" 40) || fail "Bob's client has no window"
wait_players "$game_port" 2
xd_log "both joined"

# A field read off a screenshot, a line per row: '#' block, 'w' white (text), '.' empty.
field() { "$cells" "$1" "$2" "$field_y" "$field_w" "$field_h" 10 20; }
ready_shown() { field "$1" "$2" | head -n 2 | grep -q w; } # "Ready" at the field's top
piece_shown() { field "$1" "$2" | grep -q '#'; }

# The menu offers the server's rotation system; choosing it (rotate key M, acting when let go)
# makes a player ready, and the last one ready starts the game for both. A key that a busy
# client missed is pressed again: until then the menu is still there to take it.
# until_shown CHECK X KEY_WINDOW SHOT_WINDOW SHOT_DIR: M in one window until CHECK holds for the
# field at X on the other's screenshot.
until_shown() {
    local check=$1 x=$2 wid=$3 shot=$4 dir=$5 attempt i
    for ((attempt = 0; attempt < 5; ++attempt)); do
        xd_tap "$wid" m 0.3
        for ((i = 0; i < 10; ++i)); do
            screenshot "$shot" "$dir" "$work/menu.png"
            "$check" "$work/menu.png" "$x" && { xd_log "$check after $attempt/$i"; return 0; }
            sleep 0.3
        done
    done
    return 1
}
# Ann waits with "Ready" at the top of her field, on both screens; with Bob ready too the first
# pieces fall.
until_shown ready_shown "$own_x" "$ann" "$ann" "$ann_dir" || fail "Ann never got ready"
screenshot "$bob" "$bob_dir" "$work/bob_waits.png"
ready_shown "$work/bob_waits.png" "$other_x" || fail "Bob's screen does not show Ann ready"
until_shown piece_shown "$own_x" "$bob" "$bob" "$bob_dir" || fail "the game did not start"
xd_log "game started"

# Pieces: shift some (Z left, C right), drop (S) and lock at once (X). The two play differently,
# so each field is told apart from the other.
ann_moves=("z z z" "c c c" "" "z")
bob_moves=("c c c" "" "z z z" "c c")
for round in 0 1 2 3; do
    # shellcheck disable=SC2086
    xd_keys "$ann" 0.09 ${ann_moves[round]} s x
    # shellcheck disable=SC2086
    xd_keys "$bob" 0.09 ${bob_moves[round]} s x
    sleep 0.6
done
for pid in "$ann_pid" "$bob_pid" "$server_pid"; do
    kill -0 "$pid" 2>/dev/null || fail "process $pid ended during the game"
done
sleep 1

screenshot "$ann" "$ann_dir" "$work/ann.png"
screenshot "$bob" "$bob_dir" "$work/bob.png"
ann_own=$(field "$work/ann.png" "$own_x")
ann_other=$(field "$work/ann.png" "$other_x")
bob_own=$(field "$work/bob.png" "$own_x")
bob_other=$(field "$work/bob.png" "$other_x")
xd_log "Ann's screen (Ann | Bob), then Bob's (Bob | Ann):"
paste -d' ' <(echo "$ann_own") <(echo "$ann_other") <(echo "$bob_own") <(echo "$bob_other") >&2

blocks() { echo "$1" | tr -cd '#' | wc -c; }
for grid in ann_other bob_other ann_own bob_own; do
    [ "$(blocks "${!grid}")" -ge 8 ] || fail "$grid: too few blocks"
done
# The settled stack (the bottom six rows) of each player is the same on both screens, and the
# two players' stacks differ: each screen shows the other player, not itself twice.
bottom() { echo "$1" | tail -n 6; }
[ "$(bottom "$ann_own")" = "$(bottom "$bob_other")" ] || fail "Bob's screen shows another stack for Ann"
[ "$(bottom "$bob_own")" = "$(bottom "$ann_other")" ] || fail "Ann's screen shows another stack for Bob"
[ "$(bottom "$ann_own")" != "$(bottom "$bob_own")" ] || fail "Ann and Bob built the same stack"

xd_log "passed in $((SECONDS - started)) s"
