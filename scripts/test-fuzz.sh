#!/usr/bin/env bash
# Builds the libFuzzer targets with clang (AddressSanitizer and
# UndefinedBehaviorSanitizer on) and runs each from its seed corpus for a
# bounded time, one target per core at a time. Skipped where clang is
# missing.
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

# fuzz_target PATH: runs one target from its seeds for the given time; its
# output goes to build/fuzz/NAME.log, its last lines to the terminal if it
# fails.
fuzz_target() {
  local target=$1 name
  name=$(basename "$target")
  local corpus=fuzz/corpus/${name%_fuzzer} work
  work=$(mktemp -d)
  local limits=(-max_len=8192)
  if [[ $name == log_reading_fuzzer ]]; then limits=(-max_len=262144 -timeout=5); fi
  local status=0
  "$target" -max_total_time="$seconds" "${limits[@]}" -print_final_stats=1 \
    -artifact_prefix="$build/$name-" "$work" "$corpus" >"$build/$name.log" 2>&1 || status=$?
  rm -rf "$work"
  if ((status != 0)); then
    tail -40 "$build/$name.log"
    echo "fuzz: $name failed"
    return 1
  fi
  grep -E 'stat::number_of_executed_units|cov:' "$build/$name.log" | tail -2 | sed "s/^/fuzz: $name /"
}

# One target per core at a time: each is a single process.
targets=("$build"/fuzz/*_fuzzer)
running=0 failed=0
for target in "${targets[@]}"; do
  echo "fuzz: $(basename "$target") for ${seconds}s"
  fuzz_target "$target" &
  running=$((running + 1))
  if ((running >= $(nproc))); then
    wait -n || failed=$((failed + 1))
    running=$((running - 1))
  fi
done
while ((running > 0)); do
  wait -n || failed=$((failed + 1))
  running=$((running - 1))
done
if ((failed > 0)); then
  echo "fuzz: $failed of ${#targets[@]} targets failed"
  exit 1
fi
echo "fuzz: ${#targets[@]} targets passed"
