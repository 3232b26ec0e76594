# Cross build of the 32-bit Windows DLL with clang and lld for MinGW-w64,
# with PDB files beside the binaries (cmake/mingw-clang-cross.cmake).
#   cmake -S . -B build/win32-clang -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw-clang.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARDLIX_MINGW_TRIPLE i686-w64-mingw32)
set(VARDLIX_WINE_ARCH win32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-clang-cross.cmake")
