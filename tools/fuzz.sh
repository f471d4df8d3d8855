#!/usr/bin/env bash
# Fuzzes the window-free input handling for a long while: builds the native targets of tests/fuzz (clang,
# AddressSanitizer, UndefinedBehaviorSanitizer) in build/fuzz and runs each for SECONDS, one after another,
# from its committed seeds and the corpus that earlier runs grew (build/fuzz/corpus/TARGET).
#   tools/fuzz.sh [SECONDS] [TARGET...]      default: 600 seconds, every target
# Findings stay in build/fuzz/runs/TARGET/ (crash-*, timeout-*, ...); the test command runs each target
# for a few seconds (CTest label "fuzz").
set -euo pipefail
root=$(cd "$(dirname "${BASH_SOURCE[0]}")/.." && pwd)
seconds=${1:-600}
shift || true
build=$root/build/fuzz
cmake -S "$root/tests/fuzz" -B "$build" -G Ninja -DCMAKE_C_COMPILER=clang -DCMAKE_CXX_COMPILER=clang++ >/dev/null
cmake --build "$build"

targets=("$@")
if [ ${#targets[@]} -eq 0 ]; then
  targets=($(ls "$root/tests/fuzz/corpus"))
fi
failed=()
for target in "${targets[@]}"; do
  mkdir -p "$build/runs/$target"
  echo "fuzz: $target for $seconds s"
  if ! (cd "$build/runs/$target" && "$root/tests/fuzz/run-target.sh" "$build/$target" "$seconds" \
        "$root/tests/fuzz/corpus/$target" "$build/corpus/$target" >fuzz.log 2>&1); then
    failed+=("$target")
    tail -n 40 "$build/runs/$target/fuzz.log"
  fi
  grep -E '^stat::number_of_executed_units' "$build/runs/$target/fuzz.log" || true
done
if [ ${#failed[@]} -gt 0 ]; then
  echo "fuzz: findings in ${failed[*]} (inputs in $build/runs/)"
  exit 1
fi
echo "fuzz: nothing found"
