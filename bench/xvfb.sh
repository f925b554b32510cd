# Sourced by the desktop benchmarks: start_xvfb WORK [SCREEN] starts a private Xvfb (default screen
# 1920x1080x24), sets `xvfb` to its process id (the caller's cleanup stops it) and exports DISPLAY.
# Xvfb writes its display number on the pipe once it accepts clients.
start_xvfb() {
  local work=$1 screen=${2:-1920x1080x24}
  exec 3> >(cat >"$work/display")
  Xvfb -displayfd 3 -screen 0 "$screen" -nolisten tcp -noreset >/dev/null 2>&1 &
  xvfb=$!
  exec 3>&-
  for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
  [ -s "$work/display" ] || { echo "Xvfb did not start" >&2; exit 1; }
  export DISPLAY=":$(head -n1 "$work/display")"
}
