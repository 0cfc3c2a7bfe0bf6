#!/usr/bin/env bash
# The program's own row is listed first (it stays on top) and selected from
# the start; ending it ends the program at once.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

start_app
xdotool mousemove --window "$APP_WIN" 40 32 click 1
sleep 1.5
screenshot end_own_row "$APP_WIN" >/dev/null
# "終了" under the list, at the right of the page's bottom edge.
xdotool mousemove --window "$APP_WIN" 180 248 click 1
wait_gone "$APP_PID" 3 || fail "the program survived ending its own row"
status=0
wait "$APP_PID" 2>/dev/null || status=$?
APP_PID=""
check '[ "$status" = 137 ]' "it was killed, not closed (status $status)"
pass
