#!/usr/bin/env bash
# Runs a command on a private, throwaway Wayland session and tears it all down again.
#
#   scripts/with-wayland.sh [--sway|--kwin] [--copy PATH]... -- CMD ARGS...
#
# The session is a headless sway (1024x768) with Xwayland and swaybar, whose tray hosts
# StatusNotifierItems, under a private session bus; with --kwin, KDE's KWin (kwin_wayland
# --virtual, 1024x768) with Xwayland instead, and no tray (that is Plasma's panel). sway refuses
# to run as root: run as root, this script runs the compositor, the bus and CMD as the user
# nobody; otherwise as the caller.
#
# Each --copy PATH is copied into a directory that user can read, where CMD starts (it is
# CMD's working directory, also named in MIREBO_SWAY_FILES): a build tree or a checkout the
# user cannot read stays out of the way. Under KWin each copied program is granted KWin's window
# list, as an installed mirebo is by its desktop entry. With ARTIFACTS set, CMD gets a directory
# of its own there instead, whose files are copied into the real one at the end.
#
# Environment given to CMD: WAYLAND_DISPLAY, DISPLAY (Xwayland), SWAYSOCK (sway),
# DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR (private, 0700), MIREBO_SWAY=1,
# MIREBO_COMPOSITOR (sway or kwin), MIREBO_SWAY_FILES.
#
# Exit status: that of CMD; 77 if the compositor, Xwayland or dbus is not installed; 125 if the
# session could not be set up; 2 on a usage error. Everything started carries a tag in its
# environment (the compositor passes it to what it starts); on exit whatever has it is ended.
# shellcheck disable=SC2317   # functions called from traps and through wait_until
set -uo pipefail

HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
. "$HERE/lib.sh"
usage() { echo "usage: $0 [--sway|--kwin] [--copy PATH]... -- CMD ARGS..." >&2; exit 2; }

COPIES=()
COMPOSITOR=sway
while [ $# -gt 0 ]; do
    case "$1" in
        --sway | --kwin) COMPOSITOR=${1#--} ;;
        --copy) [ $# -ge 2 ] || usage; COPIES+=("$2"); shift ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage

TOOLS=(sway swaybar)
[ "$COMPOSITOR" = sway ] || TOOLS=(kwin_wayland kbuildsycoca5)
for tool in "${TOOLS[@]}" Xwayland dbus-run-session; do
    command -v "$tool" >/dev/null 2>&1 || { say "$tool is not installed (packages $COMPOSITOR, xwayland, dbus)"; exit 77; }
done

AS=()
if [ "$(id -u)" = 0 ]; then
    command -v setpriv >/dev/null 2>&1 || { say "setpriv is not installed (package util-linux)"; exit 125; }
    AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
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
[ -z "$REAL_ARTIFACTS" ] || mkdir -p "$RUNTIME/files/artifacts"
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
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman "${AS[@]}")
# KWin reads desktop entries through KService's cache, not from the files.
if [ "$COMPOSITOR" = kwin ] && ! "${SESSION[@]}" kbuildsycoca5 --noincremental >"$RUNTIME/sycoca.log" 2>&1; then
    say "kbuildsycoca5 failed"
    exit 125
fi
"${SESSION[@]}" dbus-run-session -- "${START[@]}" </dev/null >"$RUNTIME/compositor.log" 2>&1 &
STARTED=$!
ready() {
    grep -q '^DISPLAY=' "$RUNTIME/session.env" 2>/dev/null \
        && { [ "$COMPOSITOR" = kwin ] || grep -q '^SWAYSOCK=' "$RUNTIME/session.env"; }
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
export XDG_RUNTIME_DIR="$RUNTIME" HOME="$RUNTIME/home" MIREBO_SWAY=1 MIREBO_COMPOSITOR="$COMPOSITOR" \
    MIREBO_SWAY_FILES="$RUNTIME/files"
[ -z "$REAL_ARTIFACTS" ] || export ARTIFACTS="$RUNTIME/files/artifacts"
unset QT_QPA_PLATFORM
cd "$RUNTIME/files" || exit 125
# The tag goes to CMD alone: this script's own helpers must not carry it.
env "$TAG" "${AS[@]}" "$@"
