#!/usr/bin/env bash
# Configures and builds the Linux tree in build/linux (tests, benchmarks, tool).
# Every build of the project's own scripts takes warnings as errors
# (CMAKE_COMPILE_WARNING_AS_ERROR); a user's build keeps them warnings.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
      -DVARDLIX_BUILD_TESTS=ON -DVARDLIX_BUILD_BENCHMARKS=ON -DVARDLIX_BUILD_TOOLS=ON >/dev/null
cmake --build build/linux -j "$(nproc)"
