#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh PREFIX PROGRAM [ARGS...]
# The exit code is the program's. Used by CTest as the emulator of the cross
# build (cmake/toolchain-i686-mingw.cmake).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh" "$1"
shift
wine_prefix_ensure
exec wine "$@"
