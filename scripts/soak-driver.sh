#!/usr/bin/env bash
# Keeps the desktop busy for a soak run: once a second it opens an xterm with
# a random title (ASCII and Japanese), retitles one of those already open and,
# once more than MAX_XTERMS are open, closes the oldest, alternately as the
# user would (WM_DELETE_WINDOW through the window manager) and by killing its
# process. Every few seconds a plain `sleep` process comes and goes as well,
# so the process table changes without any window changing.
#
#   scripts/soak-driver.sh [PARENT_PID]
#
# Runs until PARENT_PID (default: the process that started it) is gone or it
# gets INT/TERM/HUP; whichever way it ends, it takes its xterms and sleeps
# with it. Needs DISPLAY, xterm, xdotool and wmctrl.
# Functions called from traps look unreachable to the linter.
# shellcheck disable=SC2317
set -uo pipefail

readonly ME="soak-driver"
readonly MAX_XTERMS=8
# A politely closed xterm that is still there after this many seconds is killed.
readonly CLOSE_GRACE=5

PARENT=${1:-$PPID}
. "$(dirname "${BASH_SOURCE[0]}")/lib.sh"
say() { echo "$ME: $*" >&2; }

for tool in xterm xdotool wmctrl; do
    command -v "$tool" >/dev/null 2>&1 || { say "$tool is not installed"; exit 1; }
done
[ -n "${DISPLAY:-}" ] || { say "DISPLAY is not set"; exit 1; }
# xterm puts a Japanese title into WM_NAME only in a UTF-8 locale.
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

XTERMS=()      # pids, oldest first
declare -A WIN # pid -> window id, once the window has been seen
CLOSING=()     # "pid deadline" of xterms asked to close
SLEEPERS=()    # pids of the plain sleep processes
NAP=""         # the pause between two rounds
CLOSE_POLITELY=1
OPENED=0
CLOSED=0
RETITLED=0

cleanup() {
    trap '' INT TERM HUP
    trap - EXIT
    local pids=() entry
    pids+=("${XTERMS[@]}")
    for entry in "${CLOSING[@]}"; do pids+=("${entry%% *}"); done
    pids+=("${SLEEPERS[@]}")
    [ -n "$NAP" ] && pids+=("$NAP")
    end_pids 2 "${pids[@]}"
    say "done: $OPENED xterms opened, $RETITLED retitles, $CLOSED closed"
    exit 0
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

parent_alive() { [ "$PARENT" -gt 1 ] && is_alive "$PARENT"; }

# Titles from a small pool of shapes: plain ASCII, Japanese, mixed, long and
# with characters that need quoting somewhere.
random_title() {
    local n=$RANDOM
    case $((RANDOM % 7)) in
        0) echo "端末 $n" ;;
        1) echo "xterm $n" ;;
        2) echo "ファイル名を指定して実行 - $n" ;;
        3) echo "日本語タイトル端末 ($n) / test" ;;
        4) echo "メモ帳 - 無題 $n \"quoted\" & <tag>" ;;
        5) printf '長いタイトル %s %s\n' "$n" "$(printf 'あいうえおABCDE%.0s' {1..12})" ;;
        *) echo "window-$n" ;;
    esac
}

open_xterm() {
    local x=$((RANDOM % 700)) y=$((40 + RANDOM % 500))
    xterm -T "$(random_title)" -geometry "40x6+$x+$y" -e sleep 100000 </dev/null >/dev/null 2>&1 &
    XTERMS+=("$!")
    OPENED=$((OPENED + 1))
}

# Prints the window of an xterm, looking it up the first time it is mapped.
window_of() {
    local pid=$1 w
    if [ -z "${WIN[$pid]:-}" ]; then
        w=$(xdotool search --onlyvisible --pid "$pid" 2>/dev/null | head -n 1)
        [ -n "$w" ] && WIN[$pid]=$w
    fi
    echo "${WIN[$pid]:-}"
}

retitle_one() {
    local n=${#XTERMS[@]} pid w
    [ "$n" -gt 0 ] || return 0
    pid=${XTERMS[RANDOM % n]}
    w=$(window_of "$pid")
    [ -n "$w" ] || return 0
    xdotool set_window --name "$(random_title)" "$w" 2>/dev/null && RETITLED=$((RETITLED + 1))
}

# Forgets xterms that went away by themselves (e.g. ended by the program under test).
prune() {
    local kept=() pid
    for pid in "${XTERMS[@]}"; do
        if is_alive "$pid"; then kept+=("$pid"); else unset "WIN[$pid]"; wait "$pid" 2>/dev/null; fi
    done
    XTERMS=("${kept[@]}")
}

close_oldest() {
    local pid=${XTERMS[0]} w
    XTERMS=("${XTERMS[@]:1}")
    w=$(window_of "$pid")
    unset "WIN[$pid]"
    if [ "$CLOSE_POLITELY" = 1 ] && [ -n "$w" ]; then
        wmctrl -i -c "$w" 2>/dev/null
        CLOSING+=("$pid $((SECONDS + CLOSE_GRACE))")
    else
        kill -KILL "$pid" 2>/dev/null
        wait "$pid" 2>/dev/null
    fi
    CLOSE_POLITELY=$((1 - CLOSE_POLITELY))
    CLOSED=$((CLOSED + 1))
}

# Kills the politely closed xterms that did not go within the grace time.
reap_closing() {
    local kept=() entry pid deadline
    for entry in "${CLOSING[@]}"; do
        read -r pid deadline <<<"$entry"
        if ! is_alive "$pid"; then
            wait "$pid" 2>/dev/null
        elif [ "$SECONDS" -ge "$deadline" ]; then
            say "xterm $pid ignored the close request; killing it"
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
        else
            kept+=("$entry")
        fi
    done
    CLOSING=("${kept[@]}")
}

# Ends the running sleep (if any) and starts a new one.
churn_sleeper() {
    if [ ${#SLEEPERS[@]} -gt 0 ]; then
        end_pids 2 "${SLEEPERS[@]}"
        SLEEPERS=()
    fi
    sleep 100000 &
    SLEEPERS+=("$!")
}

say "started (parent $PARENT, display $DISPLAY)"
next_sleeper=$((SECONDS + 3))
while parent_alive; do
    prune
    open_xterm
    retitle_one
    while [ ${#XTERMS[@]} -gt "$MAX_XTERMS" ]; do close_oldest; done
    reap_closing
    if [ "$SECONDS" -ge "$next_sleeper" ]; then
        churn_sleeper
        next_sleeper=$((SECONDS + 3 + RANDOM % 5))
    fi
    # In the background, so that a signal is handled at once, not after the sleep.
    sleep 1 &
    NAP=$!
    wait "$NAP"
    NAP=""
done
say "parent $PARENT is gone"
