# shellcheck shell=bash
# Shared helpers for end-to-end tests that drive the real programs on an X display: a private
# Xvfb (with openbox when installed), windows found by process, synthetic keys through XTEST,
# the programs' own screenshots, PNG pixel checks. Source it from bash; every process started
# here is ended by xd_cleanup.
#
#   xd_require PROGRAM...       exit 77 (ctest SKIP_RETURN_CODE) when one is missing
#   xd_start_display DIR [WM]   Xvfb on a free display (DISPLAY is exported), then the window
#                               manager: openbox (the default, when installed) or none;
#                               ZELVIK_E2E_WM overrides it
#   xd_spawn LOGFILE CMD...     start CMD in the background, remembered for cleanup; sets XD_PID
#   xd_wait_window PID SECONDS [NAME] [NOT]
#                               prints the id of the first visible window of PID (whose title
#                               matches the regular expression NAME, other than window NOT)
#   xd_focus WINDOW             give WINDOW the keyboard focus (and the pointer)
#   xd_press KEY [HOLD] [AFTER] press KEY in the focused window, hold, release, wait (seconds)
#   xd_tap WINDOW KEY [SECONDS] press and release KEY (an X keysym name) in WINDOW
#   xd_keys WINDOW SECONDS KEY...  the keys one after another, each held SECONDS, one focus
#   xd_screenshot DIR OUT [WINDOW] F5 (in WINDOW, else the focused one): the picture the
#                               program writes into DIR as zelvik_*.png, once whole, moved to OUT
#   xd_block_fraction PNG X Y W H  share of bright, coloured pixels in a rectangle (0..1)
#   xd_cleanup                  end every process this library started
#   xd_work GAME PREFIX LOG...  a new work folder (XD_WORK) under the temporary folder, for the
#                               run folder GAME; on exit every process is ended, a failed test
#                               (not a skip) shows the ends of the logs matching LOG (patterns
#                               inside XD_WORK), and the folder goes unless ZELVIK_E2E_KEEP=1
#   xd_run_folder NAME          prints XD_WORK/NAME, made as a folder that shares GAME's data
#   fail MESSAGE...             says why on stderr and ends the test as failed

XD_PIDS=()
XD_DIR=""

# Every X client a test runs has a deadline: one that waits for ever on a window or a focus
# that never comes fails the test instead of hanging the suite.
xdotool() { timeout 20 /usr/bin/env xdotool "$@"; }
import() { timeout 20 /usr/bin/env import "$@"; }
convert() { timeout 20 /usr/bin/env convert "$@"; }

xd_log() { echo "[$(date +%T.%N | cut -c1-12)] $*" >&2; }

xd_require() {
    local p
    for p in "$@"; do
        if ! type -P "$p" >/dev/null 2>&1; then
            echo "SKIP: $p is not installed" >&2
            exit 77
        fi
    done
}

xd_spawn() {
    local log=$1
    shift
    "$@" >"$log" 2>&1 &
    XD_PID=$!
    XD_PIDS+=("$XD_PID")
}

xd_start_display() {
    XD_DIR=$1
    local wm=${ZELVIK_E2E_WM:-${2:-openbox}} fdfile="$XD_DIR/xvfb.display" i
    : >"$fdfile"
    # -displayfd: the server picks a free display number itself and writes it when ready.
    Xvfb -displayfd 5 -screen 0 1280x1024x24 -nolisten tcp -noreset 5>"$fdfile" \
        >"$XD_DIR/xvfb.log" 2>&1 &
    XD_PIDS+=("$!")
    for ((i = 0; i < 100; ++i)); do
        [ -s "$fdfile" ] && break
        sleep 0.1
    done
    [ -s "$fdfile" ] || { echo "Xvfb did not start" >&2; cat "$XD_DIR/xvfb.log" >&2; return 1; }
    DISPLAY=":$(tr -dc 0-9 <"$fdfile")"
    export DISPLAY
    xd_log "Xvfb on $DISPLAY"
    if [ "$wm" = openbox ] && command -v openbox >/dev/null 2>&1; then
        xd_spawn "$XD_DIR/openbox.log" openbox --sm-disable
        # Windows mapped before the window manager runs are not managed by it.
        for ((i = 0; i < 50; ++i)); do
            xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q 'window id' && break
            command -v xprop >/dev/null 2>&1 || { sleep 0.5; break; }
            sleep 0.1
        done
    fi
}

xd_wait_window() {
    local pid=$1 seconds=${2:-20} name=${3:-} not=${4:-} i wid search
    search=(xdotool search --onlyvisible --all --pid "$pid")
    [ -z "$name" ] || search+=(--name "$name")
    for ((i = 0; i < seconds * 10; ++i)); do
        wid=$("${search[@]}" 2>/dev/null | grep -vx "${not:-none}" | head -n 1 || true)
        if [ -n "$wid" ]; then
            echo "$wid"
            return 0
        fi
        kill -0 "$pid" 2>/dev/null || { echo "process $pid ended before its window" >&2; return 1; }
        sleep 0.1
    done
    echo "no window of process $pid after $seconds s" >&2
    return 1
}

xd_focus() {
    # The pointer inside too: without a window manager the focus may follow it.
    xdotool mousemove --window "$1" 20 20 >/dev/null 2>&1 || true
    # A window manager raises and focuses on request; without one, set the focus directly.
    xdotool windowactivate --sync "$1" >/dev/null 2>&1 || xdotool windowfocus --sync "$1"
}

xd_press() {
    # Down and up apart, and a pause after: taps a frame apart are never taken as one.
    xdotool keydown "$1" sleep "${2:-0.05}" keyup "$1" sleep "${3:-0.15}"
}

xd_tap() {
    xd_focus "$1"
    xd_press "$2" "${3:-0.08}" 0
}

xd_keys() {
    local wid=$1 hold=$2 key args=()
    shift 2
    for key in "$@"; do args+=(keydown "$key" sleep "$hold" keyup "$key" sleep "$hold"); done
    xd_focus "$wid"
    [ ${#args[@]} -eq 0 ] || xdotool "${args[@]}"
}

xd_screenshot() {
    local dir=$1 out=$2 i shot
    rm -f "$dir"/zelvik_*.png
    if [ -n "${3:-}" ]; then xd_tap "$3" F5; else xd_press F5 0.05 0; fi
    for ((i = 0; i < 100; ++i)); do
        shot=$(find "$dir" -maxdepth 1 -name 'zelvik_*.png' | head -n 1)
        # Whole once the closing chunk (IEND and its checksum) is in.
        if [ -n "$shot" ] && [ "$(tail -c 8 "$shot" | head -c 4)" = IEND ]; then
            mv "$shot" "$out"
            return 0
        fi
        sleep 0.05
    done
    echo "no screenshot in $dir" >&2
    return 1
}

xd_block_fraction() {
    local png=$1 x=$2 y=$3 w=$4 h=$5
    # Chroma (largest minus smallest channel) picks out coloured blocks from the dark and grey
    # panels and the greyish background.
    convert "$png" -crop "${w}x${h}+${x}+${y}" +repage -colorspace HCL -channel G -separate \
        +channel -threshold 30% -format '%[fx:mean]' info:
}

xd_cleanup() {
    local i j pid
    # Last started first, each given time to end, so programs close before their display goes.
    for ((i = ${#XD_PIDS[@]} - 1; i >= 0; --i)); do
        pid=${XD_PIDS[i]}
        kill "$pid" 2>/dev/null || continue
        for ((j = 0; j < 50; ++j)); do
            kill -0 "$pid" 2>/dev/null || break
            sleep 0.1
        done
        kill -9 "$pid" 2>/dev/null || true
    done
    XD_PIDS=()
}

XD_WORK=""
XD_GAME=""
XD_LOGS=()

xd_work() {
    XD_GAME=$1
    XD_WORK=$(mktemp -d "${TMPDIR:-/tmp}/$2.XXXXXX")
    XD_LOGS=("${@:3}")
    trap xd_finish EXIT
}

xd_finish() {
    local rc=$? pattern f
    xd_cleanup
    if [ "$rc" -ne 0 ] && [ "$rc" -ne 77 ]; then
        for pattern in "${XD_LOGS[@]}"; do
            for f in "$XD_WORK"/$pattern; do
                [ -s "$f" ] && { echo "---- $f"; tail -n 20 "$f"; }
            done
        done >&2
    fi
    if [ -n "${ZELVIK_E2E_KEEP:-}" ]; then echo "work folder: $XD_WORK" >&2; else rm -rf "$XD_WORK"; fi
    exit "$rc"
}

# Each program writes its settings, replays and screenshots into a folder of its own.
xd_run_folder() {
    local dir="$XD_WORK/$1" part
    mkdir -p "$dir/replays"
    for part in dlls skins sounds bgm bg; do
        [ -e "$XD_GAME/$part" ] && ln -s "$XD_GAME/$part" "$dir/$part"
    done
    echo "$dir"
}

fail() {
    echo "FAIL: $*" >&2
    exit 1
}
