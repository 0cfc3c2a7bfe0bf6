#!/usr/bin/env bash
# Other programs' windows cannot hurt the program: with the list rebuilt every 100 ms it
# stays up, keeps answering and shows no error box while the desktop holds a thousand
# windows, titles of 100 KB, ill-formed and control-character titles, and windows that come
# and go (and change their titles) faster than the list can be read. Afterwards it still
# closes normally.
#
# The windows come from tests/tools/xtool.
# Helpers called through check and wait_until look unreachable to the linter.
# shellcheck disable=SC2016,SC2034,SC2317,SC2119
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

# hostile MODE...: starts xtool and waits until its windows are up; sets HW_PID.
HW_PID=""
hostile() {
    local out="$TEST_TMP/hostile$1.out"
    "$MIREBO_XTOOL" "$@" >"$out" 2>&1 &
    HW_PID=$!
    at_exit "kill $HW_PID 2>/dev/null"
    wait_until 40 grep -qx ready "$out" || fail "xtool $* did not get ready: $(cat "$out")"
}
# end_hostile: ends it; its windows go with its connection.
end_hostile() { end_pids 2 "$HW_PID"; HW_PID=""; }

phase() { say "at ${SECONDS} s: $*"; }

client_count() { xprop -root _NET_CLIENT_LIST 2>/dev/null | grep -o '0x[0-9a-f]*' | wc -l; }
_clients_at_most() { [ "$(client_count)" -le "$1" ]; }

main_window_now() { sized_main_window || fail "the program has no main window"; }

_above_is() {
    local w
    w=$(sized_main_window 0) || return 1
    if has_wm_state "$w" _NET_WM_STATE_ABOVE; then [ "$1" = on ]; else [ "$1" = off ]; fi
}

# answers: the program takes a command from the keyboard: always-on-top off, then on again,
# each seen in _NET_WM_STATE within 5 s.
answers() {
    keys "$(main_window_now)" alt+o a
    wait_until 5 _above_is off || return 1
    keys "$(main_window_now)" alt+o a
    wait_until 5 _above_is on
}

# fine WHAT: the program runs, answers, and shows no error box.
fine() {
    check 'is_alive "$APP_PID"' "the program runs with $1"
    check 'answers' "it answers its keys with $1"
    boxes=$(error_boxes)
    check '[ -z "$boxes" ]' "no error box with $1 ${boxes:+($boxes)}"
}

# changed SHOT1 SHOT2 "X Y W H": prints how many pixels of the region differ between them.
changed() {
    local x y w h
    read -r x y w h <<<"$3"
    convert "$1" -crop "${w}x${h}+${x}+${y}" +repage "$TEST_TMP/region1.png"
    convert "$2" -crop "${w}x${h}+${x}+${y}" +repage "$TEST_TMP/region2.png"
    compare -metric AE "$TEST_TMP/region1.png" "$TEST_TMP/region2.png" null: 2>&1 >/dev/null | cut -d' ' -f1 || true
}

# click_tab X: a click on a tab of the main window, at X in the row of tabs.
click_tab() {
    xdotool mousemove --window "$(main_window_now)" "$1" 32 click 1
    sleep 0.5
}

start_app 2>"$TEST_TMP/app.err"
keys "$APP_WIN" alt+v u h       # the list is rebuilt every 100 ms
click_tab 40                     # the list page, so that every rebuild is drawn too
base=$(client_count)

# A thousand windows of one process (a single row in the list, but a thousand windows to read).
phase "1000 windows"
hostile --count 1000
sleep 2
screenshot hostile_1000_windows "$(main_window_now)" >/dev/null
fine "1000 windows"
end_hostile
wait_until 20 _clients_at_most "$base" || fail "the 1000 windows did not go away ($(client_count) left)"

phase "100 KB titles"
hostile --huge
sleep 2
screenshot hostile_huge_titles "$(main_window_now)" >/dev/null
fine "100 KB titles"
end_hostile

phase "ill-formed titles"
hostile --invalid
sleep 2
screenshot hostile_invalid_titles "$(main_window_now)" >/dev/null
# and the rest of the list: a click on the first row (its id: the names are a fixed column), then
# to its last row.
xdotool mousemove --window "$(main_window_now)" 200 74 click 1 key ctrl+End
sleep 0.5
screenshot hostile_invalid_titles_end "$(main_window_now)" >/dev/null
fine "ill-formed titles"
end_hostile

# Windows dying while being read, for 10 s; the program is asked to act in the middle of it.
phase "churn"
hostile --churn
sleep 4
fine "windows coming and going"
sleep 4
check 'is_alive "$APP_PID"' "the program runs after 10 s of churn"
end_hostile

# Back on the charts: they have kept ticking, and still move.
phase "charts"
click_tab 190
sleep 1.5
shot=$(screenshot hostile_charts_after "$(main_window_now)")
check '[ "$(count_colour "$shot" "$CPU_CHART" 00FF00)" -gt 10 ]' "the processor chart still draws its trace"
sleep 1
later=$(screenshot hostile_charts_later "$(main_window_now)")
moved=$(changed "$shot" "$later" "$CPU_CHART")
check '[ "${moved:-0}" -gt 50 ]' "and it moves ($moved pixels changed in 1 s)"

# Reading windows that vanish or hold odd properties gives X errors; they are the program's
# to collect, not to leave to the toolkit, which would report them here.
if [ -s "$TEST_TMP/app.err" ]; then
    say "the program's messages:"
    sed 's/^/    /' "$TEST_TMP/app.err" | head -n 20 >&2
fi
check '! grep -q "XCB error" "$TEST_TMP/app.err"' "no X error of the program's reached the toolkit"

phase "closing"
keys "$(main_window_now)" alt+f x
wait_exit 5
pass
