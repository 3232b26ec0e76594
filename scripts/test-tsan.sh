#!/usr/bin/env bash
# ThreadSanitizer stage: builds the load tests with -fsanitize=thread into
# build/tsan and runs their in-process part (many threads on one day's file,
# holders that keep it). Called by scripts/test.sh; can be run on its own.
set -euo pipefail
cd "$(dirname "$0")/.."
compiler=clang++
command -v "$compiler" >/dev/null || compiler=g++
build=build/tsan
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER="$compiler" \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
      -DVARDLIX_BUILD_TESTS=ON -DVARDLIX_BUILD_TOOLS=OFF -DVARDLIX_INSTALL=OFF \
      -DCMAKE_CXX_FLAGS="-fsanitize=thread" -DCMAKE_EXE_LINKER_FLAGS="-fsanitize=thread" \
      -DCMAKE_SHARED_LINKER_FLAGS="-fsanitize=thread" >/dev/null
cmake --build "$build" -j2 --target load_tests
# The sanitizer maps its shadow memory at fixed places, which address-space
# randomisation with many bits can leave no room for: run without it.
run=()
command -v setarch >/dev/null && run=(setarch "$(uname -m)" -R)
TZ=UTC TSAN_OPTIONS="halt_on_error=1 second_deadlock_stack=1" "${run[@]}" "$build/tests/reliability/load_tests" \
  --gtest_filter='LoadTest.ThreadsOfOneProcess*:ShareWaitTest.*'
echo "tsan: load tests passed"
