#!/bin/sh
# Times `synapsor-tool import` on a generated CSV table and reports its throughput and peak
# memory against the size of the data set it writes.
#   bench/import-bench.sh [ROWS] [TOOL]
# ROWS defaults to 5000000 (about 1 GB of CSV: 20 number columns and a class column), TOOL to
# build/synapsor-tool. The files go to a temporary directory beside the build, removed at the end.
# The budget the import is held to: peak memory at most 1.5 times the data set written plus
# 100 MB, and at least 50 MB of CSV per second.
set -eu
rows=${1:-5000000}
tool=${2:-build/synapsor-tool}
dir=$(mktemp -d "${BENCH_DIR:-build}/import-bench.XXXXXX")
trap 'rm -rf "$dir"' EXIT INT TERM

# Numbers of 3 to 8 significant digits, negative ones among them, and three classes.
awk -v rows="$rows" 'BEGIN {
    srand(7);
    for (c = 1; c <= 20; ++c) printf "x%d,", c;
    print "kind";
    for (r = 0; r < rows; ++r) {
        for (c = 1; c <= 20; ++c) printf "%.*g,", 3 + c % 6, (rand() - 0.3) * 10 ^ (c % 5);
        k = rand(); print (k < 0.3 ? "setosa" : k < 0.7 ? "versicolor" : "virginica");
    }
}' > "$dir/table.csv"

/usr/bin/time -f "%e %M %U %S" -o "$dir/time" \
    "$tool" import "$dir/table.csv" --classes kind -o "$dir/table.dat" 2> "$dir/err" ||
    { cat "$dir/err"; exit 1; }
set -- $(cat "$dir/time")
seconds=$1
peak_kb=$2
cpu=$(echo "$3 $4" | awk '{ print $1 + $2 }')
csv=$(stat -c %s "$dir/table.csv")
data=$(stat -c %s "$dir/table.dat")
awk -v s="$seconds" -v cpu="$cpu" -v peak="$peak_kb" -v csv="$csv" -v data="$data" -v rows="$rows" 'BEGIN {
    mb = 1000 * 1000;
    budget = 1.5 * data / mb + 100;
    printf "rows %d, CSV %.0f MB, data set %.0f MB\n", rows, csv / mb, data / mb;
    printf "time %.2f s: %.0f MB of CSV per second (target at least 50)\n", s, csv / mb / s;
    printf "processor time %.2f s: %.0f MB per second of it (on a loaded machine the\n", cpu,
           csv / mb / cpu;
    printf "  elapsed time includes waiting for a core)\n";
    printf "peak memory %.0f MB, budget %.0f MB (1.5 x data set + 100): %s\n", peak * 1024 / mb,
           budget, peak * 1024 / mb <= budget ? "within" : "OVER";
}'
