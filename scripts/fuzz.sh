#!/usr/bin/env bash
# Builds the fuzz targets in fuzz/ with clang and libFuzzer (address and undefined-behaviour
# sanitizers on) and runs each for a bounded time.
#
#   scripts/fuzz.sh [SECONDS_PER_TARGET]     (default 60)
#
# Builds the fuzz preset (build-fuzz), and runs every fuzz target that build defines (listed in
# build-fuzz/fuzz-targets.txt). Environment: JOBS for the build (default 2), TARGETS to run only
# some (e.g. TARGETS="fuzz_utf8 fuzz_wmtext"), COVERAGE=1 to report afterwards which lines of
# the parsers each target's corpus reaches (the fuzz-coverage preset, build-fuzz-coverage).
#
# Each target starts from its edge cases in fuzz/seeds/TARGET (titles of several scripts and
# every kind of ill-formed UTF-8, counters that wrap or go back, cut-off lines) and the
# machine's own /proc/meminfo and /proc/stat as they are now. What a run finds that covers new
# code is kept in build-fuzz/corpus/TARGET for the next run. An input that crashes a target (or
# breaks one of its expectations) is kept as fuzz/crashes/TARGET-crash-*; rerun it with
# `build-fuzz/TARGET FILE`.
#
# Exit status: 0 when no target failed, 1 otherwise, 2 on a usage error.
set -uo pipefail
cd "$(dirname "$0")/.." || exit 1
ROOT=$PWD

SECONDS_PER_TARGET=${1:-60}
if ! [[ $SECONDS_PER_TARGET =~ ^[1-9][0-9]*$ ]]; then
    echo "usage: $0 [SECONDS_PER_TARGET]" >&2
    exit 2
fi
BUILD=$ROOT/build-fuzz
JOBS=${JOBS:-2}
CRASHES=$ROOT/fuzz/crashes

say() { echo "fuzz: $*" >&2; }

# --- clang with libFuzzer ----------------------------------------------------------------
fuzzer_works() {
    local dir
    dir=$(mktemp -d) || return 1
    printf '%s\n' '#include <cstddef>' '#include <cstdint>' \
        'extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t*, std::size_t) { return 0; }' \
        >"$dir/probe.cpp"
    clang++ -fsanitize=fuzzer,address,undefined "$dir/probe.cpp" -o "$dir/probe" >/dev/null 2>&1
    local rc=$?
    rm -rf -- "$dir"
    return $rc
}
if ! command -v clang++ >/dev/null 2>&1 || ! fuzzer_works; then
    say "installing clang (for libFuzzer)"
    SUDO=""
    [ "$(id -u)" -eq 0 ] || SUDO="sudo"
    export DEBIAN_FRONTEND=noninteractive
    if ! { $SUDO apt-get update -qq && $SUDO apt-get install -y -qq --no-install-recommends clang >/dev/null; }; then
        say "could not install clang"
        exit 1
    fi
    fuzzer_works || { say "clang++ cannot build a libFuzzer program"; exit 1; }
fi

# --- build ---------------------------------------------------------------------------------
cmake --preset fuzz >/dev/null || { say "cmake failed"; exit 1; }
# Each line of the list: a target, then the parser sources it exercises.
ALL_TARGETS=$(cut -d' ' -f1 "$BUILD/fuzz-targets.txt" | tr '\n' ' ')
[ -n "${ALL_TARGETS// /}" ] || { say "the build defines no fuzz targets"; exit 1; }
TARGETS=${TARGETS:-$ALL_TARGETS}
# shellcheck disable=SC2086
cmake --build --preset fuzz -j"$JOBS" --target $TARGETS >/dev/null || {
    cmake --build --preset fuzz -j1 --target $TARGETS 2>&1 | grep -E 'error|Error' | head -20 >&2
    say "build failed"
    exit 1
}

# --- seeds ---------------------------------------------------------------------------------
SEEDS=$BUILD/seeds
rm -rf -- "$SEEDS"
cp -r fuzz/seeds "$SEEDS"
for t in $ALL_TARGETS; do mkdir -p "$SEEDS/$t" "$BUILD/corpus/$t"; done
cp /proc/meminfo "$SEEDS/fuzz_meminfo/real"
# Two readings of /proc/stat a moment apart, as the program takes them.
cp /proc/stat "$SEEDS/fuzz_cpustat/real-once"
{ cat /proc/stat; printf '\000'; sleep 0.2; cat /proc/stat; } >"$SEEDS/fuzz_cpustat/real-twice"
cp "/proc/$$/stat" "$SEEDS/fuzz_starttime/real"
cp /proc/self/stat "$SEEDS/fuzz_starttime/real-self"
# The registry's bytes are a script of calls and texts; a /proc/stat text still gives it
# something that parses.
cp /proc/stat "$SEEDS/fuzz_statregistry/real"

# --- runs ----------------------------------------------------------------------------------
# The reproducers of TARGET kept so far, newest first.
crashes_of() { find "$CRASHES" -maxdepth 1 -type f -name "$1-*" -printf '%T@ %p\n' 2>/dev/null | sort -rn | cut -d' ' -f2-; }

mkdir -p "$CRASHES" "$BUILD/logs"
failed=0
summary=()
for t in $TARGETS; do
    log=$BUILD/logs/$t.log
    before=$(crashes_of "$t" | wc -l)
    say "$t: ${SECONDS_PER_TARGET} s"
    "$BUILD/$t" -max_total_time="$SECONDS_PER_TARGET" -max_len=8192 -timeout=10 -rss_limit_mb=2048 \
        -print_final_stats=1 -artifact_prefix="$CRASHES/$t-" \
        "$BUILD/corpus/$t" "$SEEDS/$t" >"$log" 2>&1
    rc=$?
    after=$(crashes_of "$t" | wc -l)
    execs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$log" | tail -n 1)
    cov=$(grep -oE 'cov: [0-9]+ ft: [0-9]+ corp: [0-9]+/[0-9]+[a-zA-Z]*' "$log" | tail -n 1)
    if [ "$rc" -eq 0 ] && [ "$after" -eq "$before" ]; then
        summary+=("ok    $t: ${execs:-?} runs, ${cov:-no coverage figures}")
    else
        failed=1
        summary+=("FAIL  $t: exit status $rc after ${execs:-?} runs (log: $log)")
        grep -E 'ERROR|expectation failed|SUMMARY|Test unit written' "$log" | head -n 5 | sed 's/^/        /' >&2
        f=$(crashes_of "$t" | head -n 1)
        if [ -n "$f" ]; then
            say "reproducer $f ($(stat -c %s "$f") bytes), rerun with: $BUILD/$t $f"
            od -An -tx1 -v "$f" | head -n 8 | sed 's/^/        /' >&2
        fi
    fi
done

# --- coverage of the corpora --------------------------------------------------------------
if [ "${COVERAGE:-0}" = 1 ]; then
    COV=$ROOT/build-fuzz-coverage
    # The parser sources each target exercises, as the build lists them.
    sources_of() {
        awk -v t="$1" -v root="$ROOT" '$1 == t { for (i = 2; i <= NF; i++) print root "/" $i }' \
            "$BUILD/fuzz-targets.txt"
    }
    # The functions each target is there to exercise (a pattern on their symbol names); a
    # target's sources hold others, which read the real /proc or need an X display.
    under_test() {
        case $1 in
            fuzz_meminfo) echo 'parseMeminfo|parseKiBLine|skipSpaces|parseDecimal' ;;
            fuzz_cpustat) echo 'parseCpuLine|cpuLoad|parseDecimal' ;;
            fuzz_starttime) echo 'parseStartTime|parseDecimal' ;;
            fuzz_utf8) echo 'repairUtf8|cutUtf8|latin1ToUtf8|dropIncompleteTail|leadOf|isContinuation' ;;
            fuzz_wmtext) echo 'titleFromBytes|sameMachine|equalNoCase|firstLabel|compoundTextTitle|Utf8|dropIncompleteTail|leadOf|isContinuation' ;;
            fuzz_statregistry) echo 'StatRegistry|sameName|parseCpuLine|cpuLoad|parseDecimal' ;;
        esac
    }
    # shellcheck disable=SC2086
    if cmake --preset fuzz-coverage >/dev/null \
        && cmake --build --preset fuzz-coverage -j"$JOBS" --target $TARGETS >/dev/null; then
        for t in $TARGETS; do
            rm -f "$COV/$t".prof*
            LLVM_PROFILE_FILE="$COV/$t.profraw" "$COV/$t" -runs=0 "$BUILD/corpus/$t" "$SEEDS/$t" >/dev/null 2>&1
            llvm-profdata merge -sparse "$COV/$t.profraw" -o "$COV/$t.profdata" 2>/dev/null || continue
            # shellcheck disable=SC2046
            figures=$(llvm-cov report -show-functions "$COV/$t" -instr-profile="$COV/$t.profdata" \
                $(sources_of "$t") 2>/dev/null | awk -v want="$(under_test "$t")" '
                    $1 ~ /_Z/ && $1 ~ want { lines += $5; lmiss += $6; br += $8; bmiss += $9 }
                    END { if (lines) printf "%.1f%% of %d lines, %.1f%% of %d branches",
                                            100 * (lines - lmiss) / lines, lines,
                                            br ? 100 * (br - bmiss) / br : 100, br }')
            summary+=("      $t: its corpus covers ${figures:-?} of the code under test")
        done
    else
        say "the coverage build failed"
    fi
fi

echo
printf '%s\n' "${summary[@]}"
[ "$failed" -eq 0 ] || { echo "fuzz: some targets failed"; exit 1; }
rmdir "$CRASHES" 2>/dev/null || true
exit 0
