#!/usr/bin/env bash
# Without any tray host the program runs on unchanged, without an icon, and
# still closes normally; a tray host started later gets the icon.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop
require trayer

start_app
sleep 2.5
shot=$(screenshot without_tray "$APP_WIN")
check '[ "$(count_colour "$shot" "$CPU_CHART" 00FF00)" -gt 0 ]' "the charts tick without a tray"
check '[ -z "$(tray_icon_window)" ]' "there is no icon"

trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
host=$!
at_exit "kill $host 2>/dev/null"
wait_for 10 tray_icon_window >/dev/null || fail "the icon did not dock in a tray host that started late"
check 'is_alive "$APP_PID"' "the program still runs"
kill "$host"
wait_gone "$host" 5 || true
trayer --edge top --align right --widthtype request --height 24 >/dev/null 2>&1 &
host=$!
at_exit "kill $host 2>/dev/null"
wait_for 10 tray_icon_window >/dev/null || fail "the icon did not dock again after the tray host restarted"

wmctrl -i -c "$APP_WIN"
wait_exit 5
pass
