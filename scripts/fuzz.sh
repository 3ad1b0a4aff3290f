#!/usr/bin/env bash
# Builds the fuzz preset (clang++, libFuzzer, AddressSanitizer and UndefinedBehaviorSanitizer)
# and runs each fuzz target for SECONDS (default 30) on a copy of its seed corpus, so the
# repository's corpus stays as it is. Exits non-zero when a target found a fault, naming the
# input that caused it.
#
#   scripts/fuzz.sh [SECONDS] [--merge] [TARGET...]
#
# TARGET: module_process, patch_reader (default: both). --merge folds the inputs that reached
# new code back into fuzz/corpus/TARGET/, minimised. TIMEOUT (default 20) is the seconds one
# input may take before it counts as a hang: raise it for a long run at a low priority on a
# busy machine, where a starved input can take that long without hanging.
set -euo pipefail
cd "$(dirname "$0")/.."

seconds=30
merge=0
targets=()
for arg in "$@"; do
  case "$arg" in
    --merge) merge=1 ;;
    '' | *[!0-9]*) targets+=("$arg") ;;
    *) seconds=$arg ;;
  esac
done
[ ${#targets[@]} -eq 0 ] && targets=(module_process patch_reader)

build=build/fuzz
cmake --preset fuzz >/dev/null
cmake --build --preset fuzz -j "${JOBS:-2}" --target "${targets[@]/%/_fuzzer}" "${targets[@]/%/_replay}"

found=0
for target in "${targets[@]}"; do
  fuzzer=$build/fuzz/${target}_fuzzer
  work=$build/fuzz-runs/$target
  rm -rf "$work"
  mkdir -p "$work/corpus" "$work/findings"
  cp fuzz/corpus/"$target"/* "$work/corpus/"
  echo "== $target: $seconds s =="
  status=0
  "$fuzzer" -max_total_time="$seconds" -timeout="${TIMEOUT:-20}" -print_final_stats=1 -artifact_prefix="$work/findings/" \
    "$work/corpus" >"$work/log" 2>&1 || status=$?
  runs=$(sed -n 's/^stat::number_of_executed_units: *//p' "$work/log")
  speed=$(sed -n 's/^stat::average_exec_per_sec: *//p' "$work/log")
  echo "$target: ${runs:-?} executions (${speed:-?}/s), corpus $(ls "$work/corpus" | wc -l) inputs; log $work/log"
  if [ "$status" -ne 0 ]; then
    found=1
    grep -E '^(==[0-9]+==ERROR|SUMMARY|[a-z_]+_fuzzer: )' "$work/log" | head -5 || true
    for input in "$work"/findings/*; do
      [ -e "$input" ] || continue
      echo "FAULT in $target: input $input"
      echo "  replay:  $build/fuzz/${target}_replay $input"
      echo "  keep it as a regression test: cp $input fuzz/regressions/$target/NAME"
    done
  elif [ "$merge" -eq 1 ]; then
    "$fuzzer" -merge=1 fuzz/corpus/"$target" "$work/corpus" >>"$work/log" 2>&1
    echo "$target: fuzz/corpus/$target now holds $(ls fuzz/corpus/"$target" | wc -l) inputs"
  fi
done
exit $found
