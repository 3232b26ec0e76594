# Cross build of the 32-bit Windows DLL and its tests with MinGW-w64.
#   cmake -S . -B build/win32 -G Ninja \
#         -DCMAKE_TOOLCHAIN_FILE=cmake/toolchain-i686-mingw.cmake
set(CMAKE_SYSTEM_PROCESSOR i686)
set(VARDLIX_MINGW_TRIPLE i686-w64-mingw32)
set(VARDLIX_WINE_ARCH win32)
include("${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake")
