# Sourced by the shell tests and benchmarks: starts an X server of their own.
# start_xvfb FIRST LAST: takes the first free display number in FIRST..LAST,
# exports DISPLAY, sets xvfb to the server's pid and waits until it answers.
start_xvfb() {
  local n
  for n in $(seq "$1" "$2"); do
    if [ ! -e "/tmp/.X11-unix/X$n" ] && [ ! -e "/tmp/.X$n-lock" ]; then
      export DISPLAY=:$n
      break
    fi
  done
  Xvfb "$DISPLAY" -screen 0 1280x600x24 -nolisten tcp >/dev/null 2>&1 &
  xvfb=$!
  for _ in $(seq 50); do xdotool getdisplaygeometry >/dev/null 2>&1 && return 0; sleep 0.1; done
  return 1
}
