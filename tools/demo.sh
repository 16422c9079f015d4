#!/usr/bin/env bash
# Shows a client installation: install.exe with the four sample client
# packages in its payload, run unattended ("/qn") under Wine, once as
# Windows 10 and once as Windows XP x64, each in a fresh Wine prefix of the
# build tree. Prints the exit code and what it means, the log, the files
# installed, the "Velmora" service and the journal driver's key "zmvf".
# Run tools/setup.sh and tools/build.sh first (the README's first command
# does all three).
set -euo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
build="$top/build/x86_64"
run="$build/wine-run"

cmake --build "$build" --target sample_setups >/dev/null
demo="$build/demo"
mkdir -p "$demo"
# Named as users receive it, so that its log is install.exe.log.
cp "$build/tests/packages/sample_setup.exe" "$demo/install.exe"
setup="Z:${demo//\//\\}\\install.exe"

meaning() {
  case "$1" in
    0) echo "the client package is installed" ;;
    1) echo "refused: a required Windows update is missing, the payload is unreadable, or a conflicting volume filter driver is installed" ;;
    2) echo "failed: the client package could not be extracted or installed (see the log)" ;;
    *) echo "unexpected" ;;
  esac
}

for windows in "win10:Windows 10 x64" "winxp64:Windows XP x64"; do
  setting="${windows%%:*}"
  name="${windows#*:}"
  export VARNOX_WINE_PREFIX="demo_$setting"
  prefix="$build/wine/$VARNOX_WINE_PREFIX"
  # A fresh machine each time: the demo installs into it.
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
  rm -rf "$prefix"
  "$run" winecfg -v "$setting" </dev/null >/dev/null 2>&1

  echo "=== $name: install.exe /qn"
  status=0
  "$run" "$setup" /qn </dev/null >/dev/null 2>&1 || status=$?
  echo "exit code $status: $(meaning "$status")"

  temp="$("$run" cmd /c echo %TEMP% </dev/null 2>/dev/null | tr -d '\r')"
  log="$("$run" winepath -u "$temp\\install.exe.log" </dev/null 2>/dev/null)"
  echo "--- the log, $temp\\install.exe.log"
  cat "$log" 2>/dev/null | tr -d '\r' || echo "(no log)"
  if [ -e "$("$run" winepath -u "$temp\\client.msi" </dev/null 2>/dev/null)" ]; then
    echo "(the package $temp\\client.msi is still there)"
  else
    echo "(the package $temp\\client.msi is deleted)"
  fi

  echo "--- files installed, C:\\Program Files\\Velmora Agent"
  "$run" cmd /c dir /b "C:\\Program Files\\Velmora Agent" </dev/null 2>/dev/null | tr -d '\r' \
    || echo "(none)"
  "$run" cmd /c type "C:\\Program Files\\Velmora Agent\\package.txt" </dev/null 2>/dev/null | tr -d '\r' || true
  echo "--- the Velmora service"
  "$run" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\Velmora' </dev/null 2>/dev/null | tr -d '\r' \
    | sed '/^$/d' || echo "(no service)"
  echo "--- the journal driver's key zmvf"
  "$run" reg query 'HKLM\SYSTEM\CurrentControlSet\Services\zmvf' </dev/null 2>/dev/null | tr -d '\r' \
    | sed '/^$/d' || echo "(no key)"
  echo
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -k 2>/dev/null || true
done
