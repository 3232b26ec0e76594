# What the two MinGW-w64 toolchain files share; each sets
# CMAKE_SYSTEM_PROCESSOR, VARDLIX_MINGW_TRIPLE and VARDLIX_WINE_ARCH first.
# The posix variant of the compiler is the one with std::thread and
# std::mutex. Everything is linked statically (libgcc, libstdc++,
# winpthread), so the DLL and the test programs import system DLLs only.
set(CMAKE_SYSTEM_NAME Windows)

set(CMAKE_C_COMPILER ${VARDLIX_MINGW_TRIPLE}-gcc-posix)
set(CMAKE_CXX_COMPILER ${VARDLIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_RC_COMPILER ${VARDLIX_MINGW_TRIPLE}-windres)

set(CMAKE_FIND_ROOT_PATH /usr/${VARDLIX_MINGW_TRIPLE})
set(CMAKE_FIND_ROOT_PATH_MODE_PROGRAM NEVER)
set(CMAKE_FIND_ROOT_PATH_MODE_LIBRARY ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_INCLUDE ONLY)
set(CMAKE_FIND_ROOT_PATH_MODE_PACKAGE ONLY)

set(CMAKE_EXE_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")
set(CMAKE_SHARED_LINKER_FLAGS_INIT "-static -static-libgcc -static-libstdc++")

# Test programs run under Wine, in a prefix of their own inside the build
# tree and of the build's architecture, so CTest and test discovery can
# start them like native programs.
set(CMAKE_CROSSCOMPILING_EMULATOR
    "${CMAKE_CURRENT_LIST_DIR}/../scripts/wine-run.sh;${CMAKE_BINARY_DIR}/wineprefix;${VARDLIX_WINE_ARCH}")
