#!/usr/bin/env bash
# framewell against ffmpeg's x11grab with its PNG encoder at compression level 1, on one private
# 1920 x 1080 Xvfb showing samples/desktop-1080p.png with a clock and a caret that change 60 times a
# second (x11_scene --animate), so that every frame must be encoded again. Interleaved, ROUNDS times,
# each run streaming for DURATION seconds at 60 frames a second requested:
#   framewell 1920 x 1080 (the whole display), ffmpeg on one thread, ffmpeg on its default threads,
#   framewell 800 x 600 from the middle.
# Prints per run the frames a second it sustained and its CPU time per frame (user + system), then the
# ratio of framewell's CPU per frame to ffmpeg's. Targets: 1080p at least 59 fps and at most 0.5 x
# ffmpeg's CPU per frame; 800 x 600 at 60 fps with less than 15% of one core.
#
# Usage: bench/framewell_x11.sh [BIN_DIR] [DURATION] [ROUNDS]   (default: build/bin, 30 s, 1 round)
# BIN_DIR holds framewell and x11_scene (configure with -DSSP_BUILD_BENCH=ON to build the latter).
set -euo pipefail
. "$(dirname "$0")/xvfb.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
bin_dir=$(cd "${1:-build/bin}" && pwd)
duration=${2:-30}
rounds=${3:-1}
for p in "$bin_dir/framewell" "$bin_dir/x11_scene"; do
  [ -x "$p" ] || { echo "missing $p" >&2; exit 2; }
done
command -v ffmpeg >/dev/null || { echo "ffmpeg is not installed (apt-get install ffmpeg)" >&2; exit 2; }

work=$(mktemp -d)
xvfb=
scene=
cleanup() {
  [ -n "$scene" ] && kill "$scene" 2>/dev/null && wait "$scene" 2>/dev/null
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT

start_xvfb "$work"
export SSP_PLATFORM=x11 XDG_RUNTIME_DIR="$work"
"$bin_dir/x11_scene" "$root/samples" "$root/samples/desktop-1080p.png" --animate &
scene=$!
sleep 1

# framewell X Y W H: frames (lines) and CPU seconds of the run.
run_framewell() {
  /usr/bin/time -f '%U %S' -o "$work/time" \
    timeout -s TERM "$duration" "$bin_dir/framewell" 0 "$1" "$2" "$3" "$4" 0 60 | wc -l >"$work/frames" || true
  echo "$(cat "$work/frames") $(tail -n1 "$work/time" | awk '{ print $1 + $2 }')"
}

# ffmpeg THREADS: frames and CPU seconds of the run.
run_ffmpeg() {
  /usr/bin/time -f '%U %S' -o "$work/time" \
    ffmpeg -nostdin -loglevel fatal -f x11grab -framerate 60 -video_size 1920x1080 -i "$DISPLAY+0,0" \
    -t "$duration" -threads "$1" -c:v png -compression_level 1 -progress "$work/progress" -f null - || true
  echo "$(grep -o 'frame=[0-9]*' "$work/progress" | tail -n1 | cut -d= -f2) $(tail -n1 "$work/time" | awk '{ print $1 + $2 }')"
}

report() {  # NAME FRAMES CPU
  awk -v n="$1" -v f="$2" -v c="$3" -v d="$duration" \
    'BEGIN { printf "%-22s %7d %8.1f %12.2f %9.1f\n", n, f, f / d, f ? c * 1000 / f : 0, c * 100 / d }'
}

printf '%-22s %7s %8s %12s %9s\n' run frames fps "cpu-ms/frame" "cpu-%"
for _ in $(seq "$rounds"); do
  read -r ours_frames ours_cpu < <(run_framewell 0 0 1920 1080)
  report "framewell 1920x1080" "$ours_frames" "$ours_cpu"
  read -r one_frames one_cpu < <(run_ffmpeg 1)
  report "ffmpeg 1 thread" "$one_frames" "$one_cpu"
  read -r auto_frames auto_cpu < <(run_ffmpeg 0)
  report "ffmpeg default threads" "$auto_frames" "$auto_cpu"
  read -r small_frames small_cpu < <(run_framewell 560 240 800 600)
  report "framewell 800x600" "$small_frames" "$small_cpu"
  awk -v a="$ours_cpu" -v af="$ours_frames" -v b="$one_cpu" -v bf="$one_frames" -v c="$auto_cpu" -v cf="$auto_frames" \
    'BEGIN { printf "cpu per frame framewell/ffmpeg: %.2f (1 thread), %.2f (default threads) (target <= 0.5)\n",
             (a / af) / (b / bf), (a / af) / (c / cf) }'
done
