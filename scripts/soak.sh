#!/usr/bin/env bash
# Soak run: the program refreshing every 100 ms for a long time on a busy
# desktop must neither grow nor fail.
#
#   scripts/soak.sh [MINUTES]     (default 60)
#   scripts/soak.sh --short       (5 minutes, what CI can afford)
#
# On a private desktop (scripts/with-desktop.sh) it starts the program (APP,
# default build/mirebo), picks 表示 → 更新の頻度 → 高 through the keyboard and
# lets scripts/soak-driver.sh open, retitle and close xterms every second.
# Once a minute it records the program's resident memory, its open file
# descriptors, what the X server holds for it (xrestop) and the share of one
# core it used over that minute. The table goes to stdout and to
# $ARTIFACTS/soak.txt (default build/artifacts); the program's own output
# goes to soak-app.log there, the driver's to soak-driver.log.
#
# It passes when, at the end, the program still runs, never showed an error
# box, and nothing grew after the warm-up (5 minutes; 2 in runs of 5 minutes
# or less): memory at most 1024 kB above its value at the end of the warm-up,
# descriptors and every X resource count at or below theirs, pixmap bytes
# (and so the total) within 5 %. Exit status 0 passed, 1 failed, 2 usage,
# 77 when a tool it needs is missing.
# Functions called through wait_until look unreachable to the linter.
# shellcheck disable=SC2034,SC2317
set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${APP:=$SRC/build/mirebo}"
: "${ARTIFACTS:=$SRC/build/artifacts}"
case $APP in /*) ;; *) APP="$PWD/$APP" ;; esac
case $ARTIFACTS in /*) ;; *) ARTIFACTS="$PWD/$ARTIFACTS" ;; esac
export APP ARTIFACTS SRC

usage() {
    echo "usage: $0 [MINUTES | --short]" >&2
    exit 2
}

MINUTES=60
case "${1:-}" in
    "") ;;
    --short) MINUTES=5 ;;
    -h|--help) usage ;;
    *) [[ $1 =~ ^[0-9]+$ ]] || usage; MINUTES=$((10#$1)) ;;
esac
[ $# -le 1 ] || usage
if [ "$MINUTES" -le 5 ]; then WARMUP=2; else WARMUP=5; fi
[ "$MINUTES" -gt "$WARMUP" ] || { echo "$0: a run needs at least $((WARMUP + 1)) minutes" >&2; exit 2; }

# Growth allowances: malloc keeps some slack, and a tray picture of a
# different load may take a few more bytes than the one before.
readonly RSS_SLACK_KB=1024
readonly PIXMAP_BYTES_SLACK_PERCENT=5

. "$SRC/tests/integration/lib.sh"
ensure_desktop "$@"
require xrestop xterm wmctrl
[ -x "$APP" ] || fail "$APP is not an executable (build it first, or set APP)"

OUT="$ARTIFACTS/soak.txt"
APP_LOG="$ARTIFACTS/soak-app.log"
DRIVER_LOG="$ARTIFACTS/soak-driver.log"
: >"$OUT"
out() { printf '%s\n' "$*" | tee -a "$OUT"; }
die() {
    out "FAIL: soak: $*"
    exit 1
}

CLK_TCK=$(getconf CLK_TCK)

# Wall clock in hundredths of a second since boot, the unit /proc/uptime has.
now_cs() {
    local up
    read -r up _ </proc/uptime
    echo $((10#${up%.*} * 100 + 10#${up#*.}))
}

rss_kb() { awk '/^VmRSS:/ { print $2 }' "/proc/$APP_PID/status" 2>/dev/null; }

fd_count() { find "/proc/$APP_PID/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l; }

# Prints "windows pixmaps pixmap_bytes other_bytes total_bytes" of the
# program's X clients (summed, should it have more than one connection), or
# "? ? ? ? ?" when the server reports no client with its pid.
x_resources() {
    xrestop -b -m 1 2>/dev/null | awk -v pid="$APP_PID" '
        / - .*\( PID: *[^ ]+ *\):$/ {
            s = $0
            sub(/.*\( PID: */, "", s); sub(/ *\):$/, "", s)
            mine = (s == pid); if (mine) found = 1
            next
        }
        mine {
            split($0, kv, ":"); key = kv[1]; val = kv[2]
            gsub(/^[ \t]+|[ \t]+$/, "", key); gsub(/[^0-9]/, "", val)
            if (key ~ /^(windows|pixmaps|pixmap bytes|other bytes|total bytes)$/) sum[key] += val
        }
        END {
            if (!found) { print "? ? ? ? ?"; exit }
            print sum["windows"] + 0, sum["pixmaps"] + 0, sum["pixmap bytes"] + 0, sum["other bytes"] + 0, sum["total bytes"] + 0
        }'
}

# One row of measurements, the lowest of a few readings half a second apart:
# a leak shows in every reading, a tick caught in the middle of its work (a
# /proc file open, a picture being drawn) only in some.
#   measure -> "rss fds windows pixmaps pixmap_bytes other_bytes total_bytes"
measure() {
    local i rows=""
    for ((i = 0; i < 3; i++)); do
        [ "$i" = 0 ] || sleep 0.5
        rows+="$(rss_kb) $(fd_count) $(x_resources)"$'\n'
    done
    printf '%s' "$rows" | awk '
        { for (i = 1; i <= NF; i++) if ($i != "?" && (!(i in lo) || $i + 0 < lo[i])) lo[i] = $i + 0 }
        END { for (i = 1; i <= 7; i++) printf "%s%s", (i in lo) ? lo[i] : "?", (i < 7) ? " " : "\n" }'
}

DRIVER_PID=""
stop_driver() {
    [ -n "$DRIVER_PID" ] || return 0
    # It closes its xterms before it ends.
    end_pids 8 "$DRIVER_PID"
    DRIVER_PID=""
}
at_exit stop_driver

# ---- start ---------------------------------------------------------------------

"$APP" >"$APP_LOG" 2>&1 &
APP_PID=$!
if ! APP_WIN=$(wait_window "$APP_PID" "$APP_TITLE" 20); then
    is_alive "$APP_PID" || die "$APP exited before showing its window (see $APP_LOG)"
    die "no window titled $APP_TITLE from $APP within 20 s"
fi
box=$(error_boxes)
[ -z "$box" ] || die "an error box ($box) came up at start-up"

# 表示 → 更新の頻度 opens two menus; 高 picks the item and closes them.
keys "$APP_WIN" alt+v u
wait_until 3 popup_at || die "alt+v u opened no menu"
xdotool key --clearmodifiers h
wait_until 3 eval '! popup_at' || die "h in 更新の頻度 did not pick an item (a menu is still open)"

"$SRC/scripts/soak-driver.sh" "$$" 2>"$DRIVER_LOG" &
DRIVER_PID=$!

out "soak: $APP (pid $APP_PID), 100 ms refresh, $MINUTES minutes, warm-up $WARMUP minutes, $(date '+%F %T')"
out "$(printf '%6s %8s %5s %8s %8s %12s %11s %11s %6s' \
    minute rss_kB fds windows pixmaps pixmap_bytes other_bytes total_bytes cpu_%)"

declare -a ROW
CRASH=""
BOX=""
DRIVER_GONE=""
T0=$(now_cs)
last_cs=$T0
last_ticks=$(cpu_ticks "$APP_PID")

record() {
    local m=$1 cs ticks cpu vals
    cs=$(now_cs)
    ticks=$(cpu_ticks "$APP_PID") || return 1
    if [ "$m" = 0 ]; then
        cpu="-"
    else
        cpu=$(awk -v t=$((ticks - last_ticks)) -v hz="$CLK_TCK" -v cs=$((cs - last_cs)) \
            'BEGIN { printf "%.1f", (cs > 0) ? 100 * t / hz / (cs / 100) : 0 }')
    fi
    last_cs=$cs
    last_ticks=$ticks
    vals=$(measure)
    is_alive "$APP_PID" || return 1
    ROW[m]=$vals
    # shellcheck disable=SC2086
    out "$(printf '%6s %8s %5s %8s %8s %12s %11s %11s %6s' "$m" $vals "$cpu")"
}

# Time since the first row, as M:SS.
elapsed() {
    local s=$((($(now_cs) - T0) / 100))
    printf '%d:%02d' $((s / 60)) $((s % 60))
}

# Polls every 2 s until the given time for a crash or an error box; returns 1
# on either.
watch_until() {
    local until_cs=$1 box
    while [ "$(now_cs)" -lt "$until_cs" ]; do
        if ! is_alive "$APP_PID"; then
            local status=0
            wait "$APP_PID" 2>/dev/null || status=$?
            if [ "$status" -gt 128 ]; then
                CRASH="ended by signal $((status - 128)) at $(elapsed)"
            else
                CRASH="exited with status $status at $(elapsed)"
            fi
            return 1
        fi
        if [ -n "$DRIVER_PID" ] && ! is_alive "$DRIVER_PID"; then
            DRIVER_GONE=$(elapsed)
            return 1
        fi
        box=$(error_boxes)
        if [ -n "$box" ]; then
            BOX="$(head -n 1 <<<"$box" | cut -d" " -f1,2) $(elapsed)"
            screenshot soak_error_box >/dev/null 2>&1 || true
            return 1
        fi
        sleep 2
    done
}

LAST=0
record 0 || CRASH="gone at the start"
[ -n "$CRASH" ] || for ((m = 1; m <= MINUTES; m++)); do
    watch_until $((T0 + m * 6000)) || break
    record "$m" || { CRASH="gone at minute $m"; break; }
    LAST=$m
done
[ -z "$CRASH" ] && ! is_alive "$APP_PID" && CRASH="gone at the end"
stop_driver

# ---- verdict -------------------------------------------------------------------

REASONS=()
[ -n "$CRASH" ] && REASONS+=("the program is gone ($CRASH; see $APP_LOG)")
[ -n "$DRIVER_GONE" ] && REASONS+=("the desktop driver stopped at $DRIVER_GONE, so the desktop was no longer busy (see $DRIVER_LOG)")
if [ -n "$BOX" ]; then
    read -r box_win box_size box_at <<<"$BOX"
    REASONS+=("an error box came up at $box_at (window $box_win, $box_size; screenshot $ARTIFACTS/soak_error_box.png)")
fi

if [ "$LAST" -gt "$WARMUP" ]; then
    read -r -a BASE <<<"${ROW[WARMUP]}"
    NAMES=(rss_kB fds windows pixmaps pixmap_bytes other_bytes total_bytes)
    LIMIT=("${BASE[@]}")
    # A reading that failed ("?") stays unknown and fails the comparison below.
    [ "${BASE[0]}" = "?" ] || LIMIT[0]=$((BASE[0] + RSS_SLACK_KB))
    if [ "${BASE[4]}" != "?" ] && [ "${BASE[6]}" != "?" ]; then
        pix_slack=$((BASE[4] * PIXMAP_BYTES_SLACK_PERCENT / 100))
        LIMIT[4]=$((BASE[4] + pix_slack))
        LIMIT[6]=$((BASE[6] + pix_slack))
    fi
    for ((i = 0; i < ${#NAMES[@]}; i++)); do
        worst=""
        for ((m = WARMUP + 1; m <= LAST; m++)); do
            read -r -a V <<<"${ROW[m]}"
            if [ "${V[i]}" = "?" ] || [ "${LIMIT[i]}" = "?" ]; then
                worst="unknown at minute $m"
                break
            fi
            if [ "${V[i]}" -gt "${LIMIT[i]}" ]; then
                worst="${V[i]} at minute $m"
                break
            fi
        done
        [ -z "$worst" ] || REASONS+=("${NAMES[i]} grew: ${BASE[i]} after the warm-up, $worst (limit ${LIMIT[i]})")
    done
elif [ "${#REASONS[@]}" = 0 ]; then
    REASONS+=("the run ended before the warm-up was over")
fi

if [ "${#REASONS[@]}" = 0 ]; then
    out "PASS: soak: still running after $MINUTES minutes, no error box, nothing grew after minute $WARMUP"
    exit 0
fi
msg=${REASONS[0]}
for r in "${REASONS[@]:1}"; do msg+="; $r"; done
out "FAIL: soak: $msg"
exit 1
