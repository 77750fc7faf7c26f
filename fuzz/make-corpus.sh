#!/usr/bin/env bash
# Builds the seed corpora of the fuzz targets under DIR (default build-fuzz/corpus), one
# directory per target: the example files, the golden files of the tests, the file texts written
# as string literals in the tests, a few hand-made seeds, and for the training run every
# example's parameter, network and data set joined with the separator line "%%". The tool's
# targets get the CSV tables of the examples and tests (each behind a few option prefixes), the
# preparation files of the documentation and tests, and epoch logs.
# Seeds are only added: a corpus that has grown in earlier runs is kept.
set -euo pipefail
cd "$(dirname "$0")/.."
dir=${1:-build-fuzz/corpus}
mkdir -p "$dir"/{ParameterFile,NetworkFile,DataSetFile,TrainingRun,CsvImport,Preparation,PlotLog}

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

# The tool's inputs: a CSV table goes behind option prefixes (see FuzzCsvImport.cpp): fitted with
# min-max scaling and the first column as target; z-scores with the first column as classes;
# shuffled, split 0.4 and a column dropped, bad rows dropped; without header, a label column.
csv_seed() {  # csv_seed NAME FILE
    local p k=0
    for p in '\x08\x00\x01\x00' '\x10\x01\x81\x00' '\xe8\x03\x02\x01' '\x04\x00\x00\x01'; do
        { printf "$p"; cat "$2"; } >"$dir/CsvImport/$1-$k"
        k=$((k + 1))
    done
}
for f in examples/*/*.csv tests/*/*.csv; do [ -f "$f" ] && csv_seed "$(echo "$f" | tr / _)" "$f"; done
for f in examples/*/*.prep tests/*/*.prep; do
    [ -f "$f" ] && cp "$f" "$dir/Preparation/$(echo "$f" | tr / _)"
done

# Texts written as string literals in the tool's tests: preparations, epoch logs, CSV tables.
literals=$(mktemp -d)
trap 'rm -rf "$literals"' EXIT
perl -e '
    my ($dir) = @ARGV[0]; my $n = 0;
    sub emit { my ($text) = @_;
        my $kind = $text =~ /\[\s*Preparation/i ? "Preparation"
                 : $text =~ /^-?\d+ \S+\r?$/m && $text !~ /\[/ ? "PlotLog"
                 : $text =~ /[,;\t][^\n]*\n./s ? "CsvImport" : "";
        return unless $kind;
        open(my $fh, ">", sprintf("%s/%s-%04d", $dir, $kind, $n++)) or die;
        print $fh $text; close $fh; }
    for my $file (glob("tests/Tool/*Test.cpp")) {
        open(my $in, "<", $file) or die; local $/; my $src = <$in>; close $in;
        while ($src =~ /R"\((.*?)\)"/sg) { emit($1); }
        while ($src =~ /((?:"(?:[^"\\]|\\.)*"\s*)+)/g) {
            my $run = $1; my $text = "";
            while ($run =~ /"((?:[^"\\]|\\.)*)"/g) { $text .= $1; }
            next unless $text =~ /\\n/;
            $text =~ s/\\n/\n/g; $text =~ s/\\r/\r/g; $text =~ s/\\t/\t/g; $text =~ s/\\"/"/g;
            $text =~ s/\\\\/\\/g;
            emit($text); }
    }' "$literals"
for f in "$literals"/Preparation-*; do [ -f "$f" ] && cp "$f" "$dir/Preparation/literal-${f##*-}"; done
# A log seed starts with the option byte (see FuzzPlotLog.cpp): 0 is a linear axis.
for f in "$literals"/PlotLog-*; do
    [ -f "$f" ] && { printf '\x00'; cat "$f"; } >"$dir/PlotLog/literal-${f##*-}"
done
for f in "$literals"/CsvImport-*; do [ -f "$f" ] && csv_seed "literal-${f##*-}" "$f"; done
# The preparation of the documentation.
perl -ne 'print if /^\[FormatVersion/ .. /^\[~Preparation\]/' doc/Preparation.md \
    >"$dir/Preparation/doc-layout.prep"
cat >"$dir/Preparation/zscore-and-none.prep" <<'PREP'
[FormatVersion = 1.0]
[Preparation]
[Column] [Name = a%20b] [Role = input] [Type = number] [Scale = zscore]
[Mean = -2.5] [Deviation = 0.75] [~Column]
[Column] [Name = n] [Role = input] [Type = number] [Scale = none] [~Column]
[Column] [Name = y] [Role = target] [Type = number] [Scale = minmax] [Min = 0] [Max = 1e3] [~Column]
[~Preparation]
PREP
# Epoch logs as the trainer prints them (a warning line, CRLF, exponents), one or two curves.
printf '\x001 0.693147\n2 0.5\r\n3 0.25\n10 1e-05\nwarning: x\n' >"$dir/PlotLog/trainer"
printf '\x01%s' "$(printf '1 0.9\n2 0.4\n3 0.2\n\n%%%%\n1 1.2\n2 0.8\n3 0.5\n')" >"$dir/PlotLog/two-curves-log"
printf '\x06100000 3.5\n200000 -1\n300000 0\n' >"$dir/PlotLog/negative-title"
