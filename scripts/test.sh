#!/usr/bin/env bash
# Runs every test: the Linux suites, then each further stage that exists
# (Windows build under Wine, sanitizers, fuzzers). Exits non-zero when any
# test fails.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build/linux --output-on-failure -j "$(nproc)" --timeout 600
for stage in scripts/test-windows.sh scripts/test-sanitizers.sh scripts/test-fuzz.sh; do
  [[ -x "$stage" ]] && "$stage"
done
echo "all test stages passed"
