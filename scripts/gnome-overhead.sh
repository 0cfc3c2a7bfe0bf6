#!/usr/bin/env bash
# What the program costs GNOME Shell: on a private headless GNOME Shell 43 (scripts/with-wayland.sh
# --gnome, with the program and its extension installed as the package installs them, a native
# and an X11 terminal open), the CPU of gnome-shell, of Xwayland and of the program, side by
# side: without the program, with it at 1000 ms and at 100 ms, and without it again.
#
#   scripts/gnome-overhead.sh [SECONDS]     (each phase; 30 by default)
#
# Builds the release preset unless BUILD names a build directory. CPU is user + system time over
# the phase's wall time (the scheduler's own count, every thread), in % of one core.
set -euo pipefail
SECONDS_EACH=${1:-30}
HERE=$(cd "$(dirname "${BASH_SOURCE[0]}")" && pwd)
if [ "${MIREBO_COMPOSITOR:-}" != gnome ]; then
    if [ -z "${BUILD:-}" ]; then
        (cd "$HERE/.." && cmake --preset release >/dev/null && cmake --build --preset release -j"${JOBS:-2}" --target mirebo)
    fi
    BUILD=$(cd "${BUILD:-$HERE/../build-release}" && pwd)
    exec "$HERE/with-wayland.sh" --gnome --install "$BUILD" --copy "$HERE/gnome-overhead.sh" --copy "$HERE/lib.sh" \
        -- bash gnome-overhead.sh "$SECONDS_EACH"
fi
. "$HERE/lib.sh"
APP=$MIREBO_PREFIX/bin/mirebo

of_session() {   # the session's process named $1
    local pid
    for pid in $(tagged "MIREBO_SWAY_TAG=$MIREBO_SWAY_TAG"); do
        [ "$(cat "/proc/$pid/comm" 2>/dev/null)" != "$1" ] || { echo "$pid"; return 0; }
    done
    return 1
}
SHELL_PID=$(of_session gnome-shell) || { echo "no gnome-shell in the session" >&2; exit 1; }

foot -T native sleep 100000 >/dev/null 2>&1 &
xterm -T x11 -e sleep 100000 >/dev/null 2>&1 &
XTERM=$!
wait_until 20 is_alive "$XTERM"
sleep 10   # the shell settles after its start
XWAYLAND_PID=$(of_session Xwayland) || { echo "no Xwayland in the session" >&2; exit 1; }

# CPU time so far, in ns, of every thread of the process.
runtime_ns() { cat /proc/"$1"/task/*/schedstat 2>/dev/null | awk '{ s += $1 } END { printf "%.0f\n", s }'; }

# phase NAME [APP_PID]: one row, after SECONDS_EACH seconds.
phase() {
    local pids=("$SHELL_PID" "$XWAYLAND_PID" ${2:+"$2"}) t0 t1 p before=() after=()
    for p in "${pids[@]}"; do before+=("$(runtime_ns "$p")"); done
    t0=$EPOCHREALTIME
    sleep "$SECONDS_EACH"
    t1=$EPOCHREALTIME
    for p in "${pids[@]}"; do after+=("$(runtime_ns "$p")"); done
    awk -v name="$1" -v t="$(awk -v a="$t0" -v b="$t1" 'BEGIN { print b - a }')" \
        -v s="$((after[0] - before[0]))" -v x="$((after[1] - before[1]))" -v a="${after[2]:+$((after[2] - before[2]))}" '
        BEGIN { printf "%-22s %10.2f %10.2f %10s\n", name, s / 1e7 / t, x / 1e7 / t, a == "" ? "-" : sprintf("%.2f", a / 1e7 / t) }'
}

printf '%-22s %10s %10s %10s   (CPU %% of one core, %s s each)\n' phase gnome-shell Xwayland mirebo "$SECONDS_EACH"
phase "without the program"
"$APP" >/dev/null 2>&1 &
APP_PID=$!
sleep 3
phase "program at 1000 ms" "$APP_PID"
win=$(xdotool search --pid "$APP_PID" --name '^ミレボ$' | head -n 1)
xdotool windowactivate --sync "$win" >/dev/null 2>&1 || true
for k in alt+v u h; do xdotool key --clearmodifiers "$k"; sleep 0.3; done   # 表示 → 更新の頻度 → 高
sleep 3
phase "program at 100 ms" "$APP_PID"
kill "$APP_PID"
sleep 3
phase "without the program"
