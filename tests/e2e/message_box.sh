#!/usr/bin/env bash
# The client's message box on a real X display with no window manager (ZELVIK_E2E_WM=openbox
# tries one): the box that says a connection failed must take Return without a click first,
# and a client showing it must end on SIGTERM, leaving no process and no window behind.
#
#   message_box.sh <run folder>   (exit 0 pass, 1 fail, 77 skipped: no Xvfb/xdotool)
# ZELVIK_E2E_KEEP=1 keeps the work folder (logs) and prints its path.
set -euo pipefail
here=$(cd "${BASH_SOURCE[0]%/*}" && pwd)
# shellcheck source=tests/e2e/xdisplay.sh
. "$here/xdisplay.sh"
xd_require Xvfb xdotool

game=$(cd "${1:?usage: message_box.sh <run folder>}" && pwd)
xd_work "$game" zelvik_box "*.log"
work=$XD_WORK

# A run folder of its own with a player name, so that no name box comes first.
run=$(xd_run_folder run)
printf 'PlayerName=Tester\n' >"$run/zelvik.ini"

# A loopback port where nobody listens: the connection is refused at once.
port=""
for ((p = 20000 + RANDOM % 20000, i = 0; i < 50; ++i, ++p)); do
    if ! (exec 3<>"/dev/tcp/127.0.0.1/$p") 2>/dev/null; then
        port=$p
        break
    fi
done
[ -n "$port" ] || fail "no closed loopback port found"

xd_start_display "$work" none
export SDL_VIDEODRIVER=x11 SDL_AUDIODRIVER=dummy
# The pointer away from every window: without a window manager the keys would otherwise go
# to whatever lies under it, and a box could seem to have the keyboard without taking it.
xdotool mousemove 1 1000
# What the display shows with no program on it (the root window; a window manager's own).
xdotool search --onlyvisible --name '.*' 2>/dev/null | sort >"$work/windows.before" || true

# Starts the client connecting to the closed port (its pid in $work/pid) and waits for the box:
# a new window with an empty title, whichever process shows it.
start_client() {
    local log=$1 pid i box
    (cd "$run" && exec "$game/zelvik" /c "127.0.0.1:$port") >"$log" 2>&1 &
    pid=$!
    XD_PIDS+=("$pid")
    echo "$pid" >"$work/pid"
    for ((i = 0; i < 600; ++i)); do
        box=$(xdotool search --onlyvisible --name '^ ?$' 2>/dev/null | sort |
            comm -13 "$work/windows.before" - | head -n 1)
        [ -n "$box" ] && return 0
        kill -0 "$pid" 2>/dev/null || return 1
        sleep 0.1
    done
    return 1
}

# The box should have the keyboard by itself; a window manager may take a moment to hand it
# over. Gives up after 10 s (the next step then fails).
await_box_focus() {
    local i
    for ((i = 0; i < 100; ++i)); do
        [ "$(xdotool getwindowfocus getwindowname 2>/dev/null || true)" = " " ] && break
        sleep 0.1
    done
    sleep 0.3 # the box draws its first frames
}

# Waits up to $2 seconds for process $1 to end; its exit code in $work/rc.
wait_end() {
    local pid=$1 i
    for ((i = 0; i < $2 * 10; ++i)); do
        if ! kill -0 "$pid" 2>/dev/null; then
            wait "$pid" 2>/dev/null && echo 0 >"$work/rc" || echo $? >"$work/rc"
            return 0
        fi
        sleep 0.1
    done
    return 1
}

# 1. Return, typed at whatever has the keyboard, closes the box; the client then ends.
start_client "$work/return.log" || fail "no message box after a refused connection"
pid=$(cat "$work/pid")
grep -q "Could not connect to 127.0.0.1:$port" "$work/return.log" &&
    fail "the refusal went to stderr instead of a box"
await_box_focus
xdotool key Return
wait_end "$pid" 15 || fail "Return did not close the box"

# 2. SIGTERM ends a client that shows the box, with everything it started.
start_client "$work/term.log" || fail "no message box the second time"
pid=$(cat "$work/pid")
await_box_focus
children=$(pgrep -P "$pid" || true)
kill -TERM "$pid"
wait_end "$pid" 15 || fail "the client showing a box did not end on SIGTERM"
for child in $children; do
    kill -0 "$child" 2>/dev/null && fail "process $child of the client outlived it"
done
sleep 0.5
xdotool search --onlyvisible --name '.*' 2>/dev/null | sort >"$work/windows.after" || true
left=$(comm -13 "$work/windows.before" "$work/windows.after")
[ -z "$left" ] || fail "windows left on the display after the client ended: $left"
echo "message box: Return and SIGTERM both end it"
