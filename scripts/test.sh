#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit tests on the scripted platform,
# the Linux backend's tests, and the real program on private X desktops.
# Extra arguments go to ctest (e.g. -L integration, -R tray).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build}
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build" -j"$(nproc)"
# Qt wants a private runtime directory; without one it warns on every start.
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
cd "$build"
ctest --output-on-failure "$@"
