#!/usr/bin/env bash
# Runs a command on a private, throwaway Wayland session and tears it all down again.
#
#   scripts/with-sway.sh [--copy PATH]... -- CMD ARGS...
#
# The session is a headless sway (1024x768) with Xwayland and swaybar, whose tray hosts
# StatusNotifierItems, under a private session bus. sway refuses to run as root: run as root,
# this script runs sway, the bus and CMD as the user nobody; otherwise as the caller.
#
# Each --copy PATH is copied into a directory that user can read, where CMD starts (it is
# CMD's working directory, also named in MIREBO_SWAY_FILES): a build tree or a checkout the
# user cannot read stays out of the way. With ARTIFACTS set, CMD gets a directory of its own
# there instead, whose files are copied into the real one at the end.
#
# Environment given to CMD: WAYLAND_DISPLAY, DISPLAY (Xwayland), SWAYSOCK,
# DBUS_SESSION_BUS_ADDRESS, XDG_RUNTIME_DIR (private, 0700), MIREBO_SWAY=1, MIREBO_SWAY_FILES.
#
# Exit status: that of CMD; 77 if sway, Xwayland or swaybar is not installed; 125 if the session
# could not be set up; 2 on a usage error. Everything started carries a tag in its environment
# (sway passes it to what it starts); on exit whatever has it is ended.
# shellcheck disable=SC2317
set -uo pipefail

readonly ME="with-sway"
say() { echo "$ME: $*" >&2; }
usage() { echo "usage: $0 [--copy PATH]... -- CMD ARGS..." >&2; exit 2; }

COPIES=()
while [ $# -gt 0 ]; do
    case "$1" in
        --copy) [ $# -ge 2 ] || usage; COPIES+=("$2"); shift ;;
        --) shift; break ;;
        *) usage ;;
    esac
    shift
done
[ $# -gt 0 ] || usage

for tool in sway swaybar Xwayland dbus-run-session; do
    command -v "$tool" >/dev/null 2>&1 || { say "$tool is not installed (packages sway, xwayland, dbus)"; exit 77; }
done

AS=()
if [ "$(id -u)" = 0 ]; then
    command -v setpriv >/dev/null 2>&1 || { say "setpriv is not installed (package util-linux)"; exit 125; }
    AS=(setpriv --reuid=nobody --regid=nogroup --clear-groups)
fi

RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-sway.XXXXXX") || exit 125
TAG="MIREBO_SWAY_TAG=$RUNTIME"
REAL_ARTIFACTS=${ARTIFACTS:-}

tagged() { grep -lzxF -- "$TAG" /proc/[0-9]*/environ 2>/dev/null | cut -d/ -f3 | grep -vx "$$"; }

cleanup() {
    local rc=$? i pids
    trap '' INT TERM HUP
    trap - EXIT
    for signal in TERM KILL; do
        pids=$(tagged)
        [ -n "$pids" ] || break
        # shellcheck disable=SC2086
        kill -"$signal" $pids 2>/dev/null
        for ((i = 0; i < 30; i++)); do
            [ -z "$(tagged)" ] && break
            sleep 0.1
        done
    done
    [ -z "$(tagged)" ] || say "could not end: $(tagged | tr '\n' ' ')"
    wait 2>/dev/null
    if [ -n "$REAL_ARTIFACTS" ] && [ -d "$RUNTIME/files/artifacts" ]; then
        mkdir -p "$REAL_ARTIFACTS" && cp -r "$RUNTIME/files/artifacts/." "$REAL_ARTIFACTS/"
    fi
    rm -rf -- "$RUNTIME"
    exit "$rc"
}
trap cleanup EXIT
trap 'exit 130' INT
trap 'exit 143' TERM
trap 'exit 129' HUP

mkdir -p "$RUNTIME/files" "$RUNTIME/home"
for path in "${COPIES[@]}"; do
    cp -- "$path" "$RUNTIME/files/" || exit 125
done
[ -z "$REAL_ARTIFACTS" ] || mkdir -p "$RUNTIME/files/artifacts"
cat >"$RUNTIME/config" <<'EOF'
output HEADLESS-1 mode 1024x768
xwayland force
bar {
    position top
    tray_output *
}
EOF
echo "exec env >$RUNTIME/session.env" >>"$RUNTIME/config"
chmod -R a+rX "$RUNTIME/files" "$RUNTIME/config"
if [ ${#AS[@]} -gt 0 ]; then chown -R nobody:nogroup "$RUNTIME"; fi
chmod 0700 "$RUNTIME"

# sway under its own session bus; it writes its sockets into the runtime directory and gives
# what it starts the addresses, so the first thing it starts tells them to us.
env -i PATH="$PATH" HOME="$RUNTIME/home" XDG_RUNTIME_DIR="$RUNTIME" LANG=C.UTF-8 "$TAG" \
    WLR_BACKENDS=headless WLR_LIBINPUT_NO_DEVICES=1 WLR_RENDERER=pixman \
    "${AS[@]}" dbus-run-session -- sway -c "$RUNTIME/config" </dev/null >"$RUNTIME/sway.log" 2>&1 &
SWAY=$!
ready() { grep -q '^DISPLAY=' "$RUNTIME/session.env" 2>/dev/null && [ -S "$(ls "$RUNTIME"/sway-ipc.*.sock 2>/dev/null | head -n 1)" ]; }
for ((i = 0; i < 150; i++)); do
    ready && break
    kill -0 "$SWAY" 2>/dev/null || break
    sleep 0.1
done
if ! ready; then
    say "sway did not start"
    tail -n 15 "$RUNTIME/sway.log" | sed 's/^/    /' >&2
    exit 125
fi

# --- the command ------------------------------------------------------------------
while IFS= read -r line; do
    case $line in
        WAYLAND_DISPLAY=* | DISPLAY=* | SWAYSOCK=* | DBUS_SESSION_BUS_ADDRESS=*) export "${line?}" ;;
    esac
done <"$RUNTIME/session.env"
export XDG_RUNTIME_DIR="$RUNTIME" HOME="$RUNTIME/home" MIREBO_SWAY=1 MIREBO_SWAY_FILES="$RUNTIME/files"
[ -z "$REAL_ARTIFACTS" ] || export ARTIFACTS="$RUNTIME/files/artifacts"
unset QT_QPA_PLATFORM
cd "$RUNTIME/files" || exit 125
# The tag goes to CMD alone: this script's own helpers must not carry it.
env "$TAG" "${AS[@]}" "$@"
