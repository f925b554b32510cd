#!/usr/bin/env bash
# clipforge with one large PNG (about 20 MB of incompressible pixels, made by this script) against
# xclip offering the same file: clipforge's native path and its "png-per-item" strategy on the sandbox,
# and `xclip -selection clipboard -t image/png -i FILE` on a private Xvfb (until xclip has taken the
# selection and gone to the background). Interleaved, RUNS times each; prints each one's median wall
# time and peak memory, and the ratios. Targets: native path at most 150 ms with peak memory at most
# 6 x the file; png-per-item at most 2 x xclip.
#
# Usage: bench/clipforge_image.sh [BIN_DIR] [RUNS]   (default: build/bin, 10 runs)
set -euo pipefail
. "$(dirname "$0")/xvfb.sh"

bin_dir=$(cd "${1:-build/bin}" && pwd)
runs=${2:-10}
[ -x "$bin_dir/clipforge" ] || { echo "missing $bin_dir/clipforge" >&2; exit 2; }
for p in xclip Xvfb python3; do
  command -v "$p" >/dev/null || { echo "$p is not installed (scripts/bootstrap)" >&2; exit 2; }
done

work=$(mktemp -d)
xvfb=
cleanup() {
  [ -n "$xvfb" ] && kill "$xvfb" 2>/dev/null && wait "$xvfb" 2>/dev/null
  rm -rf "$work"  # the xclip left owning the selection ends with its display
}
trap cleanup EXIT

# A 2600 x 2600 RGB PNG of random pixels: about 20 MB that no compressor makes smaller.
python3 - "$work/large.png" <<'PY'
import os, struct, sys, zlib
w = h = 2600
def chunk(t, d): return struct.pack(">I", len(d)) + t + d + struct.pack(">I", zlib.crc32(t + d) & 0xFFFFFFFF)
rows = b"".join(b"\0" + os.urandom(w * 3) for _ in range(h))
open(sys.argv[1], "wb").write(b"\x89PNG\r\n\x1a\n" + chunk(b"IHDR", struct.pack(">IIBBBBB", w, h, 8, 2, 0, 0, 0))
                              + chunk(b"IDAT", zlib.compress(rows, 1)) + chunk(b"IEND", b""))
PY
file_bytes=$(stat -c %s "$work/large.png")

start_xvfb "$work" 640x480x24
display=$DISPLAY
unset DISPLAY  # clipforge writes to the sandbox; only xclip uses the display

mkdir -m 700 "$work/sandbox"
native="{\"text\":\"A large image\",\"imagePaths\":[\"$work/large.png\"]}"
per_item="{\"text\":\"\",\"imagePaths\":[\"$work/large.png\"],\"visualMode\":true,\"visualStrategy\":\"png-per-item\"}"

# Runs the command with /usr/bin/time; prints "milliseconds peak-kilobytes".
measure() {
  /usr/bin/time -f '%e %M' -o "$work/time" "$@" >/dev/null
  tail -n1 "$work/time" | awk '{ printf "%d %d\n", $1 * 1000, $2 }'
}

native_ms=() native_kb=() item_ms=() xclip_ms=()
for _ in $(seq "$runs"); do
  read -r ms kb < <(SSP_PLATFORM=sandbox SSP_SANDBOX_DIR="$work/sandbox" measure sh -c "echo '$native' | '$bin_dir/clipforge'")
  native_ms+=("$ms") native_kb+=("$kb")
  read -r ms _ < <(SSP_PLATFORM=sandbox SSP_SANDBOX_DIR="$work/sandbox" measure sh -c "echo '$per_item' | '$bin_dir/clipforge'")
  item_ms+=("$ms")
  # xclip forks into the background once it owns the selection; the foreground part is what a host waits for.
  read -r ms _ < <(DISPLAY="$display" measure xclip -selection clipboard -t image/png -i "$work/large.png")
  xclip_ms+=("$ms")
done

median() { printf '%s\n' "$@" | sort -n | awk '{ a[NR] = $1 } END { print (NR % 2) ? a[(NR + 1) / 2] : (a[NR / 2] + a[NR / 2 + 1]) / 2 }'; }
n_ms=$(median "${native_ms[@]}")
n_kb=$(median "${native_kb[@]}")
i_ms=$(median "${item_ms[@]}")
x_ms=$(median "${xclip_ms[@]}")
printf 'file: %d bytes\n' "$file_bytes"
printf '%-24s %10s %12s\n' run "median-ms" "peak-MB"
printf '%-24s %10s %12.1f\n' "clipforge native" "$n_ms" "$(echo "$n_kb" | awk '{ print $1 / 1024 }')"
printf '%-24s %10s %12s\n' "clipforge png-per-item" "$i_ms" "" "xclip -t image/png -i" "$x_ms" ""
awk -v n="$n_ms" -v k="$n_kb" -v f="$file_bytes" -v i="$i_ms" -v x="$x_ms" \
  'BEGIN { printf "native path: %d ms (target <= 150), peak memory %.1f x the file (target <= 6)\n", n, k * 1024 / f
           printf "png-per-item / xclip: %.2f (target <= 2)\n", (x > 0 ? i / x : 0) }'
