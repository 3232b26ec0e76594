#!/usr/bin/env bash
# Installs the build into a fresh prefix, then builds and runs a consumer
# against it twice: with find_package(Vardlix) from C++, and with pkg-config
# from C. Each consumer must log a record beside itself and set the retention.
#   install_consumer_test.sh <build folder> <consumer sources> <C++ compiler> <C compiler>
set -euo pipefail
build=$1 sources=$2 cxx=$3 cc=$4
work=$(mktemp -d)
trap 'rm -rf "$work"' EXIT

cmake --install "$build" --prefix "$work/prefix" >/dev/null

# The log folder of a consumer is its own path without extension + "Log".
expect_logged() {
  local folder=$1
  ls "$folder"/Vardlix*.xml >/dev/null
  grep -qa 'SettingInfo' <(ls -a "$folder")
}

cmake -S "$sources" -B "$work/cmake" -G Ninja -DCMAKE_CXX_COMPILER="$cxx" \
  -DCMAKE_PREFIX_PATH="$work/prefix"
cmake --build "$work/cmake"
"$work/cmake/consumer"
expect_logged "$work/cmake/consumerLog"

export PKG_CONFIG_PATH="$work/prefix/lib/pkgconfig:$(echo "$work"/prefix/lib/*/pkgconfig | tr ' ' ':')"
mkdir "$work/pc"
# shellcheck disable=SC2046
"$cc" -std=c11 -Wall -Wextra -Werror -o "$work/pc/consumer" "$sources/consumer.c" $(pkg-config --cflags --libs vardlix)
LD_LIBRARY_PATH="$(pkg-config --variable=libdir vardlix)" "$work/pc/consumer"
expect_logged "$work/pc/consumerLog"
echo "installed tree consumed through CMake and pkg-config"
