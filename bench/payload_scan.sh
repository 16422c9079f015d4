#!/usr/bin/env bash
# Prints how long the payload scan takes over a 64 MiB file whose signature
# sits at its very end (the worst case: the whole file is scanned), next to a
# plain sequential read of the same file in the same run.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="${1:-$top/build/x86_64}"
cmake --build "$build" --target payload_scan_bench >/dev/null

work="$(mktemp -d)"
trap 'rm -rf "$work"' EXIT
file="$work/scan.bin"
python3 - "$file" <<'PY'
import sys
size = 64 * 1024 * 1024
with open(sys.argv[1], 'wb') as f:
    f.write(b'\x90' * (size - 8))
    f.write(b'PK\x03\x04' + b'\x00' * 4)
PY
"$build/wine-run" "$build/bench/payload_scan_bench.exe" "Z:${file//\//\\}" 5
