#!/usr/bin/env bash
# Configures and builds the Linux tree in build/linux (tests, benchmarks, tool).
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release \
      -DVARDLIX_BUILD_TESTS=ON -DVARDLIX_BUILD_BENCHMARKS=ON -DVARDLIX_BUILD_TOOLS=ON >/dev/null
cmake --build build/linux -j "$(nproc)"
