#!/usr/bin/env bash
# Runs every test: the Linux suites, then each further stage that exists
# (Windows build under Wine, sanitizers, fuzzers). Exits non-zero when any
# test fails. Ends with each stage's time and result.
set -euo pipefail
cd "$(dirname "$0")/.."

rows=()  # "stage seconds result" of each stage run so far
print_times() {
  printf '%-12s %8s  %s\n' stage seconds result
  local row
  for row in "${rows[@]}"; do
    # shellcheck disable=SC2086  # the three words of a row
    printf '%-12s %8s  %s\n' $row
  done
  printf '%-12s %8s\n' total "$SECONDS"
}

# run_stage NAME COMMAND...: runs a stage and notes its time. A stage that
# fails ends the run, after the times of the stages so far.
run_stage() {
  local name=$1 start=$SECONDS
  shift
  if "$@"; then
    rows+=("$name $((SECONDS - start)) passed")
  else
    rows+=("$name $((SECONDS - start)) failed")
    print_times
    echo "stages: $((${#rows[@]} - 1)) passed, 1 failed"
    exit 1
  fi
}

run_stage build scripts/build.sh
run_stage linux ctest --test-dir build/linux --output-on-failure -j "$(nproc)" --timeout 600
for stage in windows tsan sanitizers fuzz; do
  if [[ -x scripts/test-$stage.sh ]]; then
    run_stage "$stage" "scripts/test-$stage.sh"
  fi
done
print_times
echo "stages: ${#rows[@]} passed, 0 failed"
