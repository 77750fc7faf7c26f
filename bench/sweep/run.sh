#!/bin/sh
# The sweep benchmark: 36 runs (3 learning rates x 3 momentums x 2 hidden sizes x 2 seeds) on a
# data set the size of the handwritten-digits set (1797 rows of 64 inputs, 10 classes; 1437 to
# train on, 360 to score on), generated here: each class is a fixed random pattern plus noise.
# Prints the wall-clock time with -j 1 and -j 2, and the time of the same 36 runs without any
# epoch (what a run costs besides training). Each timing is the fastest of three. With "mpi" as
# the third argument (synapsor-tool built with MPI, mpirun on the path) it times one process
# against two under mpirun instead, each with -j 1.
# Usage: bench/sweep/run.sh [build-dir] [epochs] [mpi]   (not part of the tests: it takes minutes)
set -eu
build=$(cd "${1:-build}" && pwd)
epochs=${2:-100}
mode=${3:-threads}
if [ "$mode" = mpi ] && ! ldd "$build/synapsor-tool" | grep -q libmpi; then
    echo "$build/synapsor-tool is built without MPI" >&2
    exit 1
fi
# Open MPI asks for these to run as root and with more processes than cores.
export OMPI_ALLOW_RUN_AS_ROOT=1 OMPI_ALLOW_RUN_AS_ROOT_CONFIRM=1
dir=$(mktemp -d)
trap 'rm -rf "$dir"' EXIT
cd "$dir"
awk -v rows=1797 'BEGIN {
    srand(1)
    for (c = 0; c < 10; c++) for (i = 0; i < 64; i++) proto[c, i] = rand()
    train = int(rows * 0.8)
    for (part = 0; part < 2; part++) {
        n = part == 0 ? train : rows - train
        file = part == 0 ? "train.dat" : "valid.dat"
        printf "[FormatVersion = 1.0]\n[DataSet]\n[Rows = %d]\n[Inputs = 64]\n[ExpectedOutputs = 10]\n[Data]\n", n > file
        for (r = 0; r < n; r++) {
            c = int(rand() * 10)
            line = ""
            for (i = 0; i < 64; i++) {
                v = proto[c, i] + (rand() - 0.5) * 2.2
                line = line sprintf("%.4f ", v < 0 ? 0 : v > 1 ? 1 : v)
            }
            for (k = 0; k < 10; k++) line = line (k == c ? "1 " : "0 ")
            print line > file
        }
        print "[~Data]\n[~DataSet]" > file
    }
}'
setup() {
    printf 'TrainingFile = train.dat\nValidationFile = valid.dat\nEpochs = %s\n' "$1"
    printf 'LearningRate = 0.05 0.1 0.3\nMomentum = 0 0.5 0.9\nHidden = 16 32\nSeeds = 1 2\n'
}
setup "$epochs" > digits.sweep
setup -1 > none.sweep
now() { date +%s.%N; }
# On a shared machine the fastest of three is the figure least disturbed by others' work.
# sweep N FILE ARGS...: N threads, or with "mpi" N processes of one thread each.
sweep() {
    n=$1
    shift
    if [ "$mode" = mpi ]; then
        mpirun -np "$n" "$build/synapsor-tool" sweep "$@" -j 1
    else
        "$build/synapsor-tool" sweep "$@" -j "$n"
    fi
}
name=-j
[ "$mode" = mpi ] && name="-j 1 -np"
for n in 1 2; do
    best=
    for try in 1 2 3; do
        start=$(now)
        sweep "$n" digits.sweep --csv "t$n.csv" > "t$n.txt"
        end=$(now)
        took=$(echo "$end - $start" | bc)
        if [ -z "$best" ] || [ "$(echo "$took < $best" | bc)" = 1 ]; then best=$took; fi
    done
    echo "$name $n: $best s (fastest of 3)"
    eval "best$n=$best"
done
echo "ratio $name 2 / $name 1: $(echo "scale=3; $best2 / $best1" | bc)"
cut -d, -f1-9 t1.csv > a.csv
cut -d, -f1-9 t2.csv > b.csv
cmp -s a.csv b.csv && echo "tables equal" || echo "tables DIFFER"
start=$(now)
sweep 1 none.sweep --csv none.csv > /dev/null
end=$(now)
echo "36 runs without epochs, $name 1: $(echo "$end - $start" | bc) s in all"
awk -F, 'NR > 1 { s += $11 * $7; n += $7 } END { printf "per run besides training: %.2f ms\n", 1000 * s / n }' none.csv
cat t1.txt
