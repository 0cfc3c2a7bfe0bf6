#!/usr/bin/env bash
# The strip charts move left in their colours, keep their history across a
# page switch and a menu, and start again from an empty grid after the
# always-on-top command and after minimise/restore.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

# Everything left of the newest columns: what only history can have drawn there.
CPU_HISTORY="3 44 290 48"
MEMORY_HISTORY="3 96 290 48"

start_app
win=$APP_WIN
keys "$win" alt+v u h          # 100 ms, so that history builds up quickly
sleep 4
shot=$(screenshot charts_running "$win")
check '[ "$(count_colour "$shot" "$CPU_HISTORY" 00FF00)" -gt 10 ]' "the processor trace is lime and has moved left"
check '[ "$(count_colour "$shot" "$MEMORY_HISTORY" FFFF00)" -gt 10 ]' "the memory trace is yellow and has moved left"

xdotool mousemove --window "$win" 40 32 click 1
sleep 0.3
xdotool mousemove --window "$win" 190 32 click 1
keys "$win" alt+f Escape Escape
shot=$(screenshot charts_after_page_switch "$win")
check '[ "$(count_colour "$shot" "$MEMORY_HISTORY" FFFF00)" -gt 10 ]' "the history survives a page switch and a menu"

# Always on top off and on: a fresh grid each time.
keys "$win" alt+o a
win=$(main_window) || fail "no main window after the re-show"
shot=$(screenshot charts_after_reshow "$win")
check '[ "$(count_colour "$shot" "$MEMORY_HISTORY" FFFF00)" -lt 4 ]' "the re-show starts the memory chart afresh"
check '[ "$(count_colour "$shot" "$MEMORY_HISTORY" 008000)" -gt 500 ]' "from its empty grid"

sleep 3
minimise "$win"
restore "$win"
shot=$(screenshot charts_after_restore "$win")
check '[ "$(count_colour "$shot" "$MEMORY_HISTORY" FFFF00)" -lt 4 ]' "a restore starts the chart afresh"
stop_app
pass
