#!/usr/bin/env bash
# What a screen reader gets from the running program over AT-SPI: the tree on
# the session's accessibility bus, a few nodes through Qt's bridge, the list
# page opened through its tab's action. What each control is named and
# described as is checked in process (tests/unit/test_accessibility.cpp).
# The trees go to $ARTIFACTS/accessibility.txt and accessibility-list.txt.
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
# A desktop session may export its own accessibility bus: on ours nothing may
# find that one (the daemons our private session bus starts get our environment).
unset AT_SPI_BUS_ADDRESS
on_desktop
on_accessibility_bus
start_app
# The list fills on the first refresh: wait until it shows our own process.
rc=0; read_tree --wait-for "$APP_PID" --timeout 20 --text "$ARTIFACTS/accessibility.txt" || rc=$?
check '[ $rc = 0 ]' "the program's tree turns up on the accessibility bus (atspi_dump.py status $rc; 3: not in time)"

# node ROLE NAME [PARENT_NAME]: "description<TAB>states" of the first node with that role and name
# (and a parent so named); nothing if there is none.
node() {
    awk -F'\t' -v r="$1" -v n="$2" -v p="${3-}" '{ name[$1] = $5 }
        $4 == r && $5 == n && (p == "" || name[$2] == p) { print $6 "\t" $7; exit }' "$TEST_TMP/tree.tsv"
}
has() { [ -n "$(node "$@")" ]; }
showing() { node "$@" | cut -f2 | tr , '\n' | grep -qx showing; }

check '[ "$(awk -F"\t" "\$2 == -1 { print \$5; exit }" "$TEST_TMP/tree.tsv")" = mirebo ]' 'the program is on the bus as "mirebo"'
check 'has frame "$APP_TITLE"' "its window is a frame named $APP_TITLE"
check 'has "page tab" アプリケーション一覧 リソースステータス' 'the tab "アプリケーション一覧" is in a tab bar named by the page shown'
mem_total=$(awk '/^MemTotal:/ { printf "%.0f", $2 * 1024 }' /proc/meminfo)
check '[ "$(node label "$mem_total" メモリ | cut -f1)" = "全メモリ量 (Byte)" ]' \
    "the total memory figure in メモリ reads $mem_total and is described as 全メモリ量 (Byte)"
check '[ "$(node table アプリケーション一覧 | cut -f1)" = "実行中のアプリケーション: 1 行に 1 プロセス、ウィンドウの名称とプロセスID" ]' \
    'the list is a table named "アプリケーション一覧", described'
check '! showing table アプリケーション一覧' "it is not shown at start: the resource page is"
check 'has "table column header" プロセスＩＤ アプリケーション一覧' "its column headings arrive as headers (プロセスＩＤ)"
check 'has "table cell" "$APP_TITLE" アプリケーション一覧 && has "table cell" "$APP_PID" アプリケーション一覧' \
    "its cells read as text: our own window ($APP_TITLE, $APP_PID)"
amp=$(awk -F'\t' 'index($5, "&") { print $4 ": " $5 }' "$TEST_TMP/tree.tsv")
check '[ -z "$amp" ]' "no name carries a mnemonic \"&\"${amp:+ ($amp)}"

# The list page, opened as a screen reader user does.
rc=0; read_tree --press "page tab" アプリケーション一覧 --timeout 10 --text "$ARTIFACTS/accessibility-list.txt" || rc=$?
check '[ $rc = 0 ]' "the tab \"アプリケーション一覧\" does its action for a screen reader (status $rc)"
check 'showing table アプリケーション一覧 && ! showing filler "CPU 使用率のグラフ"' "the list is shown then, the charts are hidden"

# ---- the row a screen reader selects is the row "終了" ends ----
# Three processes of their own, one row each; A's row is clicked, then B's or C's selected the
# way a screen reader does: through the table (AddRowSelection), or with a cell's "Toggle".
require xterm
pids=()
for name in A B C; do
    xterm -geometry 30x4+20+$((400 + ${#pids[@]} * 100)) -T "a11y-$name" -e sleep 600 &
    pids+=($!)
    at_exit "kill $! 2>/dev/null"
done
a=${pids[0]} b=${pids[1]} c=${pids[2]}
for p in "${pids[@]}"; do wait_window "$p" 'a11y-.' 10 >/dev/null || fail "no xterm window for pid $p"; done
selected() { node "table cell" "$1" アプリケーション一覧 | cut -f2 | tr , '\n' | grep -qx selected; }
# click_row PID: the mouse on that row's process id, as any user selects a row.
click_row() {
    local box x y w h
    read_tree --wait-for "$1" --timeout 10 --text "$TEST_TMP/tree.txt" || fail "no row for pid $1 over AT-SPI"
    box=$(awk -F'\t' -v n="$1" '$4 == "table cell" && $5 == n { print $8; exit }' "$TEST_TMP/tree.tsv")
    IFS=, read -r x y w h <<<"$box"
    [ -n "$h" ] || fail "the row of pid $1 has no place on the screen"
    xdotool mousemove $((x + w / 2)) $((y + h / 2)) click 1
    read_tree --text "$TEST_TMP/tree.txt" || fail "the tree went away"
    selected "$1" || fail "a click on the row of pid $1 did not select it"
}
# end_task_over PID: "終了" pressed as a screen reader user does; the chosen PID must end, A live on.
end_task_over() {
    read_tree --press "push button" 終了 --text "$TEST_TMP/tree.txt" || fail "\"終了\" did not do its action"
    wait_gone "$1" 3 || fail "\"終了\" left pid $1 running, the row selected over AT-SPI$(is_alive "$a" || echo "; it ended A's, pid $a")"
    check 'is_alive "$a"' "\"終了\" ended pid $1, the row the screen reader selected, not A's (pid $a), clicked before"
    # The rows below move up once the next refresh drops the ended one.
    wait_until 5 row_gone "$1" || fail "the row of pid $1 stayed in the list"
}
row_gone() { read_tree --text "$TEST_TMP/tree.txt" && [ -z "$(node "table cell" "$1" アプリケーション一覧)" ]; }

click_row "$a"
rc=0; read_tree --select-row "table cell" "$b" --text "$ARTIFACTS/accessibility-select.txt" || rc=$?
check '[ $rc = 0 ]' "the list takes a row selected through AT-SPI (AddRowSelection; status $rc)"
check 'selected "$b" && ! selected "$a"' "B's row reads as selected, A's no longer"
end_task_over "$b"

click_row "$a"
rc=0; read_tree --action "table cell" "$c" Toggle --text "$ARTIFACTS/accessibility-toggle.txt" || rc=$?
check '[ $rc = 0 ] && selected "$c" && ! selected "$a"' "a cell's \"Toggle\" selects its row, C's (status $rc)"
end_task_over "$c"

stop_app
pass
