#!/usr/bin/env bash
# The desktop the other integration tests stand on: a window manager and a
# tray host run, a window with a Japanese title can be found, and
# screenshots and pixel reads work.
# Conditions for `check` are evaluated later, in single quotes on purpose.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop
require xterm identify

check '[ "$QT_QPA_PLATFORM" = xcb ]' "Qt programs use X"
check '[ -n "${DBUS_SESSION_BUS_ADDRESS:-}" ]' "a private session bus is up"
check '[ -d "$XDG_RUNTIME_DIR" ] && [ "$(stat -c %a "$XDG_RUNTIME_DIR")" = 700 ]' "XDG_RUNTIME_DIR is private"
check 'xprop -root _NET_SUPPORTING_WM_CHECK | grep -q "window id"' "a window manager runs"

owner=$(xtool --selection-owner _NET_SYSTEM_TRAY_S0)
check '[ "$owner" != 0x0 ]' "the system tray selection has an owner ($owner)"
owner_pid=$(window_pid "$owner")
check '[ -n "$owner_pid" ] && [ "$(ps -o comm= -p "$owner_pid")" = trayer ]' "trayer owns the system tray"

title='日本語タイトル端末'
xterm -T "$title" -e sleep 600 &
term=$!
at_exit "kill $term 2>/dev/null"
win=$(wait_window "$term" "$title" 10) || fail "no xterm window titled $title"
read -r w h < <(win_geometry "$win")
check '[ "$w" -gt 100 ] && [ "$h" -gt 100 ]' "the xterm window has a size (${w}x${h})"

shot=$(screenshot desktop_harness)
check '[ -s "$shot" ]' "a screenshot of the screen is saved"
# Nothing covers the bottom left corner: the server's black root shows there.
check '[ "$(pixel "$shot" 2 765)" = 000000 ]' "the bare root is black"
read -r x y < <(win_position "$win")
# xterm's default background is white.
check '[ "$(pixel "$shot" $((x + w / 2)) $((y + h - 3)))" = FFFFFF ]' "the xterm shows in the screenshot"

winshot=$(screenshot desktop_harness_xterm "$win")
check '[ "$(identify -format %wx%h "$winshot")" = "${w}x${h}" ]' "a window screenshot has the window's size"

kill "$term"
wait_gone "$term" 5 || fail "xterm did not end"
check '[ -z "$(find_window "" "$title")" ]' "the window is gone with its process"
pass
