# Sourced by the window tests with their arguments (path/to/talvo build-dir):
# sets talvo and build, a work directory, an X server of their own
# (start_xvfb), and on exit the feeder, talvo and the server stopped and the
# directory removed (KEEP=1 first copies the screenshots and talvo's output
# to /tmp). fail MESSAGE ends the test with talvo's standard error shown.
talvo=$(realpath "$1")
build=$(realpath "$2")
source "$(dirname "${BASH_SOURCE[0]}")/xvfb.sh"
work=$(mktemp -d)
xvfb=""
feeder=""
pid=""
cleanup() {
  [ -n "$feeder" ] && kill "$feeder" 2>/dev/null || true
  [ -n "$pid" ] && kill "$pid" 2>/dev/null || true
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  if [ -n "${KEEP:-}" ]; then cp "$work"/*.png "$work"/*.txt /tmp/ 2>/dev/null || true; fi
  rm -rf "$work"
}
trap cleanup EXIT
fail() {
  echo "FAIL: $*"
  [ -f "$work/err.txt" ] && sed 's/^/talvo: /' "$work/err.txt" | head -40
  exit 1
}
# feed_morse TEXT CPM LEAD: TEXT in Morse at 700 Hz (cluster 0) into the fifo
# "audio" at real-time pace in 0.1 s pieces, after LEAD tenths of a second of
# silence, then silence for as long as the test runs, two minutes at most
# (morse.raw keeps the Morse part).
feed_morse() {
  "$build/tests/morsegen" "$1" 700 "$2" 6000 300 0.5 >morse.raw
  sox -n -r 48000 -c 1 -b 16 -e signed-integer -t raw quiet.raw synth 0.1 sine 700 vol 0
  split -b 9600 -d -a 3 morse.raw piece.
  mkfifo audio
  (
    trap '' PIPE
    for _ in $(seq "$3"); do cat quiet.raw 2>/dev/null || exit 0; sleep 0.1; done
    for p in piece.*; do cat "$p" 2>/dev/null || exit 0; sleep 0.1; done
    for _ in $(seq 1200); do cat quiet.raw 2>/dev/null || exit 0; sleep 0.1; done
  ) >audio &
  feeder=$!
}
# click_quit: a left click on QUIT must end talvo within a second, status 0.
click_quit() {
  xdotool mousemove --window "$wid" 30 470 click 1
  for _ in $(seq 20); do kill -0 "$pid" 2>/dev/null || break; sleep 0.05; done
  kill -0 "$pid" 2>/dev/null && fail "QUIT did not end the program"
  local status=0
  wait "$pid" || status=$?
  pid=""
  [ "$status" -eq 0 ] || fail "exit status $status"
}
# fake_aplay: an aplay first on PATH that writes what it is given to
# $work/aplay.raw.
fake_aplay() {
  mkdir -p "$work/bin"
  printf '#!/bin/sh\ncat > "%s/aplay.raw"\n' "$work" >"$work/bin/aplay"
  chmod +x "$work/bin/aplay"
  export PATH="$work/bin:$PATH"
}
# screen_rows X Y CHARS: the window's cells of 8 x 8 pixels from (X, Y) as
# they show now, as rows of '#' (lit) and '.' (black), to compare with what
# glyphrows prints for the text expected there.
screen_rows() {
  import -window "$wid" cells.png
  convert cells.png -crop "$((8 * $3))x8+$1+$2" +repage txt:- | tail -n +2 |
    awk '{split($1, p, "[,:]"); c = ($3 == "#000000") ? "." : "#"; row[p[2]] = row[p[2]] c}
         END {for (y = 0; y < 8; y++) print row[y]}'
}
