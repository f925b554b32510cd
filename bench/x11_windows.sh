#!/usr/bin/env bash
# Whole-process times of the window tools on a private Xvfb managed by openbox, each compared in one
# hyperfine run with the peer that does the same job on the same display:
#   paneroll with 40 windows open        vs  wmctrl -l          target: ratio <= 1.0
#   shotpane of a 1280x800 window        vs  maim -i ID          target: ratio <= 0.5
# The windows come from ssp-test-window (a WM_CLASS, a title, a pixel pattern).
#
# Usage: bench/x11_windows.sh [BIN_DIR]   (default: build/bin; needs paneroll, shotpane, ssp-screencapture,
#        ssp-test-window; Xvfb, openbox, xprop, wmctrl, maim, hyperfine, jq)
set -euo pipefail

bin_dir=$(cd "${1:-build/bin}" && pwd)
for tool in paneroll shotpane ssp-screencapture ssp-test-window; do
  [ -x "$bin_dir/$tool" ] || { echo "missing $bin_dir/$tool" >&2; exit 2; }
done

work=$(mktemp -d)
pids=()
cleanup() {
  for ((i = ${#pids[@]} - 1; i >= 0; i--)); do kill "${pids[i]}" 2>/dev/null || true; done
  wait 2>/dev/null || true
  rm -rf "$work"
}
trap cleanup EXIT

# A private display (never a fixed number), managed by openbox.
exec {displayfd}>"$work/display"
Xvfb -displayfd "$displayfd" -screen 0 1920x1080x24 -nolisten tcp -noreset >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 100); do [ -s "$work/display" ] && break; sleep 0.05; done
export DISPLAY=":$(head -1 "$work/display")"
export XDG_RUNTIME_DIR="$work" SSP_PLATFORM=x11
openbox --sm-disable >/dev/null 2>&1 &
pids+=($!)
for _ in $(seq 200); do xprop -root _NET_WORKAREA 2>/dev/null | grep -q CARDINAL && break; sleep 0.05; done

# Opens a test window and waits until it is painted; prints its id.
open_window() {
  local log="$work/window-$RANDOM$RANDOM"
  "$bin_dir/ssp-test-window" "$@" >"$log" &
  pids+=($!)
  for _ in $(seq 200); do [ -s "$log" ] && break; sleep 0.02; done
  head -1 "$log"
}

classes=(code,Code google-chrome,Google-chrome firefox-esr,Firefox-esr xterm,XTerm org.gnome.Nautilus,Org.gnome.Nautilus)
for i in $(seq 0 39); do
  open_window --class "${classes[i % 5]}" --title "Window $i - a document title" \
    --geometry "300x200+$((i % 8 * 200))+$((i / 8 * 180))" --seed "$i" >/dev/null
done
count=$("$bin_dir/paneroll" | jq length)
echo "windows open: $(wmctrl -l | wc -l) (paneroll lists the first $count)"

hyperfine --warmup 3 --runs "${RUNS:-30}" -N --export-json "$work/list.json" \
  -n paneroll "$bin_dir/paneroll" \
  -n "wmctrl -l" "wmctrl -l"

# One large window in front of the others.
big=$(open_window --class cursor,Cursor --title "Editor" --geometry 1280x800+100+60 --seed 11)
"$bin_dir/shotpane" "$work/check.png" "$big" | jq -e '.ok and .method == "screencapture-window"' >/dev/null
maim -i "$big" "$work/maim.png"
echo "PNG sizes: shotpane $(stat -c %s "$work/check.png") bytes (frame), maim $(stat -c %s "$work/maim.png") bytes (client)"

hyperfine --warmup 3 --runs "${RUNS:-30}" -N --export-json "$work/shot.json" \
  -n shotpane "$bin_dir/shotpane $work/shotpane.png $big" \
  -n "maim -i ID" "maim -i $big $work/maim.png"

ratio() { jq -r --arg name "$2" --arg target "$3" \
  '.results as $r | "ratio \($name): \(($r[0].mean / $r[1].mean * 100 | round) / 100) (target <= \($target))"' "$1"; }
ratio "$work/list.json" "paneroll / wmctrl -l (40 windows)" 1.0
ratio "$work/shot.json" "shotpane / maim -i ID (1280x800)" 0.5
