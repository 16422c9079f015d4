#!/usr/bin/env bash
# Prints the time of a whole client installation run (install.exe with the
# sample packages, "/qn", as Windows 10) next to msiexec installing the same
# package alone, both measured in the same run. Target: the whole run costs
# at most 0.5 s more. Usage: bench/client_installation.sh [build/x86_64] [repetitions]
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$(cd "${1:-$top/build/x86_64}" && pwd)"
repetitions="${2:-9}"
cmake --build "$build" --target client_installation_bench sample_setups >/dev/null
winpath() { local p="Z:$1"; echo "${p//\//\\}"; }

# A prefix of the benchmark's own: it installs and uninstalls there.
export VARNOX_WINE_PREFIX=bench_client
"$build/wine-run" winecfg -v win10 </dev/null >/dev/null 2>&1
"$build/wine-run" "$build/bench/client_installation_bench.exe" \
  "$(winpath "$build/tests/packages/sample_setup.exe")" "$(winpath "$build/tests/packages/client_x64.msi")" \
  "$repetitions" </dev/null
