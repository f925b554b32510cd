#!/usr/bin/env bash
# The frame rate framewell sustains on the sandbox desktop: a 2560 x 1440 display (the generated
# image), crops of 800 x 600 and 1920 x 1080 from its middle, at 30 and 60 requested frames a second.
# Each run streams for DURATION seconds into a reader that keeps up; the rate is (lines - 1) over the
# time between the first and the last line's "ts". Target: 60 fps sustained for the 800 x 600 crop.
#
# Usage: bench/framewell_rate.sh [BIN_DIR] [DURATION]   (default: build/bin, 5 seconds)
set -euo pipefail

bin_dir=$(cd "${1:-build/bin}" && pwd)
duration=${2:-5}
[ -x "$bin_dir/framewell" ] || { echo "missing $bin_dir/framewell" >&2; exit 2; }

work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT
export SSP_PLATFORM=sandbox
export SSP_SANDBOX_DIR="$work/sandbox"
mkdir -p -m 700 "$SSP_SANDBOX_DIR"
cat >"$SSP_SANDBOX_DIR/desktop.json" <<'JSON'
{"mainDisplayId": 1, "shareable": {"displays": [{"displayID": 1, "width": 2560, "height": 1440}]}}
JSON

printf '%-11s %5s %7s %9s %12s\n' crop fps lines "rate/s" "avg-bytes"
for crop in 800x600 1920x1080; do
  w=${crop%x*}
  h=${crop#*x}
  x=$(((2560 - w) / 2))
  y=$(((1440 - h) / 2))
  for fps in 30 60; do
    fifo="$work/lines"
    rm -f "$fifo"
    mkfifo "$fifo"
    # Counts the lines, keeps the first and last time stamps and the mean line length.
    awk '{ match($0, /"ts":[0-9]+/); ts = substr($0, RSTART + 5, RLENGTH - 5) + 0
           if (NR == 1) first = ts; last = ts; bytes += length($0) }
         END { rate = (NR > 1 && last > first) ? (NR - 1) * 1000 / (last - first) : 0
               printf "%d %.1f %d\n", NR, rate, NR ? bytes / NR : 0 }' <"$fifo" >"$work/result" &
    reader=$!
    "$bin_dir/framewell" 1 "$x" "$y" "$w" "$h" 0 "$fps" >"$fifo" &
    mirror=$!
    sleep "$duration"
    kill -TERM "$mirror"
    wait "$mirror" || { echo "framewell ended with status $?" >&2; exit 1; }
    wait "$reader"
    read -r lines rate bytes <"$work/result"
    printf '%-11s %5s %7s %9s %12s\n' "$crop" "$fps" "$lines" "$rate" "$bytes"
  done
done
