#!/usr/bin/env bash
# The program's cost beside a bare Qt floor program doing the same visible work, on one private
# desktop: CPU % of a core, memory and start-up, at 1000 ms and at 100 ms. RUNS (default 3)
# passes, so that the CPU figures can be read as medians.
set -euo pipefail
cd "$(dirname "$0")/.."
measure=${OVERHEAD_SCRIPT:-../shared/bench/overhead.sh}
[ -x "$measure" ] || { echo "no measuring script at $measure" >&2; exit 2; }
[ -n "${NO_DEPS:-}" ] || scripts/install-deps.sh
cmake -S . -B build-release -DCMAKE_BUILD_TYPE=Release -DBUILD_TESTING=OFF >/dev/null
cmake --build build-release -j"$(nproc)" --target mirebo
mkdir -p build-release/overhead
for run in $(seq "${RUNS:-3}"); do
    echo "== pass $run"
    APP_CMD="$PWD/build-release/mirebo" "$measure" --only floorfull-1000,app-1000,floorfull-100,app-100 \
        -o build-release/overhead/table.txt "$@"
done
