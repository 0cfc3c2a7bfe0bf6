#!/usr/bin/env bash
# Without a window manager the program still shows its window, builds its list from the
# root's children as windows open and close (100 ms ticks), and closes normally from its menu.
# shellcheck disable=SC2016,SC2034,SC2119
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop
require xterm

check '[ -z "$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep "window id")" ]' "no window manager runs"

# list_rows SHOT: how many rows the list shows, from the height the fixed (name) column's
# colour takes below its heading; each row is 13 pixels high.
LIST_COLUMN="8 72 1 155"
list_rows() {
    local colour
    colour=$(pixel "$1" 8 74)
    echo $(( $(count_colour "$1" "$LIST_COLUMN" "$colour") / 13 ))
}

start_app
win=$(sized_main_window) || fail "the program shows no $MAIN_SIZE window"
check '[ "$(xwininfo -id "$win" | grep -c "Map State: IsViewable")" = 1 ]' "its window is shown"
read -r x y < <(win_position "$win")
check '[ "$x" -ge 0 ] && [ "$y" -ge 0 ] && [ $((x + ${MAIN_SIZE%x*})) -le 1024 ] && [ $((y + ${MAIN_SIZE#*x})) -le 768 ]' "on the screen ($x,$y)"
keys "$win" alt+v u h      # the list is rebuilt every 100 ms
xdotool mousemove --window "$win" 40 32 click 1
sleep 1
shot=$(screenshot without_wm_list_before "$win")
before=$(list_rows "$shot")
check '[ "$before" -ge 1 ]' "the list shows the program itself ($before rows)"

# Terminals opening and closing, out of the program's way (nothing places windows here).
terms=()
for i in 1 2 3; do
    xterm -geometry 40x5+$((560 + 20 * i))+$((520 + 30 * i)) -T "端末 $i" -e sleep 60 2>/dev/null &
    terms+=($!)
    at_exit "kill ${terms[-1]} 2>/dev/null"
    sleep 0.3
done
sleep 1.5
shot=$(screenshot without_wm_list_terminals "$win")
with=$(list_rows "$shot")
check '[ "$with" -eq $((before + 3)) ]' "three terminals get three rows ($before -> $with)"
kill "${terms[1]}"
sleep 1
check 'is_alive "$APP_PID"' "the program runs on as a window closes"
check '[ "$(list_rows "$(screenshot without_wm_list_closed "$win")")" -eq $((before + 2)) ]' "and its row goes"
for i in 4 5; do
    xterm -geometry 40x5+$((560 + 20 * i))+$((520 + 30 * i)) -T "端末 $i" -e sleep 60 2>/dev/null &
    terms+=($!)
    at_exit "kill ${terms[-1]} 2>/dev/null"
done
sleep 0.5
kill "${terms[@]}" 2>/dev/null || true
sleep 1.5
check 'is_alive "$APP_PID"' "the program runs on after terminals came and went"
check '[ "$(list_rows "$(screenshot without_wm_list_after "$win")")" -eq "$before" ]' "the list is back to $before rows"

keys "$win" alt+f x
wait_exit 5
pass
