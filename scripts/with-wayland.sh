#!/usr/bin/env bash
# Runs a command on a private, throwaway Wayland session and tears it all down again.
#
#   scripts/with-wayland.sh [--sway|--kwin|--gnome] [--copy PATH]... [--install BUILD] -- CMD ARGS...
#
# The session is a headless sway (1024x768) with Xwayland and swaybar, whose tray hosts
# StatusNotifierItems, under a private session bus; with --kwin, KDE's KWin (kwin_wayland
# --virtual, 1024x768) with Xwayland instead, and no tray (that is Plasma's panel); with --gnome,
# GNOME Shell (--headless, 1024x768) with Xwayland, its AppIndicator extension as the tray host
# and our own extension enabled as a user enables them. sway refuses to run as root: run as
# root, this script runs the compositor, the bus and CMD as the user nobody; otherwise as the
# caller. GNOME Shell talks to the login manager wherever /run/systemd/seats exists, and dies
# without one: as root it gets a mount namespace of its own with an empty /run/systemd (and a
# /tmp/.X11-unix it may write to), and a stand-in system bus for the services it asks there.
#
# Each --copy PATH is copied into a directory that user can read, where CMD starts (it is
# CMD's working directory, also named in MIREBO_SWAY_FILES): a build tree or a checkout the
# user cannot read stays out of the way. Under KWin each copied program is granted KWin's window
# list, as an installed mirebo is by its desktop entry. --install BUILD installs the program and
# the GNOME extension of the build directory BUILD as the package does, under the prefix
# $MIREBO_PREFIX (in the session's directory; the extension's callers file names the program
# there). With ARTIFACTS set, CMD gets a directory
# of its own there instead, whose files are copied into the real one at the end.
#
# Environment given to CMD: SRC (the copies), WAYLAND_DISPLAY, DISPLAY (Xwayland), SWAYSOCK (sway), XAUTHORITY
# (GNOME), DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR (private, 0700), MIREBO_SWAY=1,
# MIREBO_COMPOSITOR (sway, kwin or gnome), MIREBO_SWAY_FILES, MIREBO_PREFIX (--install),
# MIREBO_COMPOSITOR_LOG (the compositor's output so far).
#
# Exit status: that of CMD; 77 if the compositor, Xwayland or dbus is not installed; 125 if the
# session could not be set up; 2 on a usage error. Everything started carries a tag in its
# environment (the compositor passes it to what it starts); on exit whatever has it is ended.
# shellcheck disable=SC2317   # functions called from traps and through wait_until
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$HERE/lib.sh"
usage() { echo "usage: $0 [--sway|--kwin|--gnome] [--copy PATH]... [--install BUILD] -- CMD ARGS..." >&2; exit 2; }

COPIES=()
INSTALL=""
COMPOSITOR=sway
while [ $# -gt 0 ]; do
    case "$1" in
        --sway | --kwin | --gnome) COMPOSITOR=${1#--} ;;
        --copy) [ $# -ge 2 ] || usage; COPIES+=("$2"); shift ;;
        --install) [ $# -ge 2 ] || usage; INSTALL=$2; shift ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage

case $COMPOSITOR in
    sway) TOOLS=(sway swaybar) ;;
    kwin) TOOLS=(kwin_wayland kbuildsycoca5) ;;
    gnome) TOOLS=(gnome-shell gsettings dbus-daemon unshare) ;;
esac
[ -z "$INSTALL" ] || TOOLS+=(cmake)
for tool in "${TOOLS[@]}" Xwayland dbus-run-session; do
    command -v "$tool" >/dev/null 2>&1 || { say "$tool is not installed (packages $COMPOSITOR, xwayland, dbus)"; exit 77; }
done

AS=()
if [ "$(id -u)" = 0 ]; then
    command -v setpriv >/dev/null 2>&1 || { say "setpriv is not installed (package util-linux)"; exit 125; }
    AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
elif [ "$COMPOSITOR" = gnome ] && [ -e /run/systemd/seats ]; then
    say "GNOME Shell would look for the login manager here: run as root, for a mount namespace without it"
    exit 77
fi

RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-sway.XXXXXX") || exit 125
TAG="MIREBO_SWAY_TAG=$RUNTIME"
REAL_ARTIFACTS=${ARTIFACTS:-}

cleanup() {
    local rc=$?
    end_tagged 3 "$TAG" || say "could not end: $(tagged "$TAG" | tr '\n' ' ')"
    if [ -n "$REAL_ARTIFACTS" ] && [ -d "$RUNTIME/files/artifacts" ]; then
        mkdir -p "$REAL_ARTIFACTS" && cp -r "$RUNTIME/files/artifacts/." "$REAL_ARTIFACTS/"
    fi
    rm -rf -- "$RUNTIME"
    exit "$rc"
}
on_exit cleanup

mkdir -p "$RUNTIME/files" "$RUNTIME/home" "$RUNTIME/share/applications" "$RUNTIME/cache"
for path in "${COPIES[@]}"; do
    cp -- "$path" "$RUNTIME/files/" || exit 125
done
# The helpers the tests share come along, and the copies stand for the source root (SRC): the
# user may not be able to read the checkout.
mkdir -p "$RUNTIME/files/scripts" && cp -- "$HERE/lib.sh" "$RUNTIME/files/scripts/" || exit 125
[ -z "$REAL_ARTIFACTS" ] || mkdir -p "$RUNTIME/files/artifacts"
if [ -n "$INSTALL" ]; then
    for component in program gnome_extension; do
        cmake --install "$INSTALL" --prefix "$RUNTIME/usr" --component "$component" >"$RUNTIME/install.log" 2>&1 \
            || { say "could not install $component from $INSTALL"; cat "$RUNTIME/install.log" >&2; exit 125; }
    done
fi
# The first thing the session starts writes down its environment: the addresses for CMD.
printf '#!/bin/sh\nenv >%s\nexec sleep 1000000\n' "$RUNTIME/session.env" >"$RUNTIME/session.sh"
chmod 755 "$RUNTIME/session.sh"
if [ "$COMPOSITOR" = sway ]; then
    cat >"$RUNTIME/config" <<EOF
output HEADLESS-1 mode 1024x768
xwayland force
bar {
    position top
    tray_output *
}
exec sh $RUNTIME/session.sh
EOF
    START=(sway -c "$RUNTIME/config")
elif [ "$COMPOSITOR" = gnome ]; then
    # A first login's settings: extensions on, the tray's and ours enabled. Then the shell.
    cat >"$RUNTIME/gnome.sh" <<EOF
#!/bin/sh
gsettings set org.gnome.shell disable-user-extensions false
gsettings set org.gnome.shell enabled-extensions "['ubuntu-appindicators@ubuntu.com', 'mirebo-windows@mirebo.github.io']"
env >$RUNTIME/session.env
exec gnome-shell --headless --wayland --virtual-monitor 1024x768 --wayland-display wayland-mirebo
EOF
    chmod 755 "$RUNTIME/gnome.sh"
    START=("$RUNTIME/gnome.sh")
else
    # A copy: the installed binary may carry file capabilities that this container's bounding
    # set forbids (exec then fails), and a copy has none.
    cp "$(command -v kwin_wayland)" "$RUNTIME/kwin_wayland" || exit 125
    for path in "${COPIES[@]}"; do
        [ -x "$path" ] || continue
        name=$(basename "$path")
        printf '[Desktop Entry]\nType=Application\nName=%s\nExec=%s\nNoDisplay=true\nX-KDE-Wayland-Interfaces=%s\n' \
            "$name" "$RUNTIME/files/$name" org_kde_plasma_window_management \
            >"$RUNTIME/share/applications/mirebo-granted-$name.desktop"
    done
    START=("$RUNTIME/kwin_wayland" --virtual --xwayland --socket wayland-mirebo --no-lockscreen
        --no-global-shortcuts --no-kactivities --exit-with-session "$RUNTIME/session.sh")
fi
chmod -R a+rX "$RUNTIME"
if [ ${#AS[@]} -gt 0 ]; then chown -R nobody:nogroup "$RUNTIME"; fi
chmod 0700 "$RUNTIME"

SESSION=(env -i PATH="$PATH" HOME="$RUNTIME/home" XDG_RUNTIME_DIR="$RUNTIME" LANG=C.UTF-8 "$TAG"
    XDG_DATA_HOME="$RUNTIME/share" XDG_CACHE_HOME="$RUNTIME/cache"
    XDG_DATA_DIRS="${INSTALL:+$RUNTIME/usr/share:}/usr/local/share:/usr/share"
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman "${AS[@]}")
# KWin reads desktop entries through KService's cache, not from the files.
if [ "$COMPOSITOR" = kwin ] && ! "${SESSION[@]}" kbuildsycoca5 --noincremental >"$RUNTIME/sycoca.log" 2>&1; then
    say "kbuildsycoca5 failed"
    exit 125
fi
if [ "$COMPOSITOR" = gnome ]; then
    BEFORE=()
    if [ ${#AS[@]} -gt 0 ]; then
        [ -d /tmp/.X11-unix ] || install -d -m 1777 /tmp/.X11-unix
        BEFORE=(unshare -m --propagation private sh -c \
            'mount -t tmpfs -o mode=755 none /run/systemd && mount -t tmpfs -o mode=1777 none /tmp/.X11-unix && exec "$@"' sh)
    fi
    # X clients outside that namespace still reach Xwayland: by its abstract socket.
    "${BEFORE[@]}" "${SESSION[@]}" sh -c 'DBUS_SYSTEM_BUS_ADDRESS=$(dbus-daemon --session --fork --print-address=1) \
        && export DBUS_SYSTEM_BUS_ADDRESS && exec dbus-run-session -- "$@"' sh "${START[@]}" \
        </dev/null >"$RUNTIME/compositor.log" 2>&1 &
else
    "${SESSION[@]}" dbus-run-session -- "${START[@]}" </dev/null >"$RUNTIME/compositor.log" 2>&1 &
fi
STARTED=$!
ready() {
    case $COMPOSITOR in
        gnome) grep -q 'GNOME Shell started' "$RUNTIME/compositor.log" 2>/dev/null && grep -q 'X11 display :' "$RUNTIME/compositor.log" ;;
        kwin) grep -q '^DISPLAY=' "$RUNTIME/session.env" 2>/dev/null ;;
        sway) grep -q '^DISPLAY=' "$RUNTIME/session.env" 2>/dev/null && grep -q '^SWAYSOCK=' "$RUNTIME/session.env" ;;
    esac
}
if ! wait_until --while "$STARTED" 15 ready; then
    say "$COMPOSITOR did not start"
    tail -n 15 "$RUNTIME/compositor.log" | sed 's/^/    /' >&2
    exit 125
fi

# --- the command ------------------------------------------------------------------
while IFS= read -r line; do
    case $line in
        WAYLAND_DISPLAY=* | DISPLAY=* | SWAYSOCK=* | DBUS_SESSION_BUS_ADDRESS=*) export "${line?}" ;;
    esac
done <"$RUNTIME/session.env"
if [ "$COMPOSITOR" = gnome ]; then
    # GNOME Shell starts Xwayland itself and names its display only in its log.
    DISPLAY=$(sed -n 's/.*Using public X11 display \(:[0-9]*\).*/\1/p' "$RUNTIME/compositor.log" | head -n 1)
    XAUTHORITY=$(ls "$RUNTIME"/.mutter-Xwaylandauth.* 2>/dev/null | head -n 1)
    export DISPLAY XAUTHORITY WAYLAND_DISPLAY=wayland-mirebo XDG_CURRENT_DESKTOP=GNOME
fi
export SRC="$RUNTIME/files" XDG_RUNTIME_DIR="$RUNTIME" HOME="$RUNTIME/home" MIREBO_SWAY=1 MIREBO_COMPOSITOR="$COMPOSITOR" \
    MIREBO_SWAY_FILES="$RUNTIME/files" MIREBO_COMPOSITOR_LOG="$RUNTIME/compositor.log"
[ -z "$INSTALL" ] || export MIREBO_PREFIX="$RUNTIME/usr"
[ -z "$REAL_ARTIFACTS" ] || export ARTIFACTS="$RUNTIME/files/artifacts"
unset QT_QPA_PLATFORM
cd "$RUNTIME/files" || exit 125
# The tag goes to CMD alone: this script's own helpers must not carry it.
env "$TAG" "${AS[@]}" "$@"
