#!/usr/bin/env bash
# get_module_file_name returns the whole path of a program whose path is
# longer than 260 characters. Wine's CreateProcessW cannot start such a
# program, so the probe is started from the Unix side.
# Usage: module_path_test.sh <wine-run> <system_probe.exe> <work folder>
set -euo pipefail
wine_run="$1"
probe="$2"
work="$3"

windows_path() { echo "Z:$1" | tr / '\\'; }

rm -rf "$work"
deep="$work/$(printf 'd%.0s' {1..100})/$(printf 'd%.0s' {1..100})/$(printf 'e%.0s' {1..60})"
mkdir -p "$deep"
cp "$probe" "$deep/system_probe.exe"
program="$(windows_path "$deep/system_probe.exe")"
[ "${#program}" -gt 260 ] || { echo "path only ${#program} characters long"; exit 1; }

"$wine_run" "$program" "$(windows_path "$work/probe.txt")" </dev/null
tr -d '\r' <"$work/probe.txt" >"$work/probe.lines"
status=0
grep -qixF "module_file_name=$program" "$work/probe.lines" || status=1
grep -qixF "module_folder=$(windows_path "$deep")" "$work/probe.lines" || status=1
[ "$status" -eq 0 ] || { echo "expected module_file_name=$program"; cat "$work/probe.lines"; }
rm -rf "$work"
exit "$status"
