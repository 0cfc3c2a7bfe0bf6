#!/usr/bin/env bash
# Writes the tray icons resources/icons/tray1.xpm .. tray5.xpm from tray0.xpm.
#
#   scripts/make-icons.sh
#
# The icons are drawn in their XPM files, which keep every pixel readable in a diff. Letters:
#   ' ' transparent  k black  w white  g light grey  d dark grey  l lime
#
# The tray icons show the CPU load on the monitor's screen: 7x5 pixels at columns 4-10, rows
# 3-7 (0-based, from the top left). Icon trayN has its bottom N screen rows lime and the others
# black; outside the screen all six are the same as tray0. The tests read pixels at those
# places, so tray0's screen is checked to be black, and its border not, before anything is
# written.
set -euo pipefail

ICONS=$(cd "$(dirname "$0")/.." && pwd)/resources/icons
X0=4 X1=10 Y0=3 Y1=7

. "$(dirname "$0")/lib.sh"

mapfile -t ROWS < <(sed -n 's/^"\([^"]\{16\}\)",\{0,1\}$/\1/p' "$ICONS/tray0.xpm")
[ ${#ROWS[@]} -eq 16 ] || die "tray0.xpm: not 16 rows of 16 pixels"
for ((y = Y0 - 1; y <= Y1 + 1; y++)); do
    for ((x = X0 - 1; x <= X1 + 1; x++)); do
        inside=0
        [ $y -ge $Y0 ] && [ $y -le $Y1 ] && [ $x -ge $X0 ] && [ $x -le $X1 ] && inside=1
        pixel=${ROWS[y]:x:1}
        if [ $inside = 1 ]; then
            [ "$pixel" = k ] || die "tray0.xpm: the screen pixel at $x,$y is not black"
        else
            [ "$pixel" != k ] || die "tray0.xpm: the screen's border at $x,$y is black"
        fi
    done
done

lit=$(printf 'l%.0s' $(seq $X0 $X1))
for ((level = 1; level <= Y1 - Y0 + 1; level++)); do
    awk -v level="$level" -v x0="$X0" -v y0="$Y0" -v y1="$Y1" -v lit="$lit" '
        NR == 2 { sub(/the bottom 0 rows/, "the bottom " level " rows") }
        NR == 3 { sub(/tray0_xpm/, "tray" level "_xpm") }
        /^"/ && (length($0) == 18 || length($0) == 19) {
            if (row >= y0 && row <= y1 && row > y1 - level)
                $0 = substr($0, 1, x0 + 1) lit substr($0, x0 + 2 + length(lit))
            row++
        }
        { print }' "$ICONS/tray0.xpm" >"$ICONS/tray$level.xpm"
done
echo "make-icons: wrote $ICONS/tray1.xpm .. tray$((Y1 - Y0 + 1)).xpm"
