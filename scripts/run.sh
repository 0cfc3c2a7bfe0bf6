#!/usr/bin/env bash
# Installs what building and running the program needs (none of the tests' packages), builds it
# optimised (the release preset, build-release/) and starts it on the desktop session it is run
# from: X11, or Wayland (there through Xwayland when the session has it, natively otherwise).
#
#   scripts/run.sh [--gnome-extension]
#
# --gnome-extension first installs the program's GNOME Shell extension for this user
# (~/.local/share/gnome-shell/extensions), answering the program built here, and enables it:
# on GNOME the list then shows native Wayland windows too (on Wayland from the next login on).
set -euo pipefail
cd "$(dirname "$0")/.."
[ $# -eq 0 ] || [ "$*" = --gnome-extension ] || { echo "usage: $0 [--gnome-extension]" >&2; exit 2; }
scripts/install-deps.sh --run
cmake --preset release >/dev/null
cmake --build --preset release -j"${JOBS:-$(nproc)}" --target mirebo
if [ "${1:-}" = --gnome-extension ]; then
    source_dir=$(sed -n 's/^MIREBO_GNOME_EXTENSION_DIR:INTERNAL=//p' build-release/CMakeCache.txt)
    uuid=$(basename "$source_dir")
    target=${XDG_DATA_HOME:-$HOME/.local/share}/gnome-shell/extensions/$uuid
    mkdir -p "$target"
    cp "$source_dir/extension.js" "$source_dir/metadata.json" "$target/"
    # The extension answers only the programs this file names, by the path /proc/PID/exe shows.
    realpath build-release/mirebo >"$target/callers"
    if ! gnome-extensions enable "$uuid" 2>/dev/null; then
        # The running shell does not know it yet: enabled for the next login.
        enabled=$(gsettings get org.gnome.shell enabled-extensions | sed "s/^@as //; s/^\[//; s/\]\$//")
        grep -qF "'$uuid'" <<<"$enabled" ||
            gsettings set org.gnome.shell enabled-extensions "[$enabled${enabled:+, }'$uuid']"
    fi
    echo "GNOME Shell extension $uuid installed in $target and enabled; on a Wayland session GNOME Shell loads it at the next login." >&2
fi
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no desktop session here (neither DISPLAY nor WAYLAND_DISPLAY is set);" \
        "from a terminal of your desktop, start $(pwd)/build-release/mirebo" >&2
    exit 1
fi
exec build-release/mirebo
