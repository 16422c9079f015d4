#!/usr/bin/env bash
# Runs ctest in a build tree and stops every Wine server of its prefixes
# afterwards, whatever the outcome.
set -u
build="$(cd "$1" && pwd)"
shift

stop_wine_servers() {
  for prefix in "$build"/wine/*/; do
    [ -f "$prefix/system.reg" ] || continue
    WINEPREFIX="${prefix%/}" /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1 || true
    WINEPREFIX="${prefix%/}" /usr/lib/wine/wineserver64 -w </dev/null >/dev/null 2>&1 || true
  done
}
trap stop_wine_servers EXIT
# A server that the build started (making setups) has no display, and the
# display is fixed when a server starts: such a server would fail every
# message box of the tests.
stop_wine_servers

# Prepare the template prefix and warm the shared one before ctest starts.
"$build/wine-run" cmd /c exit </dev/null >/dev/null 2>&1

# Under load Wine now and then fails to start a program at all (no output,
# a few hundredths of a second). A failed test runs once more; every test
# that needed it is named at the end, so a test that really flickers shows.
cd "$build" || exit 1
log="$build/Testing/run-ctest.log"
mkdir -p "$build/Testing"
ctest --output-on-failure --repeat until-pass:2 "$@" 2>&1 | tee "$log"
status=${PIPESTATUS[0]}
again=$(sed -n -E 's/^ *([0-9]+\/[0-9]+ )?Test +#[0-9]+: ([^ ]+) \.*\*\*\*(Failed|Exception|Timeout|Not Run).*/\2/p' "$log" | sort -u)
if [ -n "$again" ]; then
  echo
  echo "Tests that failed once and were run again:"
  echo "$again" | sed 's/^/  /'
fi
exit "$status"
