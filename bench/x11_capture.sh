#!/usr/bin/env bash
# shotdeck against scrot and maim on one private 1920 x 1080 Xvfb that shows samples/desktop-1080p.png
# (an editor, a terminal, a photograph; see x11_scene.cpp). The three run interleaved, RUNS times each;
# the script prints each one's median wall time and file size, and shotdeck's ratios to each. Target:
# time at most 0.25 x scrot, size at most 1.15 x scrot.
#
# Usage: bench/x11_capture.sh [BIN_DIR] [RUNS]   (default: build/bin, 30 runs)
# BIN_DIR holds shotdeck and x11_scene (configure with -DSSP_BUILD_BENCH=ON to build the latter).
set -euo pipefail
. "$(dirname "$0")/xvfb.sh"

root=$(cd "$(dirname "$0")/.." && pwd)
bin_dir=$(cd "${1:-build/bin}" && pwd)
runs=${2:-30}
for p in "$bin_dir/shotdeck" "$bin_dir/x11_scene"; do
  [ -x "$p" ] || { echo "missing $p" >&2; exit 2; }
done
for p in scrot maim; do
  command -v "$p" >/dev/null || { echo "$p is not installed (scripts/bootstrap)" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"
}
trap cleanup EXIT
[ -n "${KEEP_SHOT:-}" ] && trap 'cp "$work/shotdeck.png" "$KEEP_SHOT"; cleanup' EXIT

# A private display.
start_xvfb "$work"
export SSP_PLATFORM=x11 XDG_RUNTIME_DIR="$work"
"$bin_dir/x11_scene" "$root/samples" "$root/samples/desktop-1080p.png"

now_ns() { date +%s%N; }
ours=() scrots=() maims=()
for _ in $(seq "$runs"); do
  t0=$(now_ns)
  "$bin_dir/shotdeck" "$work/shotdeck.png" >/dev/null
  t1=$(now_ns)
  scrot -o "$work/scrot.png"
  t2=$(now_ns)
  maim "$work/maim.png"
  t3=$(now_ns)
  ours+=($((t1 - t0)))
  scrots+=($((t2 - t1)))
  maims+=($((t3 - t2)))
done

median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
ms() { median "$@" | awk '{ printf "%.1f", $1 / 1e6 }'; }
ours_ms=$(ms "${ours[@]}")
scrot_ms=$(ms "${scrots[@]}")
maim_ms=$(ms "${maims[@]}")
ours_bytes=$(stat -c %s "$work/shotdeck.png")
scrot_bytes=$(stat -c %s "$work/scrot.png")
maim_bytes=$(stat -c %s "$work/maim.png")
printf '%-9s %10s %10s\n' tool "median-ms" bytes
printf '%-9s %10s %10s\n' shotdeck "$ours_ms" "$ours_bytes" scrot "$scrot_ms" "$scrot_bytes" maim "$maim_ms" "$maim_bytes"
awk -v a="$ours_ms" -v b="$scrot_ms" -v m="$maim_ms" -v c="$ours_bytes" -v d="$scrot_bytes" -v e="$maim_bytes" \
  'BEGIN { printf "time ratio shotdeck/scrot: %.2f (target <= 0.25), shotdeck/maim: %.2f\n", a / b, a / m
           printf "size ratio shotdeck/scrot: %.2f (target <= 1.15), shotdeck/maim: %.2f\n", c / d, c / e }'
