#!/usr/bin/env bash
# Sets up the machine, builds, and runs the whole test suite: the native
# suite (build/native) and the Windows suite under Wine and Xvfb.
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"

bash "$top/tools/setup.sh"
bash "$top/tools/build.sh"

jobs="${VARNOX_TEST_JOBS:-2}"
status=0
ctest --test-dir "$top/build/native" --output-on-failure -j "$jobs" "$@" || status=$?

build="$top/build/x86_64"
# One X server for the whole run; every Wine server starts inside it, so
# message boxes have a display.
# -a alone starts at :99 for every run: runs side by side on one machine
# could meet on one display and lose it when the other one ends.
xvfb-run -a -n $((100 + RANDOM % 800)) -s "-screen 0 1280x1024x24" \
  bash "$top/tests/harness/run-ctest.sh" "$build" -j "$jobs" "$@" || status=$?
exit $status
