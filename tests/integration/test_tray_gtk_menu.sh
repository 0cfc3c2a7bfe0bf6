#!/usr/bin/env bash
# The tray menu as GTK panels drive it: libdbusmenu-glib's client, which
# xfce4-panel, Waybar and others draw an item's menu with, opens the menu and
# chooses "終了" (sent with EventGroup, since the menu says Version 3), and the
# program ends. A stand-in watcher (dbusmenu_host.py) has the program show its
# icon as a StatusNotifierItem.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop
"$PY" -c 'import gi; gi.require_version("Dbusmenu", "0.4")' 2>/dev/null \
    || skip "no libdbusmenu-glib bindings for $PY (packages python3-gi, gir1.2-dbusmenu-glib-0.4)"

: >"$TEST_TMP/host.out"
"$PY" "$(dirname "$0")/dbusmenu_host.py" --label 終了 --timeout 20 >"$TEST_TMP/host.out" &
host=$!
at_exit "kill $host 2>/dev/null"
wait_until --while "$host" 10 grep -qx ready "$TEST_TMP/host.out" || fail "the stand-in watcher did not take its name"

start_app
kill -USR1 "$host"
rc=0; wait "$host" || rc=$?
check '[ $rc = 0 ]' "the menu's \"終了\", chosen through libdbusmenu-glib, took the item off the bus (host status $rc)"
wait_exit 5
pass
