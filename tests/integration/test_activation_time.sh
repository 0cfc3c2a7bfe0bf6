#!/usr/bin/env bash
# Every request the program makes to bring its window forward carries the time of the user's
# action, as window managers expect to judge focus stealing: never 0, and never later than the
# server's clock when the request arrives. Requests come at start, around End task and on a
# right click of the tray icon.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

log="$TEST_TMP/activation"
xtool --watch-activation >"$log" &
watcher=$!
at_exit "kill $watcher 2>/dev/null; wait $watcher 2>/dev/null"
wait_until 5 grep -qx ready "$log" || fail "the activation watcher did not start"
xtool --count 1 >"$TEST_TMP/victim" &
victim=$!
at_exit "kill $victim 2>/dev/null; wait $victim 2>/dev/null"
wait_until 10 grep -qx ready "$TEST_TMP/victim" || fail "no window to end"

start_app
# End task on the third row (ours, the tray's panel, then the victim's window).
xdotool mousemove --window "$APP_WIN" 40 32 click 1
sleep 1.5
xdotool mousemove --window "$APP_WIN" 200 101 click 1
sleep 0.3
xdotool mousemove --window "$APP_WIN" 180 248 click 1
wait_gone "$victim" 3 || fail "End task did not end the victim's process"

icon=$(wait_for 10 tray_icon_window) || fail "the icon never docked in the tray"
xdotool mousemove --window "$icon" 5 5 click 3
wait_until 5 popup_at || fail "no menu at the icon"
xdotool key Escape
sleep 0.5

say "$(cat "$log")"
requests=$(grep -c '^0x' "$log" || true)
check '[ "$requests" -ge 2 ]' "the program asked to be brought forward ($requests requests)"
check 'grep -q "source=2" "$log"' "among them the tray's request, made as a pager would"
while read -r window source time now; do
    t=${time#time=} n=${now#now=}
    age=$(( (n - t) & 0xffffffff ))
    check '[ "$t" != 0 ]' "$window ($source) carries a timestamp"
    check '[ "$age" -lt 10000 ]' "$window ($source) carries the time of the action, not a later or stale one (${age} ms before it arrived)"
done < <(grep '^0x' "$log")
stop_app
pass
