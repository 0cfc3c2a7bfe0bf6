#!/usr/bin/env bash
# Runs a command on a private, throwaway X desktop and tears it all down again.
#
#   scripts/with-desktop.sh [--wm openbox|fluxbox|xfwm4|none] [--no-wm] [--no-tray] -- CMD ARGS...
#
# The desktop is an Xvfb server (1024x768x24, display number chosen by the server, so it never
# collides with another desktop on a shared machine), a window manager (openbox by default,
# each with its configuration from scripts/desktop/) and a trayer system tray (XEmbed). The
# command runs under its own session bus, on which nobody provides a StatusNotifier watcher, so
# Qt docks its tray icon as an X window that tests can see and click.
#
# Environment given to CMD: DISPLAY, XDG_RUNTIME_DIR (private, 0700), QT_QPA_PLATFORM=xcb,
# DBUS_SESSION_BUS_ADDRESS (private bus), MIREBO_DESKTOP=1, MIREBO_DESKTOP_DISPLAY (= DISPLAY),
# MIREBO_DESKTOP_SERVER_PID (the Xvfb) and MIREBO_WM (the window manager's name, or none).
# The tray needs the xtool program (MIREBO_XTOOL, default build/tests/tools/xtool).
#
# Exit status: that of CMD; 77 if Xvfb is not installed (cannot run here); 125 if the desktop
# could not be set up; 2 on a usage error.
#
# Each part of the desktop runs in a session of its own and carries a tag in its environment
# (MIREBO_DESKTOP_TAG). On exit (normal end, error, INT, TERM, HUP) everything in those
# sessions, with that tag or descending from either is ended, the command's processes first
# and the X server last. That covers what CMD left running in the background, even what
# detached with setsid. Only a SIGKILL of this script itself leaves the desktop behind.
# Functions called from traps and through wait_until look unreachable to the linter.
# shellcheck disable=SC2317
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$HERE/lib.sh"

SETUP_FAILED=125
WM=openbox
WITH_TRAY=1
XTOOL=${MIREBO_XTOOL:-$HERE/../build/tests/tools/xtool}

usage() {
    echo "usage: $0 [--wm openbox|fluxbox|xfwm4|none] [--no-wm] [--no-tray] -- CMD ARGS..." >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --wm) [ $# -ge 2 ] || usage; WM=$2; shift ;;
        --no-wm) WM=none ;;
        --no-tray) WITH_TRAY=0 ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage
case $WM in openbox | fluxbox | xfwm4 | none) ;; *) echo "with-desktop: no such window manager: $WM" >&2; usage ;; esac

say() { echo "with-desktop: $*" >&2; }
die() {
    say "$1"
    [ -s "${2:-}" ] && { say "last lines of $(basename "$2"):"; tail -n 15 "$2" | sed 's/^/    /' >&2; }
    exit "$SETUP_FAILED"
}

command -v Xvfb >/dev/null 2>&1 || { say "Xvfb is not installed (package xvfb); cannot run a desktop here"; exit 77; }
need() { command -v "$1" >/dev/null 2>&1 || die "$1 is not installed (package ${2:-$1})"; }
need setsid util-linux
need ps procps
need xprop x11-utils
need dbus-run-session dbus
[ "$WM" = none ] || need "$WM"
if [ "$WITH_TRAY" = 1 ]; then
    need trayer
    [ -x "$XTOOL" ] || die "no $XTOOL: build it (cmake --build build --target xtool) or set MIREBO_XTOOL"
fi

# The session leader of each part of the desktop.
CMD_PID="" TRAY_PID="" WM_PID="" XVFB_PID="" RUNTIME=""

# Prints the live (non-zombie) processes started for one part of the desktop: those in the
# sessions led by the given pids, those carrying that part's tag in their environment, and
# everything descending from either. Sessions catch what was orphaned and re-parented to init,
# the tag catches what also started a session of its own, descent catches what changed its
# environment.
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
_none_left() { [ -z "$(members "$@")" ]; }

# Ends one part of the desktop: TERM, up to 3 s of grace, then KILL, each to everything that
# belongs to it by then.
#   stop ROLE [PID]
stop() {
    local tag="$RUNTIME/$1" pid=${2:-} sig pids
    [ -n "$RUNTIME" ] || return 0
    for sig in TERM KILL; do
        pids=$(members "$tag" ${pid:+"$pid"})
        [ -n "$pids" ] || break
        # shellcheck disable=SC2086
        kill -"$sig" $pids 2>/dev/null
        wait_until 3 _none_left "$tag" ${pid:+"$pid"} && break
    done
    _none_left "$tag" ${pid:+"$pid"} || say "could not end the $1 processes: $(members "$tag" ${pid:+"$pid"} | tr '\n' ' ')"
    # Reap our own child so that no zombie is left behind either.
    [ -z "$pid" ] || wait "$pid" 2>/dev/null
    return 0
}

cleanup() {
    local rc=$?
    trap '' INT TERM HUP
    trap - EXIT
    # Clients first, the X server last, so nothing dies on a lost connection while it is still
    # being asked to end cleanly.
    stop cmd "$CMD_PID"
    stop tray "$TRAY_PID"
    stop wm "$WM_PID"
    stop x "$XVFB_PID"
    [ -z "$RUNTIME" ] || rm -rf -- "$RUNTIME"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-desktop.XXXXXX") || die "mktemp failed"
chmod 0700 "$RUNTIME"
export XDG_RUNTIME_DIR="$RUNTIME"
# Our helpers must not talk to (or autolaunch) any session bus of the caller's; the command gets
# a private one below.
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY
# GTK (trayer, xfwm4) would otherwise look for an accessibility bus.
export NO_AT_BRIDGE=1

# start ROLE LOG CMD...: starts one part of the desktop in a session of its own, tagged; the
# helpers get a home and settings of their own, apart from the user's.
start() {
    local role=$1 log=$2
    shift 2
    MIREBO_DESKTOP_TAG="$RUNTIME/$role" HOME="$RUNTIME/home" XDG_CONFIG_HOME="$RUNTIME/config" \
        XDG_CACHE_HOME="$RUNTIME/cache" XDG_DATA_HOME="$RUNTIME/data" setsid "$@" </dev/null >"$log" 2>&1 &
}

# --- X server ------------------------------------------------------------------------------
# -displayfd: the server picks a free display number and writes it to fd 4 once it accepts
# connections. -noreset: no server reset when the last client disconnects, so short-lived
# clients see one continuous desktop.
start x "$RUNTIME/xvfb.log" Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp -noreset 4>"$RUNTIME/display"
XVFB_PID=$!
display_known() { grep -qE '^[0-9]+$' "$RUNTIME/display" 2>/dev/null; }
wait_until --while "$XVFB_PID" 15 display_known || die "Xvfb did not start" "$RUNTIME/xvfb.log"
DISPLAY=":$(head -n 1 "$RUNTIME/display")"
export DISPLAY

# --- window manager ------------------------------------------------------------------------
mkdir -p "$RUNTIME/home/.fluxbox" "$RUNTIME/config/xfce4/xfconf/xfce-perchannel-xml"
case $WM in
    openbox) start wm "$RUNTIME/wm.log" openbox --sm-disable --config-file "$HERE/desktop/openbox-rc.xml" ;;
    fluxbox)
        # fluxbox writes back to its init file, so it gets a copy.
        cp "$HERE/desktop/fluxbox-init" "$RUNTIME/home/.fluxbox/init"
        cp "$HERE/desktop/fluxbox-overlay" "$RUNTIME/home/.fluxbox/overlay"
        start wm "$RUNTIME/wm.log" fluxbox -rc "$RUNTIME/home/.fluxbox/init" ;;
    xfwm4)
        # xfwm4 reads its settings only through xfconfd, which its own bus starts on demand.
        cp "$HERE/desktop/xfwm4.xml" "$RUNTIME/config/xfce4/xfconf/xfce-perchannel-xml/"
        start wm "$RUNTIME/wm.log" dbus-run-session -- xfwm4 --compositor=off --sm-client-disable ;;
esac
[ "$WM" = none ] || WM_PID=$!
# A window manager announces itself with _NET_SUPPORTING_WM_CHECK on the root, pointing at a
# window that carries the same property. By then it has taken over substructure redirection,
# so later maps go through it.
wm_ready() {
    local id
    id=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p')
    [ -n "$id" ] && xprop -id "$id" _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "$id"
}
if [ "$WM" != none ]; then
    wait_until --while "$WM_PID" 10 wm_ready || die "$WM did not come up on $DISPLAY" "$RUNTIME/wm.log"
fi

# --- system tray ---------------------------------------------------------------------------
# A tray host owns the selection _NET_SYSTEM_TRAY_S0 once it is ready to dock icons.
tray_owned() { [ "$("$XTOOL" --selection-owner _NET_SYSTEM_TRAY_S0 2>/dev/null || echo 0x0)" != 0x0 ]; }
if [ "$WITH_TRAY" = 1 ]; then
    tray_owned && die "something on $DISPLAY owns the system tray before trayer started"
    start tray "$RUNTIME/trayer.log" trayer --edge top --align right --widthtype request --height 24
    TRAY_PID=$!
    wait_until --while "$TRAY_PID" 10 tray_owned || die "trayer did not take the system tray on $DISPLAY" "$RUNTIME/trayer.log"
fi

# --- the command ---------------------------------------------------------------------------
export QT_QPA_PLATFORM=xcb MIREBO_DESKTOP=1 MIREBO_DESKTOP_DISPLAY="$DISPLAY" MIREBO_WM="$WM" \
    MIREBO_DESKTOP_SERVER_PID="$XVFB_PID" MIREBO_XTOOL="$XTOOL"
# Keep stdin for the command: a background job would otherwise read /dev/null.
if (exec 9<&0) 2>/dev/null; then exec 3<&0; else exec 3</dev/null; fi
MIREBO_DESKTOP_TAG="$RUNTIME/cmd" setsid dbus-run-session -- "$@" <&3 &
CMD_PID=$!
exec 3<&-
wait "$CMD_PID"
