# Sourced by the window tests after they set talvo and build: a work
# directory, an X server of their own (start_xvfb), and on exit the feeder,
# talvo and the server stopped and the directory removed (KEEP=1 first copies
# the screenshots and talvo's output to /tmp). fail MESSAGE ends the test
# with talvo's standard error shown.
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
# silence, then silence for as long as the test runs (morse.raw keeps the
# Morse part).
feed_morse() {
  "$build/tests/morsegen" "$1" 700 "$2" 6000 300 0.5 >morse.raw
  sox -n -r 48000 -c 1 -b 16 -e signed-integer -t raw quiet.raw synth 0.1 sine 700 vol 0
  split -b 9600 -d -a 3 morse.raw piece.
  mkfifo audio
  (
    trap '' PIPE
    for _ in $(seq "$3"); do cat quiet.raw 2>/dev/null || exit 0; sleep 0.1; done
    for p in piece.*; do cat "$p" 2>/dev/null || exit 0; sleep 0.1; done
    while :; do cat quiet.raw 2>/dev/null || exit 0; sleep 0.1; done
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
