#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program on the current X display.
#
#   scripts/run.sh [--gnome-extension]
#
# --gnome-extension first installs the program's GNOME Shell extension for this user
# (~/.local/share/gnome-shell/extensions), answering the program built here, and enables it:
# on GNOME the list then shows native Wayland windows too (on Wayland from the next login on).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset tests >/dev/null
cmake --build --preset tests -j"${JOBS:-$(nproc)}" --target mirebo xtool
if [ "${1:-}" = --gnome-extension ]; then
    source_dir=$(sed -n 's/^MIREBO_GNOME_EXTENSION_DIR:INTERNAL=//p' build/CMakeCache.txt)
    uuid=$(basename "$source_dir")
    target=${XDG_DATA_HOME:-$HOME/.local/share}/gnome-shell/extensions/$uuid
    mkdir -p "$target"
    cp "$source_dir/extension.js" "$source_dir/metadata.json" "$target/"
    # The extension answers only the programs this file names, by the path /proc/PID/exe shows.
    realpath build/mirebo >"$target/callers"
    if ! gnome-extensions enable "$uuid" 2>/dev/null; then
        # The running shell does not know it yet: enabled for the next login.
        enabled=$(gsettings get org.gnome.shell enabled-extensions | sed "s/^@as //; s/^\[//; s/\]\$//")
        grep -qF "'$uuid'" <<<"$enabled" ||
            gsettings set org.gnome.shell enabled-extensions "[$enabled${enabled:+, }'$uuid']"
    fi
    echo "GNOME Shell extension $uuid installed in $target and enabled; on a Wayland session GNOME Shell loads it at the next login." >&2
fi
if [ -z "${DISPLAY:-}" ]; then
    echo "No X display (DISPLAY is not set): starting the program on a private desktop for 60 s instead." >&2
    exec scripts/with-desktop.sh -- timeout 60 build/mirebo
fi
exec build/mirebo
