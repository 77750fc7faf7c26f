#!/bin/sh
# synapsor-mpi on 1 and on 2 processes (and more, when asked) on one batch epoch of a 784-256-10
# sigmoid network over 2,000 rows of random data (the class is the first input's tenth, so that
# the network learns instead of driving every output to 0). The network is made with
# synapsor-tool create, the rows with a fixed seed. Each count runs with 1 and with 1 + EPOCHS
# epochs, REPEAT times each (the least time of each is kept: other work on the machine only adds
# time); the time of an epoch is the difference over EPOCHS, which leaves out starting MPI and
# reading the files (printed as well). Run on a quiet machine (uptime): busy processes slow the
# MPI processes, which poll while they wait for each other.
# Usage: bench/mpi/run.sh BUILD_DIR [EPOCHS [PROCESSES...]]   (defaults: 30, "1 2"; REPEAT=3)
set -eu
build=$(cd "$1" && pwd)
epochs=${2:-30}
repeat=${REPEAT:-3}
[ $# -ge 2 ] && shift 2 || shift $#
counts=${*:-1 2}
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
cd "$work"

"$build/synapsor-tool" create --layers 784,256,10 --seed 11 -o net.wgt 2>/dev/null
awk 'BEGIN {
    srand(2000);
    print "[DataSet]\n[Rows = 2000]\n[Inputs = 784]\n[ExpectedOutputs = 10]\n[Data]";
    for (r = 0; r < 2000; r++) {
        line = "";
        for (c = 0; c < 784; c++) {
            x = rand();
            if (c == 0) k = int(x * 10);
            line = line sprintf("%.4f ", x);
        }
        for (c = 0; c < 10; c++) line = line (c == k ? "1 " : "0 ");
        print line;
    }
    print "[~Data]\n[~DataSet]";
}' > train.dat

parameters() {
    printf 'WeightFile = net.wgt\nTrainingFile = train.dat\nDestinationFile = out.wgt\n'
    printf 'Batch = true\nLearningRate = 0.0002\nMomentum = 0.5\nEpochs = %s\n' "$1"
}
parameters 1 > one.par
parameters $((epochs + 1)) > many.par

# The least wall time of `repeat` runs of synapsor-mpi on $1 processes with parameter file $2.
seconds() {
    best=""
    i=0
    while [ $i -lt "$repeat" ]; do
        start=$(date +%s.%N)
        mpirun -q --allow-run-as-root --oversubscribe -np "$1" "$build/synapsor-mpi" "$2" > "$3" 2>> errors.txt
        end=$(date +%s.%N)
        t=$(echo "$end - $start" | bc -l)
        if [ -z "$best" ] || [ "$(echo "$t < $best" | bc -l)" = 1 ]; then best=$t; fi
        i=$((i + 1))
    done
    echo "$best"
}

echo "784-256-10, 2000 rows, batch epoch; $epochs epochs timed, best of $repeat; $(nproc) cores; load:$(uptime | sed 's/.*average://')"
printf '%-10s %14s %14s %10s\n' processes "start+1 epoch" "ms per epoch" speed-up
base=""
for n in $counts; do
    first=$(seconds "$n" one.par one.out)
    all=$(seconds "$n" many.par many.out)
    per=$(echo "($all - $first) * 1000 / $epochs" | bc -l)
    [ -n "$base" ] || base=$per
    cp many.out "many-$n.out"
    printf '%-10s %13.2fs %14.1f %9.2fx\n' "$n" "$first" "$per" "$(echo "$base / $per" | bc -l)"
done
# The same bits for every count.
for n in $counts; do
    cmp -s many-$n.out "many-$(echo $counts | cut -d' ' -f1).out" || echo "epoch lines differ for $n processes"
done
