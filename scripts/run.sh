#!/usr/bin/env bash
# Installs what building and running the program needs (none of the tests' packages), builds it
# optimised (the release preset, build-release/) and starts it on the desktop session it is run
# from: X11, or Wayland (there through Xwayland when the session has it, natively otherwise).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh --run
cmake --preset release >/dev/null
cmake --build --preset release -j"${JOBS:-$(nproc)}" --target mirebo
if [ -z "${DISPLAY:-}" ] && [ -z "${WAYLAND_DISPLAY:-}" ]; then
    echo "run: no desktop session here (neither DISPLAY nor WAYLAND_DISPLAY is set);" \
        "from a terminal of your desktop, start $(pwd)/build-release/mirebo" >&2
    exit 1
fi
exec build-release/mirebo
