#!/usr/bin/env bash
# The real program on a real desktop: its window, its place, its stacking, the
# taskbar rule, the start page and the commands that change them.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

start_app
win=$APP_WIN
read -r w h < <(win_geometry "$win")
check '[ "${w}x${h}" = "$MAIN_SIZE" ]' "the window has its designed size, $MAIN_SIZE (${w}x${h})"
read -r x y < <(win_position "$win")
check '[ $((x + w / 2)) -ge 510 ] && [ $((x + w / 2)) -le 514 ]' "the window is centred across the screen (x=$x)"
check 'has_wm_state "$win" _NET_WM_STATE_ABOVE' "it stays on top from the start"
check 'has_wm_state "$win" _NET_WM_STATE_SKIP_TASKBAR' "it has no taskbar button"

shot=$(screenshot main_resource_page "$win")
check '[ "$(count_colour "$shot" "$CPU_CHART" 008000)" -gt 500 ]' "the resource page shows the processor chart's grid"
check '[ "$(count_colour "$shot" "$MEMORY_CHART" 008000)" -gt 500 ]' "and the memory chart's"

# Always on top off: the window is shown anew where it was, as an ordinary window.
keys "$win" alt+o a
win=$(main_window) || fail "no main window after turning always-on-top off"
sleep 0.5
check '! has_wm_state "$win" _NET_WM_STATE_ABOVE' "always-on-top is off"
check 'has_wm_state "$win" _NET_WM_STATE_SKIP_TASKBAR' "still no taskbar button after the re-show"
read -r w2 h2 < <(win_geometry "$win")
read -r x2 y2 < <(win_position "$win")
check '[ "${w2}x${h2}" = "${w}x${h}" ] && [ "$x2,$y2" = "$x,$y" ]' "same place and size ($x,$y ${w}x${h} -> $x2,$y2 ${w2}x${h2})"
keys "$win" alt+o a
win=$(main_window) || fail "no main window after turning always-on-top on"
sleep 0.5
check 'has_wm_state "$win" _NET_WM_STATE_ABOVE' "always-on-top is on again"
read -r x3 y3 < <(win_position "$win")
check '[ "$x3,$y3" = "$x,$y" ]' "and the window has not moved ($x3,$y3)"

# The first minimise gives the program its taskbar button for the rest of the run.
minimise "$win"
check '! has_wm_state "$win" _NET_WM_STATE_SKIP_TASKBAR' "minimised, it has a taskbar button"
restore "$win"
check '! has_wm_state "$win" _NET_WM_STATE_HIDDEN' "it is restored"
check '! has_wm_state "$win" _NET_WM_STATE_SKIP_TASKBAR' "and keeps the button"

# The list page, for the record.
xdotool mousemove --window "$win" 40 32 click 1
sleep 1.5
screenshot main_list_page "$win" >/dev/null

# The title bar's close box ends the program.
wmctrl -i -c "$win"
wait_exit 5
pass
