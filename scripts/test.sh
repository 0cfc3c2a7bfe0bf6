#!/usr/bin/env bash
# Installs what is needed, builds, and runs every test: unit tests on the scripted platform,
# the Linux backend's tests, and the real program on private X desktops.
# Builds the tests preset (build/). Extra arguments go to ctest (e.g. -L integration, -R tray);
# JOBS sets the build's parallelism (default: every core).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
cmake --preset tests >/dev/null
cmake --build --preset tests -j"${JOBS:-$(nproc)}"
# Qt wants a private runtime directory; without one it warns on every start.
XDG_RUNTIME_DIR=$(mktemp -d)
export XDG_RUNTIME_DIR
trap 'rm -rf "$XDG_RUNTIME_DIR"' EXIT
ctest --preset tests "$@"
