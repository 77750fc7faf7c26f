#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets under DIR (default build-fuzz/corpus), one
# directory per target: the example files, the golden files of the tests, the file texts written
# as string literals in the tests, a few hand-made seeds, and for the training run every
# example's parameter, network and data set joined with the separator line "%%".
# Seeds are only added: a corpus that has grown in earlier runs is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz/corpus}
mkdir -p "$dir"/{ParameterFile,NetworkFile,DataSetFile,TrainingRun}

for f in examples/*/*.par tests/*/*.par; do [ -f "$f" ] && cp "$f" "$dir/ParameterFile/"; done
for f in examples/*/*.wgt tests/*/*.wgt tests/*/*/*.wgt; do
    [ -f "$f" ] && cp "$f" "$dir/NetworkFile/$(echo "$f" | tr / _)"
done
for f in examples/*/*.dat tests/*/*.dat tests/*/*/*.dat; do
    [ -f "$f" ] && cp "$f" "$dir/DataSetFile/$(echo "$f" | tr / _)"
done

# Texts spelled as runs of string literals (one literal per line) or raw literals in the tests.
perl -e '
    my ($dir) = @ARGV[0]; my $n = 0;
    sub emit { my ($text) = @_;
        my $kind = $text =~ /\[\s*DataSet/i ? "DataSetFile"
                 : $text =~ /\[\s*(Neural)?Network/i ? "NetworkFile"
                 : $text =~ /(WeightFile|TrainingFile|Epochs)\s/ ? "ParameterFile" : "";
        return unless $kind;
        open(my $fh, ">", sprintf("%s/%s/literal-%04d", $dir, $kind, $n++)) or die;
        print $fh $text; close $fh; }
    for my $file (glob("tests/*/*Test.cpp")) {
        open(my $in, "<", $file) or die; local $/; my $src = <$in>; close $in;
        while ($src =~ /R"\((.*?)\)"/sg) { emit($1); }
        while ($src =~ /((?:^\s*"(?:[^"\\]|\\.)*"\s*\n){2,})/mg) {
            my $run = $1; my $text = "";
            while ($run =~ /"((?:[^"\\]|\\.)*)"/g) { $text .= $1; }
            $text =~ s/\\n/\n/g; $text =~ s/\\t/\t/g; $text =~ s/\\"/"/g; $text =~ s/\\\\/\\/g;
            emit($text); }
    }' "$dir"

cat > "$dir/ParameterFile/every-key.par" <<'PAR'
WeightFile = a.wgt TrainingFile = a.dat DestinationFile = b.wgt
Epochs = 12abc LearningRate = 0.25 Momentum = 0.9 Batch = TRUE LWF = true
ForgettingRate = 1e-3 #Features = 2 Features = 0 1 Verbose = yes
PAR
cat > "$dir/DataSetFile/labels-and-second-set.dat" <<'DAT'
[FormatVersion = 1.0]
[DataSet]
[Rows = 2]
[Inputs = 2]
[ExpectedOutputs = Labels]
[GeneratedOutputs = 1]
[Error = 1]
[Data]
1 2  0.5 0.1 [cat dog = 0.25] /* row */
3,4  1e-3 -2 []
[~Data]
[~DataSet]
DAT

for ex in examples/*/; do
    name=$(basename "$ex")
    [ -f "$ex/$name.par" ] && [ -f "$ex/$name.wgt" ] && [ -f "$ex/$name.dat" ] || continue
    { cat "$ex/$name.par"; printf '\n%%%%\n'; cat "$ex/$name.wgt"; printf '\n%%%%\n'
      cat "$ex/$name.dat"; } >"$dir/TrainingRun/$name"
done
# The golden networks of the tests, each with four rows of its own input and output counts.
for w in tests/FileHandler/golden/*.wgt; do
    base=$(basename "$w" .wgt)
    ins=$(sed -n 's/.*NumberOfInputs = \([0-9]*\).*/\1/p' "$w")
    outs=$(sed -n 's/.*NumberOfOutputs = \([0-9]*\).*/\1/p' "$w")
    { printf 'Epochs = 2 Batch = true LWF = true\n%%%%\n'; cat "$w"; printf '\n%%%%\n'
      printf '[DataSet][Rows = 4][Inputs = %s][ExpectedOutputs = %s][Data]\n' "$ins" "$outs"
      for row in 1 2 3 4; do
          for ((k = 0; k < ins + outs; ++k)); do printf '%s ' $(((row + k) % 2)); done
          echo
      done
      echo '[~Data][~DataSet]'; } >"$dir/TrainingRun/golden-$base"
done
