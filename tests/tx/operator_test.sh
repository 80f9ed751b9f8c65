#!/bin/bash
# The operator at work, in a real window under Xvfb: select a cluster with a
# right click and see its decoded text on standard output; type text and see
# it echoed; click the TX speed field both ways and read the figure from a
# screenshot; press F1 and capture the keyed tone from a fake aplay; QUIT.
# Usage: operator_test.sh path/to/talvo build-dir
set -euo pipefail
source "$(dirname "$0")/../support/window_session.sh" "$@"
start_xvfb 191 240 || fail "Xvfb did not start"

cd "$work"
cp "$build/velquin-font.psf.gz" .
printf 'test de talvo k\n73\n' >txtext.asc
fake_aplay

# Morse on cluster 0 after 2.5 s of silence, at real-time pace, then silence.
feed_morse "cq cq de dl1abc dl1abc test test test" 150 25
"$talvo" 700 1200 txtone stdin <audio >out.txt 2>err.txt &
pid=$!
wid=$(timeout 10 xdotool search --sync --name "TALVO Morsedecoder" | head -1) || fail "no window"

# Select cluster 0 (its row lies at y 241 .. 247) with a right click in the
# waterfall: its decoded text goes to standard output from now on.
sleep 0.5
xdotool mousemove --window "$wid" 100 243 click 3
# The cluster's strip turns red once the click is taken.
red() {
  import -window "$wid" strip.png
  [ "$(convert strip.png -crop 300x1+40+242 +repage txt:- | grep -ciE '#[1-9A-F][0-9A-F]0000')" -gt 0 ]
}
for _ in $(seq 50); do red && break; sleep 0.1; done
red || fail "cluster 0 not selected"
for _ in $(seq 200); do grep -q "dl1abc test test" out.txt && break; sleep 0.1; done  # a file: no pipe
grep -q "dl1abc test test" out.txt || fail "no decoded text on standard output: $(cat out.txt)"

xdotool mousemove --window "$wid" 200 470 click 1
sleep 0.3
[ "$(screen_rows 230 465 4)" = "$("$build/tests/glyphrows" "90  ")" ] || fail "TX speed after a left click"
xdotool click 3 click 3
sleep 0.3
[ "$(screen_rows 230 465 4)" = "$("$build/tests/glyphrows" "110 ")" ] || fail "TX speed after two right clicks"

# Typed text echoed in white on the transmit line (x 390, y 12).
xdotool type --window "$wid" --delay 50 "hi"
sleep 0.3
import -window "$wid" typed.png
echoed=$(convert typed.png -crop 20x8+390+12 +repage txt:- | grep -ciE '#(FFFFFF|AAAAAA)' || true)
[ "$echoed" -gt 10 ] || fail "typed text not echoed ($echoed)"

# F1 sends the first line of txtext.asc as a tone into the player.
: >aplay.raw
xdotool key --window "$wid" F1
sleep 4
kill -0 "$pid" 2>/dev/null || fail "talvo ended"
click_quit

# The tone: the transmit channel's 48000 / 68 = 705.9 Hz, keyed.
bytes=$(stat -c %s aplay.raw)
[ "$bytes" -gt 96000 ] || fail "no tone captured ($bytes bytes)"
freq=$(sox -t raw -r 48000 -c 1 -b 16 -e signed-integer aplay.raw -n stat 2>&1 |
  awk '/Rough   frequency/ {print $3}')
[ "${freq:-0}" -gt 650 ] && [ "$freq" -lt 760 ] || fail "tone at ${freq:-?} Hz"
peak=$(sox -t raw -r 48000 -c 1 -b 16 -e signed-integer aplay.raw -n stat 2>&1 |
  awk '/Maximum amplitude/ {print $3}')
echo "operator test passed: decoded \"$(tr -s ' ' <out.txt | head -c 60)\", tone $freq Hz, peak $peak"
