#!/usr/bin/env bash
# Scaled by Qt (QT_SCALE_FACTOR=2), the main window still opens with its whole frame centred in
# the work area: the window manager's frame is measured in the screen's pixels, the window's
# layout in Qt's scaled ones.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop

export QT_SCALE_FACTOR=2
start_app
sleep 0.5
read -r x y w h _ < <(win_box "$APP_WIN")
extents=$(xprop -id "$APP_WIN" _NET_FRAME_EXTENTS | sed -n 's/^_NET_FRAME_EXTENTS(CARDINAL) = //p' | tr -d ,)
[ -n "$extents" ] || skip "the window manager tells no frame extents"
read -r fl fr ft fb <<<"$extents"
read -r ax ay aw ah < <(xprop -root _NET_WORKAREA | sed -n 's/^_NET_WORKAREA(CARDINAL) = //p' | tr -d , | cut -d' ' -f1-4)
check '[ "$w" -ge 600 ]' "the window is drawn at twice its size (${w}x${h})"
left=$((x - fl - ax)) right=$((ax + aw - (x + w + fr)))
top=$((y - ft - ay)) bottom=$((ay + ah - (y + h + fb)))
say "frame $fl,$fr,$ft,$fb; gaps left $left, right $right, top $top, bottom $bottom"
check '[ $((left - right)) -ge -2 ] && [ $((left - right)) -le 2 ]' "the frame is centred across ($left/$right)"
check '[ $((top - bottom)) -ge -2 ] && [ $((top - bottom)) -le 2 ]' "and from top to bottom ($top/$bottom)"
stop_app
pass
