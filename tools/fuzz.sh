#!/usr/bin/env bash
# Fuzzes each target of the native build for a bounded time, keeps what it
# finds in the committed corpus (tests/fuzz/corpus/<target>, minimised with
# libFuzzer's -merge=1) and prints the figures: executions, coverage and
# findings per target. Findings (crashes, sanitizer reports, hangs) are left
# in build/native/fuzz/findings; once mended, each goes into the corpus as
# finding_<what it showed>, which merges keep.
#   tools/fuzz.sh [seconds per target] [target ...]
set -uo pipefail
top="$(cd "$(dirname "$0")/.." && pwd)"
seconds="${1:-60}"
shift || true
build="$top/build/native"
corpus="$top/tests/fuzz/corpus"
work="$build/fuzz"
targets=("$@")
[ ${#targets[@]} -gt 0 ] || targets=(archive_reader setup_check multi_string boot_ini_text installer_options)

cmake --build "$build" --target $(printf 'fuzz_%s ' "${targets[@]}") >/dev/null || exit 1
mkdir -p "$work/findings"
printf '%-18s %10s %8s %8s %9s\n' target executions edges corpus findings
total_findings=0
for target in "${targets[@]}"; do
  program="$build/tests/fuzz/fuzz_$target"
  grown="$work/$target.grown"
  merged="$work/$target.merged"
  log="$work/$target.log"
  rm -rf "$grown" "$merged"
  mkdir -p "$grown" "$merged" "$corpus/$target"
  before=$(ls "$work/findings" | grep -c "^$target-" || true)
  "$program" -max_total_time="$seconds" -timeout=10 -rss_limit_mb=2048 -max_len=8192 \
    -print_final_stats=1 -artifact_prefix="$work/findings/$target-" "$grown" "$corpus/$target" >"$log" 2>&1
  # The committed corpus becomes the smallest set with the same coverage.
  # Edges, not hit counts, decide what stays: the corpus stays small.
  "$program" -merge=1 -use_counters=0 "$merged" "$corpus/$target" "$grown" >"$log.merge" 2>&1
  if [ -n "$(ls -A "$merged")" ]; then
    # Inputs of earlier findings stay as the regression tests they are.
    cp "$corpus/$target"/finding_* "$merged"/ 2>/dev/null || true
    rm -rf "$corpus/$target"
    mv "$merged" "$corpus/$target"
  fi
  after=$(ls "$work/findings" | grep -c "^$target-" || true)
  findings=$((after - before))
  total_findings=$((total_findings + findings))
  executions=$(grep -o 'stat::number_of_executed_units: [0-9]*' "$log" | tail -n 1 | grep -o '[0-9]*$')
  # The coverage edges that the kept corpus reaches.
  edges=$(grep -o '[0-9]* new coverage edges' "$log.merge" | tail -n 1 | grep -o '^[0-9]*')
  printf '%-18s %10s %8s %8s %9s\n' "$target" "${executions:-?}" "${edges:-?}" \
    "$(ls "$corpus/$target" | wc -l)" "$findings"
done
echo "findings: $total_findings (in $work/findings)"
[ "$total_findings" -eq 0 ]
