#!/usr/bin/env bash
# fuzz/run.sh against stand-in fuzz targets: shell scripts that log like libFuzzer, with the
# coverage and exit status each case gives them. Checks that a run passes only when every target
# ends without a finding and at or above its floor, and that the seconds and the seed reach the
# targets. Usage: check-run-script.sh SOURCE_DIR
set -uo pipefail
src=${1:?source directory}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
targets=(ParameterFile NetworkFile DataSetFile TrainingRun CsvImport Preparation PlotLog)
mkdir -p "$work/build/fuzz"
for t in "${targets[@]}"; do
    cat >"$work/build/fuzz/Fuzz$t" <<STUB
#!/usr/bin/env bash
echo "args: \$*"
cov=\${COV_$t:-500}
echo "#10 INITED cov: 100 ft: 100"
[ "\${CRASH_$t:-}" = 1 ] && { echo "Fuzz check failed: stand-in"; exit 77; }
echo "#2000 DONE cov: \$cov ft: 900 corp: 10/1Kb exec/s: 33"
exit 0
STUB
    chmod +x "$work/build/fuzz/Fuzz$t"
done
floors() {  # every target at 400, except the lines given
    for t in "${targets[@]}"; do echo "$t 400"; done | grep -v -E "^(${1:-none}) "
}

failures=0
# case: environment | floor lines left out | expected status | text the output must hold
check() {
    local env=$1 omit=$2 status=$3 expect=$4
    floors "$omit" >"$work/floors.txt"
    out=$(cd "$src" && env $env FUZZ_FLOORS="$work/floors.txt" fuzz/run.sh "$work/build" 60 2 2>&1)
    got=$?
    if [ "$got" != "$status" ] || [[ "$out" != *"$expect"* ]]; then
        echo "FAILED: env '$env': status $got (expected $status), output:"
        echo "$out"
        echo "(expected to hold: $expect)"
        failures=$((failures + 1))
    fi
}
check "COV_CsvImport=400" "" 0 "fuzz CsvImport: ok, 2000 DONE cov: 400"
check "COV_PlotLog=399" "" 1 "fuzz PlotLog: coverage 399 edges is below the floor of 400"
check "" "Preparation" 1 "fuzz Preparation: no coverage floor for the target"
check "CRASH_NetworkFile=1" "" 1 "fuzz NetworkFile: FINDING"
[[ "$out" == *"Fuzz check failed: stand-in"* ]] ||
    { echo "FAILED: the finding's message is not shown"; failures=$((failures + 1)); }
# The seconds and the seed are handed to every target.
check "FUZZ_SEED=7 COV_TrainingRun=401" "" 0 "fuzz TrainingRun: ok"
grep -q -- "-max_total_time=60 .*-seed=7" "$work/build/fuzz-logs/ParameterFile.log" ||
    { echo "FAILED: seconds or seed not handed to the target"; failures=$((failures + 1)); }
exit $((failures > 0))
