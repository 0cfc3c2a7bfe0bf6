# shellcheck shell=bash
# Helpers for the integration tests (tests/integration/test_*.sh), which source this file and call
# `on_desktop` first thing. ctest runs each on a private desktop (scripts/with-desktop.sh) and
# provides APP (the program under test), ARTIFACTS (where screenshots go) and SRC (the source root).
# Exit status of a test: 0 passed, 1 failed, 77 skipped. What the tests share with the scripts that
# measure the running program (starting a private desktop, finding the program's windows, typing
# into them) is in scripts/lib.sh, which this file sources.
#
# `check` evaluates its condition later, so tests disable the linter's SC2016 (no expansion in single
# quotes) and SC2034 (variable used only in such a condition).

# Variables here are set for the tests that source this file.
# shellcheck disable=SC2034

: "${SRC:=$(cd "$(dirname "${BASH_SOURCE[0]}")/../.." && pwd)}"
: "${APP:=}"
. "$SRC/scripts/lib.sh"

pass() { echo "PASS: $ME"; exit 0; }

# check COND MSG: COND is evaluated as shell code; the test fails unless it holds.
check() {
    eval "$1" || fail "$2 (not true: $1)"
    echo "ok: $2"
}

# sized_main_window [SECS]: prints the program's main window, told from an error box by its
# size, waiting up to SECS (5) seconds; returns 1 if none is mapped.
_sized_main() { app_windows | grep -x "0x[0-9a-f]* $MAIN_SIZE $APP_TITLE" | head -n 1 | cut -d' ' -f1; }
sized_main_window() { wait_for "${1:-5}" _sized_main; }

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

# wait_exit SECS: waits for the program to end by itself; fails unless it does so with status 0.
wait_exit() {
    wait_gone "$APP_PID" "$1" || fail "the program still runs after ${1} s"
    local status=0
    wait "$APP_PID" 2>/dev/null || status=$?
    APP_PID=""
    check "[ $status -eq 0 ]" "the program ended with status 0 (got $status)"
}

# has_wm_state WIN ATOM: true if ATOM (e.g. _NET_WM_STATE_ABOVE) is in the window's _NET_WM_STATE.
has_wm_state() {
    { xprop -id "$1" _NET_WM_STATE 2>/dev/null || true; } | sed -n 's/^_NET_WM_STATE(ATOM) = //p' \
        | sed 's/, */\n/g' | grep -qx "$2"
}

# window_pid WIN: prints the window's _NET_WM_PID (empty if it has none).
window_pid() { { xprop -id "$1" _NET_WM_PID 2>/dev/null || true; } | sed -n 's/^_NET_WM_PID(CARDINAL) = //p'; }

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

# tray_icon_window: prints the program's icon window docked in the tray (the mapped window of the
# program that lies in the panel at the top), if any.
tray_icon_window() { app_boxes | awk '$3 < 30 && $4 <= 32 && $5 <= 32 { print $1; exit }'; }