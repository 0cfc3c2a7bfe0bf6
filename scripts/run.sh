#!/usr/bin/env bash
# Installs what is needed, builds, and starts the program on the current X display.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset tests >/dev/null
cmake --build --preset tests -j"${JOBS:-$(nproc)}" --target mirebo xtool
if [ -z "${DISPLAY:-}" ]; then
    echo "No X display (DISPLAY is not set): starting the program on a private desktop for 60 s instead." >&2
    exec scripts/with-desktop.sh -- timeout 60 build/mirebo
fi
exec build/mirebo
