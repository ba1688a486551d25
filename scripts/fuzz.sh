#!/usr/bin/env bash
# Builds the libFuzzer targets (fuzz preset: clang with the address and
# undefined-behaviour sanitizers) and runs each for SECONDS (default 300),
# starting from its seed corpus in fuzz/corpus/<target>/. Inputs it finds
# are kept in build/fuzz/found/<target>/ for the next run; a failing input
# is written to build/fuzz/artifacts/. Prints libFuzzer's coverage lines
# (cov: edges, ft: features) and its final statistics.
#   scripts/fuzz.sh [seconds]
set -euo pipefail
seconds=${1:-300}
root=$(cd "$(dirname "$0")/.." && pwd)
cd "$root"

cmake --preset fuzz >/dev/null
cmake --build --preset fuzz

out=build/fuzz
mkdir -p "$out/artifacts" "$out/logs"
status=0
for target in list_file change_records recovery; do
  found="$out/found/$target"
  log="$out/logs/$target.log"
  mkdir -p "$found"
  echo "== fuzzing $target for $seconds s"
  # The first corpus folder takes what is found; the seeds stay as they are.
  if "$out/fuzz/${target}_fuzzer" "$found" "fuzz/corpus/$target" \
      -max_total_time="$seconds" -timeout=10 -print_final_stats=1 \
      -artifact_prefix="$out/artifacts/$target-" >"$log" 2>&1; then
    grep -E '^#[0-9]+[[:space:]]+(INITED|DONE)|^stat::' "$log"
  else
    status=1
    echo "FAIL: $target (full output in $log)"
    tail -n 40 "$log"
  fi
done
exit "$status"
