#!/usr/bin/env bash
# Runs each libFuzzer target of a fuzzing build for FUZZ_SECONDS on a working copy of its seed
# corpus and regression corpus, and prints the executions per target and in total. A crash, hang
# or leak leaves its input in fuzz-out/<target>/ and makes the script fail; add such an input to
# tests/fuzz/regressions/<target>/ once it is fixed.
set -uo pipefail
build=${1:-build-fuzz}
seconds=${FUZZ_SECONDS:-60}
top=$(cd "$(dirname "$0")/.." && pwd)
out="$top/fuzz-out"
mkdir -p "$out"
total=0
status=0
for target in "$build"/*_fuzz; do
  [ -x "$target" ] || continue
  name=$(basename "$target" _fuzz)
  work="$out/$name/corpus"
  mkdir -p "$work" "$out/$name/artifacts"
  cp -n "$top/tests/fuzz/corpus/$name"/* "$work"/ 2>/dev/null
  cp -n "$top/tests/fuzz/regressions/$name"/* "$work"/ 2>/dev/null
  # Long enough for each reader's own limits to be reached: a calibration's hundred-kilobyte
  # nesting (50 000 "- " on one line) lies far beyond libFuzzer's default length.
  max_len=4096
  [ "$name" = number_text ] && max_len=64
  [ "$name" = calibration ] && max_len=262144
  [ "$name" = camera_file ] || [ "$name" = coordinate_file ] || [ "$name" = correction ] &&
    max_len=65536
  log="$out/$name/run.log"
  ASAN_OPTIONS=detect_leaks=1 "$target" "$work" -max_total_time="$seconds" -timeout=10 \
    -rss_limit_mb=2048 -max_len="$max_len" -artifact_prefix="$out/$name/artifacts/" \
    -print_final_stats=1 >"$log" 2>&1
  rc=$?
  runs=$(grep -E '^stat::number_of_executed_units' "$log" | awk '{print $2}')
  runs=${runs:-0}
  total=$((total + runs))
  if [ $rc -ne 0 ]; then
    status=1
    echo "$name: FAILED after $runs executions (see $log and $out/$name/artifacts/)"
  else
    echo "$name: $runs executions, no failure"
  fi
done
echo "total executions: $total"
exit $status
