#!/bin/bash
# The README's recipe for a recording, run as written under Xvfb: sox
# converts it, pv passes it on at real-time pace (96000 bytes a second),
# talvo shows it. Three seconds in, the window must still be open and talvo
# still running; without pv the same file is read at once and the program
# ends well before the file's ten seconds (within 7 s: a sanitizer build
# on a slow machine takes about 3 s for it).
# Usage: file_recipe_test.sh path/to/talvo build-dir
# No pipefail: the pipelines end with talvo's status (pv ends by SIGPIPE after it).
set -eu
talvo=$(realpath "$1")
build=$(realpath "$2")
source "$(dirname "$0")/../support/window_session.sh"
start_xvfb 141 190 || fail "Xvfb did not start"
command -v pv >/dev/null || fail "pv is not installed (scripts/install-deps)"

cp "$build/velquin-font.psf.gz" "$build/txtext.asc" "$work/"
cd "$work"
# A 44.1 kHz stereo recording of about ten seconds.
"$build/tests/morsegen" "cq cq de dl1abc dl1abc test test k" 700 100 6000 300 1 >x.raw
sox -t raw -r 48000 -e signed-integer -b 16 -c 1 x.raw -r 44100 -c 2 x.wav
export PATH="$(dirname "$talvo"):$PATH"

# Without pv: over well before the file's ten seconds.
sox x.wav -r 48000 -c 1 -b 16 -e signed-integer -t raw - | talvo 700 1200 notone stdin \
  >fast.txt 2>err.txt &
pid=$!
for _ in $(seq 70); do
  kill -0 "$pid" 2>/dev/null || break
  sleep 0.1
done
kill -0 "$pid" 2>/dev/null && fail "without pv the file was not read at once"
pid=""

sox x.wav -r 48000 -c 1 -b 16 -e signed-integer -t raw - | pv -qL 96000 | talvo 700 1200 notone stdin \
  >out.txt 2>err.txt &
pid=$!
wid=$(timeout 10 xdotool search --sync --name "TALVO Morsedecoder" | head -1) || fail "no window"
sleep 3
kill -0 "$pid" 2>/dev/null || fail "talvo ended within 3 s"
xdotool getwindowname "$wid" >/dev/null 2>&1 || fail "the window closed within 3 s"
click_quit
echo "file recipe test passed: window open and talvo running after 3 s"
