#!/usr/bin/env bash
# Runs the disk-full extraction test on a 1 MiB tmpfs mapped as drive X: in a
# Wine prefix of its own. Mounting needs root (as in CI); without it the test
# is skipped (exit code 77).
# Usage: archive_disk_full_test.sh <wine-run> <archive_disk_full_test.exe> <work folder>
set -u
wine_run="$1"
program="$2"
work="$3"
export VARNOX_WINE_PREFIX=archive_disk_full
prefix="$(dirname "$wine_run")/wine/$VARNOX_WINE_PREFIX"
volume="$work/volume"

mkdir -p "$volume"
if ! mount -t tmpfs -o size=1m varnox-disk-full "$volume" 2>"$work/mount.txt"; then
  echo "SKIPPED: cannot mount a 1 MiB tmpfs here ($(cat "$work/mount.txt")); the disk-full test needs root"
  rm -rf "$work"
  exit 77
fi
cleanup() {
  # The prefix's server may still hold the drive; it is this test's alone.
  WINEPREFIX="$prefix" /usr/lib/wine/wineserver64 -k </dev/null >/dev/null 2>&1 || true
  rm -f "$prefix/dosdevices/x:"
  umount "$volume" 2>/dev/null || umount -l "$volume"
  rm -rf "$work"
}
trap cleanup EXIT

# The prefix exists once wine-run has run in it.
"$wine_run" cmd /c exit </dev/null >/dev/null 2>&1
ln -sfn "$volume" "$prefix/dosdevices/x:"
"$wine_run" "$program" </dev/null
