#!/usr/bin/env bash
# Installs what is needed, builds a Release of the program in build-pkg (the package preset)
# and writes the Debian package there; prints the package's path.
#
#   scripts/package.sh
#
# Install it with `apt-get install ./build-pkg/mirebo_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build="build-pkg"
# The package holds the program only: no tests, no benchmarks.
cmake --preset package >/dev/null
cmake --build --preset package -j"${JOBS:-$(nproc)}"
rm -f "$build"/mirebo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/mirebo_*.deb)
echo "$(pwd)/$deb"
