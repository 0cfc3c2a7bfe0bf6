#!/usr/bin/env bash
# Every close command ends the program: the file menu's exit, the close button
# of each page, the window manager's close, and a stop request from the session.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

# File menu, "ソラトキの終了(&X)".
start_app
keys "$APP_WIN" alt+f x
wait_exit 5

# "閉じる(&C)" on the resource page.
start_app
keys "$APP_WIN" alt+c
wait_exit 5

# "閉じる(&C)" on the list page.
start_app
xdotool mousemove --window "$APP_WIN" 40 32 click 1
sleep 0.5
keys "$APP_WIN" alt+c
wait_exit 5

# The window manager's close.
start_app
wmctrl -i -c "$APP_WIN"
wait_exit 5
pass
