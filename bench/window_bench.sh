#!/bin/bash
# Real-time factor of the whole program, with its window open under Xvfb and
# headless: 60 s of audio with several keyed stations and noise, made with
# sox, from standard input as fast as the program takes it.
# Usage: bench/window_bench.sh [build-dir] [seconds]
set -euo pipefail
build=$(realpath "${1:-build}")
here=$(dirname "$(realpath "$0")")
seconds=${2:-60}
work=$(mktemp -d)
xvfb=""
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

source "$here/../tests/support/xvfb.sh"
start_xvfb 141 190

cp "$build/velquin-font.psf.gz" "$build/txtext.asc" "$work/"
cd "$work"
sox -n -r 48000 -c 1 -b 16 -e signed-integer -t raw audio.raw synth "$seconds" \
  sine 600 synth square amod 3 sine 700 synth square amod 5 \
  sine 800 synth square amod 7 sine 900 synth square amod 2 whitenoise mix vol 0.3

run() {  # label, then the environment for talvo
  local label=$1
  shift
  /usr/bin/time -o times -f "%e %U %S" env "$@" "$build/talvo" 700 1200 notone stdin \
    <audio.raw >/dev/null 2>/dev/null
  read -r wall user sys <times
  echo "$label: $seconds s of audio in $wall s ($user s user, $sys s system):" \
       "$(echo "$seconds / $wall" | bc) times real time"
}
run "window under Xvfb" DISPLAY="$DISPLAY"
run "headless         " -u DISPLAY
