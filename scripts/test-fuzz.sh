#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each from its seed corpus for a
# bounded time. Skipped where clang is missing.
#   FUZZ_SECONDS=N scripts/test-fuzz.sh   seconds per target (default 30)
set -euo pipefail
cd "$(dirname "$0")/.."
if ! command -v clang++ >/dev/null; then
  echo "fuzz: clang++ not found, fuzzers skipped"
  exit 0
fi
seconds=${FUZZ_SECONDS:-30}
build=build/fuzz
cmake -S . -B "$build" -G Ninja -DCMAKE_BUILD_TYPE=RelWithDebInfo -DCMAKE_CXX_COMPILER=clang++ \
      -DCMAKE_COMPILE_WARNING_AS_ERROR=ON \
      -DVARDLIX_BUILD_FUZZERS=ON -DVARDLIX_BUILD_TESTS=OFF -DVARDLIX_BUILD_TOOLS=OFF -DVARDLIX_INSTALL=OFF \
      -DCMAKE_CXX_FLAGS="-fsanitize=fuzzer-no-link,address,undefined -fno-sanitize-recover=undefined" >/dev/null
cmake --build "$build" -j "$(nproc)" --target fuzzers

passed=0
for target in "$build"/fuzz/*_fuzzer; do
  name=$(basename "$target")
  corpus=fuzz/corpus/${name%_fuzzer}
  work=$(mktemp -d)
  echo "fuzz: $name for ${seconds}s"
  # The tool's reading must be linear whatever its input: it is fuzzed with
  # inputs up to 256 KB, each within a time limit that a quadratic reading
  # of such an input overruns.
  limits=(-max_len=8192)
  if [[ $name == log_reading_fuzzer ]]; then limits=(-max_len=262144 -timeout=5); fi
  # New inputs go to a scratch folder; the seeds in the repository stay as they are.
  if ! "$target" -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
       -artifact_prefix="$build/$name-" "$work" "$corpus" >"$build/$name.log" 2>&1; then
    tail -40 "$build/$name.log"
    echo "fuzz: $name failed"
    rm -rf "$work"
    exit 1
  fi
  grep -E 'stat::number_of_executed_units|cov:' "$build/$name.log" | tail -2 | sed "s/^/fuzz: $name /"
  rm -rf "$work"
  passed=$((passed + 1))
done
echo "fuzz: $passed targets passed"
