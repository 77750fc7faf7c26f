#!/bin/sh
# Letting the network find its size: train the iris network with learning with forgetting (LWF),
# prune the weights it drove towards zero and the neurons left without use, retrain without LWF,
# and compare the test accuracy before and after. Prints the pruning report and the figures the
# top-level README quotes; the tests run this script and compare.
#
# Usage: run.sh [BUILD_DIR [WORK_DIR]]
#   BUILD_DIR holds Synapsor and synapsor-tool (default: build at the top of the repository);
#   WORK_DIR receives every file of the run (default: BUILD_DIR/structural-learning). It is
#   emptied first.
set -eu

here=$(cd "$(dirname "$0")" && pwd)
build=$(cd "${1:-$here/../../build}" && pwd)
work=${2:-$build/structural-learning}
tool=$build/synapsor-tool
trainer=$build/Synapsor
for program in "$tool" "$trainer"; do
    [ -x "$program" ] || { echo "run.sh: $program is missing: run make first" >&2; exit 1; }
done

# Settings of the recipe: the README explains each.
hidden=10
seed=7
epochs_lwf=300
forgetting_rate=0.01
threshold=0.1
epochs_retrain=100

rm -rf "$work"
mkdir -p "$work"
cd "$work"

# The iris rows are shuffled once in the file: the first 100 train, the last 50 test (17, 17
# and 16 flowers of the three species).
split_rows() {  # split_rows FIRST LAST OUT
    awk -v first="$1" -v last="$2" '
        /^\[Data\]/ { in_data = 1; next }
        /^\[~Data\]/ { in_data = 0; next }
        in_data && NF == 7 { row++; if (row >= first && row <= last) rows[++n] = $0 }
        END {
            print "[DataSet]"; print "[Rows = " n "]"; print "[Inputs = 4]"
            print "[ExpectedOutputs = 3]"; print "[Data]"
            for (i = 1; i <= n; i++) print rows[i]
            print "[~Data]"; print "[~DataSet]"
        }' "$here/../iris/iris.dat" >"$3"
}
split_rows 1 100 train.dat
split_rows 101 150 test.dat

"$tool" create --layers 4,$hidden,3 --seed $seed -o start.wgt

cat >lwf.par <<PAR
WeightFile      = start.wgt
TrainingFile    = train.dat
DestinationFile = lwf.wgt
Epochs          = $epochs_lwf
LearningRate    = 0.2
Momentum        = 0.5
LWF             = true
ForgettingRate  = $forgetting_rate
PAR
"$trainer" lwf.par >lwf.log

"$tool" info lwf.wgt >lwf-info.txt
"$tool" info --json lwf.wgt >lwf-info.json
"$tool" evaluate --json lwf.wgt test.dat >lwf-test.json
"$tool" prune lwf.wgt -o pruned.wgt --threshold $threshold >prune.txt

cat >retrain.par <<PAR
WeightFile      = pruned.wgt
TrainingFile    = train.dat
DestinationFile = retrained.wgt
Epochs          = $epochs_retrain
LearningRate    = 0.2
Momentum        = 0.5
PAR
"$trainer" retrain.par >retrain.log

"$tool" info retrained.wgt >retrained-info.txt
"$tool" info --json retrained.wgt >retrained-info.json
"$tool" evaluate --json retrained.wgt test.dat >retrained-test.json

# Figures from the JSON reports: the totals' weights and hidden neurons, the test accuracy.
total() {  # total KEY FILE: the value of KEY inside the "totals" object
    sed -n '/"totals"/,/}/s/.*"'"$1"'": *\([0-9.eE+-]*\).*/\1/p' "$2"
}
hidden_neurons() {  # the neurons of the layers whose role is "hidden"
    awk '/"neurons"/ { gsub(/[^0-9]/, ""); n = $0 } /"role": "hidden"/ { h = 1 }
         /}/ { if (h) s += n; h = 0 } END { print s + 0 }' "$1"
}
accuracy() {  # accuracy FILE: as a percentage with one decimal
    sed -n 's/.*"accuracy": *\([0-9.eE+-]*\).*/\1/p' "$1" | awk '{ printf "%.1f%%", 100 * $1 }'
}
cat prune.txt
weights_before=$(total existing lwf-info.json)
weights_after=$(total existing retrained-info.json)
echo "Weights:        $weights_before after training with LWF, $weights_after after pruning"
echo "Hidden neurons: $(hidden_neurons lwf-info.json) after training with LWF, $(hidden_neurons retrained-info.json) after pruning"
echo "Test accuracy:  $(accuracy lwf-test.json) after training with LWF, $(accuracy retrained-test.json) after pruning and retraining"
