#!/usr/bin/env bash
# Times `Quillbox download` against curl fetching the same URLs in one
# invocation (so that curl reuses its connection), both from the loopback
# server of the tests. Quillbox forces what it stores to the disk before it
# reports success; curl forces nothing, so `sync -f` of the folder it wrote
# follows it and counts in its time:
#   (a) a package of one 256 MiB content file, target at most 1.05 times curl;
#   (b) a package of 1,000 content files of 8 KiB, target at most 1.00 times curl.
# The repository is signed as a publisher signs one (openssl), and each case is
# downloaded once more, in the same turns, into a store that trusts its key:
# it then fetches and checks the manifest and hashes every file with SHA-256
# as it arrives, target at most 1.05 times the download of the store that
# trusts no key (whose download is the one compared with curl).
# Prints the median of several runs of each (RUNS, default 7), taken in turns
# so that a change in the machine's load touches all alike, and the peak
# resident memory of each program, which must not grow with the file size.
#   bench/download.sh [path/to/Quillbox]   (default: the default preset's build)
set -euo pipefail
here="$(cd "$(dirname "$0")" && pwd)"
quillbox="$(realpath "${1:-$here/../build/default/quillbox/Quillbox}")"
server_script="$here/../tests/support/http_server.py"
runs=${RUNS:-7}

if [ ! -x "$quillbox" ]; then
  echo "No Quillbox at $quillbox; build it first (scripts/build default)." >&2
  exit 2
fi
if ! command -v curl openssl sha256sum > /dev/null || [ ! -x /usr/bin/time ]; then
  echo "curl, openssl, sha256sum and /usr/bin/time are needed." >&2
  exit 2
fi

work="$(mktemp -d)"
server_pid=""
# Closing the server's standard input ends it; it is killed should it linger.
cleanup() {
  if [ -n "$server_pid" ]; then
    eval "exec ${SERVER[1]}>&-"
    for _ in $(seq 30); do
      kill -0 "$server_pid" 2> /dev/null || break
      sleep 0.1
    done
    kill "$server_pid" 2> /dev/null || true
    wait "$server_pid" 2> /dev/null || true
  fi
  rm -rf "$work"
}
trap cleanup EXIT

# The repository: package-info files and content files laid out as a store
# publishes them, with random contents.
python3 - "$work/repo" << 'PYTHON'
import os, struct, sys, zlib

root = sys.argv[1]

def text(value):
    data = value.encode("latin-1")
    return struct.pack("<H", len(data)) + data

def chunk(chunk_id, payload):
    return struct.pack("<II", chunk_id, len(payload)) + payload

def publish(package, files):
    record = chunk(0x44415441, text(package) + text("1.0") + text("bench") + struct.pack("<i", 2))
    os.makedirs(os.path.join(root, "files"), exist_ok=True)
    os.makedirs(os.path.join(root, "packages"), exist_ok=True)
    for name, size in files:
        data = os.urandom(size)
        crc = zlib.crc32(data) & 0xFFFFFFFF
        record += chunk(0x46494C45, struct.pack("<II", crc, size) + text(name))
        with open(os.path.join(root, "files", "%08X.%s" % (crc, name)), "wb") as out:
            out.write(data)
    package_id = zlib.crc32(package.upper().encode("latin-1")) & 0xFFFFFFFF
    with open(os.path.join(root, "packages", "%08x.kpi" % package_id), "wb") as out:
        out.write(record)

publish("Big", [("big.bin", 256 * 1024 * 1024)])
publish("Many", [("file%04d.bin" % index, 8192) for index in range(1000)])
PYTHON

# The signature: a P-256 key, the manifest of every file with its SHA-256,
# and the manifest signed with the key.
openssl ecparam -name prime256v1 -genkey -noout -out "$work/key.pem"
openssl pkey -in "$work/key.pem" -pubout -out "$work/public.pem"
(
  cd "$work/repo"
  printf '# Quillbox manifest\n# Serial: 1\n# Expires: %s\n' "$(date -u -d '+30 days' +%Y-%m-%dT%H:%M:%SZ)"
  sha256sum packages/* files/*
) > "$work/repo/manifest.txt"
openssl dgst -sha256 -sign "$work/key.pem" -out "$work/repo/manifest.sig" "$work/repo/manifest.txt"

# The server also ends by itself when this script's end closes its standard
# input.
coproc SERVER { exec python3 "$server_script" "$work/repo" --lifetime 3600 --watch-stdin; }
server_pid=$SERVER_PID
read -r port <&"${SERVER[0]}"
base="http://127.0.0.1:$port"

# The URLs of a package: its package-info file, then its content files.
urls_of() {
  local package="$1"
  local id
  id=$(python3 -c "import zlib,sys; print('%08x' % (zlib.crc32(sys.argv[1].upper().encode()) & 0xFFFFFFFF))" "$package")
  echo "$base/packages/$id.kpi"
  python3 - "$work/repo/packages/$id.kpi" << 'PYTHON'
import struct, sys
data = open(sys.argv[1], "rb").read()
at = 0
while at < len(data):
    chunk_id, size = struct.unpack_from("<II", data, at)
    payload = data[at + 8:at + 8 + size]
    at += 8 + size
    if chunk_id == 0x46494C45:
        crc, _ = struct.unpack_from("<II", payload, 0)
        length = struct.unpack_from("<H", payload, 8)[0]
        print("files/%08X.%s" % (crc, payload[10:10 + length].decode("latin-1")))
PYTHON
}

# One curl configuration per package: every URL with its own output file.
for package in Big Many; do
  urls_of "$package" | awk -v base="$base" '
    NR == 1 { printf "url = \"%s\"\noutput = \"info.kpi\"\n", $0; next }
    { printf "url = \"%s/%s\"\noutput = \"%s\"\n", base, $0, $0 }' > "$work/$package.curl"
done


# One run: "wall-seconds peak-kilobytes processor-seconds" of the command;
# its output is dropped. The clock is read around it to the nanosecond:
# /usr/bin/time gives hundredths, too coarse for a run of a third of a second.
# Processor time (user and system) hardly depends on what else the machine
# is doing, so it is shown too.
measure() {
  local started ended
  started=$(date +%s.%N)
  /usr/bin/time -f '%M %U %S' -o "$work/time.txt" "$@" > /dev/null 2> "$work/stderr.txt" || {
    cat "$work/stderr.txt" >&2
    return 1
  }
  ended=$(date +%s.%N)
  awk -v s="$started" -v e="$ended" -v t="$(cat "$work/time.txt")" \
    'BEGIN { split(t, f, " "); printf "%.4f %d %.2f", e - s, f[1], f[2] + f[3] }'
}

# Each run writes into a folder of its own, from a synced disk, so that
# neither pays for what the one before it left to write. Nothing is deleted
# before the end: ext4 charges new files for recent deletions.
runs_made=0
new_run_folder() {
  runs_made=$((runs_made + 1))
  run_folder="$work/run$runs_made"
  mkdir -p "$run_folder"
}

# A store that trusts the repository's key (the second argument "signed")
# gets the key before the timed download.
run_quillbox() {
  new_run_folder
  cp "$quillbox" "$run_folder/Quillbox"
  if [ "${2:-}" = signed ]; then
    (cd "$run_folder" && HOME="$run_folder" ./Quillbox trust "$base" "$work/public.pem" > /dev/null)
  fi
  sync
  (cd "$run_folder" && HOME="$run_folder" measure ./Quillbox download "$1" "$base")
  if [ -s "$work/stderr.txt" ]; then
    cat "$work/stderr.txt" >&2
    return 1
  fi
}

run_curl() {
  new_run_folder
  sync
  measure sh -c 'curl -s --fail --create-dirs --output-dir "$2" -K "$1" && sync -f "$2"' curl "$work/$1.curl" \
    "$run_folder"
}

# Of lines "seconds kilobytes processor-seconds": the median time, the
# largest memory and the median processor time.
summarise() {
  awk '{ time[NR] = $1; cpu[NR] = $3; if ($2 > memory) memory = $2 }
    function median(values, count,   i, j, swap) {
      for (i = 2; i <= count; ++i) for (j = i; j > 1 && values[j - 1] > values[j]; --j) {
        swap = values[j]; values[j] = values[j - 1]; values[j - 1] = swap }
      return (count % 2) ? values[(count + 1) / 2] : (values[count / 2] + values[count / 2 + 1]) / 2 }
    END { printf "%.3f %d %.2f", median(time, NR), memory, median(cpu, NR) }'
}

status=0
# The ratio of two times, and whether it exceeds the target.
check_ratio() {
  local label="$1" time="$2" beside="$3" target="$4" ratio
  ratio=$(awk -v q="$time" -v c="$beside" 'BEGIN { printf "%.2f", q / c }')
  printf '  %-22s %6.2f, target at most %s\n' "$label" "$ratio" "$target"
  if awk -v r="$ratio" -v t="$target" 'BEGIN { exit !(r > t) }'; then
    status=1
  fi
}

report() {
  local label="$1" package="$2" target="$3"
  : > "$work/quillbox.runs"
  : > "$work/signed.runs"
  : > "$work/curl.runs"
  for _ in $(seq "$runs"); do
    run_quillbox "$package" >> "$work/quillbox.runs"
    echo >> "$work/quillbox.runs"
    run_quillbox "$package" signed >> "$work/signed.runs"
    echo >> "$work/signed.runs"
    run_curl "$package" >> "$work/curl.runs"
    echo >> "$work/curl.runs"
  done
  read -r quillbox_time quillbox_memory quillbox_cpu <<< "$(summarise < "$work/quillbox.runs")"
  read -r signed_time signed_memory signed_cpu <<< "$(summarise < "$work/signed.runs")"
  read -r curl_time curl_memory curl_cpu <<< "$(summarise < "$work/curl.runs")"
  printf '%s\n' "$label"
  printf '  Quillbox: %6.3f s (processor %5.2f s), peak %6d KiB\n' "$quillbox_time" "$quillbox_cpu" "$quillbox_memory"
  printf '  signed:   %6.3f s (processor %5.2f s), peak %6d KiB\n' "$signed_time" "$signed_cpu" "$signed_memory"
  printf '  curl+sync:%6.3f s (processor %5.2f s), peak %6d KiB\n' "$curl_time" "$curl_cpu" "$curl_memory"
  check_ratio "Quillbox / curl:" "$quillbox_time" "$curl_time" "$target"
  check_ratio "signed / Quillbox:" "$signed_time" "$quillbox_time" 1.05
  eval "${package}_memory=$quillbox_memory"
}

printf 'median wall-clock time of %d runs each; peak resident memory over all runs\n' "$runs"
report "(a) one content file of 256 MiB" Big 1.05
report "(b) 1,000 content files of 8 KiB" Many 1.00
printf 'Quillbox peak memory, 256 MiB file against 8 KiB files: %d KiB against %d KiB\n' "$Big_memory" "$Many_memory"
if [ "$status" -ne 0 ]; then
  echo "Quillbox is slower than a target." >&2
fi
exit "$status"
