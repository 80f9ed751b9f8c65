#!/bin/bash
# talvo-decode's outputs held byte for byte: text, json, events, timestamps
# and spot lines on the bundled sample and on five generated stations that
# call CQ, by both receivers. The spots' wall-clock time (HHMMZ, "utc") is masked.
#
# Usage: decode_golden.sh TALVO_DECODE FINE_GOLDEN SAMPLE GOLDEN_DIR [--write]
set -u
decode=$1 golden=$2 sample=$3 dir=$4 write=${5:-}
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
"$golden" --wav "$scratch" || exit 1
five=$scratch/five.wav

run() {  # name, then talvo-decode's arguments
  local name=$1
  shift
  "$decode" "$@" 2>"$scratch/$name.err" | sed -E 's/ [0-9]{4}Z$/ HHMMZ/; s/"utc": "[^"]*"/"utc": "UTC"/' >"$scratch/$name.out"
  echo "status $?" >>"$scratch/$name.out"
  cat "$scratch/$name.err" >>"$scratch/$name.out"
}
run sample-text "$sample"
run sample-timestamps --timestamps "$sample"
run sample-json --format json "$sample"
run sample-events --format events "$sample"
run sample-spots --spots --dial 7020 "$sample"
run sample-classic --receiver classic "$sample"
run sample-classic-json --receiver classic --format json "$sample"
run five-text "$five"
run five-events --format events --dial 14020 "$five"
run five-spots --spots --dial 14020 --spotter DL0XX "$five"
run five-lsb --spots --dial 14020 --sideband lsb "$five"

bad=0
for f in "$scratch"/*.out; do
  name=$(basename "$f" .out)
  if [ "$write" = --write ]; then
    cp "$f" "$dir/$name.txt"
  elif ! cmp -s "$f" "$dir/$name.txt"; then
    echo "== $name differs:"
    diff "$dir/$name.txt" "$f" | head -20
    bad=1
  fi
done
[ $bad = 0 ] && echo "talvo-decode: every output as committed"
exit $bad
