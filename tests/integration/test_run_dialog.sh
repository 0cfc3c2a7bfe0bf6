#!/usr/bin/env bash
# The run dialog on a real desktop: a typed program path starts that program,
# a text with arguments starts nothing, a document goes to the desktop's
# opener, and the tray menu's exit while the dialog is open ends the program.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

work=$TEST_TMP
# A program that says it ran, and a stand-in for the desktop's opener that
# records what it was asked to open.
cat >"$work/marker" <<SCRIPT
#!/bin/sh
ls -l /proc/\$\$/fd >"$work/fds.raw"
echo "ran with \$# arguments" >"$work/ran"
SCRIPT
chmod +x "$work/marker"
mkdir "$work/bin"
cat >"$work/bin/xdg-open" <<SCRIPT
#!/bin/sh
ls -l /proc/\$\$/fd >"$work/opener-fds.raw"
printf '%s\n' "\$@" >"$work/opened"
SCRIPT
chmod +x "$work/bin/xdg-open"
echo "a document" >"$work/notes.txt"
export PATH="$work/bin:$PATH"

dialog() { find_window "$APP_PID" 'アプリケーション新規実行'; }
_dialog_closed() { [ -z "$(dialog)" ]; }

# run_text TEXT: opens the dialog from the menu, types TEXT and presses Enter.
run_text() {
    keys "$APP_WIN" alt+f g
    local d
    d=$(wait_for 5 dialog) || fail "the run dialog did not open"
    xdotool windowactivate --sync "$d" >/dev/null 2>&1 || true
    # Into the combo box's text, replacing what the dialog kept from last time.
    xdotool mousemove --window "$d" 60 22 click 1
    xdotool key --clearmodifiers ctrl+a BackSpace
    xdotool type --delay 20 "$1"
    xdotool key --clearmodifiers Return
    wait_until 5 _dialog_closed || fail "the run dialog did not close after Enter"
}

cd "$work"
start_app
run_text "$work/marker"
wait_until 5 test -e "$work/ran" || fail "the typed program did not start"
check 'grep -qx "ran with 0 arguments" "$work/ran"' "it started with no arguments"
# None of the program's own descriptors beyond the standard three may reach the child. (The
# child's shell keeps copies of its standard output and its script open; those do not count.)
ls -l "/proc/$APP_PID/fd" >"$work/app.raw"
awk '$9 <= 2 { std[$11] = 1 } $9 > 2 && !($11 in std) { print $11 }' "$work/app.raw" | sort -u >"$work/ours"
awk '$9 > 2 { print $11 }' "$work/fds.raw" | sort -u >"$work/theirs"
check '[ -s "$work/ours" ] && [ -z "$(comm -12 "$work/ours" "$work/theirs")" ]' \
    "it inherited none of our descriptors ($(wc -l <"$work/ours") of ours; the child has: $(tr '\n' ' ' <"$work/theirs"))"
rm -f "$work/ran"

run_text "$work/marker --flag"
sleep 1
check '[ ! -e "$work/ran" ] && [ ! -e "$work/opened" ]' "a text with arguments starts nothing"

run_text "$work/notes.txt"
wait_until 5 test -e "$work/opened" || fail "the document was not handed to the opener"
check 'grep -q "notes.txt" "$work/opened"' "the opener got the document ($(cat "$work/opened"))"
awk '$9 > 2 { print $11 }' "$work/opener-fds.raw" | sort -u >"$work/theirs"
check '[ -z "$(comm -12 "$work/ours" "$work/theirs")" ]' \
    "the opener inherited none of our descriptors (it has: $(tr '\n' ' ' <"$work/theirs"))"

# Open the dialog and end the program from the tray while it is up.
keys "$APP_WIN" alt+f g
wait_for 5 dialog >/dev/null || fail "the run dialog did not open again"
icon=$(wait_for 10 tray_icon_window) || fail "no tray icon"
read -r ix iy < <(win_position "$icon")
xdotool mousemove $((ix + 5)) $((iy + 5)) click 3
wait_until 3 popup_at $((ix + 5)) $((iy + 5)) || fail "no tray menu"
xdotool mousemove $((ix - 5)) $((iy + 15)) click 1
wait_exit 5
pass
