#!/bin/bash
# Makes pileup.flac: five stations 100 Hz apart around 700 Hz at five
# speeds, started at different times, over white noise; 48000 Hz mono, 16 bit.
# Made with Debian's ebook2cw and sox only.
set -euo pipefail
cd "$(dirname "$0")"
tmp=$(mktemp -d)
trap 'rm -rf "$tmp"' EXIT
station() {  # name wpm frequency delay text
  echo "$5" | (cd "$tmp" && ebook2cw -w "$2" -f "$3" -s 48000 -O -o "$1" >/dev/null 2>&1)
  sox "$tmp/${1}0000.ogg" -b 16 "$tmp/$1.wav" vol 0.32 pad "$4"
}
station a 12 500 0.3 "cq cq de ok1xyz ok1xyz pse k"
station b 16 600 1.1 "qrz? de g4abc g4abc k"
station c 20 700 0.0 "cq test de dl1abc dl1abc test k"
station d 25 800 2.0 "w1aw de dk9zz ur 599 599 bk"
station e 30 900 0.7 "tnx fer qso 73 es gl de ve3xyz sk"
# -v 1: sox -m would otherwise scale each input down by the number of inputs.
sox -m -v 1 "$tmp/a.wav" -v 1 "$tmp/b.wav" -v 1 "$tmp/c.wav" -v 1 "$tmp/d.wav" -v 1 "$tmp/e.wav" \
  "$tmp/mix.wav"
length=$(soxi -D "$tmp/mix.wav")
sox -n -r 48000 -c 1 -b 16 "$tmp/noise.wav" synth "$length" whitenoise vol 0.03
sox -m -v 1 "$tmp/mix.wav" -v 1 "$tmp/noise.wav" -b 16 pileup.flac
soxi pileup.flac
