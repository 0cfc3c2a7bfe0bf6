#!/usr/bin/env bash
# What the program costs beside the floor: bench/floor.cpp, a bare Qt program showing the same
# windows, text, charts, tray icon and list with none of our logic behind them.
#
#   scripts/overhead.sh [SECONDS]      (default 30 per measurement; RUNS passes, default 3;
#                                       NO_DEPS=1 skips the package check)
#
# Builds both optimised (the release preset), then on one private desktop (scripts/with-desktop.sh)
# with a few ordinary windows open (three xterms, two xclocks ticking every second) runs the floor
# and the program one at a time, alternating, at the 1000 ms refresh and at 100 ms: the floor
# takes its interval as an argument, the program gets 表示 → 更新の頻度 → 高 from the keyboard,
# as a user would choose it. For each run:
#   CPU      % of one core over SECONDS, from the run time of all its threads (schedstat, ns)
#   wake/s   the main thread's context switches per second: shows the refresh took effect
#   RSS PSS  MiB, from smaps_rollup at the end
#   start    ms from exec until the window manager lists the window
# Then the targets, from the medians over the passes: CPU at most 1.3 × the floor's (never below
# the floor + 0.05 % of a core, which is inside the noise) at either interval, and RSS at most
# 1.1 × the floor's. Exit status 0 when every target is met, 1 when one is missed.
set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
SECONDS_EACH=${1:-30}
RUNS=${RUNS:-3}
[[ $SECONDS_EACH =~ ^[1-9][0-9]*$ && $RUNS =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS]" >&2; exit 2; }

if [ "${MIREBO_DESKTOP:-}" != 1 ]; then
    cd "$SRC"
    [ "${NO_DEPS:-}" = 1 ] || scripts/install-deps.sh
    cmake --preset release >/dev/null
    cmake --build --preset release -j"${JOBS:-$(nproc)}" --target mirebo floor
fi

# shellcheck source=tests/integration/lib.sh
. "$SRC/tests/integration/lib.sh"
ensure_desktop "$@"
require xterm xclock xdotool

BUILD=$SRC/build-release
FLOOR=$BUILD/bench/floor
APP=$BUILD/mirebo
if [ ! -x "$FLOOR" ] || [ ! -x "$APP" ]; then
    fail "build $FLOOR and $APP first (the release preset)"
fi

# ---- the desktop's ordinary windows ---------------------------------------------------------
LOAD_PIDS=()
for i in 0 1 2; do
    xterm -geometry 80x24+$((40 + i * 60))+$((80 + i * 60)) -title "xterm-$i" >/dev/null 2>&1 &
    LOAD_PIDS+=("$!")
done
for i in 0 1; do
    xclock -update 1 -geometry 140x140+$((700 + i * 160))+400 >/dev/null 2>&1 &
    LOAD_PIDS+=("$!")
done
at_exit "kill ${LOAD_PIDS[*]} 2>/dev/null"
# shellcheck disable=SC2317   # called through wait_until
load_up() { [ "$(xdotool search --onlyvisible --name 'xterm-|xclock' 2>/dev/null | wc -l)" -ge 5 ]; }
wait_until 15 load_up || fail "the xterms and xclocks did not come up"

# Every change of the client list, stamped with its arrival: start-up is read from it, so the
# measurement takes no processor from the program while it starts.
LISTS=$TEST_TMP/client-lists
# shellcheck disable=SC2016
stdbuf -oL xprop -spy -root _NET_CLIENT_LIST \
    | bash -c 'while IFS= read -r l; do echo "$EPOCHREALTIME $l"; done' >"$LISTS" &
SPY_PID=$!
at_exit "kill $SPY_PID 2>/dev/null"
wait_until 5 test -s "$LISTS" || fail "cannot watch the client list"

# ---- one measurement ---------------------------------------------------------------------------
runtime_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }
switches() { awk '/ctxt_switches:/ { s += $2 } END { print s + 0 }' "/proc/$1/status"; }

# run WHO INTERVAL: starts the floor or the program, sets it to INTERVAL, measures, ends it;
# RESULT becomes "cpu% wake/s rss_kB pss_kB start_ms".
run() {
    local who=$1 interval=$2 title t0 win ms r0 r1 s0 s1 w0 w1
    t0=$EPOCHREALTIME
    if [ "$who" = floor ]; then
        title=floor
        "$FLOOR" "$interval" >>"$TEST_TMP/floor.log" 2>&1 &
    else
        title=$APP_TITLE
        "$APP" >>"$TEST_TMP/app.log" 2>&1 &
    fi
    APP_PID=$!
    win=$(wait_window "$APP_PID" "$title" 20) || fail "$who: no window titled $title within 20 s"
    # The server hands out the ids of ended programs' windows again: only lists from now count.
    ms=$(awk -v t0="$t0" -v id="$(printf '0x%x' "$win")" -F '[ #,]+' '
        $1 > t0 { for (i = 2; i <= NF; i++) if (tolower($i) == id) { printf "%.0f", ($1 - t0) * 1000; exit } }
        ' "$LISTS")
    if [ "$who" = app ] && [ "$interval" = 100 ]; then
        keys "$win" alt+v u h
    fi
    # Out of the way of every window, so that no tooltip opens.
    xdotool mousemove 1020 760
    sleep 3
    w0=$EPOCHREALTIME r0=$(runtime_ns "$APP_PID") s0=$(switches "$APP_PID")
    sleep "$SECONDS_EACH"
    w1=$EPOCHREALTIME r1=$(runtime_ns "$APP_PID") s1=$(switches "$APP_PID")
    is_alive "$APP_PID" || fail "$who ended during the measurement"
    RESULT=$(awk -v run=$((r1 - r0)) -v sw=$((s1 - s0)) -v wall="$(awk -v a="$w0" -v b="$w1" 'BEGIN { print b - a }')" \
        -v ms="${ms:--}" '
        /^Rss:/ { rss = $2 } /^Pss:/ { pss = $2 }
        END { printf "%.3f %.1f %d %d %s\n", 100 * run / 1e9 / wall, sw / wall, rss, pss, ms }' \
        "/proc/$APP_PID/smaps_rollup")
    stop_app 5
}

mib() { awk -v k="$1" 'BEGIN { printf "%.1f", k / 1024 }'; }

# ---- the passes ------------------------------------------------------------------------------------
declare -A CPU RSS PSS START
echo "== $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); ${SECONDS_EACH} s each, $RUNS passes"
printf '%-5s %-6s %-9s %8s %8s %9s %9s %9s\n' pass who interval "CPU %" wake/s "RSS MiB" "PSS MiB" "start ms"
for ((pass = 1; pass <= RUNS; pass++)); do
    for interval in 1000 100; do
        for who in floor app; do
            run "$who" "$interval"
            read -r cpu wake rss pss ms <<<"$RESULT"
            key=$who-$interval
            CPU[$key]+="$cpu "
            RSS[$key]+="$rss "
            PSS[$key]+="$pss "
            START[$key]+="$ms "
            printf '%-5s %-6s %-9s %8.3f %8.1f %9s %9s %9s\n' "$pass" "$who" "$interval ms" "$cpu" "$wake" \
                "$(mib "$rss")" "$(mib "$pss")" "$ms"
        done
    done
done

median() { tr ' ' '\n' <<<"$1" | grep -v '^$' | sort -g | awk '{ v[NR] = $1 } END { print v[int((NR + 1) / 2)] }'; }

echo
echo "== medians of $RUNS passes"
printf '%-6s %-9s %8s %9s %9s %9s\n' who interval "CPU %" "RSS MiB" "PSS MiB" "start ms"
for interval in 1000 100; do
    for who in floor app; do
        key=$who-$interval
        printf '%-6s %-9s %8.3f %9s %9s %9s\n' "$who" "$interval ms" "$(median "${CPU[$key]}")" \
            "$(mib "$(median "${RSS[$key]}")")" "$(mib "$(median "${PSS[$key]}")")" "$(median "${START[$key]}")"
    done
done

echo
echo "== targets"
missed=0
# target NAME OURS FLOOR RATIO MARGIN DIGITS: ours ≤ max(RATIO × floor, floor + MARGIN).
target() {
    local verdict word ours limit ratio
    verdict=$(awk -v ours="$2" -v floor="$3" -v ratio="$4" -v margin="$5" -v d="$6" 'BEGIN {
        limit = ratio * floor; if (floor + margin > limit) limit = floor + margin
        printf "%s %.*f %.*f %.2f", (ours <= limit ? "PASS" : "MISS"), d, ours, d, limit,
            (floor > 0 ? ours / floor : 0) }')
    read -r word ours limit ratio <<<"$verdict"
    printf '%-4s %-18s ours %8s, limit %8s (ours = %s × floor)\n' "$word" "$1" "$ours" "$limit" "$ratio"
    [ "$word" = PASS ] || missed=1
}
for interval in 1000 100; do
    target "CPU % at $interval ms" "$(median "${CPU[app-$interval]}")" "$(median "${CPU[floor-$interval]}")" 1.3 0.05 3
done
for interval in 1000 100; do
    target "RSS kB at $interval ms" "$(median "${RSS[app-$interval]}")" "$(median "${RSS[floor-$interval]}")" 1.1 0 0
done
exit "$missed"
