#!/usr/bin/env bash
# On a Wayland session (headless sway with Xwayland, swaybar as the tray host, a native Wayland
# terminal and an X11 one) the program does what it does on X11, as far as sway allows: its
# window is an X11 window that floats at its designed size, centred; the list holds the native
# terminal and the X11 one (whose COMPOUND_TEXT title sway cannot read) with their real pids;
# a second copy on Qt's Wayland plugin lists the X11 terminal too (from the X display) and floats
# as well; End task on the native row ends it; a right click on the tray icon opens the menu at the icon
# and brings the window forward, and the menu's "終了" ends the program.
#
# Runs on scripts/with-wayland.sh. The list is read over AT-SPI, the pointer
# driven by tests/tools/wl_pointer: headless sway has none of its own.
# shellcheck disable=SC2016,SC2034,SC2119,SC2317
set -euo pipefail
. "$(dirname "$0")/lib.sh"
. "$(dirname "$0")/wayland.sh"
on_wayland_session
require foot swaymsg grim

# views: one line per window sway shows: con_id pid kind x y w h natural_w natural_h focus title
# (kind: floating or tiled, then /xwayland or /native; rect is the window's, on screen).
views() {
    swaymsg -t get_tree | "$PY" -c '
import json, sys
def walk(node, floating=False):
    if "pid" in node and "shell" in node:
        r, w, g = node["rect"], node["window_rect"], node["geometry"]
        kind = ("floating" if floating else "tiled") + ("/xwayland" if node["shell"] == "xwayland" else "/native")
        print(node["id"], node["pid"], kind, r["x"] + w["x"], r["y"] + w["y"], w["width"], w["height"],
              g["width"], g["height"], "focused" if node["focused"] else "-", node["name"])
    for child in node.get("nodes", []): walk(child, floating)
    for child in node.get("floating_nodes", []): walk(child, True)
walk(json.load(sys.stdin))'
}
view_of() { views | awk -v pid="$1" '$2 == pid { print; exit }'; }
_has_view() { [ -n "$(view_of "$1")" ]; }
workspace_rect() {
    swaymsg -t get_workspaces | "$PY" -c '
import json, sys
for w in json.load(sys.stdin):
    if w["focused"]: r = w["rect"]; print(r["x"], r["y"], r["width"], r["height"])'
}

# ---- a native terminal, an X11 one, the program ---------------------------------
foot -T "ネイティブ端末" sleep 600 >/dev/null 2>&1 &
FOOT=$!
xterm -T "日本語タイトル端末" -e sleep 600 >/dev/null 2>&1 &
XTERM=$!
at_exit "kill $FOOT $XTERM 2>/dev/null"
wait_until 20 _has_view "$FOOT" || fail "foot never showed a window"
wait_until 20 _has_view "$XTERM" || fail "xterm never showed a window"

# As a user starts it: nothing chosen, the session offers both Wayland and an X display.
"$APP" 2>"$TEST_TMP/stderr" &
APP_PID=$!
wait_until 20 _has_view "$APP_PID" || fail "the program showed no window on sway"
sleep 1
read -r _ _ kind x y w h nw nh _ title < <(view_of "$APP_PID")
screenshot_sway() { grim "$ARTIFACTS/$1.png" 2>/dev/null || true; }
screenshot_sway wayland_sway_start
check '[ "$title" = "$APP_TITLE" ]' "its window is titled $APP_TITLE ($title)"
check '[ "$kind" = floating/xwayland ]' "it is an X11 window (through Xwayland) and floats ($kind)"
check '[ ! -s "$TEST_TMP/stderr" ]' "it has nothing to say on standard error with an X display ($(head -c 200 "$TEST_TMP/stderr"))"
APP_WIN=$(main_window) || fail "no X11 window of the program"
read -r xw xh < <(win_geometry "$APP_WIN")
check '[ "$w" = "$nw" ] && [ "$h" = "$nh" ] && [ "$w" = "$xw" ] && [ "$h" = "$xh" ]' \
    "it keeps the size it asked for: ${w}x${h} on screen, ${nw}x${nh} asked, ${xw}x${xh} its own"
read -r wx wy ww wh < <(workspace_rect)
dx=$(((x + w / 2) - (wx + ww / 2))); dy=$(((y + h / 2) - (wy + wh / 2)))
check '[ "${dx#-}" -le 2 ] && [ "${dy#-}" -le 16 ]' "it is centred (off by $dx,$dy; the title bar counts in y)"

# ---- the list, as a screen reader reads it ---------------------------------------------
read_list "$FOOT" wayland_sway_list
say "list: $(rows | cut -f1,2 | tr '\t\n' '=,')"
check 'has_row "ネイティブ端末" "$FOOT"' "the native terminal is listed with its pid ($FOOT)"
check 'has_row "日本語タイトル端末" "$XTERM"' "the X11 terminal is listed with its pid and title ($XTERM)"
check 'has_row "$APP_TITLE" "$APP_PID"' "the program lists itself ($APP_PID)"
check '[ "$(rows | cut -f2 | sort | uniq -d)" = "" ]' "one row per process"

# ---- a copy on Qt's Wayland plugin, the X display still there ---------------------------
QT_QPA_PLATFORM=wayland "$APP" 2>/dev/null &
NATIVE=$!
at_exit "kill $NATIVE 2>/dev/null"
wait_until 20 _has_view "$NATIVE" || fail "the native copy showed no window"
APP_PID=$NATIVE read_list "$XTERM" wayland_sway_native_list
say "native copy's list: $(rows | cut -f1,2 | tr '\t\n' '=,')"
check 'has_row "日本語タイトル端末" "$XTERM"' "the native copy lists the X11 terminal, from the X display"
check 'has_row "ネイティブ端末" "$FOOT"' "and the native terminal"
read -r _ _ kind _ < <(view_of "$NATIVE")
check '[ "$kind" = floating/native ]' "its window floats too ($kind)"
kill "$NATIVE"
wait_gone "$NATIVE" 5 || fail "the native copy did not end"

# ---- End task on the native row ----------------------------------------------------------
end_task "$FOOT" wayland_sway_chosen
wait_gone "$FOOT" 3 || fail "End task left the native terminal ($FOOT) running"
check 'is_alive "$XTERM" && is_alive "$APP_PID"' "the X11 terminal and the program go on"

# ---- the tray icon in swaybar ---------------------------------------------------------
read -r wx wy ww wh < <(workspace_rect)
bar=$wy   # the bar sits on top, the workspace below it
cx=$((ww - bar / 2)); cy=$((bar / 2))
swaymsg "[pid=$XTERM] focus" >/dev/null
sleep 0.5
"$POINTER" "$ww" "$((wy + wh))" "$cx" "$cy" right || fail "could not click with a virtual pointer"
wait_until 3 popup_at "$cx" "$cy" || fail "no menu at the icon ($cx,$cy) after a right click"
screenshot_sway wayland_sway_tray_menu
read -r _ _ _ _ _ _ _ _ _ focus _ < <(view_of "$APP_PID")
check '[ "$focus" = focused ]' "the main window came forward"
"$POINTER" "$ww" "$((wy + wh))" $((cx - 20)) $((cy + 10)) left
wait_exit 5
pass
