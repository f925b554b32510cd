#!/usr/bin/env bash
# Whole-process time of clipsift on a board whose one item holds a 100 MiB representation and one of
# 200 KiB. The board level lists the same types (they fall back to the item), so the dump reads the
# large representation twice. Compared, in one hyperfine run, with `openssl dgst -sha256` run twice on
# the same 100 MiB file. Target: clipsift takes at most 1.5 times as long.
#
# Usage: bench/clipsift_large_board.sh [--x11] [BIN_DIR]   (default: build/bin; needs clipsift, flavorscan,
# boardctl; --x11 runs on the X11 pasteboard of a private Xvfb instead of the sandbox)
set -euo pipefail
. "$(dirname "$0")/xvfb.sh"

x11=0
if [ "${1:-}" = "--x11" ]; then
  x11=1
  shift
fi
bin_dir=$(cd "${1:-build/bin}" && pwd)
for tool in clipsift flavorscan boardctl; do
  [ -x "$bin_dir/$tool" ] || { echo "missing $bin_dir/$tool" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb=""
trap '[ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null; rm -rf "$work"' EXIT
boardctl=("$bin_dir/boardctl")
if [ "$x11" = 1 ]; then
  export SSP_PLATFORM=x11 XDG_RUNTIME_DIR="$work/runtime"
  mkdir -m 700 "$XDG_RUNTIME_DIR"
  start_xvfb "$work"
  boardctl+=(--x11)
else
  export SSP_PLATFORM=sandbox
  export SSP_SANDBOX_DIR="$work/sandbox"
fi

large="$work/large.bin"
small="$work/small.bin"
head -c $((100 * 1024 * 1024)) /dev/urandom >"$large"
head -c $((200 * 1024)) /dev/urandom >"$small"

# The board description, streamed so that the 140 MB of base64 never sits in a shell variable.
{
  printf '{"items":[{"reps":[{"type":"public.tiff","base64":"'
  base64 -w0 "$large"
  printf '"},{"type":"public.png","base64":"'
  base64 -w0 "$small"
  printf '"}]}]}'
} >"$work/board.json"
"${boardctl[@]}" load "$work/board.json"
rm -f "$work/board.json"

# One check that the dump really covers the large representation at both scopes.
"$bin_dir/clipsift" bench | jq -e '[.representations[] | select(.byteCount == 104857600)] | length == 2' >/dev/null

hyperfine --warmup 2 --runs "${RUNS:-10}" --export-json "$work/times.json" \
  -n clipsift "$bin_dir/clipsift bench" \
  -n "openssl dgst -sha256 x2" "openssl dgst -sha256 $large && openssl dgst -sha256 $large"

jq -r '.results as $r | "ratio clipsift / openssl x2: \(($r[0].mean / $r[1].mean * 100 | round) / 100) (target <= 1.5)"' \
  "$work/times.json"
