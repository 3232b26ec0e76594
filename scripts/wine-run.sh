#!/usr/bin/env bash
# Runs a Windows program under Wine: wine-run.sh PREFIX ARCH PROGRAM [ARGS...]
# with ARCH win32 or win64 (see wine-env.sh). The exit code is the
# program's. Used by CTest as the emulator of the cross builds
# (cmake/mingw-cross.cmake).
set -euo pipefail
source "$(dirname "$0")/wine-env.sh" "$1" "$2"
shift 2
wine_prefix_ensure
exec "$VARDLIX_WINE" "$@"
