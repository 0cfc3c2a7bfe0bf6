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

# Debian's own interpreter: the bindings are installed for it.
PY=/usr/bin/python3
"$PY" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null \
    || skip "no AT-SPI bindings for $PY (packages python3, python3-gi, gir1.2-atspi-2.0)"
require dbus-send

# The accessibility bus belongs to the session: org.a11y.Bus (at-spi2-core)
# starts it on the first request for its address and it ends with our session.
A11Y_ADDRESS=$(dbus-send --session --print-reply=literal --reply-timeout=10000 --dest=org.a11y.Bus \
    /org/a11y/bus org.a11y.Bus.GetAddress 2>"$TEST_TMP/bus.err" | sed 's/^ *//') || true
if [ -z "$A11Y_ADDRESS" ]; then
    ! grep -q ServiceUnknown "$TEST_TMP/bus.err" || skip "the session cannot start an accessibility bus (package at-spi2-core)"
    fail "org.a11y.Bus gave no address for the accessibility bus: $(cat "$TEST_TMP/bus.err")"
fi
# The program finds the bus through the session, like any program; the reader is told where it is.
TABLE="$TEST_TMP/tree.tsv" DUMP="$(dirname "$0")/atspi_dump.py"
read_tree() { AT_SPI_BUS_ADDRESS="$A11Y_ADDRESS" "$PY" "$DUMP" --pid "$APP_PID" --title "$APP_TITLE" --table "$TABLE" "$@"; }

# Qt exports the tree once a screen reader says it runs, or always with this.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
start_app
# The list fills on the first refresh: wait until it shows our own process.
rc=0; read_tree --wait-for "$APP_PID" --timeout 20 --text "$ARTIFACTS/accessibility.txt" || rc=$?
check '[ $rc = 0 ]' "the program's tree turns up on the accessibility bus (atspi_dump.py status $rc; 3: not in time)"

# node ROLE NAME [PARENT_NAME]: "description<TAB>states" of the first node with that role and name
# (and a parent so named); nothing if there is none.
node() {
    awk -F'\t' -v r="$1" -v n="$2" -v p="${3-}" '{ name[$1] = $5 }
        $4 == r && $5 == n && (p == "" || name[$2] == p) { print $6 "\t" $7; exit }' "$TABLE"
}
has() { [ -n "$(node "$@")" ]; }
showing() { node "$@" | cut -f2 | tr , '\n' | grep -qx showing; }

check '[ "$(awk -F"\t" "\$2 == -1 { print \$5; exit }" "$TABLE")" = mirebo ]' 'the program is on the bus as "mirebo"'
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
amp=$(awk -F'\t' 'index($5, "&") { print $4 ": " $5 }' "$TABLE")
check '[ -z "$amp" ]' "no name carries a mnemonic \"&\"${amp:+ ($amp)}"

# The list page, opened as a screen reader user does.
rc=0; read_tree --press "page tab" アプリケーション一覧 --timeout 10 --text "$ARTIFACTS/accessibility-list.txt" || rc=$?
check '[ $rc = 0 ]' "the tab \"アプリケーション一覧\" does its action for a screen reader (status $rc)"
check 'showing table アプリケーション一覧 && ! showing filler "CPU 使用率のグラフ"' "the list is shown then, the charts are hidden"

stop_app
pass
