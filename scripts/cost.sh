#!/usr/bin/env bash
# What the running program costs the machine, on a private desktop:
#
#   scripts/cost.sh [SECONDS]      (default 60; APP= the program, default build-release/mirebo)
#
# Start-up: from exec until the window manager lists the main window (it maps it at once).
# The program is started STARTS times (default 3); the last one stays for the rest. Then, after
# 5 s to settle, SECONDS at the 1000 ms refresh and SECONDS at 100 ms (chosen through the menu
# with the keyboard, as a user does): CPU in % of one core over the wall-clock interval, from
# utime+stime in /proc/PID/stat (10 ms steps) and from the threads' run time in schedstat
# (nanoseconds); PSS and RSS from /proc/PID/smaps_rollup at the end of each interval.
set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
APP=${APP:-$SRC/build-release/mirebo}
SECONDS_EACH=${1:-60}
STARTS=${STARTS:-3}
# shellcheck source=tests/integration/lib.sh
. "$SRC/tests/integration/lib.sh"
ensure_desktop "$@"
[ -x "$APP" ] || fail "$APP not found: build it first (scripts/bench.sh does)"

# Every change of the window manager's client list, stamped with the time it arrived. The list
# is watched for changes, not polled, so the measurement does not take the processor from the
# program while it starts.
LISTS="$TEST_TMP/client-lists"
# shellcheck disable=SC2016
stdbuf -oL xprop -spy -root _NET_CLIENT_LIST \
    | bash -c 'while IFS= read -r l; do echo "$EPOCHREALTIME $l"; done' >"$LISTS" &
SPY_PID=$!
at_exit "kill $SPY_PID 2>/dev/null"
wait_until 5 test -s "$LISTS" || fail "cannot watch the client list"

# One start of the program, left running (APP_PID, APP_WIN); adds its start-up time in ms to
# `times`.
times=()
start_timed() {
    local t0 ms
    t0=$EPOCHREALTIME
    "$APP" &
    APP_PID=$!
    APP_WIN=$(wait_window "$APP_PID" "$APP_TITLE" 20) || fail "no window titled $APP_TITLE within 20 s"
    # The server hands out the ids of ended programs' windows again: only lists from now count.
    ms=$(awk -v t0="$t0" -v id="$(printf '0x%x' "$APP_WIN")" -F '[ #,]+' '
        $1 > t0 { for (i = 2; i <= NF; i++) if (tolower($i) == id) { printf "%.0f", ($1 - t0) * 1000; exit } }
        ' "$LISTS")
    [ -n "$ms" ] || fail "window $APP_WIN was never in the client list"
    times+=("$ms")
}

for ((i = 1; i <= STARTS; i++)); do
    [ "$i" -eq 1 ] || stop_app 5
    start_timed
done
median=$(printf '%s\n' "${times[@]}" | sort -n | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }')

# CPU time of the process in clock ticks (utime + stime) and of its threads in ns.
ticks() {
    local rest
    rest=$(<"/proc/$APP_PID/stat")
    rest=${rest##*) }
    # shellcheck disable=SC2086
    set -- $rest
    echo $((${12} + ${13}))
}
runtime() { cat /proc/"$APP_PID"/task/*/schedstat | awk '{ s += $1 } END { printf "%.0f\n", s }'; }

# measure LABEL: one interval of SECONDS_EACH.
measure() {
    local t0 c0 r0 t1 c1 r1 hz
    hz=$(getconf CLK_TCK)
    t0=$EPOCHREALTIME c0=$(ticks) r0=$(runtime)
    sleep "$SECONDS_EACH"
    t1=$EPOCHREALTIME c1=$(ticks) r1=$(runtime)
    is_alive "$APP_PID" || fail "the program ended during the measurement"
    awk -v label="$1" -v wall="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
        -v cpu="$((c1 - c0))" -v hz="$hz" -v run="$((r1 - r0))" '
        /^Rss:/ { rss = $2 } /^Pss:/ { pss = $2 }
        END {
            printf "%s: CPU %.2f %% of a core (run time %.3f %%), PSS %.1f MiB, RSS %.1f MiB\n",
                label, 100 * cpu / hz / wall, 100 * run / 1e9 / wall, pss / 1024, rss / 1024
        }' "/proc/$APP_PID/smaps_rollup"
}

sleep 5
measure "1000 ms"
keys "$(main_window)" alt+v u h
sleep 2   # the menu closes and the faster timer runs
measure "100 ms"
echo "start-up: $median ms (median of ${STARTS}: ${times[*]} ms)"
stop_app 5
