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

stop_app
pass
