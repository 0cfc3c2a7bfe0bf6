#!/usr/bin/env bash
# Runs a command on a private, throwaway X desktop and tears it all down again.
#
#   scripts/with-desktop.sh [--wm openbox|fluxbox|xfwm4|none] [--no-wm]
#                           [--tray trayer|xfce4-panel|none] [--no-tray] -- CMD ARGS...
#
# The desktop is an Xvfb server (1024x768x24, display number chosen by the server, so it never
# collides with another desktop on a shared machine), a window manager (openbox by default, each
# with its configuration from scripts/desktop/) and a trayer system tray (XEmbed). The command runs
# under its own session bus, on which nobody provides a StatusNotifier watcher, so Qt docks its
# tray icon as an X window that tests can see and click. With --tray xfce4-panel the tray is
# instead a panel along the top that hosts StatusNotifierItems and draws their menus itself
# (libdbusmenu): it shares the command's session bus, where it is the watcher.
#
# Environment given to CMD: DISPLAY, XDG_RUNTIME_DIR (private, 0700), QT_QPA_PLATFORM=xcb,
# DBUS_SESSION_BUS_ADDRESS (private bus), MIREBO_DESKTOP=1, MIREBO_DESKTOP_DISPLAY (= DISPLAY),
# MIREBO_DESKTOP_SERVER_PID (the Xvfb), MIREBO_WM (the window manager's name, or none), MIREBO_TRAY
# (the tray's, or none) and MIREBO_XTOOL (tests/tools/xtool, which the tray needs: default
# build/tests/tools/xtool).
#
# Exit status: that of CMD; 77 if Xvfb is not installed (cannot run here); 125 if the desktop could
# not be set up; 2 on a usage error.
#
# Each part of the desktop carries a tag of its own in its environment, which everything it starts
# inherits, even what detaches with setsid (only a program that empties its environment escapes
# it). On exit (normal end, error, INT, TERM, HUP) each part is ended with all that carries its
# tag: the command's processes first, the X server last. Only a SIGKILL of this script itself
# leaves the desktop behind.
# shellcheck disable=SC2317   # functions called from traps and through wait_until
set -uo pipefail
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$HERE/lib.sh"
# shellcheck disable=SC2034   # die's status: the desktop could not be set up
DIE_STATUS=125

WM=openbox TRAY=trayer RUNTIME=""
XTOOL=${MIREBO_XTOOL:-$HERE/../build/tests/tools/xtool}
usage() {
    echo "usage: $0 [--wm openbox|fluxbox|xfwm4|none] [--no-wm] [--tray trayer|xfce4-panel|none] [--no-tray] -- CMD ARGS..." >&2
    exit 2
}
while [ $# -gt 0 ]; do
    case "$1" in
        --wm) [ $# -ge 2 ] || usage; WM=$2; shift ;;
        --no-wm) WM=none ;;
        --tray) [ $# -ge 2 ] || usage; TRAY=$2; shift ;;
        --no-tray) TRAY=none ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage
case $WM in openbox | fluxbox | xfwm4 | none) ;; *) echo "with-desktop: no such window manager: $WM" >&2; usage ;; esac
case $TRAY in trayer | xfce4-panel | none) ;; *) echo "with-desktop: no such tray: $TRAY" >&2; usage ;; esac

command -v Xvfb >/dev/null 2>&1 || { say "Xvfb is not installed (package xvfb); cannot run a desktop here"; exit 77; }
tools=(setsid xprop dbus-run-session)
[ "$WM" = none ] || tools+=("$WM")
[ "$TRAY" = none ] || tools+=("$TRAY")
[ "$TRAY" != xfce4-panel ] || tools+=(dbus-daemon dbus-send)
for tool in "${tools[@]}"; do command -v "$tool" >/dev/null 2>&1 || die "$tool is not installed"; done
[ "$TRAY" = none ] || [ -x "$XTOOL" ] || die "no $XTOOL: build it (cmake --build --preset tests --target xtool) or set MIREBO_XTOOL"

cleanup() {
    local rc=$? part
    if [ -n "$RUNTIME" ]; then
        # Clients before the X server, so that nothing dies on a lost connection while it is still
        # being asked to end cleanly.
        for part in cmd tray wm x; do
            end_tagged 3 "MIREBO_DESKTOP_TAG=$RUNTIME/$part" || say "could not end the $part processes"
        done
        rm -rf -- "$RUNTIME"
    fi
    exit "$rc"
}
on_exit cleanup

RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-desktop.XXXXXX") || die "mktemp failed"
chmod 0700 "$RUNTIME"
export XDG_RUNTIME_DIR="$RUNTIME"
# Our helpers must not talk to (or autolaunch) any session bus of the caller's; the command gets a
# private one below. GTK (trayer, xfwm4) would otherwise look for an accessibility bus.
unset DBUS_SESSION_BUS_ADDRESS AT_SPI_BUS_ADDRESS WAYLAND_DISPLAY
export NO_AT_BRIDGE=1

# start PART LOG CMD...: starts one part of the desktop, tagged, in a session of its own and with a
# home and settings apart from the user's.
start() {
    local part=$1 log=$2
    shift 2
    MIREBO_DESKTOP_TAG="$RUNTIME/$part" HOME="$RUNTIME/home" XDG_CONFIG_HOME="$RUNTIME/config" \
        XDG_CACHE_HOME="$RUNTIME/cache" XDG_DATA_HOME="$RUNTIME/data" setsid "$@" </dev/null >"$log" 2>&1 &
}

# -displayfd: the server picks a free display number and writes it to fd 4 once it accepts
# connections. -noreset: no reset when the last client disconnects, so short-lived clients see one
# continuous desktop.
start x "$RUNTIME/xvfb.log" Xvfb -displayfd 4 -screen 0 1024x768x24 -nolisten tcp -noreset 4>"$RUNTIME/display"
XVFB_PID=$!
wait_until --while "$XVFB_PID" 15 grep -qE '^[0-9]+$' "$RUNTIME/display" || die "Xvfb did not start" "$RUNTIME/xvfb.log"
DISPLAY=":$(head -n 1 "$RUNTIME/display")" && export DISPLAY

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
# A window manager announces itself with _NET_SUPPORTING_WM_CHECK on the root, pointing at a window
# that carries the same property. By then it redirects the root's substructure, so later maps go
# through it.
wm_ready() {
    local id
    id=$(xprop -root _NET_SUPPORTING_WM_CHECK 2>/dev/null | sed -n 's/.*window id # \(0x[0-9a-fA-F]*\).*/\1/p')
    [ -n "$id" ] && xprop -id "$id" _NET_SUPPORTING_WM_CHECK 2>/dev/null | grep -q "$id"
}
[ "$WM" = none ] || wait_until --while $! 10 wm_ready || die "$WM did not come up on $DISPLAY" "$RUNTIME/wm.log"

# A tray host owns the selection _NET_SYSTEM_TRAY_S0 once it is ready to dock icons.
tray_owned() { [ "$("$XTOOL" --selection-owner _NET_SYSTEM_TRAY_S0 2>/dev/null || echo 0x0)" != 0x0 ]; }
SESSION=(dbus-run-session --)
if [ "$TRAY" = trayer ]; then
    tray_owned && die "something on $DISPLAY owns the system tray before trayer started"
    start tray "$RUNTIME/trayer.log" trayer --edge top --align right --widthtype request --height 24
    wait_until --while $! 10 tray_owned || die "trayer did not take the system tray on $DISPLAY" "$RUNTIME/trayer.log"
elif [ "$TRAY" = xfce4-panel ]; then
    # Items find the panel on the session bus, so the command gets the panel's. The bus belongs
    # to the tray part, with the desktop's home and settings, which the services it starts
    # (xfconfd, which hands the panel its settings) inherit.
    cp "$HERE/desktop/xfce4-panel.xml" "$RUNTIME/config/xfce4/xfconf/xfce-perchannel-xml/"
    start tray "$RUNTIME/bus.log" dbus-daemon --session --nofork --print-address=5 5>"$RUNTIME/bus"
    wait_until --while $! 10 grep -q . "$RUNTIME/bus" || die "no session bus for the panel" "$RUNTIME/bus.log"
    DBUS_SESSION_BUS_ADDRESS=$(head -n 1 "$RUNTIME/bus") && export DBUS_SESSION_BUS_ADDRESS
    SESSION=()
    watcher_owned() {
        dbus-send --session --print-reply=literal --dest=org.freedesktop.DBus /org/freedesktop/DBus \
            org.freedesktop.DBus.NameHasOwner string:org.kde.StatusNotifierWatcher 2>/dev/null | grep -q true
    }
    start tray "$RUNTIME/panel.log" xfce4-panel --disable-wm-check
    wait_until --while $! 15 watcher_owned || die "xfce4-panel did not become the StatusNotifier watcher" "$RUNTIME/panel.log"
fi

export QT_QPA_PLATFORM=xcb MIREBO_DESKTOP=1 MIREBO_DESKTOP_DISPLAY="$DISPLAY" MIREBO_WM="$WM" MIREBO_TRAY="$TRAY" \
    MIREBO_DESKTOP_SERVER_PID="$XVFB_PID" MIREBO_XTOOL="$XTOOL"
# The command keeps our stdin: a background job would otherwise read /dev/null.
if (exec 9<&0) 2>/dev/null; then exec 3<&0; else exec 3</dev/null; fi
MIREBO_DESKTOP_TAG="$RUNTIME/cmd" setsid "${SESSION[@]}" "$@" <&3 &
CMD_PID=$!
exec 3<&-
wait "$CMD_PID"
