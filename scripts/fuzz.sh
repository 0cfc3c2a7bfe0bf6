#!/usr/bin/env bash
# shellcheck disable=SC2086   # TARGETS and a target's sources are lists of words
# Builds the fuzz targets in fuzz/ with clang and libFuzzer (address and undefined-behaviour
# sanitizers on) and runs each for a bounded time.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 60)
#
# Builds the fuzz preset (build-fuzz) and runs every target it defines (build-fuzz/fuzz-targets.txt).
# Environment: JOBS for the build (default 2), TARGETS to run only some (e.g. TARGETS="fuzz_utf8
# fuzz_wmtext"), COVERAGE=1 to report afterwards how much of the functions under test each target's
# corpus reaches (the fuzz-coverage preset, build-fuzz-coverage).
#
# Each target starts from its edge cases in fuzz/seeds/TARGET and the machine's own /proc files as
# they are now; what a run finds that covers new code is kept in build-fuzz/corpus/TARGET. An input
# that crashes a target (or breaks one of its expectations) is kept as fuzz/crashes/TARGET-crash-*;
# rerun it with `build-fuzz/TARGET FILE`. Exit status: 0 when no target failed, 1 otherwise, 2 on a
# usage error.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD BUILD=$PWD/build-fuzz CRASHES=$PWD/fuzz/crashes JOBS=${JOBS:-2}
SECONDS_PER_TARGET=${1:-60}
[[ $SECONDS_PER_TARGET =~ ^[1-9][0-9]*$ ]] || { echo "usage: $0 [SECONDS_PER_TARGET]" >&2; exit 2; }
. scripts/lib.sh

# clang with libFuzzer's runtime: a program that is nothing but the fuzzer entry point must link.
fuzzer_links() {
    echo 'extern "C" int LLVMFuzzerTestOneInput(const unsigned char*, unsigned long) { return 0; }' \
        | clang++ -x c++ -fsanitize=fuzzer,address,undefined - -o /dev/null 2>/dev/null
}
if ! fuzzer_links; then
    say "installing clang (for libFuzzer)"
    SUDO=$([ "$(id -u)" -eq 0 ] || echo sudo)
    { $SUDO apt-get update -qq && DEBIAN_FRONTEND=noninteractive $SUDO apt-get install -y -qq \
        --no-install-recommends clang >/dev/null; } || die "could not install clang"
    fuzzer_links || die "clang++ cannot build a libFuzzer program"
fi

build() {   # build PRESET
    cmake --preset "$1" >/dev/null && cmake --build --preset "$1" -j"$JOBS" --target $TARGETS >/dev/null
}
cmake --preset fuzz >/dev/null || die "cmake failed"
# Each line of the list: a target, a pattern of the functions under test, the sources they are in.
ALL_TARGETS=$(cut -d' ' -f1 "$BUILD/fuzz-targets.txt" | tr '\n' ' ')
TARGETS=${TARGETS:-$ALL_TARGETS}
build fuzz || { cmake --build --preset fuzz -j1 --target $TARGETS 2>&1 | grep -E 'error' | head -20 >&2; die "build failed"; }

SEEDS=$BUILD/seeds
rm -rf -- "$SEEDS" && cp -r fuzz/seeds "$SEEDS"
for t in $ALL_TARGETS; do mkdir -p "$SEEDS/$t" "$BUILD/corpus/$t"; done
cp /proc/meminfo "$SEEDS/fuzz_meminfo/real"
# Two readings of /proc/stat a moment apart, as the program takes them.
cp /proc/stat "$SEEDS/fuzz_cpustat/real-once"
{ cat /proc/stat; printf '\000'; sleep 0.2; cat /proc/stat; } >"$SEEDS/fuzz_cpustat/real-twice"
cp "/proc/$$/stat" "$SEEDS/fuzz_starttime/real"
# The registry's bytes are a script of calls and texts; a /proc/stat text still gives it something.
cp /proc/stat "$SEEDS/fuzz_statregistry/real"

crashes_of() { find "$CRASHES" -maxdepth 1 -type f -name "$1-*" -printf '%T@ %p\n' 2>/dev/null | sort -rn | cut -d' ' -f2-; }
mkdir -p "$CRASHES" "$BUILD/logs"
failed=0 summary=()
for t in $TARGETS; do
    log=$BUILD/logs/$t.log
    before=$(crashes_of "$t" | wc -l)
    say "$t: ${SECONDS_PER_TARGET} s"
    "$BUILD/$t" -max_total_time="$SECONDS_PER_TARGET" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$CRASHES/$t-" "$BUILD/corpus/$t" "$SEEDS/$t" >"$log" 2>&1
    rc=$?
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    if [ "$rc" -eq 0 ] && [ "$(crashes_of "$t" | wc -l)" -eq "$before" ]; then
        summary+=("ok    $t: ${execs:-?} runs, $(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1)")
        continue
    fi
    failed=1
    summary+=("FAIL  $t: exit status $rc after ${execs:-?} runs (log: $log)")
    grep -E 'ERROR|expectation failed|SUMMARY|Test unit written' "$log" | head -n 5 | sed 's/^/        /' >&2
    f=$(crashes_of "$t" | head -n 1)
    [ -z "$f" ] || { say "reproducer $f, rerun with: $BUILD/$t $f"; od -An -tx1 -v "$f" | head -n 8 >&2; }
done

if [ "${COVERAGE:-0}" = 1 ]; then
    COV=$ROOT/build-fuzz-coverage
    covered=$TARGETS
    build fuzz-coverage || { say "the coverage build failed"; covered=""; }
    for t in $covered; do
        rm -f "$COV/$t".prof*   # a run that writes no profile must not be read from an older one
        read -r _ functions sources < <(grep "^$t " "$BUILD/fuzz-targets.txt")
        LLVM_PROFILE_FILE="$COV/$t.profraw" "$COV/$t" -runs=0 "$BUILD/corpus/$t" "$SEEDS/$t" >/dev/null 2>&1
        llvm-profdata merge -sparse "$COV/$t.profraw" -o "$COV/$t.profdata" 2>/dev/null || continue
        figures=$(llvm-cov report -show-functions "$COV/$t" -instr-profile="$COV/$t.profdata" \
            $sources 2>/dev/null | awk -v want="$functions" '
                $1 ~ /_Z/ && $1 ~ want { lines += $5; lmiss += $6; br += $8; bmiss += $9 }
                END { if (lines) printf "%.1f%% of %d lines, %.1f%% of %d branches", 100 * (lines - lmiss) / lines,
                                        lines, br ? 100 * (br - bmiss) / br : 100, br }')
        summary+=("      $t: its corpus covers ${figures:-?} of the code under test")
    done
fi

echo
printf '%s\n' "${summary[@]}"
[ "$failed" -eq 0 ] || { echo "fuzz: some targets failed"; exit 1; }
rmdir "$CRASHES" 2>/dev/null
exit 0
