#!/usr/bin/env bash
# Hashes one 1 GiB file with Veriprint and with md5sum, with the page cache
# warm, and prints the median of several runs of each (RUNS, default 7), taken
# in turns so that a change in the machine's load touches both alike, with
# their ratio. When openssl is installed, `openssl md5` (whose hash is
# hand-written assembler) is timed too, as a second reference: a reference,
# not a floor, since its command adds reading and formatting of its own.
#   bench/veriprint.sh [path/to/Veriprint]   (default: the default preset's build)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
veriprint="$(realpath "${1:-$here/../build/default/veriprint/Veriprint}")"
runs=${RUNS:-7}

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
  awk -v t="$times" 'BEGIN { split(t, f, " "); printf "%.3f %.3f\n", f[1], f[2] + f[3] }'
}

# The median of one column of a file of "wall cpu" lines.
median() {
  cut -d' ' -f"$2" "$1" | sort -n | awk '{ v[NR] = $1 } END { printf "%.3f", v[int((NR + 1) / 2)] }'
}

commands=(veriprint md5sum)
command -v openssl > /dev/null && commands+=(openssl)
run() {
  case "$1" in
    veriprint) time_once "$veriprint" data.bin ;;
    md5sum) time_once md5sum data.bin ;;
    openssl) time_once openssl md5 data.bin ;;
  esac
}

# Processor time is printed beside wall-clock time, as it hardly depends on
# what else the machine is doing.
cd "$work"
for _ in $(seq "$runs"); do
  for name in "${commands[@]}"; do
    run "$name" >> "$name.times"
  done
done

printf 'file: 1 GiB in the page cache, median of %d runs, wall-clock (processor) seconds\n' "$runs"
for name in "${commands[@]}"; do
  printf '%-10s %s (%s)\n' "$name:" "$(median "$name.times" 1)" "$(median "$name.times" 2)"
done
ratio() {
  awk -v v="$(median veriprint.times "$2")" -v m="$(median "$1.times" "$2")" 'BEGIN { printf "%.3f", v / m }'
}
for name in "${commands[@]:1}"; do
  printf 'ratio:     %s (%s) of %s\n' "$(ratio "$name" 1)" "$(ratio "$name" 2)" "$name"
done
