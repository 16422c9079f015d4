#!/usr/bin/env bash
# Runs ctest in a build tree and stops every Wine server of its prefixes
# afterwards, whatever the outcome.
set -u
build="$1"
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

cd "$build" && ctest --output-on-failure "$@"
