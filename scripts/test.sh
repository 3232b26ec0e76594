#!/usr/bin/env bash
# Runs every test: the Linux suites, then each further stage that exists
# (Windows build under Wine, sanitizers, fuzzers). Exits non-zero when any
# test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build/linux --output-on-failure -j "$(nproc)" --timeout 600
stages=1
for stage in scripts/test-windows.sh scripts/test-tsan.sh scripts/test-sanitizers.sh scripts/test-fuzz.sh; do
  if [[ -x "$stage" ]]; then
    "$stage"
    stages=$((stages + 1))
  fi
done
# A stage that fails ends the script above (set -e), so reaching this line
# means every stage passed.
echo "stages: $stages passed, 0 failed"
