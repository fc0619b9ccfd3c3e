#!/usr/bin/env bash
# The real programs, headless, with their settings file as a named pipe and as a link to
# /dev/zero: each names the file and the reason on stderr, goes on as it does without settings
# (the client to its joystick count, the server to listening on its port, the browser keeps
# running), and leaves the odd file as it was; the client keeps a read-only zelvik.ini. Each run
# has a deadline.
#
#   odd_settings_files.sh <run folder>   (exit 0 pass, 1 fail)
# ZELVIK_E2E_KEEP=1 keeps the work folder (logs) and prints its path.
set -euo pipefail
here=$(cd "${BASH_SOURCE[0]%/*}" && pwd)
# shellcheck source=tests/e2e/xdisplay.sh
. "$here/xdisplay.sh"

game=$(cd "${1:?usage: odd_settings_files.sh <run folder>}" && pwd)
xd_work "$game" zelvik_odd "*/run.log"
work=$XD_WORK

export SDL_VIDEODRIVER=dummy SDL_AUDIODRIVER=dummy
# Nothing to register at or list from: port 1 on loopback refuses at once.
export ZELVIK_MASTER=127.0.0.1:1 ZELVIK_GAME_ADDRESS=127.0.0.1

# Waits up to 30 s for a fixed text in the log while the program runs.
wait_for() {
    local log=$1 text=$2 pid=$3 i
    for ((i = 0; i < 300; ++i)); do
        grep -qF -- "$text" "$log" && return 0
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    grep -qF -- "$text" "$log" || fail "$log: no '$text' (still running: $(kill -0 "$pid" 2>/dev/null && echo yes || echo no))"
}

stop() {
    local pid=$1 i
    kill "$pid" 2>/dev/null || true
    for ((i = 0; i < 50; ++i)); do
        kill -0 "$pid" 2>/dev/null || break
        sleep 0.1
    done
    kill -9 "$pid" 2>/dev/null || true
    wait "$pid" 2>/dev/null || true
}

# check PROGRAM SETTINGS KIND: start PROGRAM with SETTINGS as KIND (fifo or zero), then what it
# said, that it goes on, and that the file is still what it was.
check() {
    local program=$1 settings=$2 kind=$3 dir pid port="" attempt
    for attempt in 1 2 3; do
        dir=$(xd_run_folder "$program-$kind-$attempt")
        case $kind in
        fifo) mkfifo "$dir/$settings" ;;
        zero) ln -s /dev/zero "$dir/$settings" ;;
        esac
        if [ "$program" = Zelvik_Server ]; then
            port=$((20000 + (RANDOM * 7 + attempt * 131) % 40000))
            (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && continue
        fi
        xd_spawn "$dir/run.log" env -C "$dir" ZELVIK_GAME_PORT="${port:-2031}" "$game/$program"
        pid=$XD_PID
        wait_for "$dir/run.log" "Could not read $settings: not a regular file" "$pid"
        # Going on as without settings.
        case $program in
        zelvik) wait_for "$dir/run.log" "Joystick(s) found" "$pid" ;;
        Zelvik_Server)
            local i
            for ((i = 0; i < 100; ++i)); do
                (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null && break
                kill -0 "$pid" 2>/dev/null || break
                sleep 0.1
            done
            if grep -qF "Could not start server" "$dir/run.log"; then
                stop "$pid"
                continue # the port was taken meanwhile
            fi
            (exec 3<>"/dev/tcp/127.0.0.1/$port") 2>/dev/null ||
                fail "$program with $settings as $kind does not listen on $port"
            ;;
        esac
        sleep 1
        kill -0 "$pid" 2>/dev/null || fail "$program with $settings as $kind ended"
        stop "$pid"
        case $kind in
        fifo) [ -p "$dir/$settings" ] || fail "$program replaced the pipe $settings" ;;
        zero) [ "$(readlink "$dir/$settings")" = /dev/zero ] ||
            fail "$program replaced the link $settings" ;;
        esac
        echo "ok: $program with $settings as $kind"
        return 0
    done
    fail "$program: no free port in three tries"
}

# A read-only zelvik.ini (kept even for root, who passes permission checks): the client runs
# with it and, told to end, says it could not save it and leaves it byte for byte.
dir=$(xd_run_folder readonly)
printf '\xEF\xBB\xBFPlayerName = Keeper\r\nSkin = Pexa.xml\r\n; mine\r\n' >"$dir/zelvik.ini"
chmod 0444 "$dir/zelvik.ini"
cp -p "$dir/zelvik.ini" "$work/readonly.ini"
xd_spawn "$dir/run.log" env -C "$dir" "$game/zelvik"
pid=$XD_PID
wait_for "$dir/run.log" "Joystick(s) found" "$pid"
sleep 1
stop "$pid"
grep -qF "Could not save zelvik.ini: Permission denied" "$dir/run.log" ||
    fail "the client did not say it could not save the read-only zelvik.ini"
cmp -s "$dir/zelvik.ini" "$work/readonly.ini" || fail "the read-only zelvik.ini was changed"
[ "$(stat -c %a "$dir/zelvik.ini")" = 444 ] || fail "the read-only zelvik.ini changed its mode"
echo "ok: zelvik with a read-only zelvik.ini"

for kind in fifo zero; do
    check zelvik zelvik.ini "$kind"
    check zelvik_serverlist zelvik.ini "$kind"
    check Zelvik_Server Zelvik_Server.ini "$kind"
done
