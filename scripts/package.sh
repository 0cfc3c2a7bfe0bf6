#!/usr/bin/env bash
# Installs what is needed, builds a Release of the program in build-pkg and
# writes the Debian package there; prints the package's path.
#
#   scripts/package.sh
#
# Install it with `apt-get install ./build-pkg/mirebo_*.deb`.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/install-deps.sh
build=${BUILD_DIR:-build-pkg}
# The package holds the program only: no tests, no benchmarks.
cmake -S . -B "$build" -DCMAKE_BUILD_TYPE=Release -DCMAKE_INSTALL_PREFIX=/usr \
    -DBUILD_TESTING=OFF -DCMAKE_DISABLE_FIND_PACKAGE_benchmark=ON >/dev/null
cmake --build "$build" -j"$(nproc)"
rm -f "$build"/mirebo_*.deb
(cd "$build" && cpack -G DEB >/dev/null)
deb=$(ls "$build"/mirebo_*.deb)
echo "$(pwd)/$deb"
