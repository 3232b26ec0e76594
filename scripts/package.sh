#!/usr/bin/env bash
# Makes what a developer installs, into build/packages:
#   Vardlix-<version>-win32.zip, Vardlix-<version>-win64.zip   (CPack)
#   vardlix-<version>-py3-none-manylinux_2_X_x86_64.whl,
#   vardlix-<version>-py3-none-win32.whl, ...-win_amd64.whl    (packaging/make_wheel.py)
#   Vardlix.<version>.nupkg                                    (packaging/make_nupkg.py)
# from the Release builds in build/linux, build/win32 and build/win64, the
# ones scripts/build.sh and scripts/test-windows.sh make; a missing one is
# configured here without its tests. Each package takes the libraries as
# those builds left them.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh --windows
version=$(sed -n 's/^project(Vardlix VERSION \([0-9.]*\).*/\1/p' CMakeLists.txt)
out=build/packages
rm -rf "$out"
mkdir -p "$out"

if [[ ! -f build/linux/build.ninja ]]; then
  cmake -S . -B build/linux -G Ninja -DCMAKE_BUILD_TYPE=Release -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
fi
cmake --build build/linux -j "$(nproc)" --target vardlix

for arch in win32 win64; do
  if [[ $arch == win32 ]]; then toolchain=toolchain-i686-mingw.cmake; else toolchain=toolchain-x86_64-mingw.cmake; fi
  if [[ ! -f build/$arch/build.ninja ]]; then
    cmake -S . -B "build/$arch" -G Ninja -DCMAKE_TOOLCHAIN_FILE="cmake/$toolchain" -DVARDLIX_BUILD_TESTS=OFF \
          -DCMAKE_COMPILE_WARNING_AS_ERROR=ON >/dev/null
  fi
  # CPack builds the whole tree first, as `cmake --install` needs it.
  cpack -G ZIP --config "build/$arch/CPackConfig.cmake" -B "$out" >/dev/null
  python3 packaging/make_wheel.py "build/$arch/log_service/Vardlix.dll" "$version" "$out" >/dev/null
done
rm -rf "$out/_CPack_Packages"

python3 packaging/make_wheel.py build/linux/log_service/libvardlix.so.1 "$version" "$out" >/dev/null
python3 packaging/make_nupkg.py "$version" "$out" linux-x64=build/linux/log_service/libvardlix.so.1 \
        win-x86=build/win32/log_service/Vardlix.dll win-x64=build/win64/log_service/Vardlix.dll >/dev/null
ls -l "$out"
