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
# Each target starts from seeds written here: the machine's own /proc/meminfo and /proc/stat
# as they are now, plus edge cases. What a run finds that covers new code is kept in
# build-fuzz/corpus/TARGET for the next run. An input that crashes a target (or breaks one of
# its expectations) is kept as fuzz/crashes/TARGET-crash-*; rerun it with
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
for t in $ALL_TARGETS; do mkdir -p "$SEEDS/$t" "$BUILD/corpus/$t"; done

# seed TARGET NAME FORMAT: a seed file from printf's FORMAT (so \000 and \xNN work).
seed() {
    # shellcheck disable=SC2059
    printf "$3" >"$SEEDS/$1/$2"
}

cp /proc/meminfo "$SEEDS/fuzz_meminfo/real"
seed fuzz_meminfo minimal 'MemTotal:        8000000 kB\nMemAvailable:    2000000 kB\n'
seed fuzz_meminfo zero-total 'MemTotal: 0 kB\nMemAvailable: 0 kB\n'
seed fuzz_meminfo more-available 'MemTotal: 100 kB\nMemAvailable: 200 kB\n'
seed fuzz_meminfo no-available 'MemTotal:        8000000 kB\nMemFree:          100 kB\n'
seed fuzz_meminfo no-unit 'MemTotal:        8000000\nMemAvailable:    2000000 kB\n'
seed fuzz_meminfo cut-short 'MemTotal:        8000000 kB\nMemAvailable:    20'
seed fuzz_meminfo huge 'MemTotal: 18446744073709551615 kB\nMemAvailable: 18014398509481983 kB\n'
seed fuzz_meminfo twice 'MemTotal: 10 kB\nMemTotal: x kB\nMemAvailable: 5 kB\nMemAvailable: 6 kB\n'
seed fuzz_meminfo crlf 'MemTotal: 1000 kB\r\nMemAvailable: 10 kB\r\n'

# Two readings of /proc/stat a moment apart, as the program takes them.
cp /proc/stat "$SEEDS/fuzz_cpustat/real-once"
{ cat /proc/stat; printf '\000'; sleep 0.2; cat /proc/stat; } >"$SEEDS/fuzz_cpustat/real-twice"
seed fuzz_cpustat old-kernel 'cpu  100 0 50 1000\000cpu  200 0 60 1100\n'
seed fuzz_cpustat went-back 'cpu  500 5 50 1000 3 0 1 0 0 0\000cpu  400 5 50 900 3 0 1 0 0 0\n'
seed fuzz_cpustat wrapped 'cpu  18446744073709551615 18446744073709551615 1 1 1 1 1 1\000cpu  0 0 2 2 2 2 2 2\n'
seed fuzz_cpustat too-few 'cpu  1 2 3\n'
seed fuzz_cpustat per-cpu-first 'cpu0 1 2 3 4 5 6 7 8\ncpu  1 2 3 4 5 6 7 8\n'
seed fuzz_cpustat many-fields 'cpu  1 2 3 4 5 6 7 8 9 10 11 12 13 14 15 16\000cpu  2 3 4 5 6 7 8 9 10 11 12 13 14 15 16 17\n'
seed fuzz_cpustat tabs 'cpu\t1\t2\t3\t4\n'
seed fuzz_cpustat overflow 'cpu  18446744073709551616 1 1 1\n'

cp "/proc/$$/stat" "$SEEDS/fuzz_starttime/real"
cp /proc/self/stat "$SEEDS/fuzz_starttime/real-self"
seed fuzz_starttime spaces-in-name '77 (a b) c) S 1 77 77 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 5555 1 1\n'
seed fuzz_starttime newline-in-name '77 (x\n) S 1 77 77 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 5555 1 1\n'
seed fuzz_starttime cut-before '77 (x) S 1 77 77 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0'
seed fuzz_starttime no-name '77 S 1 77 77 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 5555 1 1\n'
seed fuzz_starttime double-space '77 (x)  S 1 77 77 0 -1 4194560 0 0 0 0 0 0 0 0 20 0 1 0 5555\n'

# Titles: well-formed text of several scripts, and every kind of ill-formed sequence.
utf8_seeds() {
    local t=$1 prefix=$2
    seed "$t" japanese "${prefix}ミレボ — 窓 1"
    seed "$t" rtl "${prefix}مرحبا עולם"
    seed "$t" zwj "${prefix}\xf0\x9f\x91\xa9\xe2\x80\x8d\xf0\x9f\x92\xbb a\xe2\x80\x8db"
    seed "$t" controls "${prefix}a\tb\nc\rd\x01e\x7f"
    seed "$t" overlong "${prefix}\xc0\xaf \xe0\x80\xaf \xf0\x80\x80\xaf \xc1\xbf"
    seed "$t" surrogates "${prefix}\xed\xa0\x80\xed\xbf\xbf\xed\x9f\xbf"
    seed "$t" past-max "${prefix}\xf4\x90\x80\x80 \xf5\x80\x80\x80 \xff\xfe"
    seed "$t" stray "${prefix}\x80\xbf abc \x80"
    seed "$t" cut-off "${prefix}abc\xe3\x83"
    seed "$t" cut-off-4 "${prefix}abc\xf0\x9f\x91"
    seed "$t" latin1 "${prefix}caf\xe9 na\xefve \xa0\xff"
}
utf8_seeds fuzz_utf8 ""
utf8_seeds fuzz_wmtext '\x00'
seed fuzz_wmtext partial '\x02ミレボ\xe3\x83'
seed fuzz_wmtext latin1-flag '\x01caf\xe9'
seed fuzz_wmtext compound '\x04\x1b%%G\xe3\x83\x9f\x1b%%@ abc'
seed fuzz_wmtext compound-partial "\\x06abc\\x1b\$("
seed fuzz_wmtext list '\x00first\000second'
seed fuzz_wmtext hosts '\x00box|box.example.org'
seed fuzz_wmtext hosts-2 '\x00box.a|BOX.b'
head -c 1100 /dev/zero | tr '\0' 'x' >"$SEEDS/fuzz_wmtext/long"
{ printf '\x02'; for _ in $(seq 400); do printf 'ミ'; done; } >"$SEEDS/fuzz_wmtext/long-partial"

# The registry's bytes are a script of calls and texts; a /proc/stat text still gives it
# something that parses.
cp /proc/stat "$SEEDS/fuzz_statregistry/real"
seed fuzz_statregistry few '\x00\x00\x01\x05\x02\x00\x00\x00cpu  1 2 3 4\n'

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
