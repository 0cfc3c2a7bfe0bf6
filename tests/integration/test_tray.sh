#!/usr/bin/env bash
# The tray icon docks in a real tray host, shows its tip on hover, opens its
# menu at the cursor on a right click (also with the main window behind
# another), and its "終了" ends the program and takes the icon away.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop
require xterm

start_app
icon=$(wait_for 10 tray_icon_window) || fail "the icon never docked in the tray"
read -r ix iy < <(win_position "$icon")
read -r iw ih < <(win_geometry "$icon")
check '[ "$iw" -ge 16 ]' "the icon is docked (${iw}x${ih} at $ix,$iy)"

# Left clicks and hovering change nothing; the tip shows (kept as a screenshot).
xdotool mousemove $((ix + iw / 2)) $((iy + ih / 2))
sleep 2.5
screenshot tray_tip >/dev/null
xdotool click 1
sleep 0.5
check '! popup_at $((ix + iw / 2)) $((iy + ih / 2))' "a left click opens no menu"

# Put an ordinary window over the main window, then right-click the icon.
xterm -geometry 80x30+300+200 -T cover -e sleep 600 &
cover=$!
at_exit "kill $cover 2>/dev/null"
wait_window "$cover" cover 10 >/dev/null || fail "no covering xterm"
keys "$(find_window "$cover" cover)"
# Always on top keeps the main window above the xterm; turn it off to test raising.
keys "$APP_WIN" alt+o a
APP_WIN=$(main_window)
keys "$(find_window "$cover" cover)"
cx=$((ix + iw / 2)); cy=$((iy + ih / 2))
xdotool mousemove "$cx" "$cy" click 3
wait_until 3 popup_at "$cx" "$cy" || fail "no menu at the cursor ($cx,$cy) after a right click"
top=$(xprop -root _NET_ACTIVE_WINDOW | grep -o '0x[0-9a-f]*')
check '[ "$((top))" = "$((APP_WIN))" ]' "the main window came to the front"
screenshot tray_menu >/dev/null

# The menu's one item ends the program, and the icon goes with it.
xdotool mousemove $((cx - 10)) $((cy + 10)) click 1
wait_exit 5
check '[ -z "$(tray_icon_window)" ]' "the icon has left the tray"
pass
