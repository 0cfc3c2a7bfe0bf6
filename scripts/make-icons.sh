#!/usr/bin/env bash
# Writes the icons in resources/icons/ from the pixel art below.
#
#   scripts/make-icons.sh
#
# XPM keeps every pixel readable in a diff. Letters in the art:
#   ' ' transparent  k black  w white  g light grey  d dark grey  l lime
# and, in the tray art only, S for a pixel of the load screen.
#
# The tray icons show the CPU load on the monitor's screen: 7x5 pixels at
# columns 4-10, rows 3-7 (0-based, from the top left). Icon trayN has its
# bottom N screen rows lime and the others black; outside the screen all six
# are the same. The tests read pixels at those places, so the rectangle is
# checked here before anything is written.
set -euo pipefail

OUT=$(cd "$(dirname "$0")/.." && pwd)/resources/icons

SCREEN_X0=4 SCREEN_X1=10 SCREEN_Y0=3 SCREEN_Y1=7
SCREEN_ROWS=$((SCREEN_Y1 - SCREEN_Y0 + 1))

declare -A COLOUR=(
    [' ']=None [k]='#000000' [w]='#FFFFFF' [g]='#C6C6C6' [d]='#848484' [l]='#00FF00'
)
# Order of the colour table in the files.
PALETTE=(' ' k w g d l)

PROGRAM_32=(
"     kkkkkkkkkkkkkkkkkkkkkk     "
"     kwwwwwwwwwwwwwwwwwwwdk     "
"     kwggggggggggggggggggdk     "
"     kwgdddddddddddddddwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkddkkkkkkkkkkwgdk     "
"     kwgdkkdkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgdkkkkkkkkkkkkkkwgdk     "
"     kwgwwwwwwwwwwwwwwwwgdk     "
"     kwggggggggggggggggggdk     "
"     kddddddddddddddddddddk     "
"  kkkkkkkkkkkkkkkkkkkkkkkkkkkk  "
"  kwwwwwwwwwwwwwwwwwwwwwwwwwdk  "
"  kwggggggggggggggggggggggggdk  "
"  kwgllggggggggkkkkkkkkkkkkgdk  "
"  kwgllggggggggwwwwwwwwwwwwgdk  "
"  kddddddddddddddddddddddddddk  "
"  kkkkkkkkkkkkkkkkkkkkkkkkkkkk  "
"                                "
"   kkkkkkkkkkkkkkkkkkkkkkkkkk   "
"   kwwwwwwwwwwwwwwwwwwwwwwwdk   "
"   kwwgwgwgwgwgwgwgwgwgwgwgdk   "
"   kwgwgwgwwwwwwwwwwwwwgwgwdk   "
"   kddddddddddddddddddddddddk   "
"   kkkkkkkkkkkkkkkkkkkkkkkkkk   "
)

PROGRAM_16=(
"  kkkkkkkkkkkk  "
"  kwwwwwwwwwdk  "
"  kwkkkkkkkkdk  "
"  kwkdkkkkkkdk  "
"  kwkkkkkkkkdk  "
"  kwkkkkkkkkdk  "
"  kddddddddddk  "
" kkkkkkkkkkkkkk "
" kwwwwwwwwwwwdk "
" kwlgggkkkkkgdk "
" kddddddddddddk "
" kkkkkkkkkkkkkk "
"                "
"kkkkkkkkkkkkkkkk"
"kwgwgwgwgwgwgwdk"
"kkkkkkkkkkkkkkkk"
)

TRAY=(
" kkkkkkkkkkkkk  "
" kwwwwwwwwwwdk  "
" kwgggggggggdk  "
" kwgSSSSSSSgdk  "
" kwgSSSSSSSgdk  "
" kwgSSSSSSSgdk  "
" kwgSSSSSSSgdk  "
" kwgSSSSSSSgdk  "
" kwgggggggggdk  "
" kwddddddddddk  "
"kkkkkkkkkkkkkkk "
"kwwwwwwwwwwwwdk "
"kwgllggkkkkkgdk "
"kwgggggwwwwwgdk "
"kdddddddddddddk "
"kkkkkkkkkkkkkkk "
)

die() { echo "make-icons: $*" >&2; exit 1; }

# write_xpm NAME COMMENT ROW...: writes $OUT/NAME.xpm; COMMENT may be empty.
write_xpm() {
    local name=$1 comment=$2 width height row ch i used=()
    shift 2
    width=${#1}
    height=$#
    local seen=""
    for row in "$@"; do
        [ ${#row} -eq "$width" ] || die "$name: row '$row' is not $width pixels wide"
        for ((i = 0; i < width; i++)); do
            ch=${row:i:1}
            [ -n "${COLOUR[$ch]+set}" ] || die "$name: unknown pixel '$ch' in '$row'"
            case $seen in *"$ch"*) ;; *) seen+=$ch ;; esac
        done
    done
    for ch in "${PALETTE[@]}"; do
        case $seen in *"$ch"*) used+=("$ch") ;; esac
    done
    {
        echo '/* XPM */'
        [ -z "$comment" ] || echo "/* $comment */"
        echo "static const char *const ${name//-/_}_xpm[] = {"
        echo "\"$width $height ${#used[@]} 1\","
        for ch in "${used[@]}"; do echo "\"$ch c ${COLOUR[$ch]}\","; done
        for ((i = 1; i <= height; i++)); do
            if [ "$i" -lt "$height" ]; then echo "\"${!i}\","; else echo "\"${!i}\""; fi
        done
        echo '};'
    } >"$OUT/$name.xpm"
}

# The S pixels must be exactly the documented rectangle.
for ((y = 0; y < ${#TRAY[@]}; y++)); do
    row=${TRAY[y]}
    for ((x = 0; x < ${#row}; x++)); do
        inside=0
        if [ "$x" -ge $SCREEN_X0 ] && [ "$x" -le $SCREEN_X1 ] && [ "$y" -ge $SCREEN_Y0 ] && [ "$y" -le $SCREEN_Y1 ]; then
            inside=1
        fi
        if [ "${row:x:1}" = S ]; then
            [ $inside = 1 ] || die "tray art: screen pixel at $x,$y outside the screen rectangle"
        else
            [ $inside = 0 ] || die "tray art: no screen pixel at $x,$y"
        fi
    done
done

mkdir -p "$OUT"
write_xpm mirebo-32 "" "${PROGRAM_32[@]}"
write_xpm mirebo-16 "" "${PROGRAM_16[@]}"

for ((level = 0; level <= SCREEN_ROWS; level++)); do
    rows=()
    for ((y = 0; y < ${#TRAY[@]}; y++)); do
        row=${TRAY[y]}
        if [ "$y" -gt $((SCREEN_Y1 - level)) ]; then
            rows+=("${row//S/l}")
        else
            rows+=("${row//S/k}")
        fi
    done
    write_xpm "tray$level" \
        "load screen: 7x5 pixels at columns 4-10, rows 3-7 from the top left; the bottom $level rows lime, the rest black" \
        "${rows[@]}"
done
echo "make-icons: wrote $OUT"
