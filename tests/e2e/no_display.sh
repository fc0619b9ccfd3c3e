#!/usr/bin/env bash
# The four window programs started where no display can be reached (DISPLAY naming a display
# nobody serves, then DISPLAY unset) and no SDL_VIDEODRIVER asking for a headless driver: each
# must say that no display could be opened and stop with a non-zero exit code, not run on
# unseen.
#
#   no_display.sh <run folder>   (exit 0 pass, 1 fail)
set -uo pipefail
game=$(cd "${1:?usage: no_display.sh <run folder>}" && pwd)
work=$(mktemp -d "${TMPDIR:-/tmp}/zelvik_nodisplay.XXXXXX")
trap 'rm -rf "$work"' EXIT
failed=0
# A failed start of SDL's x11 driver leaves a buffer of the D-Bus library behind, which SDL
# cannot free; every other leak still fails the test.
printf 'leak:libdbus-1.so\n' >"$work/lsan.supp"
export LSAN_OPTIONS="suppressions=$work/lsan.supp:print_suppressions=0${LSAN_OPTIONS:+:$LSAN_OPTIONS}"

# A display number with no server behind it: no socket, no lock file.
nobody=""
for ((n = 60000 + RANDOM % 5000; n < 65500; ++n)); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
        nobody=":$n"
        break
    fi
done
[ -n "$nobody" ] || { echo "FAIL: no free display number" >&2; exit 1; }

for display in "$nobody" ""; do
    for program in zelvik Zelvik_Server zelvik_serverlist inp_visualizer; do
        env=(env -u SDL_VIDEODRIVER -u WAYLAND_DISPLAY -u DISPLAY)
        [ -z "$display" ] || env+=("DISPLAY=$display")
        # The deadline: a program that runs on without a display is ended here and fails.
        (cd "$game" && timeout -k 5 30 "${env[@]}" "./$program") >"$work/out" 2>&1
        rc=$?
        what="$program with DISPLAY=${display:-(unset)}"
        problem=""
        if [ "$rc" -eq 0 ] || [ "$rc" -ge 124 ]; then
            problem="ended with $rc (124 and up: still running at the deadline)"
        elif ! grep -q "^$program: no display could be opened" "$work/out"; then
            problem="did not say that no display could be opened"
        elif grep -q "ERROR: .*Sanitizer\|runtime error" "$work/out"; then
            problem="broke on the way out"
        fi
        if [ -n "$problem" ]; then
            echo "FAIL: $what $problem" >&2
            sed 's/^/  | /' "$work/out" | tail -n 8 >&2
            failed=1
        fi
    done
done
exit "$failed"
