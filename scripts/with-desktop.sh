#!/usr/bin/env bash
# Runs a command on a private, throwaway X desktop and tears it all down again.
#
#   scripts/with-desktop.sh [--no-wm] [--no-tray] -- CMD ARGS...
#
# The desktop is an Xvfb server (1024x768x24, display number chosen by the
# server, so it never collides with another desktop on a shared machine), an
# openbox window manager and a trayer system tray (XEmbed). The command runs
# under its own session bus (dbus-run-session), on which nobody provides a
# StatusNotifier watcher, so Qt docks its tray icon as an X window that tests
# can see and click.
#
# Environment given to CMD: DISPLAY, XDG_RUNTIME_DIR (private, 0700),
# QT_QPA_PLATFORM=xcb, DBUS_SESSION_BUS_ADDRESS (private bus),
# MIREBO_DESKTOP=1 and MIREBO_DESKTOP_DISPLAY (= DISPLAY).
#
# Exit status: that of CMD; 77 if Xvfb is not installed (cannot run here);
# 125 if the desktop could not be set up; 2 on a usage error.
#
# Each part of the desktop runs in a session of its own and carries a tag in
# its environment (MIREBO_DESKTOP_TAG). On exit (normal end, error, INT, TERM,
# HUP) everything in those sessions, with that tag or descending from either
# is ended, the command's processes first and the X server last. That covers
# what CMD left running in the background, even what detached with setsid.
# Only a SIGKILL of this script itself leaves the desktop behind.
# Functions called from traps and through wait_until look unreachable to the linter.
# shellcheck disable=SC2317
set -uo pipefail

readonly ME="with-desktop"
readonly SETUP_FAILED=125

WITH_WM=1
WITH_TRAY=1

usage() {
    echo "usage: $0 [--no-wm] [--no-tray] -- CMD ARGS..." >&2
    exit 2
}

while [ $# -gt 0 ]; do
    case "$1" in
        --no-wm) WITH_WM=0 ;;
        --no-tray) WITH_TRAY=0 ;;
        --) shift; break ;;
        -h|--help) usage ;;
        *) echo "$ME: unknown option: $1" >&2; usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage

say() { echo "$ME: $*" >&2; }

if ! command -v Xvfb >/dev/null 2>&1; then
    say "Xvfb is not installed (package xvfb); cannot run a desktop here"
    exit 77
fi

need() {
    # need TOOL PACKAGE
    if ! command -v "$1" >/dev/null 2>&1; then
        say "$1 is not installed (package $2)"
        exit "$SETUP_FAILED"
    fi
}
need setsid util-linux
need ps procps
need xprop x11-utils
need dbus-run-session dbus
[ "$WITH_WM" = 1 ] && need openbox openbox
if [ "$WITH_TRAY" = 1 ]; then
    need trayer trayer
    need xev x11-utils
    need stdbuf coreutils
fi

# The session leader of each part of the desktop.
CMD_PID=""
TRAY_PID=""
XEV_PID=""
WM_PID=""
XVFB_PID=""
RUNTIME=""

# Prints the live (non-zombie) processes started for one part of the desktop:
# those in the sessions led by the given pids, those carrying that part's tag
# in their environment, and everything descending from either. Sessions catch
# what was orphaned and re-parented to init, the tag catches what also started
# a session of its own, descent catches what changed its environment.
#   members TAG PID...
members() {
    local tag=$1 tagged
    shift
    tagged=$(grep -lzxF -- "MIREBO_DESKTOP_TAG=$tag" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3)
    ps -eo pid=,ppid=,sid=,stat= | awk -v roots="$*" -v tagged="$(echo "$tagged" | tr '\n' ' ')" -v self="$$" '
        BEGIN {
            n = split(roots, r, " "); for (i = 1; i <= n; i++) { lead[r[i]] = 1; want[r[i]] = 1 }
            n = split(tagged, t, " "); for (i = 1; i <= n; i++) want[t[i]] = 1
        }
        { pid[NR] = $1; ppid[NR] = $2; sid[NR] = $3; st[NR] = $4 }
        END {
            for (i = 1; i <= NR; i++) if (sid[i] in lead) want[pid[i]] = 1
            do {
                grown = 0
                for (i = 1; i <= NR; i++)
                    if (!(pid[i] in want) && (ppid[i] in want)) { want[pid[i]] = 1; grown = 1 }
            } while (grown)
            for (i = 1; i <= NR; i++)
                if ((pid[i] in want) && pid[i] != self && st[i] !~ /^Z/) print pid[i]
        }'
}

# Ends one part of the desktop: TERM, up to 3 s of grace, then KILL.
#   stop ROLE [PID]
stop() {
    local tag="$RUNTIME/$1" pid=${2:-} pids i
    [ -n "$RUNTIME" ] || return 0
    pids=$(members "$tag" ${pid:+"$pid"})
    if [ -n "$pids" ]; then
        # shellcheck disable=SC2086
        kill -TERM $pids 2>/dev/null
        for ((i = 0; i < 30; i++)); do
            pids=$(members "$tag" ${pid:+"$pid"})
            [ -z "$pids" ] && break
            sleep 0.1
        done
        if [ -n "$pids" ]; then
            # shellcheck disable=SC2086
            kill -KILL $pids 2>/dev/null
            for ((i = 0; i < 20; i++)); do
                pids=$(members "$tag" ${pid:+"$pid"})
                [ -z "$pids" ] && break
                sleep 0.1
            done
            [ -z "$pids" ] || say "could not end the $1 processes: $(echo "$pids" | tr '\n' ' ')"
        fi
    fi
    # Reap our own child so that no zombie is left behind either.
    [ -z "$pid" ] || wait "$pid" 2>/dev/null
    return 0
}

cleanup() {
    local rc=$?
    trap '' INT TERM HUP
    trap - EXIT
    # Clients first, the X server last, so nothing dies on a lost connection
    # while it is still being asked to end cleanly.
    stop cmd "$CMD_PID"
    stop tray "$TRAY_PID"
    stop xev "$XEV_PID"
    stop wm "$WM_PID"
    stop x "$XVFB_PID"
    if [ -n "$RUNTIME" ] && [ -d "$RUNTIME" ]; then
        rm -rf -- "$RUNTIME"
    fi
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

# Prints the last lines of a helper's log after a start-up failure.
show_log() {
    if [ -s "$1" ]; then
        say "last lines of $(basename "$1"):"
        tail -n 15 "$1" | sed 's/^/    /' >&2
    fi
}

alive() {
    local st
    st=$(ps -o stat= -p "$1" 2>/dev/null) && [[ $st != Z* ]]
}

# Polls CHECK every 0.1 s for at most SECS seconds while PID stays alive.
#   wait_until SECS PID CHECK...
wait_until() {
    local secs=$1 pid=$2 i
    shift 2
    for ((i = 0; i < secs * 10; i++)); do
        "$@" && return 0
        alive "$pid" || return 2
        sleep 0.1
    done
    "$@"
}

RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-desktop.XXXXXX") || { say "mktemp failed"; exit "$SETUP_FAILED"; }
chmod 0700 "$RUNTIME"
export XDG_RUNTIME_DIR="$RUNTIME"
# Our helpers must not talk to (or autolaunch) any session bus of the
# caller's; the command gets a private one below.
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY
# GTK2 (trayer) would otherwise look for an accessibility bus.
export NO_AT_BRIDGE=1

# --- X server ---------------------------------------------------------------
# -displayfd: the server picks a free display number and writes it to fd 4
# once it accepts connections. -noreset: no server reset when the last client
# disconnects, so short-lived clients see one continuous desktop.
MIREBO_DESKTOP_TAG="$RUNTIME/x" setsid Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp -noreset \
    4>"$RUNTIME/display" </dev/null >"$RUNTIME/xvfb.log" 2>&1 &
XVFB_PID=$!

display_known() { grep -qE '^[0-9]+$' "$RUNTIME/display" 2>/dev/null; }
if ! wait_until 15 "$XVFB_PID" display_known; then
    say "Xvfb did not start"
    show_log "$RUNTIME/xvfb.log"
    exit "$SETUP_FAILED"
fi
DISPLAY=":$(head -n 1 "$RUNTIME/display")"
export DISPLAY

# --- window manager -----------------------------------------------------------
if [ "$WITH_WM" = 1 ]; then
    # A small configuration of our own, so that the user's one and the
    # system's defaults (extra desktops, key bindings) do not change how
    # windows behave under test.
    cat >"$RUNTIME/openbox-rc.xml" <<'EOF'
<?xml version="1.0" encoding="UTF-8"?>
<openbox_config xmlns="http://openbox.org/3.4/rc">
  <focus><focusNew>yes</focusNew><followMouse>no</followMouse></focus>
  <placement><policy>Smart</policy></placement>
  <desktops><number>1</number></desktops>
  <mouse>
    <context name="Frame">
      <mousebind button="A-Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
      <mousebind button="A-Left" action="Drag"><action name="Move"/></mousebind>
    </context>
    <context name="Titlebar">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
      <mousebind button="Left" action="Drag"><action name="Move"/></mousebind>
    </context>
    <context name="Client">
      <mousebind button="Left" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
      <mousebind button="Middle" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
      <mousebind button="Right" action="Press"><action name="Focus"/><action name="Raise"/></mousebind>
    </context>
    <context name="Close">
      <mousebind button="Left" action="Click"><action name="Close"/></mousebind>
    </context>
    <context name="Iconify">
      <mousebind button="Left" action="Click"><action name="Iconify"/></mousebind>
    </context>
    <context name="Maximize">
      <mousebind button="Left" action="Click"><action name="ToggleMaximize"/></mousebind>
    </context>
  </mouse>
</openbox_config>
EOF
    XDG_CONFIG_HOME="$RUNTIME/config" XDG_CACHE_HOME="$RUNTIME/cache" XDG_DATA_HOME="$RUNTIME/data" \
        MIREBO_DESKTOP_TAG="$RUNTIME/wm" setsid openbox --sm-disable --config-file "$RUNTIME/openbox-rc.xml" \
        </dev/null >"$RUNTIME/openbox.log" 2>&1 &
    WM_PID=$!

    # A window manager announces itself with _NET_SUPPORTING_WM_CHECK on the
    # root, pointing at a window that carries the same property. By then it
    # has taken over substructure redirection, so later maps go through it.
    wm_ready() {
        local id
        id=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p')
        [ -n "$id" ] && xprop -id "$id" _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "$id"
    }
    if ! wait_until 10 "$WM_PID" wm_ready; then
        say "openbox did not come up on $DISPLAY"
        show_log "$RUNTIME/openbox.log"
        exit "$SETUP_FAILED"
    fi
fi

# --- system tray ---------------------------------------------------------------
if [ "$WITH_TRAY" = 1 ]; then
    # A tray host announces that it owns _NET_SYSTEM_TRAY_S0 with a MANAGER
    # client message to the root window, sent after it got the selection.
    # No installed tool queries a selection owner, so watch the root window
    # with xev from before trayer starts until that message arrives.
    MIREBO_DESKTOP_TAG="$RUNTIME/xev" setsid stdbuf -oL xev -root -event structure -event property \
        </dev/null >"$RUNTIME/xev.log" 2>&1 &
    XEV_PID=$!
    # xev prints nothing until it has selected its events; a root property
    # change it reports proves it is listening.
    n=0
    xev_listening() {
        n=$((n + 1))
        xprop -root -f _MIREBO_DESKTOP_SYNC 32c -set _MIREBO_DESKTOP_SYNC "$n" 2>/dev/null
        grep -q '(_MIREBO_DESKTOP_SYNC)' "$RUNTIME/xev.log"
    }
    if ! wait_until 10 "$XEV_PID" xev_listening; then
        say "xev could not watch the root window"
        show_log "$RUNTIME/xev.log"
        exit "$SETUP_FAILED"
    fi
    xprop -root -remove _MIREBO_DESKTOP_SYNC 2>/dev/null

    MIREBO_DESKTOP_TAG="$RUNTIME/tray" setsid trayer --edge top --align right --widthtype request --height 24 \
        </dev/null >"$RUNTIME/trayer.log" 2>&1 &
    TRAY_PID=$!
    tray_owned() { grep -q 'message_type 0x[0-9a-fA-F]* (MANAGER)' "$RUNTIME/xev.log"; }
    if ! wait_until 10 "$TRAY_PID" tray_owned; then
        say "trayer did not take the system tray selection on $DISPLAY"
        show_log "$RUNTIME/trayer.log"
        exit "$SETUP_FAILED"
    fi
    stop xev "$XEV_PID"
    XEV_PID=""
fi

# --- the command ----------------------------------------------------------------
export QT_QPA_PLATFORM=xcb
export MIREBO_DESKTOP=1
export MIREBO_DESKTOP_DISPLAY="$DISPLAY"
# Keep stdin for the command: a background job would otherwise read /dev/null.
if (exec 9<&0) 2>/dev/null; then exec 3<&0; else exec 3</dev/null; fi
MIREBO_DESKTOP_TAG="$RUNTIME/cmd" setsid dbus-run-session -- "$@" <&3 &
CMD_PID=$!
exec 3<&-
wait "$CMD_PID"
rc=$?
exit "$rc"
