# Helpers for the tests on a Wayland session (test_wayland_*.sh), sourced after lib.sh.
# shellcheck shell=bash disable=SC2016,SC2034

# on_wayland_session: the calling test runs on a private headless session (scripts/with-wayland.sh,
# as ctest runs it), from copies of what it needs, or is skipped; sets up what on_desktop would,
# with APP and POINTER naming the copies.
on_wayland_session() {
    [ "${MIREBO_SWAY:-}" = 1 ] || skip "not on a private Wayland session: run it with ctest"
    APP="$PWD/$(basename "$APP")"
    POINTER="$PWD/wl_pointer"
    require xterm xdotool xwininfo xprop
    test_setup
    on_accessibility_bus
}

# read_list NAME ARTIFACT: waits until the list shows a cell NAME and reads it over AT-SPI.
read_list() {
    read_tree --wait-for "$1" --timeout 20 --text "$ARTIFACTS/$2.txt" || fail "could not read the list over AT-SPI"
}
# rows: "title<TAB>pid<TAB>states of the pid cell", one line a row, in the list's order.
rows() { awk -F'\t' '$4 == "table cell" { printf "%s%s", $5, (++n % 2 ? "\t" : "\t" $7 "\n") }' "$TEST_TMP/tree.tsv"; }
has_row() { rows | cut -f1,2 | grep -qxF "$1"$'\t'"$2"; }

# end_task PID ARTIFACT: chooses the row of PID in the list (the list's tab, row 1, then down)
# and presses "終了" under it, as a user would.
end_task() {
    local pid=$1 row i chosen
    xdotool mousemove --window "$APP_WIN" 40 32 click 1   # the list's tab
    sleep 0.5
    xdotool mousemove --window "$APP_WIN" 40 78 click 1   # row 1
    # Where the list follows the focus, the click has just moved the program's own row up.
    sleep 1.2
    read_list "$pid" "$2"
    row=$(rows | cut -f2 | grep -nxF "$pid" | cut -d: -f1)
    [ -n "$row" ] || fail "no row of $pid to end"
    for ((i = 1; i < row; i++)); do xdotool key Down; sleep 0.2; done
    sleep 1.2   # a tick may reorder the rows: read back which one is chosen
    read_list "$pid" "$2"
    chosen=$(rows | awk -F'\t' '$3 ~ /selected/ { print $2 }')
    check '[ "$chosen" = "$pid" ]' "the row of $pid is chosen"
    xdotool mousemove --window "$APP_WIN" 180 248 click 1   # 終了
}
