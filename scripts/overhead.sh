#!/usr/bin/env bash
# What the program costs beside the floor: bench/floor.cpp, a bare Qt program showing the same
# windows, text, charts, tray icon and list with none of our logic behind them.
#
#   scripts/overhead.sh [--windows N] [SECONDS]
#                                      (default 30 per measurement; RUNS passes, default 3;
#                                       NO_DEPS=1 skips the package check; BUILD= a release
#                                       build to measure as it is, default: build-release, built;
#                                       BASE= another release build, e.g. of an earlier commit,
#                                       measured alongside as "base")
#
# --windows N puts N more top-level windows on the desktop, held by processes of 50 windows
# each (xtool), as a busy desktop has; the cost of a window list shows there.
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
#   X+WM %   the X server's and the window manager's CPU meanwhile: what asking them costs
# and at the end of each pass, "none": the desktop alone for SECONDS, with no monitor running.
# Then the targets, from the medians over the passes: CPU at most 1.3 × the floor's (never below
# the floor + 0.05 % of a core, which is inside the noise) at either interval, and RSS at most
# 1.1 × the floor's; with BASE, CPU no more than the base build's (+ 0.05 %); with --windows, at
# 100 ms the program at most 2 % of a core and the X server and window manager at most 1 % of a
# core above what they spend with no monitor. Exit status 0 when every target is met, 1 when one
# is missed.
set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
ARGS=("$@")
usage() { echo "usage: $0 [--windows N] [SECONDS]" >&2; exit 2; }
EXTRA=0
if [ "${1:-}" = --windows ]; then
    [ $# -ge 2 ] || usage
    EXTRA=$2
    shift 2
fi
SECONDS_EACH=${1:-30}
RUNS=${RUNS:-3}
[[ $SECONDS_EACH =~ ^[1-9][0-9]*$ && $RUNS =~ ^[1-9][0-9]*$ && $EXTRA =~ ^[0-9]+$ ]] || usage

# A given BUILD (scripts/bench.sh gives its own) is measured as it is; so is the default one
# when this already runs on a private desktop.
if [ -z "${BUILD:-}" ] && [ "${MIREBO_DESKTOP:-}" != 1 ]; then
    [ "${NO_DEPS:-}" = 1 ] || "$SRC/scripts/install-deps.sh"
    (cd "$SRC" && cmake --preset release >/dev/null && cmake --build --preset release -j"${JOBS:-2}" --target mirebo floor xtool)
    export MIREBO_XTOOL=${MIREBO_XTOOL:-$SRC/build-release/tests/tools/xtool}
fi
export BUILD=${BUILD:-$SRC/build-release}

# shellcheck source=scripts/lib.sh
. "$SRC/scripts/lib.sh"
ensure_desktop "${ARGS[@]}"
require xterm xclock xdotool
FLOOR=$BUILD/bench/floor APP=$BUILD/mirebo BASE_APP=${BASE:+$BASE/mirebo}
for f in "$FLOOR" "$APP" ${BASE_APP:+"$BASE_APP"}; do [ -x "$f" ] || fail "build $f first (the release preset)"; done
WHO=(floor app)
[ -z "$BASE_APP" ] || WHO=(floor base app)

# The desktop's ordinary windows.
for i in 0 1 2; do
    xterm -geometry 80x24+$((40 + i * 60))+$((80 + i * 60)) -title "xterm-$i" >/dev/null 2>&1 &
    at_exit "end_pids 2 $!"
done
for i in 0 1; do
    xclock -update 1 -geometry 140x140+$((700 + i * 160))+400 >/dev/null 2>&1 &
    at_exit "end_pids 2 $!"
done
# shellcheck disable=SC2317   # called through wait_until
load_up() { [ "$(xdotool search --onlyvisible --name 'xterm-|xclock' 2>/dev/null | wc -l)" -ge 5 ]; }
wait_until 15 load_up || fail "the xterms and xclocks did not come up"
if [ "$EXTRA" -gt 0 ]; then
: >"$TEST_TMP/extra"
    xtool --count "$EXTRA" --per-process 50 >"$TEST_TMP/extra" 2>&1 &
    at_exit "end_pids 2 $!"
    # shellcheck disable=SC2317   # called through wait_until
    extra_up() { grep -qx ready "$TEST_TMP/extra"; }
    wait_until 300 extra_up || fail "xtool did not put up $EXTRA windows: $(cat "$TEST_TMP/extra")"
fi
# The X server and the window manager (every process of the desktop's manager part).
DESKTOP_PIDS="${MIREBO_DESKTOP_SERVER_PID:?the desktop names its X server} $(tagged "MIREBO_DESKTOP_TAG=$XDG_RUNTIME_DIR/wm" | tr '\n' ' ')"

# Every change of the client list, stamped with its arrival: start-up is read from it, so the
# measurement takes no processor from the program while it starts.
LISTS=$TEST_TMP/client-lists
# shellcheck disable=SC2016
stdbuf -oL xprop -spy -root _NET_CLIENT_LIST \
    | bash -c 'while IFS= read -r l; do echo "$EPOCHREALTIME $l"; done' >"$LISTS" &
at_exit "kill $! 2>/dev/null"
wait_until 5 test -s "$LISTS" || fail "cannot watch the client list"

runtime_ns() {
    local p
    for p in "$@"; do cat /proc/"$p"/task/*/schedstat 2>/dev/null || true; done | awk '{ s += $1 } END { printf "%.0f\n", s }'
}
switches() { awk '/ctxt_switches:/ { s += $2 } END { print s + 0 }' "/proc/$1/status"; }

# run PASS WHO INTERVAL: starts the floor or the program (WHO base: the BASE build's), sets it
# to INTERVAL, measures, ends it; prints its row and adds "who interval cpu% wake/s rss_kB pss_kB
# start_ms desktop_cpu%" to RESULTS.
RESULTS=$TEST_TMP/results
run() {
    local title=$APP_TITLE t0=$EPOCHREALTIME win ms r0 s0 w0 d0
    if [ "$2" = floor ]; then
        title=floor
        "$FLOOR" "$3" >>"$TEST_TMP/floor.log" 2>&1 &
    elif [ "$2" = base ]; then
        "$BASE_APP" >>"$TEST_TMP/base.log" 2>&1 &
    else
        "$APP" >>"$TEST_TMP/app.log" 2>&1 &
    fi
    APP_PID=$!
    win=$(wait_window "$APP_PID" "$title" 20) || fail "$2: no window titled $title within 20 s"
    # The server hands out the ids of ended programs' windows again: only lists from now count.
    ms=$(awk -v t0="$t0" -v id="$(printf '0x%x' "$win")" -F '[ #,]+' '
        $1 > t0 { for (i = 2; i <= NF; i++) if (tolower($i) == id) { printf "%.0f", ($1 - t0) * 1000; exit } }
        ' "$LISTS")
    [ "$2" = floor ] || [ "$3" != 100 ] || keys "$win" alt+v u h
    # Out of the way of every window, so that no tooltip opens.
    xdotool mousemove 1020 760
    sleep 3
    # shellcheck disable=SC2086   # a list of pids
    w0=$EPOCHREALTIME r0=$(runtime_ns "$APP_PID") s0=$(switches "$APP_PID") d0=$(runtime_ns $DESKTOP_PIDS)
    sleep "$SECONDS_EACH"
    is_alive "$APP_PID" || fail "$2 ended during the measurement"
    # shellcheck disable=SC2086
    awk -v pass="$1" -v who="$2" -v iv="$3" -v run=$(($(runtime_ns "$APP_PID") - r0)) \
        -v desk=$(($(runtime_ns $DESKTOP_PIDS) - d0)) \
        -v sw=$(($(switches "$APP_PID") - s0)) -v t0="$w0" -v t1="$EPOCHREALTIME" -v ms="${ms:--}" -v out="$RESULTS" '
        /^Rss:/ { rss = $2 } /^Pss:/ { pss = $2 }
        END {
            cpu = 100 * run / 1e9 / (t1 - t0); wake = sw / (t1 - t0); dcpu = 100 * desk / 1e9 / (t1 - t0)
            printf "%s %s %.3f %.1f %d %d %s %.3f\n", who, iv, cpu, wake, rss, pss, ms, dcpu >>out
            printf "%-5s %-6s %-9s %8.3f %8.1f %9.1f %9.1f %9s %8.3f\n", pass, who, iv " ms", cpu, wake, rss / 1024, pss / 1024, ms, dcpu
        }' "/proc/$APP_PID/smaps_rollup"
    stop_app 5
}

# idle PASS: the desktop alone, no monitor running.
idle() {
    local w0 d0
    # shellcheck disable=SC2086
    w0=$EPOCHREALTIME d0=$(runtime_ns $DESKTOP_PIDS)
    sleep "$SECONDS_EACH"
    # shellcheck disable=SC2086
    awk -v pass="$1" -v desk=$(($(runtime_ns $DESKTOP_PIDS) - d0)) -v t0="$w0" -v t1="$EPOCHREALTIME" -v out="$RESULTS" '
        BEGIN {
            dcpu = 100 * desk / 1e9 / (t1 - t0)
            printf "none 0 - - - - - %.3f\n", dcpu >>out
            printf "%-5s %-6s %-9s %8s %8s %9s %9s %9s %8.3f\n", pass, "none", "-", "-", "-", "-", "-", "-", dcpu
        }'
}

echo "== $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg); ${SECONDS_EACH} s each, $RUNS passes; $EXTRA extra windows"
printf '%-5s %-6s %-9s %8s %8s %9s %9s %9s %8s\n' pass who interval "CPU %" wake/s "RSS MiB" "PSS MiB" "start ms" "X+WM %"
for ((pass = 1; pass <= RUNS; pass++)); do
    for interval in 1000 100; do
        for who in "${WHO[@]}"; do run "$pass" "$who" "$interval"; done
    done
    # Last, so that the window manager has long done with the windows put up at the start.
    idle "$pass"
done
echo "== load at the end $(cut -d' ' -f1-3 /proc/loadavg)"

# The medians, and the targets from them: ours ≤ max(RATIO × floor, floor + MARGIN).
awk -v runs="$RUNS" -v base="${BASE_APP:+1}" -v extra="$EXTRA" '
    { n++; key[n] = $1 "-" $2; for (c = 3; c <= 8; c++) v[n, c] = $c }
    function med(k, c,   i, j, m, a, t) {
        for (i = 1; i <= n; i++) if (key[i] == k && v[i, c] ~ /^[0-9.]+$/) {
            t = v[i, c] + 0; for (j = ++m; j > 1 && a[j - 1] > t; j--) a[j] = a[j - 1]; a[j] = t }
        return m ? a[int((m + 1) / 2)] : "-"
    }
    # ours (app, column c, at iv) against what (a key) × ratio, or what + margin if more.
    function against(name, c, iv, what, label, ratio, margin, d,   ours, other, limit) {
        ours = med("app-" iv, c); other = med(what, c)
        limit = ratio * other; if (other + margin > limit) limit = other + margin
        printf "%-4s %-28s ours %8.*f, limit %8.*f (ours = %.2f × %s)\n", (ours <= limit ? "PASS" : "MISS"),
            name, d, ours, d, limit, (other > 0 ? ours / other : 0), label
        if (ours > limit) missed = 1
    }
    function target(name, c, iv, ratio, margin, d) { against(name, c, iv, "floor-" iv, "floor", ratio, margin, d) }
    function absolute(name, value, limit) {
        printf "%-4s %-28s ours %8.3f, limit %8.3f\n", (value <= limit ? "PASS" : "MISS"), name, value, limit
        if (value > limit) missed = 1
    }
    END {
        printf "\n== medians of %d passes\n%-6s %-9s %8s %9s %9s %9s %8s\n", runs, "who", "interval", "CPU %", "RSS MiB", "PSS MiB", "start ms", "X+WM %"
        printf "%-6s %-9s %8s %9s %9s %9s %8.3f\n", "none", "-", "-", "-", "-", "-", med("none-0", 8)
        split(base ? "floor base app" : "floor app", who, " ")
        for (iv = 1000; iv >= 100; iv /= 10) for (w = 1; w in who; w++) {
            k = who[w] "-" iv
            printf "%-6s %-9s %8.3f %9.1f %9.1f %9s %8.3f\n", who[w], iv " ms", med(k, 3), med(k, 5) / 1024, med(k, 6) / 1024, med(k, 7), med(k, 8)
        }
        print "\n== targets"
        target("CPU % at 1000 ms", 3, 1000, 1.3, 0.05, 3); target("CPU % at 100 ms", 3, 100, 1.3, 0.05, 3)
        target("RSS kB at 1000 ms", 5, 1000, 1.1, 0, 0); target("RSS kB at 100 ms", 5, 100, 1.1, 0, 0)
        if (base) {
            against("CPU % at 1000 ms, vs base", 3, 1000, "base-1000", "base", 1, 0.05, 3)
            against("CPU % at 100 ms, vs base", 3, 100, "base-100", "base", 1, 0.05, 3)
        }
        if (extra > 0) {
            absolute("CPU % at 100 ms", med("app-100", 3), 2)
            absolute("X+WM % at 100 ms", med("app-100", 8), med("none-0", 8) + 1)
        }
        exit missed
    }' "$RESULTS"
