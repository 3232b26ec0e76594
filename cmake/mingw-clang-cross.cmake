# The MinGW-w64 cross build with clang and lld instead of GCC and GNU ld:
# the same headers, libstdc++ and winpthreads (of the posix variant), but
# debug information in CodeView and a PDB beside each binary, which Visual
# Studio and WinDbg read (cmake/WindowsBinaries.cmake). Included by the
# *-mingw-clang toolchain files after they set CMAKE_SYSTEM_PROCESSOR,
# VARDLIX_MINGW_TRIPLE and VARDLIX_WINE_ARCH.
include("${CMAKE_CURRENT_LIST_DIR}/mingw-cross.cmake")

# The GCC whose runtime is linked, for what asks where its files lie
# (tests/windows/runtime_tests.cmake).
set(VARDLIX_MINGW_GCC ${VARDLIX_MINGW_TRIPLE}-g++-posix)
set(CMAKE_C_COMPILER clang)
set(CMAKE_CXX_COMPILER clang++)
set(CMAKE_C_COMPILER_TARGET ${VARDLIX_MINGW_TRIPLE})
set(CMAKE_CXX_COMPILER_TARGET ${VARDLIX_MINGW_TRIPLE})

# clang looks for GCC's files in a folder named by a bare version, which
# Debian's "12-posix" is not: libstdc++'s headers and GCC's libraries are
# named here, of the posix variant that has std::thread and std::mutex.
file(GLOB VARDLIX_MINGW_GCC_DIRS LIST_DIRECTORIES true "/usr/lib/gcc/${VARDLIX_MINGW_TRIPLE}/*-posix")
list(GET VARDLIX_MINGW_GCC_DIRS -1 VARDLIX_MINGW_GCC_DIR)
# The flags reach the link too, where clang would warn that -nostdinc++ is
# unused.
set(CMAKE_CXX_FLAGS_INIT "-nostdinc++ -isystem ${VARDLIX_MINGW_GCC_DIR}/include/c++\
 -isystem ${VARDLIX_MINGW_GCC_DIR}/include/c++/${VARDLIX_MINGW_TRIPLE} -Wno-unused-command-line-argument")
# GCC's posix variant links winpthreads by itself; clang is told to. lld
# takes archives in any order, so the flags may name it before the objects.
foreach(strKind IN ITEMS EXE SHARED)
  set(CMAKE_${strKind}_LINKER_FLAGS_INIT
      "${CMAKE_${strKind}_LINKER_FLAGS_INIT} -fuse-ld=lld -L${VARDLIX_MINGW_GCC_DIR} -lpthread")
endforeach()
# 32-bit code unwinds with DWARF-2 tables that GCC's crtbegin.o registers
# with libgcc at start-up; clang would take MinGW-w64's own crtbegin.o,
# which registers none, and every exception would end in std::terminate.
# -B puts GCC's folder first where clang looks for its start-up objects.
if(CMAKE_SYSTEM_PROCESSOR STREQUAL "i686")
  foreach(strKind IN ITEMS EXE SHARED)
    set(CMAKE_${strKind}_LINKER_FLAGS_INIT "${CMAKE_${strKind}_LINKER_FLAGS_INIT} -B${VARDLIX_MINGW_GCC_DIR}")
  endforeach()
endif()
# lld's MinGW driver has --whole-archive but not --push-state, which CMake
# puts around a whole archive by default.
set(CMAKE_CXX_LINK_LIBRARY_USING_WHOLE_ARCHIVE "LINKER:--whole-archive" "<LINK_ITEM>" "LINKER:--no-whole-archive")
set(CMAKE_CXX_LINK_LIBRARY_USING_WHOLE_ARCHIVE_SUPPORTED TRUE)
# GNU objdump reads the DLL's tables in the layout the tests parse
# (tests/windows/check_dll_tables.cmake); CMake would take llvm-objdump.
find_program(CMAKE_OBJDUMP NAMES ${VARDLIX_MINGW_TRIPLE}-objdump REQUIRED)
