#!/usr/bin/env bash
# Prints how long the console process runner takes to return after a child's
# exit and how fast it captures 1 MiB of output, next to a plain
# CreateProcessW baseline. Usage: bench/process_runner.sh [build/x86_64]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/x86_64}" && pwd)"
cmake --build "$build" --target process_runner_bench >/dev/null
child="Z:$(echo "$build/tests/windows/process_child.exe" | tr / '\\')"
"$build/wine-run" "$build/bench/process_runner_bench.exe" "$child" </dev/null
