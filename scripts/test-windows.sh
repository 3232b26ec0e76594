#!/usr/bin/env bash
# Windows stage of the tests: cross-builds Vardlix.dll and its tests with
# MinGW-w64, 32-bit into build/win32 and 64-bit into build/win64, and runs
# each under Wine through CTest, in a prefix of its architecture, under code
# pages 1252 and 936. Called by scripts/test.sh; can be run on its own:
#   scripts/test-windows.sh [win32|win64]   one architecture only
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --windows

# Builds and tests one architecture; a subshell, since the Wine environment
# and the server belong to its prefix.
test_architecture() (
  local arch=$1 toolchain=$2
  local build=build/$arch
  source scripts/wine-env.sh "$build/wineprefix" "$arch"

  # The prefix (about 600 MB, 10 s) is made once, here, so that no test pays
  # for it; later runs reuse it.
  wine_prefix_ensure

  # One server for the whole run: without it every program start costs
  # about 2.4 s. Its streams must not be ours, or the caller's output pipe
  # stays open while it runs and the caller waits for it.
  # A server already running for this prefix (left by an earlier run) makes
  # this one exit with an error; that server serves as well.
  wineserver -p </dev/null >/dev/null 2>&1 || true
  stop_server() { wineserver -k >/dev/null 2>&1 || true; }
  trap stop_server EXIT
  "$VARDLIX_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true

  cmake -S . -B "$build" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" \
        -DVARDLIX_BUILD_TESTS=ON -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  cmake --build "$build" -j2
  ctest --test-dir "$build" --output-on-failure -j2 --timeout 600
  # The same tests under the code page of the users in China (936), where a
  # file without byte-order mark is GBK text, and the tool's arguments and
  # console speak it. The prefix's first program under another locale is
  # slow while Wine adapts it, so one runs before the tests. The fault loop,
  # the load tests and the runtime's 5,000 loads pass no text through the
  # code page (the library's file calls are all wide), so they run once.
  LANG=zh_CN.UTF-8 "$VARDLIX_WINE" cmd /c exit </dev/null >/dev/null 2>&1 || true
  VARDLIX_WINE_LANG=zh_CN.UTF-8 ctest --test-dir "$build" --output-on-failure -j2 --timeout 300 \
    -E '^(fault_injection_tests|load_tests|windows_runtime_tests)$'
  echo "windows tests ($arch) passed under code pages 1252 and 936"
)

only=${1:-}
for arch in win32 win64; do
  if [[ -z "$only" || "$only" == "$arch" ]]; then
    if [[ $arch == win32 ]]; then toolchain=toolchain-i686-mingw.cmake; else toolchain=toolchain-x86_64-mingw.cmake; fi
    test_architecture "$arch" "$toolchain"
  fi
done
echo "windows tests passed"
