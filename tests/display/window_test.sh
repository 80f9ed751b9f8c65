#!/bin/bash
# End to end in a real window: talvo under Xvfb with keyed audio flowing on
# standard input at real-time pace; a screenshot must show the title, the
# layout and a waterfall with key-down and key-up strips; a click on QUIT
# must end the program at once with status 0.
# Usage: window_test.sh path/to/talvo build-dir
set -euo pipefail
source "$(dirname "$0")/../support/window_session.sh" "$@"
start_xvfb 91 140 || fail "Xvfb did not start"

cp "$build/velquin-font.psf.gz" "$build/txtext.asc" "$work/"
cd "$work"
# Morse on cluster 0 at once, at real-time pace, then silence.
feed_morse "cq cq de dl1abc dl1abc test test" 120 0
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

click_quit
echo "window test passed: key-up $up, key-down $down, text $text pixels"
