#!/usr/bin/env bash
# Runs each libFuzzer target for FUZZ_SECONDS (default 60), starting from its committed seeds; new
# inputs stay in build/fuzz/corpus. Prints how many inputs each target ran, and stops at a finding
# (libFuzzer leaves the input as crash-* in build/fuzz).
set -euo pipefail
cd "$(dirname "$0")/.."
seconds=${FUZZ_SECONDS:-60}
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz >/dev/null
cd build/fuzz
for target in path_rules read_string; do
  mkdir -p "corpus/$target"
  log="fuzz-$target.log"
  if ! "bin/${target}_fuzzer" -max_total_time="$seconds" -print_final_stats=1 "corpus/$target" \
      "../../fuzz/corpus/$target" >"$log" 2>&1; then
    tail -n 40 "$log"
    echo "$target: FOUND A FAULT (input saved in build/fuzz; log: build/fuzz/$log)"
    exit 1
  fi
  echo "$target: $(grep -o 'Done [0-9]* runs in [0-9]* second(s)' "$log" | sed 's/Done //'), no fault found"
done
