#!/usr/bin/env bash
# The tray under xfce4-panel 4.18, a StatusNotifierItem host that draws an
# item's menu itself with libdbusmenu, as Waybar and other GTK panels do: the
# icon shows in the panel, a right click on it opens the program's menu at the
# icon, and choosing "終了" there ends the program.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
on_desktop
[ "${MIREBO_TRAY:-}" = xfce4-panel ] || skip "no xfce4-panel on this desktop (scripts/with-desktop.sh --tray xfce4-panel)"

# icon_box: "X Y W H" of the computer picture in the panel along the top, told by its dark grey;
# nothing while there is none.
icon_box() {
    screenshot xfce4_panel >/dev/null
    convert "$ARTIFACTS/xfce4_panel.png" -crop 1024x40+0+0 +repage -fill black +opaque "#848484" \
        -fill white -opaque "#848484" -trim -format '%[fx:page.x] %[fx:page.y] %w %h' info: 2>/dev/null \
        | grep -v '^-1 ' || true
}
# menus: "WIN X Y W H" of each pop-up menu open on the screen (mapped, bypassing the window
# manager); the panel's own, not the program's.
menus() {
    local w
    for w in $(xwininfo -root -children | sed -n 's/^ *\(0x[0-9a-f]*\) .*/\1/p'); do
        xwininfo -id "$w" 2>/dev/null | awk -v w="$w" '/Absolute upper-left X:/ { x = $4 }
            /Absolute upper-left Y:/ { y = $4 } /^ *Width:/ { ww = $2 } /^ *Height:/ { h = $2 }
            /Map State:/ { m = $3 } /Override Redirect State:/ { o = $4 }
            END { if (m == "IsViewable" && o == "yes" && ww > 32 && h > 16) print w, x, y, ww, h }'
    done
}

start_app
box=$(wait_for 10 icon_box) || fail "the icon never showed in the panel"
read -r ix iy iw ih <<<"$box"
say "icon at $ix,$iy (${iw}x${ih})"
check '[ -z "$(menus)" ]' "no menu is open before the click"

cx=$((ix + iw / 2)); cy=$((iy + ih / 2))
xdotool mousemove "$cx" "$cy" click 3
menu=$(wait_for 5 menus) || fail "no menu opened after a right click on the icon at $cx,$cy"
read -r _ mx my mw mh <<<"$(head -n 1 <<<"$menu")"
screenshot tray_xfce4_panel_menu >/dev/null
check '[ "$mx" -le "$cx" ] && [ "$cx" -le $((mx + mw)) ] && [ "$my" -ge $((iy + ih)) ] && [ "$my" -le $((iy + ih + 16)) ]' \
    "the menu opened at the icon (${mw}x${mh} at $mx,$my, under the icon at $ix,$iy)"

# Its one item: "終了".
xdotool mousemove $((mx + mw / 2)) $((my + mh / 2)) click 1
wait_exit 5
check '[ -z "$(icon_box)" ]' "the icon has left the panel"
pass
