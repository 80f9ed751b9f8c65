#!/bin/bash
# End to end in a real window: talvo under Xvfb with keyed audio flowing on
# standard input at real-time pace; a screenshot must show the title, the
# layout and a waterfall with key-down and key-up strips; a click on QUIT
# must end the program at once with status 0.
# Usage: window_test.sh path/to/talvo build-dir
set -euo pipefail
talvo=$(realpath "$1")
build=$(realpath "$2")
work=$(mktemp -d)
xvfb=""
feeder=""
cleanup() {
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null || true
  [ -n "${pid:-}" ] && kill "$pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  [ -n "${KEEP:-}" ] && cp "$work/shot.png" /tmp/shot.png; rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$work/err.txt" ] && sed 's/^/talvo: /' "$work/err.txt" | head -40
  exit 1
}

# A display of our own.
source "$(dirname "$0")/../support/xvfb.sh"
start_xvfb 91 140 || fail "Xvfb did not start"

cp "$build/velquin-font.psf.gz" "$build/txtext.asc" "$work/"
cd "$work"
# Morse at 700 Hz (cluster 0), at real-time pace in 0.1 s pieces, then
# silence for as long as the test needs.
"$build/tests/morsegen" "cq cq de dl1abc dl1abc test test" 700 120 6000 300 0.5 >morse.raw
split -b 9600 -d -a 3 morse.raw piece.
sox -n -r 48000 -c 1 -b 16 -e signed-integer -t raw quiet.raw synth 0.1 sine 700 vol 0
mkfifo audio
(
  trap '' PIPE
  for p in piece.*; do cat "$p" 2>/dev/null || exit 0; sleep 0.1; done
  while :; do cat quiet.raw 2>/dev/null || exit 0; sleep 0.1; done
) >audio &
feeder=$!
"$talvo" 700 1200 notone stdin <audio >out.txt 2>err.txt &
pid=$!

wid=$(timeout 10 xdotool search --sync --name "TALVO Morsedecoder" | head -1) || fail "no window"
[ "$(xdotool getwindowname "$wid")" = "TALVO Morsedecoder  velquin36v1" ] || fail "window title"
# The whole text at 120 characters per minute, and the decoder's word gap.
sleep "$(echo "$(stat -c %s morse.raw) / 96000 + 1.5" | bc)"
import -window "$wid" shot.png

# Count the pixels of one colour in a region of the screenshot.
count() {  # colour WxH+X+Y
  convert shot.png -crop "$2" +repage txt:- | grep -ci "#$1" || true
}
[ "$(count 808000 32x8+20+465)" -gt 20 ] || fail "QUIT label"
[ "$(count 004080 200x8+20+435)" -gt 200 ] || fail "title line"
[ "$(count 0050FF 24x8+5+235)" -gt 10 ] || fail "frequency label 700"
[ "$(count 00FF00 40x8+346+12)" -gt 20 ] || fail "Send: label"
# Cluster 0's strip: key up (brightness 30) and key down (130 and more).
up=$(count 001E00 300x6+40+240)
down=$(convert shot.png -crop 300x1+40+242 +repage txt:- | grep -cE '#00([89A-F][0-9A-F])00' || true)
[ "$up" -gt 100 ] || fail "no key-up strip ($up)"
[ "$down" -gt 30 ] || fail "no key-down strip ($down)"
# Its text line: the decoded text in white in the bitmap font (16 rows from
# y 235), the speed figure in blue at x 350, the orange cursor mark.
text=$(count FFFFFF 600x16+375+235)
[ "$text" -gt 300 ] || fail "no decoded text on cluster 0's line ($text white pixels)"
[ "$(count 0080FF 24x8+350+235)" -gt 10 ] || fail "no speed figure"
[ "$(count FF8800 800x16+375+235)" -gt 10 ] || fail "no cursor mark"
# Nothing decoded on an idle cluster's line (cluster 10, y 155).
[ "$(count FFFFFF 600x16+375+155)" -eq 0 ] || fail "text on an idle cluster"
# Cluster 10 hears nothing: key up only.
[ "$(count 001E00 300x1+40+160)" -gt 100 ] || fail "idle cluster strip"
[ "$(count 00FF00 300x6+40+160)" -eq 0 ] || fail "idle cluster keyed"

xdotool mousemove --window "$wid" 30 470 click 1
for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
kill -0 "$pid" 2>/dev/null && fail "QUIT did not end the program"
status=0
wait "$pid" || status=$?
pid=""
[ "$status" -eq 0 ] || fail "exit status $status"
echo "window test passed: key-up $up, key-down $down, text $text pixels"
