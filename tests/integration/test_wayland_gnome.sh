#!/usr/bin/env bash
# On GNOME (GNOME Shell 43 headless, with Xwayland, its AppIndicator extension as the tray host
# and our extension as the package installs it) the list holds a native Wayland terminal and an
# X11 one with their real pids, in GNOME's stacking order under the program's own row, which
# stays on top; activating either brings its row up; End task on the native row ends it; the
# tray icon's right-click menu opens at the icon and its "終了" ends the program. A copy of the
# program that is not the installed one is refused the list, and without the extension the
# program says once how to enable it; either way it lists the X11 windows as before, and so does
# a copy on Qt's Wayland plugin, through an X connection of its own.
#
# Runs on scripts/with-wayland.sh --gnome --install BUILD. GNOME Shell is driven as a user
# drives it (tests/integration/gnome_shell.py: its remote-desktop pointer and keyboard, its
# accessibility tree for where things are); the list is read over AT-SPI.
# shellcheck disable=SC2016,SC2034,SC2119,SC2317
set -euo pipefail
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/wayland.sh"
on_wayland_session
require foot
[ -n "${MIREBO_PREFIX:-}" ] || skip "no installed program: run it with ctest (with-wayland.sh --install)"
COPY=$APP
APP=$MIREBO_PREFIX/bin/mirebo
gnome() { AT_SPI_BUS_ADDRESS="$A11Y" "$PY" "$PWD/gnome_shell.py" "$@"; }
js_errors() { grep -c 'JS ERROR' "$MIREBO_COMPOSITOR_LOG" || true; }

# GNOME Shell starts in its overview: a user's first Escape puts it away.
gnome input key Escape >/dev/null || fail "no remote-desktop input on GNOME Shell"

xterm -T "日本語タイトル端末" -e sleep 600 >/dev/null 2>&1 &
XTERM=$!
at_exit "kill $XTERM 2>/dev/null"
XTERM_WIN=$(wait_window "$XTERM" "日本語タイトル端末" 20) || fail "xterm never showed a window"
foot -T "ネイティブ端末" sleep 600 >/dev/null 2>&1 &
FOOT=$!
at_exit "kill $FOOT 2>/dev/null"

start_app 2>"$TEST_TMP/stderr"
sleep 1
check '[ ! -s "$TEST_TMP/stderr" ]' "the installed program has nothing to say on standard error ($(head -c 300 "$TEST_TMP/stderr"))"
check 'has_wm_state "$APP_WIN" _NET_WM_STATE_ABOVE' "GNOME keeps its window on top"
check 'has_wm_state "$APP_WIN" _NET_WM_STATE_SKIP_TASKBAR' "GNOME keeps it off the taskbar"

# ---- the list: both kinds of window with their real pids, in GNOME's order --------------------
read_list "$FOOT" wayland_gnome_list
say "list: $(rows | cut -f1,2 | tr '\t\n' '=,')"
check 'has_row "ネイティブ端末" "$FOOT"' "the native terminal is listed with its pid ($FOOT)"
check 'has_row "日本語タイトル端末" "$XTERM"' "the X11 terminal is listed with its pid and title ($XTERM)"
check 'has_row "$APP_TITLE" "$APP_PID"' "the program lists itself ($APP_PID)"
check '[ "$(rows | cut -f2 | sort | uniq -d)" = "" ]' "one row per process"

# order A B C: the rows of those pids come in that order (others may come between).
order() { rows | cut -f2 | grep -xF -e "$1" -e "$2" -e "$3" | tr '\n' ' '; }
_order_is() { read_list "$1" wayland_gnome_order >/dev/null 2>&1; [ "$(order "$@")" = "$1 $2 $3 " ]; }
xdotool windowactivate "$XTERM_WIN" 2>/dev/null || true
wait_until 10 _order_is "$APP_PID" "$XTERM" "$FOOT" ||
    fail "after activating the X11 terminal the rows are not the program's, then its, then the native one's ($(order "$APP_PID" "$XTERM" "$FOOT"))"
gnome input key Alt_L+Tab >/dev/null   # back to the native terminal, the one used before
wait_until 10 _order_is "$APP_PID" "$FOOT" "$XTERM" ||
    fail "after switching to the native terminal its row does not lead the X11 one's ($(order "$APP_PID" "$FOOT" "$XTERM"))"
say "GNOME's stacking order, the program's window above: $(rows | cut -f1,2 | tr '\t\n' '=,')"

# ---- End task on the native row ------------------------------------------------------------
end_task "$FOOT" wayland_gnome_chosen
wait_gone "$FOOT" 3 || fail "End task left the native terminal ($FOOT) running"
check 'is_alive "$XTERM" && is_alive "$APP_PID"' "the X11 terminal and the program go on"

# ---- the tray icon in GNOME's top bar (the AppIndicator extension) ---------------------------------
icon=$(gnome find menu 'CPU 使用率 -?[0-9]+%' --timeout 10) ||
    fail "no tray icon in GNOME's top bar named after its tip (IconAccessibleDesc)"
say "tray icon: $icon"
gnome input press menu 'CPU 使用率 .*' right >"$TEST_TMP/icon" || fail "could not right-click the tray icon"
item=$(gnome find label '終了' --timeout 5) || fail "no menu with 終了 after a right click on the icon"
read -r ix _ iw _ _ <"$TEST_TMP/icon"
read -r mx my mw _ _ <<<"$item"
check '[ "$mx" -le "$((ix + iw))" ] && [ "$((mx + mw))" -ge "$ix" ] && [ "$my" -lt 100 ]' \
    "the menu opens at the icon (icon at x $ix, width $iw; 終了 at $mx,$my)"
check '[ "$(js_errors)" = 0 ]' "GNOME Shell logged no script error while the program ran ($(grep -m1 -A1 'JS ERROR' "$MIREBO_COMPOSITOR_LOG" | tr '\n' ' '))"
gnome input press label '終了' left >/dev/null || fail "could not click 終了"
wait_exit 5

# ---- a copy on Qt's Wayland plugin, the X display still there ----------------------------------
QT_QPA_PLATFORM=wayland "$APP" 2>/dev/null &
NATIVE=$!
at_exit "kill $NATIVE 2>/dev/null"
APP_PID=$NATIVE read_list "$NATIVE" wayland_gnome_native_list
check 'has_row "日本語タイトル端末" "$XTERM"' "a copy on Qt's Wayland plugin lists the X11 terminal, from the X display"
check 'has_row "$APP_TITLE" "$NATIVE"' "and its own native window, from GNOME"
kill "$NATIVE"
wait_gone "$NATIVE" 5 || fail "the native copy did not end"

# ---- a program that is not the installed one, and GNOME without the extension ------------------------
notice() { timeout 4 "$1" 2>&1 >/dev/null | grep '^mirebo: ' || true; }
said=$(notice "$COPY")
check '[ "$(grep -c . <<<"$said")" = 1 ] && grep -q "only the installed program" <<<"$said"' \
    "a copy elsewhere is refused the list and says so once ($said)"
gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com']"
sleep 1
said=$(notice "$APP")
check '[ "$(grep -c . <<<"$said")" = 1 ] && grep -q "gnome-extensions enable mirebo-windows@mirebo.github.io" <<<"$said"' \
    "without the extension it says once how to enable it ($said)"
pass
