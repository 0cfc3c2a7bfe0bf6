#!/usr/bin/env bash
# When its X server goes away under it, the program ends by itself, promptly and without
# crashing (no signal, no core), and leaves nothing running.
#
#   test_x_server_gone.sh TERM|KILL     the server shuts down (TERM) or just vanishes (KILL)
#
# It ends the private desktop's X server (with-desktop.sh --no-wm --no-tray), so it has a
# desktop of its own.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
sig=${1:?usage: $0 TERM|KILL}
on_desktop
[ -n "$APP" ] || fail "APP is not set"
is_alive "${MIREBO_DESKTOP_SERVER_PID:-0}" || fail "the desktop does not say which process its X server is"

# Every process the program starts carries this tag, so that anything left behind can be found.
TAG="MIREBO_X_GONE_TAG=$TEST_TMP"
at_exit 'end_tagged 1 "$TAG"'

# A session bus address that leads nowhere, so that no bus is looked for or started.
DBUS_SESSION_BUS_ADDRESS="unix:path=$TEST_TMP/no-bus" env "$TAG" "$APP" </dev/null >"$TEST_TMP/app.log" 2>&1 &
APP_PID=$!
wait_window "$APP_PID" "$APP_TITLE" 20 >/dev/null || fail "no window titled $APP_TITLE within 20 s"
sleep 2
check 'is_alive "$APP_PID"' "the program runs on its own server (SIG$sig)"

since=$EPOCHREALTIME
kill "-$sig" "$MIREBO_DESKTOP_SERVER_PID"
wait_gone "$MIREBO_DESKTOP_SERVER_PID" 5 || fail "Xvfb did not end on SIG$sig"
wait_gone "$APP_PID" 5 || fail "the program still runs 5 s after its X server got SIG$sig"
status=0
wait "$APP_PID" 2>/dev/null || status=$?
APP_PID=""
say "the program ended $(awk -v a="$since" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }') s after the server's SIG$sig, status $status; it said: $(tr '\n' ' ' <"$TEST_TMP/app.log")"
check '[ "$status" -lt 128 ]' "it ended normally, not by a signal, after SIG$sig to the server (status $status)"
check '! grep -qiE "core dumped|abort|segmentation|sanitizer" "$TEST_TMP/app.log"' "without a crash report"
sleep 0.2
left=$(tagged "$TAG")
check '[ -z "$left" ]' "nothing is left running ${left:+(pids: $(echo "$left" | tr '\n' ' '))}"
pass
