#!/bin/sh
# Time to accuracy on the bundled handwritten digits (examples/digits): the data set files are
# made from the CSV tables with synapsor-tool import, one 64-32-10 sigmoid network is created
# with a fixed seed, and TimeToAccuracy trains it under each method's settings.
# Usage: bench/time-to-accuracy.sh BUILD_DIR [TARGET [SECONDS]]
set -eu
build=$1
shift
here=$(cd "$(dirname "$0")/.." && pwd)
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
tool=$build/synapsor-tool
digits=$here/examples/digits
"$tool" import "$digits/digits-train.csv" --classes digit --scale minmax \
    --prep-out "$work/digits.prep" -o "$work/train.dat" 2>/dev/null
"$tool" import "$digits/digits-test.csv" --prep "$work/digits.prep" -o "$work/test.dat" 2>/dev/null
"$tool" create --layers 64,32,10 --seed 7 -o "$work/net.wgt" 2>/dev/null
"$build/bench/TimeToAccuracy" "$work/train.dat" "$work/test.dat" "$work/net.wgt" "$@"
