#!/usr/bin/env bash
# Builds the program, the floor and the benchmarks optimised (release preset), runs the
# benchmarks (chart, tick, list, start-up and the compositor's window list offscreen, the X11
# ones on a private desktop), then
# measures what the running program costs beside the floor (scripts/overhead.sh, which measures
# this build as it is rather than building again).
#
#   scripts/bench.sh [SECONDS]      (per overhead measurement, default 30; NO_DEPS=1 skips the
#                                    package check; BENCH_ARGS= more options for the benchmarks)
#
# Timings are of this machine as it is: anything else running (a build, say) shows in them.
# Exit status: that of scripts/overhead.sh (1 when a target is missed).
set -euo pipefail

SRC=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
BUILD="$SRC/build-release"
cd "$SRC"
read -ra EXTRA <<<"${BENCH_ARGS:-}"

[ "${NO_DEPS:-}" = 1 ] || scripts/install-deps.sh
cmake --preset release >/dev/null
cmake --build --preset release -j"${JOBS:-2}" --target benchmarks mirebo floor xtool
export BUILD MIREBO_XTOOL="$BUILD/tests/tools/xtool"

RUNTIME=$(mktemp -d "${TMPDIR:-/tmp}/mirebo-bench.XXXXXX")
trap 'rm -rf -- "$RUNTIME"' EXIT
chmod 0700 "$RUNTIME"

echo "== machine: $(nproc) cores, load $(cut -d' ' -f1-3 /proc/loadavg)"
echo "== benchmarks, offscreen"
XDG_RUNTIME_DIR="$RUNTIME" QT_QPA_PLATFORM=offscreen "$BUILD/bench/benchmarks" --benchmark_filter=-X11 "${EXTRA[@]}"
echo "== benchmarks, on a private X desktop"
scripts/with-desktop.sh -- "$BUILD/bench/benchmarks" --benchmark_filter=X11 "${EXTRA[@]}"
echo "== the running program beside the floor"
scripts/overhead.sh "$@"
