#!/usr/bin/env bash
# The quick check while working on the code: builds the Linux tree and runs
# its suites without the tests labelled "slow" (the four-process load test,
# the kill test, and forward's deliveries through collectors that stop,
# stall or die and of 10,000 records). scripts/test.sh runs them all, and
# the Windows, sanitizer and fuzzing stages.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/build.sh
ctest --test-dir build/linux --output-on-failure -j "$(nproc)" --timeout 600 -LE slow
