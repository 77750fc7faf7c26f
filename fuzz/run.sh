#!/usr/bin/env bash
# Runs every fuzz target of the build directory BUILD for SECONDS seconds, JOBS targets at a
# time, each on its own corpus under BUILD/corpus (seeded by make-corpus.sh, grown by every run).
# A crash, a sanitizer report, a leak, a run over 10 seconds or over 2 GB of memory is a finding:
# its input is saved under BUILD/findings and the script fails once all targets have run.
# A target whose final coverage (the last "cov:" of its log) stays below its floor in
# fuzz/coverage-floors.txt fails too: a target that no longer reaches the code it is meant to
# exercise (an uninstrumented library, a broken seed corpus) is caught as well as a crash.
# Usage: fuzz/run.sh BUILD SECONDS [JOBS]
# FUZZ_SEED, when set, fixes libFuzzer's random seed so that a bounded run (as in CI) repeats.
# FUZZ_FLOORS names another floors file (the script's test uses it).
set -uo pipefail
cd "$(dirname "$0")/.."
build=${1:?build directory}
seconds=${2:?seconds per target}
jobs=${3:-2}
targets=(ParameterFile NetworkFile DataSetFile TrainingRun CsvImport Preparation PlotLog)
floors=${FUZZ_FLOORS:-fuzz/coverage-floors.txt}

fuzz/make-corpus.sh "$build/corpus" || exit 1
mkdir -p "$build/findings" "$build/fuzz-logs"
# The targets write scratch files; memory-backed storage keeps them (and their fsync) cheap.
if [ -z "${TMPDIR:-}" ] && [ -d /dev/shm ] && [ -w /dev/shm ]; then export TMPDIR=/dev/shm; fi
export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1

run() {
    local t=$1
    "$build/fuzz/Fuzz$t" "$build/corpus/$t" -dict="fuzz/$t.dict" -max_total_time="$seconds" \
        -timeout=10 -rss_limit_mb=2048 -print_final_stats=1 ${FUZZ_SEED:+-seed="$FUZZ_SEED"} \
        -artifact_prefix="$build/findings/$t-" >"$build/fuzz-logs/$t.log" 2>&1
}

failed=0
for ((i = 0; i < ${#targets[@]}; i += jobs)); do
    pids=()
    batch=("${targets[@]:i:jobs}")
    for t in "${batch[@]}"; do
        run "$t" &
        pids+=($!)
    done
    for k in "${!batch[@]}"; do
        t=${batch[$k]}
        log="$build/fuzz-logs/$t.log"
        if wait "${pids[$k]}"; then
            done=$(grep -E '^#[0-9]+[[:space:]]+DONE' "$log" | tail -1)
            cov=$(grep -oE 'cov: [0-9]+' "$log" | tail -1 | cut -d' ' -f2)
            floor=$(awk -v t="$t" '$1 == t { print $2 }' "$floors")
            if [ -z "$floor" ]; then
                failed=1
                echo "fuzz $t: no coverage floor for the target in $floors"
            elif [ -z "$cov" ] || [ "$cov" -lt "$floor" ]; then
                failed=1
                echo "fuzz $t: coverage ${cov:-unknown} edges is below the floor of $floor" \
                    "in $floors (log $log)"
            else
                echo "fuzz $t: ok, ${done#\#} (executions, coverage; floor $floor)"
            fi
        else
            failed=1
            echo "fuzz $t: FINDING (log $log)"
            grep -E 'ERROR|SUMMARY|Fuzz check|Assertion|runtime error|Test unit written' "$log" |
                head -20
        fi
    done
done
exit $failed
