# shellcheck shell=bash
# Helpers for the integration tests (tests/integration/test_*.sh), which source this file and call
# `on_desktop` first thing. ctest runs each on a private desktop (scripts/with-desktop.sh) and
# provides APP (the program under test), ARTIFACTS (where screenshots go) and SRC (the source root).
# Exit status of a test: 0 passed, 1 failed, 77 skipped. Scripts that are not tests (scripts/soak.sh)
# call `ensure_desktop "$@"` instead, which starts a desktop of their own when they are not on one.
#
# Written for `set -euo pipefail`: helpers return non-zero only where the caller is meant to test it,
# and those that print a result fail through their status, so `x=$(helper ...)` ends a test.
# `check` evaluates its condition later, so tests disable the linter's SC2016 (no expansion in single
# quotes) and SC2034 (variable used only in such a condition).

# Variables here are set for the tests that source this file.
# shellcheck disable=SC2034

: "${SRC:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${ARTIFACTS:=${TMPDIR:-/tmp}/mirebo-artifacts}"
: "${APP:=}"
. "$SRC/scripts/lib.sh"

# The main window's title, and its size (an error box has the same title): the designed 312x247
# tab control under the menu bar, 18 px high in the tests' font.
APP_TITLE='ミレボ'
MAIN_SIZE="312x265"
APP_PID=""
APP_WIN=""
TEST_NAME=$(basename "$0" .sh)
TEST_TMP=""
_AT_EXIT=()

say() { echo "$TEST_NAME: $*" >&2; }
fail() { echo "FAIL: $TEST_NAME: $*" >&2; exit 1; }
skip() { echo "SKIP: $TEST_NAME: $*" >&2; exit 77; }
pass() { echo "PASS: $TEST_NAME"; exit 0; }

# check COND MSG: COND is evaluated as shell code; the test fails unless it holds.
check() {
    eval "$1" || fail "$2 (not true: $1)"
    echo "ok: $2"
}

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
    mkdir -p "$ARTIFACTS"
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

# sized_main_window [SECS]: prints the program's main window, told from an error box by its
# size, waiting up to SECS (5) seconds; returns 1 if none is mapped.
_sized_main() { app_windows | grep -x "0x[0-9a-f]* $MAIN_SIZE $APP_TITLE" | head -n 1 | cut -d' ' -f1; }
sized_main_window() { wait_for "${1:-5}" _sized_main; }

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

# main_window: prints the program's main window (it gets a new id when its stacking changes),
# waiting up to 5 s.
main_window() { wait_window "$APP_PID" "$APP_TITLE" 5; }

# start_app [ARGS...]: starts the program in the background and waits until its main window is
# mapped. Sets APP_PID and APP_WIN.
start_app() {
    [ -n "$APP" ] || fail "APP is not set"
    "$APP" "$@" &
    APP_PID=$!
    APP_WIN=$(wait_window "$APP_PID" "$APP_TITLE" 20) && return 0
    is_alive "$APP_PID" || fail "$APP exited before showing a window titled $APP_TITLE"
    fail "no window titled $APP_TITLE from $APP (pid $APP_PID) within 20 s"
}

# stop_app [SECS]: asks the program to end (TERM) and waits for it.
stop_app() {
    [ -n "$APP_PID" ] || return 0
    kill -TERM "$APP_PID" 2>/dev/null || true
    wait_gone "$APP_PID" "${1:-5}" || fail "$APP (pid $APP_PID) did not end after TERM"
    wait "$APP_PID" 2>/dev/null || true
    APP_PID=""
    APP_WIN=""
}

# wait_exit SECS: waits for the program to end by itself; fails unless it does so with status 0.
wait_exit() {
    wait_gone "$APP_PID" "$1" || fail "the program still runs after ${1} s"
    local status=0
    wait "$APP_PID" 2>/dev/null || status=$?
    APP_PID=""
    check "[ $status -eq 0 ]" "the program ended with status 0 (got $status)"
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

# has_wm_state WIN ATOM: true if ATOM (e.g. _NET_WM_STATE_ABOVE) is in the window's _NET_WM_STATE.
has_wm_state() {
    { xprop -id "$1" _NET_WM_STATE 2>/dev/null || true; } | sed -n 's/^_NET_WM_STATE(ATOM) = //p' \
        | sed 's/, */\n/g' | grep -qx "$2"
}

# window_pid WIN: prints the window's _NET_WM_PID (empty if it has none).
window_pid() { { xprop -id "$1" _NET_WM_PID 2>/dev/null || true; } | sed -n 's/^_NET_WM_PID(CARDINAL) = //p'; }

# screenshot NAME [WIN]: saves the window (default: the whole screen) as $ARTIFACTS/NAME.png and
# prints that path.
screenshot() {
    local out="$ARTIFACTS/$1.png"
    mkdir -p "$ARTIFACTS"
    import -window "${2:-root}" "$out" || fail "screenshot $1 failed"
    echo "$out"
}

# pixel FILE X Y: prints the colour at X,Y as RRGGBB (upper case), or "none" where the picture
# is fully transparent.
pixel() {
    local txt hex
    txt=$(convert "$1" -crop "1x1+$2+$3" +repage -depth 8 txt:- 2>/dev/null) || { echo "?"; return 1; }
    hex=$(printf '%s\n' "$txt" | sed -n '2s/.*#\([0-9A-Fa-f]\{6,8\}\).*/\1/p' | tr 'a-f' 'A-F')
    case ${#hex} in
        6) echo "$hex" ;;
        8) if [ "${hex:6:2}" = 00 ]; then echo none; else echo "${hex:0:6}"; fi ;;
        *) echo "?"; return 1 ;;
    esac
}

# ---- what a screen reader gets -------------------------------------------------------------

# on_accessibility_bus: skips unless Debian's python3 has the AT-SPI bindings and the session can
# start its accessibility bus (org.a11y.Bus, from at-spi2-core, ends with the session); sets A11Y
# to the bus's address and has the program export its tree (Qt does once a screen reader says it
# runs, or always with QT_LINUX_ACCESSIBILITY_ALWAYS_ON).
PY=/usr/bin/python3
on_accessibility_bus() {
    "$PY" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null \
        || skip "no AT-SPI bindings for $PY (packages python3, python3-gi, gir1.2-atspi-2.0)"
    require dbus-send
    A11Y=$(dbus-send --session --print-reply=literal --reply-timeout=10000 --dest=org.a11y.Bus \
        /org/a11y/bus org.a11y.Bus.GetAddress 2>"$TEST_TMP/bus.err" | sed 's/^ *//') || true
    if [ -z "$A11Y" ]; then
        ! grep -q ServiceUnknown "$TEST_TMP/bus.err" || skip "the session cannot start an accessibility bus (package at-spi2-core)"
        fail "org.a11y.Bus gave no address for the accessibility bus: $(cat "$TEST_TMP/bus.err")"
    fi
    export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
}

# read_tree ARGS...: the program's accessibility tree, as tests/integration/atspi_dump.py reads it
# with ARGS, as a table in $TEST_TMP/tree.tsv; its exit status (3: not there in time). The
# program finds the bus through the session like any program; the reader is told where it is.
read_tree() {
    AT_SPI_BUS_ADDRESS="$A11Y" "$PY" "$(dirname "${BASH_SOURCE[0]}")/atspi_dump.py" --pid "$APP_PID" \
        --title "$APP_TITLE" --table "$TEST_TMP/tree.tsv" "$@"
}

# ---- the program's own window ---------------------------------------------------------------

# Where the two charts sit inside the main window's client area (x y w h).
CPU_CHART="3 44 302 48"
MEMORY_CHART="3 96 302 48"

# count_colour FILE "X Y W H" RRGGBB: prints how many pixels of that colour the region holds.
count_colour() {
    local x y w h
    read -r x y w h <<<"$2"
    convert "$1" -crop "${w}x${h}+${x}+${y}" +repage -fill black +opaque "#$3" -fill white -opaque "#$3" \
        -format '%[fx:round(mean*w*h)]' info: 2>/dev/null || echo 0
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

_viewable() { xwininfo -id "$1" 2>/dev/null | grep -q 'Map State: IsViewable'; }

# minimise WIN / restore WIN: as the user does it, waiting until it has happened.
minimise() {
    xdotool windowminimize "$1"
    wait_until 5 has_wm_state "$1" _NET_WM_STATE_HIDDEN || fail "window $1 was not minimised"
}
restore() {
    wmctrl -i -a "$1"
    wait_until 5 _viewable "$1" || fail "window $1 was not restored"
    sleep 0.3
}

# app_boxes: "WIN X Y W H OVERRIDE" for each mapped window of the program, wherever it is in the
# window tree (a tray icon is inside the tray's).
app_boxes() {
    local w
    for w in $(xdotool search --onlyvisible --pid "$APP_PID" 2>/dev/null || true); do
        echo "$w $(win_box "$w" 2>/dev/null)"
    done
}

# tray_icon_window: prints the program's icon window docked in the tray (the mapped window of the
# program that lies in the panel at the top), if any.
tray_icon_window() { app_boxes | awk '$3 < 30 && $4 <= 32 && $5 <= 32 { print $1; exit }'; }

# popup_at [X Y]: true when a pop-up menu of the program (a mapped override-redirect window) is
# open; with X Y, one opened there: its top-left corner there, or, where the screen's edge leaves no
# room, moved left just enough to fit.
popup_at() {
    app_boxes | awk -v x="${1-}" -v y="${2-}" '$6 == "yes" && $4 > 32 &&
        (x == "" || ($3 == y && $2 <= x && ($2 == x || $2 + $4 >= 1020))) { found = 1 } END { exit !found }'
}
