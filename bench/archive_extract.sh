#!/usr/bin/env bash
# Extracts a 200 MiB member, once deflated and once stored, from a setup file
# (install.exe with the payload appended by make_setup) and prints time and
# peak memory of install.exe's reader next to Info-ZIP's unzip extracting the
# same members from the same file in the same run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build/x86_64}"
cmake --build "$build" --target archive_extract_bench make_setup install_exe >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

# Deflated member: four letters at random, about 2 bits a byte, so inflation
# has real work. Stored member: random bytes, kept as they are.
python3 - "$work" <<'PY'
import os, sys
size = 200 * 1024 * 1024
table = bytes.maketrans(bytes(range(256)), b"ACGT" * 64)
with open(os.path.join(sys.argv[1], "big.dat"), "wb") as f:
    for _ in range(size // (1 << 20)):
        f.write(os.urandom(1 << 20).translate(table))
with open(os.path.join(sys.argv[1], "big.raw"), "wb") as f:
    for _ in range(size // (1 << 20)):
        f.write(os.urandom(1 << 20))
PY
(cd "$work" && zip -q -X -n .raw payload.zip big.dat big.raw)
rm "$work/big.dat" "$work/big.raw"
"$build/wine-run" "$build/tools/bundler/make_setup.exe" --installer "$(winpath "$build/setup/install.exe")" \
  --output "$(winpath "$work/setup.exe")" --zip "$(winpath "$work/payload.zip")" | sed -n 2p

for member in big.dat big.raw; do
  "$build/wine-run" "$build/bench/archive_extract_bench.exe" "$(winpath "$work/setup.exe")" "$member" \
    "$(winpath "$work/out_$member")"
  rm -f "$work/out_$member"
  mkdir -p "$work/unzip"
  # unzip warns about the image in front of the archive (exit code 1) and reads on.
  /usr/bin/time -v unzip -o -qq "$work/setup.exe" "$member" -d "$work/unzip" 2>"$work/time.txt" || true
  elapsed="$(sed -n 's/.*Elapsed (wall clock) time (h:mm:ss or m:ss): //p' "$work/time.txt")"
  rss="$(sed -n 's/.*Maximum resident set size (kbytes): //p' "$work/time.txt")"
  size="$(stat -c %s "$work/unzip/$member")"
  awk -v m="$member" -v s="$size" -v e="$elapsed" -v r="$rss" \
    'BEGIN { printf "Info-ZIP unzip       %-12s %7.1f MiB in %s (m:ss), max RSS %6.1f MiB\n", m, s / 1048576, e, r / 1024 }'
  rm -rf "$work/unzip"
done
