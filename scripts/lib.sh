# shellcheck shell=bash
# Helpers shared by the scripts and the integration tests; sourced, never run.

# The name messages start with: the script's own (without .sh), unless it chose one.
: "${ME:=$(basename "$0" .sh)}"

# say MSG: one line on standard error, after that name.
say() { echo "$ME: $*" >&2; }

# die MSG [LOG]: says MSG and the last lines of LOG (when it has any), then ends the script with
# status DIE_STATUS (default 1).
die() {
    say "$1"
    if [ -s "${2:-}" ]; then
        say "last lines of $(basename "$2"):"
        tail -n 15 "$2" | sed 's/^/    /' >&2
    fi
    exit "${DIE_STATUS:-1}"
}

# on_exit FUNC: FUNC runs when the script ends, however it ends: an INT, TERM or HUP ends it with
# the usual status, and FUNC, which gets that status in $?, runs once.
on_exit() {
    # shellcheck disable=SC2064,SC2154   # FUNC is known now; the status is taken when it runs
    trap "_exit_status=\$?; trap '' INT TERM HUP; trap - EXIT; _status \$_exit_status; $1" EXIT
    trap 'exit 130' INT
    trap 'exit 143' TERM
    trap 'exit 129' HUP
}

_status() { return "$1"; }

# is_alive PID: true while PID runs (a zombie counts as gone). Read from /proc: loops call it
# often, and a ps each time would cost more than the rest.
is_alive() {
    local st
    { read -r st <"/proc/$1/stat"; } 2>/dev/null || return 1
    st=${st##*) }
    [[ $st != Z* ]]
}

# wait_until [--while PID] SECS CMD...: polls CMD every 0.1 s for at most SECS seconds; with
# --while, gives up (status 2) as soon as PID has ended.
wait_until() {
    local pid="" i
    [ "$1" != --while ] || { pid=$2; shift 2; }
    local secs=$1
    shift
    for ((i = 0; i < secs * 10; i++)); do
        "$@" && return 0
        [ -z "$pid" ] || is_alive "$pid" || return 2
        sleep 0.1
    done
    "$@"
}

# wait_for SECS CMD...: like wait_until, for a CMD that prints its answer: prints the first answer
# that is not empty; returns 1 if none came within SECS seconds.
wait_for() {
    local secs=$1 answer=""
    shift
    # shellcheck disable=SC2317   # called through wait_until
    _answered() { answer=$("$@") && [ -n "$answer" ]; }
    wait_until "$secs" _answered "$@" && echo "$answer"
}

_all_gone() {
    local p
    for p in "$@"; do ! is_alive "$p" || return 1; done
}

# wait_gone PID SECS: 0 once PID has ended, 1 if it still runs after SECS seconds.
wait_gone() { wait_until "$2" _all_gone "$1"; }

# end_pids SECS PID...: TERM, up to SECS seconds of grace, then KILL; reaps those that are our
# children. Returns 1 if any outlived its KILL; safe under set -e.
end_pids() {
    local secs=$1
    shift
    [ $# -gt 0 ] || return 0
    kill -TERM "$@" 2>/dev/null
    wait_until "$secs" _all_gone "$@" || kill -KILL "$@" 2>/dev/null
    wait_until 2 _all_gone "$@"
    local rc=$? p
    for p in "$@"; do is_alive "$p" || wait "$p" 2>/dev/null || true; done
    return "$rc"
}

# tagged TAG: the live processes whose environment holds TAG ("NAME=VALUE"). A tag in the
# environment follows a process through forks, new sessions and re-parenting to init alike.
tagged() {
    local pid
    grep -lzxF -- "$1" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | while read -r pid; do
        [ "$pid" = "$$" ] || ! is_alive "$pid" || echo "$pid"
    done
    return 0
}

# end_tagged SECS TAG: ends every process carrying TAG as end_pids does, twice over for those
# started meanwhile. Returns 1 if any is left.
end_tagged() {
    # shellcheck disable=SC2046   # a list of pids
    end_pids "$1" $(tagged "$2") && end_pids "$1" $(tagged "$2") && [ -z "$(tagged "$2")" ]
}

# cpu_ticks PID: the process's user + system time so far, in clock ticks.
cpu_ticks() {
    local stat fields
    stat=$(<"/proc/$1/stat") || return 1
    # The command name may hold spaces: count the fields after its ")".
    read -r -a fields <<<"${stat##*) }"
    echo $((fields[11] + fields[12]))
}

# ---- the program on a private desktop ------------------------------------------------------
# For the integration tests (tests/integration/lib.sh adds what only they use) and the scripts that
# measure the running program (scripts/overhead.sh, scripts/soak.sh). A test calls `on_desktop`
# first thing; a script calls `ensure_desktop "$@"`, which starts a desktop of its own when it is
# not on one. Either way the caller gets a scratch folder (TEST_TMP) and ARTIFACTS (where
# screenshots go; default under TMPDIR).
#
# Written for `set -euo pipefail`: helpers return non-zero only where the caller is meant to test it,
# and those that print a result fail through their status, so `x=$(helper ...)` ends the caller.

# The main window's title, and its size (an error box has the same title): the designed 312x247
# tab control under the menu bar, 18 px high in the tests' font.
APP_TITLE='ミレボ'
MAIN_SIZE="312x265"
APP_PID=""
APP_WIN=""
TEST_TMP=""
_AT_EXIT=()

# fail MSG: a check failed (status 1); skip MSG: cannot run here (status 77).
fail() { echo "FAIL: $ME: $*" >&2; exit 1; }
skip() { echo "SKIP: $ME: $*" >&2; exit 77; }

# Skips the test when one of the given tools is missing.
require() {
    local tool
    for tool in "$@"; do
        command -v "$tool" >/dev/null 2>&1 || skip "$tool is not installed"
    done
}

# Runs a command when the test ends, however it ends.
at_exit() { _AT_EXIT+=("$*"); }

_lib_exit() {
    local rc=$? i
    set +e
    for ((i = ${#_AT_EXIT[@]} - 1; i >= 0; i--)); do eval "${_AT_EXIT[i]}"; done
    [ -z "$APP_PID" ] || end_pids 3 "$APP_PID"
    [ -z "$TEST_TMP" ] || rm -rf -- "$TEST_TMP"
    exit "$rc"
}

# A scratch directory (TEST_TMP) and settings of the test's own, removed at the end, however
# the test ends.
test_setup() {
    # Titles and labels are Japanese: tools such as xprop print them as text only in a UTF-8
    # locale.
    [ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8
    mkdir -p "${ARTIFACTS:=${TMPDIR:-/tmp}/mirebo-artifacts}"
    TEST_TMP=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-test.XXXXXX")
    # The program keeps its settings under XDG_CONFIG_HOME: every test starts from none and
    # leaves the developer's own alone.
    export XDG_CONFIG_HOME="$TEST_TMP/config" XDG_CACHE_HOME="$TEST_TMP/cache" XDG_DATA_HOME="$TEST_TMP/data"
    mkdir -p "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
    on_exit _lib_exit
}

# The test runs on a private desktop (scripts/with-desktop.sh), or is skipped.
on_desktop() {
    { [ "${MIREBO_DESKTOP:-}" = 1 ] && [ -n "${DISPLAY:-}" ] && [ "${MIREBO_DESKTOP_DISPLAY:-}" = "$DISPLAY" ]; } \
        || skip "not on a private desktop: run it with ctest, or through scripts/with-desktop.sh"
    require xdotool xprop xwininfo import convert
    test_setup
}

# Re-runs the calling script on a private desktop unless it already is on one. Options for
# scripts/with-desktop.sh can be put in DESKTOP_OPTS before the call.
ensure_desktop() {
    if [ "${MIREBO_DESKTOP:-}" != 1 ] || [ "${MIREBO_DESKTOP_DISPLAY:-}" != "${DISPLAY:-}" ]; then
        # shellcheck disable=SC2086
        exec "$SRC/scripts/with-desktop.sh" ${DESKTOP_OPTS:-} -- bash "$0" "$@"
    fi
    on_desktop
}

# xtool: the X questions no stock tool answers (tests/tools/xtool.cpp).
xtool() { "${MIREBO_XTOOL:?the desktop gives MIREBO_XTOOL}" "$@"; }

# app_windows: the program's mapped top-level windows, "0xID WxH TITLE" a line.
app_windows() { xtool --windows-of "$APP_PID" 2>/dev/null || true; }

# error_boxes: the program's mapped top-level windows other than its main window, as app_windows
# prints them: an error box, or whatever else it should not have opened.
error_boxes() { app_windows | grep -vx "0x[0-9a-f]* $MAIN_SIZE $APP_TITLE" || true; }

# find_window PID TITLE: prints the first mapped window of PID whose title is exactly TITLE (a
# regular expression, anchored here). Empty PID: any process.
find_window() {
    local ids clients w
    ids=$(xdotool search --all --onlyvisible ${1:+--pid "$1"} --name "^${2}\$" 2>/dev/null || true)
    # Under a window manager only its clients count: a docked tray icon may carry the same title.
    clients=$(xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -o '0x[0-9a-f]*' || true)
    for w in $ids; do
        if [ -z "$clients" ] || grep -qix "$(printf '0x%x' "$w")" <<<"$clients"; then
            echo "$w"
            return 0
        fi
    done
    return 0
}

# wait_window PID TITLE SECS: like find_window, waiting up to SECS seconds for the window to be
# mapped; returns 1 if it never is.
wait_window() { wait_for "$3" find_window "$1" "$2"; }

# stop_app [SECS]: asks the program to end (TERM) and waits for it.
# shellcheck disable=SC2034   # APP_WIN is the callers'
stop_app() {
    [ -n "$APP_PID" ] || return 0
    kill -TERM "$APP_PID" 2>/dev/null || true
    wait_gone "$APP_PID" "${1:-5}" || fail "$APP (pid $APP_PID) did not end after TERM"
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
    APP_WIN=""
}

# win_box WIN: prints "X Y W H OVERRIDE", the client area's top left on the screen, its size and
# whether it bypasses the window manager (yes/no, as a pop-up menu does); win_geometry WIN: "W H";
# win_position WIN: "X Y".
win_box() {
    xwininfo -id "$1" | awk '/Absolute upper-left X:/ { x = $4 } /Absolute upper-left Y:/ { y = $4 }
        /^ *Width:/ { w = $2 } /^ *Height:/ { h = $2 } /Override Redirect State:/ { o = $4 } END { print x, y, w, h, o }'
}
win_geometry() { win_box "$1" | cut -d' ' -f3,4; }
win_position() { win_box "$1" | cut -d' ' -f1,2; }

# screenshot NAME [WIN]: saves the window (default: the whole screen) as $ARTIFACTS/NAME.png and
# prints that path.
screenshot() {
    local out="$ARTIFACTS/$1.png"
    mkdir -p "$ARTIFACTS"
    import -window "${2:-root}" "$out" || fail "screenshot $1 failed"
    echo "$out"
}

# keys WIN KEY...: gives the window the focus (through the window manager, when there is one)
# and types the keys one at a time.
keys() {
    local win=$1 k
    shift
    if [ "${MIREBO_WM:-}" = none ]; then
        timeout 5 xdotool windowfocus --sync "$win" || fail "window $win did not get the focus"
    else
        xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
    fi
    for k in "$@"; do
        xdotool key --clearmodifiers "$k"
        sleep 0.3
    done
}

# app_boxes: "WIN X Y W H OVERRIDE" for each mapped window of the program, wherever it is in the
# window tree (a tray icon is inside the tray's).
app_boxes() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null || true); do
        echo "$w $(win_box "$w" 2>/dev/null)"
    done
}

# popup_at [X Y]: true when a pop-up menu of the program (a mapped override-redirect window) is
# open; with X Y, one opened there: its top-left corner there, or, where the screen's edge leaves no
# room, moved left just enough to fit.
popup_at() {
    app_boxes | awk -v x="${1-}" -v y="${2-}" '$6 == "yes" && $4 > 32 &&
        (x == "" || ($3 == y && $2 <= x && ($2 == x || $2 + $4 >= 1020))) { found = 1 } END { exit !found }'
}

