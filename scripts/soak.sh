#!/usr/bin/env bash
# Soak run: the program refreshing every 100 ms for a long time on a busy desktop must neither
# grow nor fail.
#
#   scripts/soak.sh [MINUTES | --short]     (default 60; --short: 5, what CI can afford)
#
# On a private desktop it starts the program (APP, default build/mirebo), picks 表示 → 更新の頻度
# → 高 through the keyboard and keeps the desktop busy (busy_desktop below). Once a minute it
# records the program's resident memory, open file descriptors, what the X server holds for it
# (xrestop) and the share of one core it used. The table goes to stdout and to
# $ARTIFACTS/soak.txt (default build/artifacts), beside soak-app.log and soak-driver.log.
#
# It passes when, at the end, the program still runs, never showed an error box, and nothing grew
# after the warm-up (5 minutes; 2 in runs of 5 minutes or less): memory at most RSS_SLACK_KB
# (1024) kB above its value at the end of the warm-up, descriptors and every X resource count at
# or below theirs, pixmap bytes (and so the total) within 5 %. Exit status 0 passed, 1 failed,
# 2 usage, 77 when a tool it needs is missing.
# Functions called through wait_until and traps look unreachable to the linter.
# shellcheck disable=SC2317
set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
: "${APP:=$SRC/build/mirebo}" "${ARTIFACTS:=$SRC/build/artifacts}"
APP=$(realpath -m "$APP") ARTIFACTS=$(realpath -m "$ARTIFACTS")
export APP ARTIFACTS SRC

MINUTES=${1:-60}
[ "$MINUTES" != --short ] || MINUTES=5
[[ $MINUTES =~ ^[0-9]+$ && $# -le 1 ]] || { echo "usage: $0 [MINUTES | --short]" >&2; exit 2; }
MINUTES=$((10#$MINUTES)) WARMUP=$((MINUTES <= 5 ? 2 : 5))
[ "$MINUTES" -gt "$WARMUP" ] || { echo "$0: a run needs at least $((WARMUP + 1)) minutes" >&2; exit 2; }
# Growth allowed: malloc keeps some slack, and the tray picture of one load may take a few more
# bytes than that of another.
: "${RSS_SLACK_KB:=1024}"
PIXMAP_SLACK_PERCENT=5

# shellcheck source=scripts/lib.sh
. "$SRC/scripts/lib.sh"
ensure_desktop "$@"
require xrestop xterm wmctrl
[ -x "$APP" ] || fail "$APP is not an executable (build it first, or set APP)"

OUT=$ARTIFACTS/soak.txt
APP_LOG=$ARTIFACTS/soak-app.log
: >"$OUT"
out() { printf '%s\n' "$*" | tee -a "$OUT"; }
soak_failed() { out "FAIL: soak: $*"; exit 1; }

# ---- the busy desktop ----------------------------------------------------------------------

# Titles of a few shapes: ASCII, Japanese, mixed, long, and with characters that need quoting.
TITLES=("端末 %s" "window-%s" "ファイル名を指定して実行 - %s" "日本語タイトル端末 (%s) / test"
    "メモ帳 - 無題 %s \"quoted\" & <tag>"
    "長いタイトル %s $(printf 'あいうえおABCDE%.0s' {1..12})")
# shellcheck disable=SC2059
title() { printf "${TITLES[RANDOM % ${#TITLES[@]}]}" "$RANDOM"; }
xterm_window() { xdotool search --onlyvisible --pid "$1" 2>/dev/null | head -n 1; }

# Once a second an xterm with a random title opens, a random one is retitled and, past eight,
# the oldest is closed, in turn through the window manager (as a user does) and by a kill; now and
# then a plain process comes and goes, so the process table changes without any window changing.
# Runs in the background until this script ends, or until TERM, when it ends what it started.
busy_desktop() {
    set +e
    local xt=() sl="" polite=1 opened=0 pid w
    trap 'end_pids 2 "${xt[@]}" ${sl:+"$sl"}; echo "busy desktop: $opened xterms opened"; exit 0' TERM
    while is_alive "$$"; do
        xterm -T "$(title)" -geometry "40x6+$((RANDOM % 700))+$((40 + RANDOM % 500))" \
            -e sleep 100000 </dev/null >/dev/null 2>&1 &
        xt+=("$!") opened=$((opened + 1))
        w=$(xterm_window "${xt[RANDOM % ${#xt[@]}]}")
        [ -z "$w" ] || xdotool set_window --name "$(title)" "$w"
        if [ ${#xt[@]} -gt 8 ]; then
            pid=${xt[0]} xt=("${xt[@]:1}")
            w=$(xterm_window "$pid")
            if [ "$polite" = 1 ] && [ -n "$w" ]; then
                wmctrl -i -c "$w"
                wait_gone "$pid" 5 || echo "xterm $pid ignored the close request; killing it"
            fi
            # Killing one that went is harmless: we have not reaped it yet, so its pid is still ours.
            kill -KILL "$pid" 2>/dev/null
            wait "$pid" 2>/dev/null
            polite=$((1 - polite))
        fi
        if [ $((RANDOM % 4)) = 0 ]; then
            end_pids 2 ${sl:+"$sl"}
            sleep 100000 &
            sl=$!
        fi
        # In the background, so that TERM is handled at once, not after the nap.
        sleep 1 &
        wait $!
    done
}

# ---- the measurements ----------------------------------------------------------------------

# "windows pixmaps pixmap_bytes other_bytes total_bytes" of the program's X clients (summed over
# its connections), or "? ? ? ? ?" when the server reports no client with its pid.
x_resources() {
    xrestop -b -m 1 2>/dev/null | awk -v pid="$APP_PID" '
        / - .*\( PID: *[^ ]+ *\):$/ { s = $0; gsub(/.*\( PID: *| *\):$/, "", s); mine = (s == pid); found += mine; next }
        mine && split($0, kv, ":") == 2 { k = kv[1]; gsub(/^[ \t]+|[ \t]+$/, "", k); gsub(/[^0-9]/, "", kv[2]); v[k] += kv[2] }
        END { if (!found) print "? ? ? ? ?"
              else print v["windows"] + 0, v["pixmaps"] + 0, v["pixmap bytes"] + 0, v["other bytes"] + 0, v["total bytes"] + 0 }'
}

# "rss fds windows pixmaps pixmap_bytes other_bytes total_bytes", each the lowest of three
# readings half a second apart: a leak shows in every reading, a tick caught in the middle of its
# work (a /proc file open, a picture being drawn) only in some.
measure() {
    local i
    for i in 1 2 3; do
        [ "$i" = 1 ] || sleep 0.5
        echo "$(awk '/^VmRSS:/ { print $2 }' "/proc/$APP_PID/status" 2>/dev/null || echo '?')" \
            "$(find "/proc/$APP_PID/fd" -mindepth 1 -maxdepth 1 2>/dev/null | wc -l)" "$(x_resources)"
    done | awk '{ for (i = 1; i <= 7; i++) if ($i != "?" && (!(i in lo) || $i + 0 < lo[i])) lo[i] = $i + 0 }
        END { for (i = 1; i <= 7; i++) printf "%s%s", (i in lo) ? lo[i] : "?", (i < 7) ? " " : "\n" }'
}

row() { printf '%6s %8s %5s %8s %8s %12s %11s %11s %6s\n' "$@"; }
elapsed() { printf '%d:%02d' $((SECONDS / 60)) $((SECONDS % 60)); }
HZ=$(getconf CLK_TCK)

# record MINUTE: one row of the table; CPU is the share of one core since the row before.
record() {
    local t=$EPOCHREALTIME ticks cpu=- vals
    ticks=$(cpu_ticks "$APP_PID") || return 1
    [ "$1" = 0 ] || cpu=$(awk -v n=$((ticks - LAST_TICKS)) -v hz="$HZ" -v a="$LAST_T" -v b="$t" \
        'BEGIN { printf "%.1f", 100 * n / hz / (b - a) }')
    LAST_T=$t LAST_TICKS=$ticks
    vals=$(measure)
    is_alive "$APP_PID" || return 1
    # shellcheck disable=SC2086
    out "$(row "$1" $vals "$cpu")"
}

# watch_until MINUTE: every 2 s until then, checks that the program and the busy desktop still
# run and that no error box came up; returns 1, with the reason in WHY.
WHY=""
watch_until() {
    local box st=0
    while [ "$SECONDS" -lt $(($1 * 60)) ]; do
        if ! is_alive "$APP_PID"; then
            wait "$APP_PID" 2>/dev/null || st=$?
            APP_PID=""
            WHY="the program exited with status $st at $(elapsed) (see $APP_LOG)"
            [ "$st" -le 128 ] || WHY="the program was ended by signal $((st - 128)) at $(elapsed) (see $APP_LOG)"
            return 1
        fi
        is_alive "$DRIVER_PID" || { WHY="the busy desktop stopped at $(elapsed) (see soak-driver.log)"; return 1; }
        box=$(error_boxes)
        if [ -n "$box" ]; then
            screenshot soak_error_box >/dev/null 2>&1 || true
            WHY="an error box came up at $(elapsed) (window $(head -n 1 <<<"$box" | cut -d' ' -f1,2); soak_error_box.png)"
            return 1
        fi
        sleep 2
    done
}

# ---- the run -------------------------------------------------------------------------------

"$APP" >"$APP_LOG" 2>&1 &
APP_PID=$!
APP_WIN=$(wait_window "$APP_PID" "$APP_TITLE" 20) || soak_failed "no window titled $APP_TITLE from $APP within 20 s (see $APP_LOG)"
[ -z "$(error_boxes)" ] || soak_failed "an error box came up at start-up"

# 表示 → 更新の頻度 opens two menus; 高 picks the item and closes them.
keys "$APP_WIN" alt+v u
wait_until 3 popup_at || soak_failed "alt+v u opened no menu"
xdotool key --clearmodifiers h
wait_until 3 eval '! popup_at' || soak_failed "h in 更新の頻度 did not pick an item (a menu is still open)"

busy_desktop >"$ARTIFACTS/soak-driver.log" 2>&1 &
DRIVER_PID=$!
at_exit "end_pids 8 $DRIVER_PID"

out "soak: $APP (pid $APP_PID), 100 ms refresh, $MINUTES minutes, warm-up $WARMUP minutes, $(date '+%F %T')"
out "$(row minute rss_kB fds windows pixmaps pixmap_bytes other_bytes total_bytes cpu_%)"
SECONDS=0 LAST=-1
for ((m = 0; m <= MINUTES; m++)); do
    watch_until "$m" || break
    record "$m" || continue  # gone while measured: the next watch says how
    LAST=$m
done
[ -n "$WHY" ] || is_alive "$APP_PID" || WHY="the program is gone at the end (see $APP_LOG)"

# ---- the verdict ---------------------------------------------------------------------------

# The row at the end of the warm-up sets the limits; an unknown reading ("?") fails.
grew=$(awk -v w="$WARMUP" -v rss="$RSS_SLACK_KB" -v pct="$PIXMAP_SLACK_PERCENT" '
    BEGIN { split("rss_kB fds windows pixmaps pixmap_bytes other_bytes total_bytes", name) }
    $1 !~ /^[0-9]+$/ || $1 < w { next }
    $1 == w { for (i = 2; i <= 8; i++) { base[i] = $i; lim[i] = $i }
              lim[2] += rss; lim[6] += int($6 * pct / 100); lim[8] += int($6 * pct / 100); next }
    { for (i = 2; i <= 8; i++) if (!(i in bad) && ($i == "?" || base[i] == "?" || $i + 0 > lim[i] + 0)) {
          bad[i] = 1
          printf "%s%s grew: %s after the warm-up, %s at minute %d (limit %s)", sep, name[i - 1], base[i], $i, $1, lim[i]
          sep = "; " } }' "$OUT")
[ -z "$grew" ] || WHY+=${WHY:+; }$grew
[ "$LAST" -gt "$WARMUP" ] || [ -n "$WHY" ] || WHY="the run ended before the warm-up was over"
[ -n "$WHY" ] || { out "PASS: soak: still running after $MINUTES minutes, no error box, nothing grew after minute $WARMUP"; exit 0; }
soak_failed "$WHY"
