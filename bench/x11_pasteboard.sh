#!/usr/bin/env bash
# The X11 pasteboard against the clipboard tools that X users already have, on a private Xvfb:
#   1. writing a text: clipforge against xclip -i (each run replaces the owner);
#   2. reading a text: clippeek and xsel -o against xclip -o, all served by our server;
#   3. a 20 MiB image read by xclip -o (INCR): served by our server against served by xclip itself
#      (two displays, interleaved in one hyperfine run); then written and read back: clipforge
#      png-per-item against xclip -i;
#   4. the first tool run on a display (starting the server) against a run with the server up;
#   5. the server's memory with the 20 MiB board held and served (target: at most 1.5 x + 10 MiB).
# Every comparison prints the ratio ours / peer (below 1: ours is faster).
#
# Usage: bench/x11_pasteboard.sh [BIN_DIR]   (default: build/bin; needs Xvfb, xclip, xsel, hyperfine, jq)
set -euo pipefail

bin_dir=$(cd "${1:-build/bin}" && pwd)
for tool in clipforge clippeek ssp-pasteboard-server; do
  [ -x "$bin_dir/$tool" ] || { echo "missing $bin_dir/$tool" >&2; exit 2; }
done
runs=${RUNS:-30}

work=$(mktemp -d)
pids=()
cleanup() {
  # Displays are started in command substitutions (subshells): their ids are kept in a file.
  [ -f "$work/display-pids" ] && while read -r pid; do pids+=("$pid"); done <"$work/display-pids"
  for pid in "${pids[@]}"; do kill "$pid" 2>/dev/null || true; done
  rm -rf "$work"
}
trap cleanup EXIT
export XDG_RUNTIME_DIR="$work/runtime" SSP_PLATFORM=x11
mkdir -m 700 "$XDG_RUNTIME_DIR"

start_display() {  # prints the display name; the Xvfb is stopped at the end
  local fifo="$work/displayfd.$1"
  mkfifo "$fifo"
  Xvfb -displayfd 3 -nolisten tcp -noreset 3>"$fifo" >/dev/null 2>&1 &
  echo $! >>"$work/display-pids"
  local number
  read -r number <"$fifo"
  echo ":$number"
}

# The pasteboard server of a display: its process id, by the exact command line the tools start it with.
server_pid() {
  for p in /proc/[0-9]*; do
    [ "$( { tr "\\0" " " <"$p/cmdline"; } 2>/dev/null)" = "$bin_dir/ssp-pasteboard-server $1 " ] && basename "$p"
  done
  return 0
}

ratio() {  # ratio of the mean times of commands $2 and $3 in hyperfine's JSON $1
  jq -r --arg a "$2" --arg b "$3" \
    '([.results[] | select(.command == $a) | .mean] | first) / ([.results[] | select(.command == $b) | .mean] | first)
     | "ratio \($a) / \($b): \(. * 1000 | round / 1000)"' "$1"
}

ours=$(start_display ours)
theirs=$(start_display theirs)
export DISPLAY=$ours
printf 'pasted text, about 60 bytes\n' >"$work/text.txt"
printf '{"text":"pasted text, about 60 bytes","imagePaths":[]}' >"$work/text.json"

echo "== 1. writing a text"
hyperfine --warmup 3 --runs "$runs" --export-json "$work/write.json" \
  -n clipforge "$bin_dir/clipforge <$work/text.json" \
  -n xclip "xclip -selection clipboard -i $work/text.txt" >/dev/null 2>>"$work/hyperfine.log"
ratio "$work/write.json" clipforge xclip

echo "== 2. reading a text"
"$bin_dir/clipforge" <"$work/text.json" >/dev/null 2>>"$work/hyperfine.log"
hyperfine --warmup 3 --runs "$runs" --export-json "$work/read.json" \
  -n clippeek "$bin_dir/clippeek" \
  -n "xsel -o" "xsel --clipboard --output" \
  -n "xclip -o" "xclip -selection clipboard -o" >/dev/null 2>>"$work/hyperfine.log"
ratio "$work/read.json" clippeek "xclip -o"
ratio "$work/read.json" "xsel -o" "xclip -o"

echo "== 3. a 20 MiB image through INCR"
# A PNG signature, then noise: clipforge offers only real PNG bytes as public.png, and noise does not compress.
{ printf '\211PNG\r\n\032\n'; head -c $((20 * 1024 * 1024 - 8)) /dev/urandom; } >"$work/big.png"
printf '{"text":"","imagePaths":["%s"],"visualMode":true,"visualStrategy":"png-per-item"}' "$work/big.png" \
  >"$work/big.json"
"$bin_dir/clipforge" <"$work/big.json" >/dev/null 2>>"$work/hyperfine.log"
DISPLAY=$theirs xclip -quiet -selection clipboard -t image/png -i "$work/big.png" >/dev/null 2>&1 &
pids+=($!)
sleep 0.5
hyperfine --warmup 2 --runs "${RUNS_LARGE:-10}" --export-json "$work/large.json" \
  -n "served by ours" "env DISPLAY=$ours xclip -selection clipboard -o -t image/png" \
  -n "served by xclip" "env DISPLAY=$theirs xclip -selection clipboard -o -t image/png" >/dev/null 2>>"$work/hyperfine.log"
ratio "$work/large.json" "served by ours" "served by xclip"

echo "== 3b. the 20 MiB image written (png-per-item against xclip -i) and read back by xclip -o"
hyperfine --warmup 2 --runs "${RUNS_LARGE:-10}" --export-json "$work/large-write.json" \
  -n "written by clipforge" \
  "env DISPLAY=$ours sh -c '$bin_dir/clipforge <$work/big.json >/dev/null && xclip -selection clipboard -o -t image/png >/dev/null'" \
  -n "written by xclip" \
  "env DISPLAY=$theirs sh -c 'xclip -selection clipboard -t image/png -i $work/big.png && xclip -selection clipboard -o -t image/png >/dev/null'" \
  >/dev/null 2>>"$work/hyperfine.log"
ratio "$work/large-write.json" "written by clipforge" "written by xclip"

echo "== 5. the server's memory with the 20 MiB board (read by clippeek and xclip meanwhile)"
pid=$(server_pid "$ours")
board=$((20 * 1024 * 1024))
awk -v board=$board '/^VmHWM|^VmRSS/ {kib=$2; printf "%s %d KiB = %.2f x board + %.1f MiB over it\n", $1, kib, kib*1024/board, (kib*1024-board)/1048576}' "/proc/$pid/status"

echo "== 4. the first tool run on a display, which starts the server"
fresh=$(start_display fresh)
# A script for hyperfine's preparation step (its shell knows no functions of ours): stop that server.
{
  echo '#!/usr/bin/env bash'
  declare -f server_pid
  echo "bin_dir='$bin_dir'"
  echo "p=\$(server_pid '$fresh')"
  echo 'if [ -n "$p" ]; then kill "$p" || true; while grep -qs "^State:[^Z]*$" "/proc/$p/status"; do sleep 0.005; done; fi'
} >"$work/stop-server"
chmod +x "$work/stop-server"
hyperfine --warmup 1 --runs "${RUNS_START:-10}" --export-json "$work/start.json" \
  --prepare "$work/stop-server" -n "clippeek, server started" "env DISPLAY=$fresh $bin_dir/clippeek" \
  --prepare "true" -n "clippeek, server up" "env DISPLAY=$fresh $bin_dir/clippeek" >/dev/null 2>>"$work/hyperfine.log"
ratio "$work/start.json" "clippeek, server started" "clippeek, server up"
jq -r '.results[] | "\(.command): \(.mean * 1000 | round) ms mean"' "$work/write.json" "$work/read.json" \
  "$work/large.json" "$work/large-write.json" "$work/start.json"
