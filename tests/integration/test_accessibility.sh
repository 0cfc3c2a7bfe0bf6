#!/usr/bin/env bash
# What a screen reader gets from the running program over AT-SPI: every
# control with a visible text is named by it, the figures, charts and the list
# carry what they mean as their description, and no mnemonic marker is read
# aloud. The whole tree goes to $ARTIFACTS/accessibility.txt (and, after the
# list page was opened through its tab's action, accessibility-list.txt).
# shellcheck disable=SC2016,SC2034
set -euo pipefail
. "$(dirname "$0")/lib.sh"
# Some desktop sessions export the address of their own accessibility bus; on
# ours nothing may find that one: not the program, not the reader, not the
# daemons our private session bus starts (they get its environment).
unset AT_SPI_BUS_ADDRESS
on_desktop

# Debian's own interpreter: the bindings (python3-gi, gir1.2-atspi-2.0) are
# installed for it, not for whatever python3 comes first on PATH.
PY=/usr/bin/python3
DUMP="$(dirname "$0")/atspi_dump.py"
[ -x "$PY" ] || skip "$PY is not installed (package python3)"
"$PY" -c 'import gi; gi.require_version("Atspi", "2.0"); from gi.repository import Atspi' 2>/dev/null \
    || skip "no AT-SPI bindings for $PY (packages python3-gi, gir1.2-atspi-2.0)"
require dbus-send

# ---- the accessibility bus -----------------------------------------------------
# It belongs to the session: org.a11y.Bus on the session bus (at-spi2-core)
# starts it on the first request for its address. It ends with the desktop,
# as part of our session.
bus_call() {
    # bus_call ADDRESS_OPTION DEST PATH METHOD ARGS...: prints the reply's value.
    local where=$1
    shift
    dbus-send "$where" --print-reply=literal --reply-timeout=10000 --dest="$1" "$2" "$3" "${@:4}" 2>/dev/null \
        | sed 's/^ *//; s/^\(boolean\|uint32\) //'
}
owned=$(bus_call --session org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.NameHasOwner \
    string:org.a11y.Bus) || owned=""
bus_call --session org.freedesktop.DBus /org/freedesktop/DBus org.freedesktop.DBus.ListActivatableNames \
    | grep -qw org.a11y.Bus || [ "$owned" = true ] \
    || skip "the session cannot start an accessibility bus (package at-spi2-core)"
A11Y_ADDRESS=$(bus_call --session org.a11y.Bus /org/a11y/bus org.a11y.Bus.GetAddress) || A11Y_ADDRESS=""
[ -n "$A11Y_ADDRESS" ] || fail "org.a11y.Bus gave no address for the accessibility bus"
say "accessibility bus: $A11Y_ADDRESS"
# The program finds the bus through the session, like any program (Qt told
# the address in AT_SPI_BUS_ADDRESS keeps its tree to itself); the reader is
# told where it is.
read_tree() { AT_SPI_BUS_ADDRESS="$A11Y_ADDRESS" "$PY" "$DUMP" --pid "$APP_PID" --title "$APP_TITLE" "$@"; }

# ---- the program, with its accessibility tree exported ---------------------------
# Qt exports the tree once a screen reader says it runs (org.a11y.Status on the
# session bus), or always with this.
export QT_LINUX_ACCESSIBILITY_ALWAYS_ON=1
start_app

TREE="$ARTIFACTS/accessibility.txt"
TABLE="$TEST_TMP/tree.tsv"
# The list fills on the first refresh: wait until it shows our own process.
rc=0
read_tree --wait-for "$APP_PID" --timeout 20 --text "$TREE" --table "$TABLE" || rc=$?
case $rc in
    0) ;;
    3) fail "the program's accessibility tree did not turn up on the accessibility bus" ;;
    *) fail "could not read the accessibility bus (atspi_dump.py status $rc)" ;;
esac
say "tree of $(wc -l <"$TABLE") nodes in $TREE"

# ---- looking things up in the tree ------------------------------------------------
# The table's columns: index, parent, depth, role, name, description, states.

# nodes ROLE NAME [PARENT_NAME]: prints the indices of the nodes with that role
# and name (and a parent of that name).
nodes() {
    awk -F'\t' -v role="$1" -v name="$2" -v parent="${3-}" -v want_parent="${3+1}" '
        { n[$1] = $5 }
        $4 == role && $5 == name && (!want_parent || n[$2] == parent) { print $1 }' "$TABLE"
}
count() { nodes "$@" | wc -l; }
has() { [ "$(count "$@")" -ge 1 ]; }

# field INDEX COLUMN: one column (5 name, 6 description, 7 states) of a node.
field() { awk -F'\t' -v i="$1" -v c="$2" '$1 == i { print $c }' "$TABLE"; }

# described ROLE DESCRIPTION: prints the index of the node with that
# description (the first; empty if none).
described() { awk -F'\t' -v role="$1" -v d="$2" '$4 == role && $6 == d { print $1; exit }' "$TABLE"; }

# parent_name INDEX: the name of the node's parent.
parent_name() { field "$(field "$1" 2)" 5; }

showing() { field "$1" 7 | tr ',' '\n' | grep -qx showing; }

# ---- the application and its window ------------------------------------------
app_name=$(awk -F'\t' '$2 == -1 { print $5; exit }' "$TABLE")
check '[ "$app_name" = mirebo ]' "the program is on the accessibility bus as \"mirebo\" ($app_name)"
check 'has frame "$APP_TITLE"' "its window is a frame named $APP_TITLE"

# ---- tabs ------------------------------------------------------------------------
check 'has "page tab" アプリケーション一覧' 'the tab "アプリケーション一覧" is named by its text'
check 'has "page tab" リソースステータス' 'the tab "リソースステータス" is named by its text'
check 'has "page tab list" リソースステータス' "the tab bar names the page shown at start, リソースステータス"

# ---- group boxes and their labels -------------------------------------------------
check 'has panel メモリ' 'the group box "メモリ" is named by its title'
check 'has panel システム情報' 'the group box "システム情報" is named by its title'
for text in 全メモリ量 Byte 使用率 ％; do
    check 'has label "$text" メモリ' "the label \"$text\" in メモリ is named by its text"
done
for text in コンピュータ ユーザー "CPU 情報" "CPU 使用率" ％; do
    check 'has label "$text" システム情報' "the label \"$text\" in システム情報 is named by its text"
done

# ---- buttons ---------------------------------------------------------------------
# The mnemonic marker is not part of what is read: Qt drops the "&".
closes=$(awk -F'\t' '$4 == "push button" && ($5 == "閉じる(C)" || $5 == "閉じる") { print $5 }' "$TABLE")
say "the close buttons read as: $(echo "$closes" | sort -u | tr '\n' ' ')"
check '[ "$(echo "$closes" | grep -c .)" = 2 ]' 'both "閉じる(&C)" buttons are named by their text, without the "&"'
check 'has "push button" 終了' 'the button "終了" is named by its text'

# ---- menus -------------------------------------------------------------------------
for text in "ファイル(F)" "オプション(O)" "表示(V)"; do
    check 'has "menu item" "$text"' "the menu \"$text\" is named by its text"
done
for text in "新規実行(G)..." "Windowsの終了(Q)..." "ソラトキの終了(X)" "常に手前に表示(A)" "更新の頻度(U)" \
    "高(H)" "通常(N)" "低(L)"; do
    check 'has "menu item" "$text"' "the command \"$text\" is named by its text"
done

# ---- figures: the number is the name, its meaning the description ---------------------
i=$(described label "全メモリ量 (Byte)")
check '[ -n "$i" ]' 'the total memory figure is described as "全メモリ量 (Byte)"'
total=$(field "$i" 5)
mem_total=$(awk '/^MemTotal:/ { printf "%.0f", $2 * 1024 }' /proc/meminfo)
check '[[ $total =~ ^[0-9]+$ ]] && [ "$total" = "$mem_total" ]' \
    "its name is the total in bytes, $total (MemTotal: $mem_total)"
check '[ "$(parent_name "$i")" = メモリ ]' "it sits in メモリ"

i=$(described label "メモリ使用率 (％)")
check '[ -n "$i" ]' 'the memory load figure is described as "メモリ使用率 (％)"'
load=$(field "$i" 5)
check '[[ $load =~ ^[0-9]+$ ]] && [ "$load" -le 100 ]' "its name is a percentage ($load)"

i=$(described label "CPU 使用率 (％)")
check '[ -n "$i" ]' 'the processor load figure is described as "CPU 使用率 (％)"'
cpu=$(field "$i" 5)
check '[[ $cpu =~ ^[0-9]+$ ]] && [ "$cpu" -le 100 ]' "its name is a percentage ($cpu)"
check '[ "$(parent_name "$i")" = システム情報 ]' "it sits in システム情報"

i=$(described label "コンピュータ名")
host=$(field "${i:-x}" 5)
check '[ -n "$i" ] && [ "$host" = "$(uname -n)" ]' "the computer name figure is named by the host name ($host)"
i=$(described label "ユーザー名")
user=$(field "${i:-x}" 5)
check '[ -n "$i" ] && [ "$user" = "$(id -un)" ]' "the user name figure is named by the user ($user)"
i=$(described label "CPU 情報")
cpu_info=$(field "${i:-x}" 5)
check '[ -n "$i" ] && [ -n "$cpu_info" ] && [ "$cpu_info" != lblCPU ]' "the processor figure is named by what it shows ($cpu_info)"

# ---- charts and the list -----------------------------------------------------------------
i=$(nodes filler "CPU 使用率のグラフ" | head -n 1)
check '[ -n "$i" ]' 'the processor chart is named "CPU 使用率のグラフ"'
check '[ "$(field "$i" 6)" = "CPU 使用率の推移。右端が最新で、1 列が 1 回の更新" ] && showing "$i"' \
    "it is described, and shown"
i=$(nodes filler "メモリ使用率のグラフ" | head -n 1)
check '[ -n "$i" ]' 'the memory chart is named "メモリ使用率のグラフ"'
check '[ "$(field "$i" 6)" = "メモリ使用率の推移。右端が最新で、1 列が 1 回の更新" ] && showing "$i"' \
    "it is described, and shown"

i=$(nodes table アプリケーション一覧 | head -n 1)
check '[ -n "$i" ]' 'the list is a table named "アプリケーション一覧"'
check '[ "$(field "$i" 6)" = "実行中のアプリケーション: 1 行に 1 プロセス、ウィンドウの名称とプロセスID" ]' \
    "it is described"
check '! showing "$i"' "it is not shown at start: the resource page is"
check 'has "table column header" アプリケーション名称 アプリケーション一覧 && has "table column header" プロセスＩＤ アプリケーション一覧' \
    "its columns are named by their headings"
check 'has "table cell" "$APP_TITLE" アプリケーション一覧 && has "table cell" "$APP_PID" アプリケーション一覧' \
    "its cells read as text: our own window ($APP_TITLE, $APP_PID)"

# ---- nothing nameless, no mnemonic marker -----------------------------------------------
nameless=$(awk -F'\t' '$5 == "" && ($4 == "label" || $4 == "push button" || $4 == "page tab" || $4 == "menu item" \
    || $4 == "check box" || $4 == "radio button" || $4 == "table column header") { print $4 }' "$TABLE" | sort | uniq -c)
check '[ -z "$nameless" ]' "every label, button, tab, menu item and heading has a name${nameless:+ (nameless: $nameless)}"
amp=$(awk -F'\t' 'index($5, "&") { print $4 ": " $5 }' "$TABLE")
check '[ -z "$amp" ]' "no name carries a mnemonic \"&\"${amp:+ ($amp)}"

# ---- the list page, opened as a screen reader user does -------------------------------
TREE2="$ARTIFACTS/accessibility-list.txt"
rc=0
read_tree --press "page tab" アプリケーション一覧 --timeout 10 \
    --text "$TREE2" --table "$TABLE" || rc=$?
check '[ $rc = 0 ]' "the tab \"アプリケーション一覧\" does its action for a screen reader (status $rc)"
i=$(nodes table アプリケーション一覧 | head -n 1)
check '[ -n "$i" ] && showing "$i"' "the list is shown then"
check 'has "page tab list" アプリケーション一覧' "and the tab bar names it"
i=$(nodes filler "CPU 使用率のグラフ" | head -n 1)
check '[ -n "$i" ] && ! showing "$i"' "while the charts are hidden"
shown_closes=$(awk -F'\t' '$4 == "push button" && $5 ~ /^閉じる/ && $7 ~ /(^|,)showing(,|$)/' "$TABLE" | wc -l)
check '[ "$shown_closes" = 1 ]' "exactly one close button is shown, the list page's ($shown_closes)"

stop_app
pass
