#!/usr/bin/env bash
# On KDE's compositor (KWin headless, with Xwayland; no Plasma panel, so no tray) the program
# does what it does on X11: its window is an X11 window that KWin keeps on top and off the
# taskbar, at its own size, centred; the list holds a native Wayland program and an X11 one
# with their real pids, from KWin's window list (org_kde_plasma_window_management, which KWin
# grants the program as it does an installed mirebo by its desktop entry); an X11 window naming
# another process as its own is listed under its real owner, not under that process, however
# KWin numbers its caption; End task on the native row ends it. The native program is a second
# copy of this one, on Qt's Wayland plugin: it says once on standard error what it cannot do
# there.
# shellcheck disable=SC2016,SC2034,SC2119,SC2317
set -euo pipefail
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/wayland.sh"
on_wayland_session

xterm -T "日本語タイトル端末" -e sleep 600 >/dev/null 2>&1 &
XTERM=$!
QT_QPA_PLATFORM=wayland "$APP" 2>"$TEST_TMP/native.err" &
NATIVE=$!
at_exit "kill $XTERM $NATIVE 2>/dev/null"
wait_window "$XTERM" "日本語タイトル端末" 20 >/dev/null || fail "xterm never showed a window"

start_app 2>"$TEST_TMP/stderr"
sleep 1
# Rootless Xwayland has no root picture; the window has its own.
import -window "$APP_WIN" "$ARTIFACTS/wayland_kwin_start.png" 2>/dev/null || say "no screenshot of the window"
check '[ ! -s "$TEST_TMP/stderr" ]' "it has nothing to say on standard error with an X display ($(head -c 200 "$TEST_TMP/stderr"))"
check 'has_wm_state "$APP_WIN" _NET_WM_STATE_ABOVE' "KWin keeps its X11 window on top"
check 'has_wm_state "$APP_WIN" _NET_WM_STATE_SKIP_TASKBAR' "KWin keeps it off the taskbar"
read -r w h < <(win_geometry "$APP_WIN")
asked=$(xprop -id "$APP_WIN" WM_NORMAL_HINTS | sed -n 's/.*specified size: \([0-9]*\) by \([0-9]*\).*/\1 \2/p' | head -n 1)
check '[ "$w $h" = "$asked" ]' "it has the size it asked for (${w}x${h}, asked ${asked/ /x})"
read -r x y < <(win_position "$APP_WIN")
dx=$((x + w / 2 - 512)); dy=$((y + h / 2 - 384))
check '[ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 2 ]' "it is centred (off by $dx,$dy)"
notice=$(cat "$TEST_TMP/native.err")
check '[ "$(grep -c "^mirebo: " <<<"$notice")" = 1 ]' \
    "the native copy says once what it cannot do (${notice%%$'\n'*})"

read_list "$NATIVE" wayland_kwin_list
say "list: $(rows | cut -f1,2 | tr '\t\n' '=,')"
# KWin tells windows of one caption apart by a number: "ミレボ <2>" for whichever maps second.
listed_native() { rows | cut -f1,2 | grep -qE "^$APP_TITLE( <[0-9]+>)?"$'\t'"$NATIVE\$"; }
check listed_native "the native program is listed with its pid ($NATIVE)"
check 'has_row "日本語タイトル端末" "$XTERM"' "the X11 terminal is listed with its pid and title ($XTERM)"
check 'has_row "$APP_TITLE" "$APP_PID"' "the program lists itself ($APP_PID)"
check '[ "$(rows | cut -f2 | sort | uniq -d)" = "" ]' "one row per process"

# An X11 window of our title whose program names another process as itself (_NET_WM_PID), as a
# program in a container does: KWin lists it under that pid, and numbers its caption. It is
# listed under its real owner, and the process it named gets no row (End task would end it).
sleep 600 &
NAMED=$!
"$PWD/xtool" --claiming "$NAMED" "$APP_TITLE" >"$TEST_TMP/claiming" &
CLAIMING=$!
at_exit "kill $NAMED $CLAIMING 2>/dev/null"
wait_until 20 grep -q ready "$TEST_TMP/claiming" || fail "xtool never showed its window"
sleep 1.5   # a tick
read_list "$CLAIMING" wayland_kwin_claiming
say "list: $(rows | cut -f1,2 | tr '\t\n' '=,')"
check 'has_row "$APP_TITLE" "$CLAIMING"' "the window is listed under its real owner ($CLAIMING)"
check '! rows | cut -f2 | grep -qxF "$NAMED"' "the process it named ($NAMED) has no row"
kill "$CLAIMING"
wait_gone "$CLAIMING" 3 || fail "xtool did not end"
sleep 1.5   # a tick, so that the rows End task counts are the rows shown
read_list "$NATIVE" wayland_kwin_list

end_task "$NATIVE" wayland_kwin_chosen
wait_gone "$NATIVE" 3 || fail "End task left the native program ($NATIVE) running"
check 'is_alive "$XTERM" && is_alive "$APP_PID"' "the X11 terminal and the program go on"
say "no tray here: KDE's StatusNotifierItem host is Plasma's panel, which this session does not run"
stop_app
pass
