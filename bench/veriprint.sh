#!/usr/bin/env bash
# Hashes one 1 GiB file with Veriprint and with md5sum, with the page cache
# warm, and prints the best of five runs of each and their ratio. Veriprint
# should take at most 1.1 times as long as md5sum.
#   bench/veriprint.sh [path/to/Veriprint]   (default: the default preset's build)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
veriprint="$(realpath "${1:-$here/../build/default/veriprint/Veriprint}")"
runs=5
target=1.10

if [ ! -x "$veriprint" ]; then
  echo "No Veriprint at $veriprint; build it first (scripts/build default)." >&2
  exit 2
fi

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
# Random contents, so that nothing can take a short cut over zero pages.
head -c 1073741824 /dev/urandom > "$work/data.bin"
cat "$work/data.bin" > /dev/null

# One run of a command: wall-clock seconds, then user plus system seconds.
time_once() {
  local TIMEFORMAT='%R %U %S'
  local times
  times=$( { time "$@" > /dev/null; } 2>&1 )
  awk -v t="$times" 'BEGIN { split(t, f, " "); printf "%.3f %.3f", f[1], f[2] + f[3] }'
}

# The smaller of each column of two "wall cpu" pairs; the second may be empty.
best_of() {
  awk -v a="$1" -v b="$2" 'BEGIN {
    split(a, x, " "); if (b == "") { print a; exit }
    split(b, y, " ")
    printf "%.3f %.3f", (x[1] < y[1] ? x[1] : y[1]), (x[2] < y[2] ? x[2] : y[2]) }'
}

# The two programs take turns, so that a change in the machine's load during
# the run affects both alike; the best run of each counts. Processor time is
# printed too, as it hardly depends on what else the machine is doing.
cd "$work"
veriprint_best=""
md5sum_best=""
for _ in $(seq "$runs"); do
  veriprint_best=$(best_of "$(time_once "$veriprint" data.bin)" "$veriprint_best")
  md5sum_best=$(best_of "$(time_once md5sum data.bin)" "$md5sum_best")
done
read -r veriprint_time veriprint_cpu <<< "$veriprint_best"
read -r md5sum_time md5sum_cpu <<< "$md5sum_best"
ratio=$(awk -v v="$veriprint_time" -v m="$md5sum_time" 'BEGIN { printf "%.3f", v / m }')
cpu_ratio=$(awk -v v="$veriprint_cpu" -v m="$md5sum_cpu" 'BEGIN { printf "%.3f", v / m }')

printf 'file:      1 GiB, best of %d runs, wall-clock (processor) seconds\n' "$runs"
printf 'Veriprint: %s (%s)\n' "$veriprint_time" "$veriprint_cpu"
printf 'md5sum:    %s (%s)\n' "$md5sum_time" "$md5sum_cpu"
printf 'ratio:     %s (%s), target at most %s\n' "$ratio" "$cpu_ratio" "$target"
if awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r > t) }'; then
  echo "Veriprint is slower than the target (wall-clock; see the processor ratio on a busy machine)." >&2
  exit 1
fi
