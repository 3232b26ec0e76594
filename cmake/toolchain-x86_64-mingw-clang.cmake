# Cross build of the 64-bit Windows DLL with clang and lld for MinGW-w64,
# with PDB files beside the binaries (cmake/mingw-clang-cross.cmake).
#   cmake -S . -B build/win64-clang -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-x86_64-mingw-clang.cmake
set(CMAKE_SYSTEM_PROCESSOR x86_64)
set(VARDLIX_MINGW_TRIPLE x86_64-w64-mingw32)
set(VARDLIX_WINE_ARCH win64)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-clang-cross.cmake")
