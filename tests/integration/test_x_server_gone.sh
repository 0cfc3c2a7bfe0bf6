#!/usr/bin/env bash
# When its X server goes away under it, the program ends by itself, promptly and without
# crashing (no signal, no core), and leaves nothing running. Once with a server that shuts
# down (TERM) and once with one that just vanishes (KILL).
#
# Not on the shared private desktop (ensure_desktop): this test kills its own X server.
# Helpers called from traps and through wait_until look unreachable to the linter.
# shellcheck disable=SC2016,SC2034,SC2317
set -euo pipefail
. "$(dirname "$0")/lib.sh"
[ -n "$APP" ] || fail "APP is not set"
require Xvfb xdotool xprop
[ "$(locale charmap 2>/dev/null)" = UTF-8 ] || export LC_ALL=C.UTF-8

TEST_TMP=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-test.XXXXXX")
chmod 0700 "$TEST_TMP"
# Every process started here carries this tag, so that anything left behind can be found.
TAG="MIREBO_X_GONE_TAG=$TEST_TMP"
XVFB_PID=""

# tagged: prints the live processes carrying the tag.
tagged() {
    local pid
    grep -lzxF -- "$TAG" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | while read -r pid; do
        is_alive "$pid" && echo "$pid"
    done
    return 0
}
cleanup() {
    local rc=$? pid
    set +e
    for pid in $APP_PID $XVFB_PID; do kill -KILL "$pid" 2>/dev/null; done
    for pid in $(tagged); do kill -KILL "$pid" 2>/dev/null; done
    wait 2>/dev/null
    rm -rf -- "$TEST_TMP"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM

# The program's own environment: a private runtime and settings directory, the xcb platform,
# and a session bus address that leads nowhere (so that no bus is looked for or started).
export XDG_RUNTIME_DIR="$TEST_TMP/runtime" XDG_CONFIG_HOME="$TEST_TMP/config" \
    XDG_CACHE_HOME="$TEST_TMP/cache" XDG_DATA_HOME="$TEST_TMP/data" QT_QPA_PLATFORM=xcb \
    DBUS_SESSION_BUS_ADDRESS="unix:path=$TEST_TMP/no-bus"
mkdir -p "$XDG_RUNTIME_DIR" "$XDG_CONFIG_HOME" "$XDG_CACHE_HOME" "$XDG_DATA_HOME"
chmod 0700 "$XDG_RUNTIME_DIR"
unset WAYLAND_DISPLAY

_display_known() { grep -qE '^[0-9]+$' "$TEST_TMP/display" 2>/dev/null; }

# round SIGNAL: a server, the program on it, and the server ended with SIGNAL 2 s later.
round() {
    local sig=$1 status=0 left display since
    : >"$TEST_TMP/display"
    env "$TAG" Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp -noreset \
        4>"$TEST_TMP/display" </dev/null >"$TEST_TMP/xvfb.log" 2>&1 &
    XVFB_PID=$!
    wait_until 15 _display_known || fail "Xvfb did not start: $(tail -n 5 "$TEST_TMP/xvfb.log")"
    display=$(head -n 1 "$TEST_TMP/display")
    export DISPLAY=":$display"

    env "$TAG" "$APP" </dev/null >"$TEST_TMP/app.log" 2>&1 &
    APP_PID=$!
    wait_until 20 _found_window "$APP_PID" "$APP_TITLE" || fail "no window titled $APP_TITLE within 20 s"
    sleep 2
    check 'is_alive "$APP_PID"' "the program runs on its own server (SIG$sig round)"

    since=$EPOCHREALTIME
    kill "-$sig" "$XVFB_PID"
    wait_gone "$XVFB_PID" 5 || fail "Xvfb did not end on SIG$sig"
    wait "$XVFB_PID" 2>/dev/null || true
    XVFB_PID=""
    wait_gone "$APP_PID" 5 || fail "the program still runs 5 s after its X server got SIG$sig"
    wait "$APP_PID" 2>/dev/null || status=$?
    APP_PID=""
    say "the program ended $(awk -v a="$since" -v b="$EPOCHREALTIME" 'BEGIN { printf "%.2f", b - a }') s after the server's SIG$sig, status $status; it said: $(tr '\n' ' ' <"$TEST_TMP/app.log")"
    check '[ "$status" -lt 128 ]' "it ended normally, not by a signal, after SIG$sig to the server (status $status)"
    check '! grep -qiE "core dumped|abort|segmentation|sanitizer" "$TEST_TMP/app.log"' "without a crash report"
    sleep 0.2
    left=$(tagged)
    check '[ -z "$left" ]' "nothing is left running ${left:+(pids: $(echo "$left" | tr '\n' ' '))}"
}

round TERM
round KILL
pass
