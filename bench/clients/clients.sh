#!/bin/bash
# Real DX-cluster clients on talvo-decode's spot server: tlf (a contest
# logger, in tmux) and xdx (a GTK cluster client, under Xvfb). A two-station
# band (K5MR and DL9SAS calling "cq test", 28 WPM, 700 and 1400 Hz above a
# 14020 kHz dial) is decoded from a WAV with --telnet; once decoded the server
# keeps serving, and each client logs in, asks sh/dx and shows the spots:
# tlf in its band map (tmux capture-pane), xdx in its spot list (a screenshot
# with ImageMagick's import). Not a test: it drives the clients' screens with
# fixed waits and prints what it captured.
#
# Usage: bench/clients/clients.sh BUILD_DIR [OUT_DIR]   (default /tmp/talvo-clients)
# Needs: tlf, tmux, xdx, xvfb, xdotool, imagemagick, sox (scripts/install-deps).
set -u
build=$(realpath "$1")
out=${2:-/tmp/talvo-clients}
mkdir -p "$out"
work=$(mktemp -d)
port=$(python3 -c 'import socket; s=socket.socket(); s.bind(("127.0.0.1",0)); print(s.getsockname()[1])')
display=:$((90 + RANDOM % 100))
pids=()
cleanup() {
  tmux kill-session -t talvo-clients-tlf 2>/dev/null
  for p in "${pids[@]}"; do kill "$p" 2>/dev/null; done
  wait 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

# The band: two runners, three copies of each call.
"$build/tests/morsegen" "cq test k5mr k5mr k5mr test" 700 140 4000 300 1 >"$work/a.raw"
"$build/tests/morsegen" "cq test dl9sas dl9sas dl9sas test" 1400 140 4000 300 1 >"$work/b.raw"
sox -M -t raw -r 48000 -e signed -b 16 -c 1 "$work/a.raw" -t raw -r 48000 -e signed -b 16 -c 1 \
  "$work/b.raw" -c 1 "$work/band.wav" remix 1,2

"$build/talvo-decode" --spots --dial 14020 --telnet "$port" "$work/band.wav" \
  >"$out/talvo-decode.out" 2>"$out/talvo-decode.err" &
pids+=($!)
for _ in $(seq 100); do grep -q serving "$out/talvo-decode.err" && break; sleep 0.1; done
echo "== talvo-decode"
cat "$out/talvo-decode.out" "$out/talvo-decode.err"

# tlf: connects to the node at start and logs in; ":pac" in the call field
# opens its packet screen, where sh/dx is typed; ":" and Enter lead back to
# the logging screen and its band map.
mkdir -p "$work/tlf"
cat >"$work/tlf/logcfg.dat" <<CFG
CALL=DL0TST
CONTEST=qso
LOGFILE=bench.log
TELNETHOST=127.0.0.1
TELNETPORT=$port
CLUSTERLOGIN=DL0TST
BANDMAP
CFG
tmux new-session -d -s talvo-clients-tlf -x 120 -y 40 "cd $work/tlf && tlf -r"
pane() { tmux capture-pane -p -t talvo-clients-tlf; }
wait_pane() {  # text, seconds
  for _ in $(seq $(($2 * 10))); do pane | grep -q "$1" && return 0; sleep 0.1; done
  echo "tlf: no '$1' on screen" >&2
  return 1
}
wait_pane "Press any key" 20 && tmux send-keys -t talvo-clients-tlf Enter
wait_pane "== qso ==" 20 && tmux send-keys -t talvo-clients-tlf ':pac' Enter
wait_pane "this is TALVO" 20 && tmux send-keys -t talvo-clients-tlf 'sh/dx' Enter
wait_pane "DL9SAS" 10
pane >"$out/tlf-packet.txt"
tmux send-keys -t talvo-clients-tlf ':'
sleep 1
tmux send-keys -t talvo-clients-tlf Enter
wait_pane "bands: all" 10
sleep 1
pane >"$out/tlf-bandmap.txt"
echo "== tlf packet screen ($out/tlf-packet.txt)"
grep -v '^ *$' "$out/tlf-packet.txt"
echo "== tlf band map ($out/tlf-bandmap.txt)"
grep -E '^1402' "$out/tlf-bandmap.txt"

# xdx: Host > Connect..., host and port, the call at the login prompt, sh/dx.
Xvfb "$display" -screen 0 1280x800x24 >/dev/null 2>&1 &
pids+=($!)
sleep 2
mkdir -p "$work/home"
HOME="$work/home" DISPLAY=$display xdx >"$work/xdx.log" 2>&1 &
pids+=($!)
sleep 4
export DISPLAY=$display
xdotool mousemove 103 42 click 1
sleep 1
xdotool mousemove 144 67 click 1
sleep 1.5
xdotool mousemove 428 283 click 1 && xdotool type --delay 30 127.0.0.1
xdotool mousemove 428 325 click 1 && xdotool type --delay 30 "$port"
xdotool mousemove 510 365 click 1
sleep 3
xdotool mousemove 380 557 click 1 && xdotool type --delay 30 dl0tst && xdotool key Return
sleep 2
xdotool type --delay 30 sh/dx && xdotool key Return
sleep 3
import -window root -crop 760x620+0+0 "$out/xdx.png"
echo "== xdx spot list: $out/xdx.png"
