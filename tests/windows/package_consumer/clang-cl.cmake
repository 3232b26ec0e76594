# clang-cl and lld-link for a Microsoft-ABI build on this machine, with the
# MinGW headers and no C runtime: the toolchain of the package consumer's
# clang-cl build (check_package.cmake).
#   -DVARDLIX_MSVC_TARGET=<triple> -DVARDLIX_MINGW_INCLUDE=<folder>
#   -DVARDLIX_CLANG_CL=<clang-cl> -DVARDLIX_LLD_LINK=<lld-link>
set(CMAKE_SYSTEM_NAME Windows)
set(CMAKE_C_COMPILER "${VARDLIX_CLANG_CL}")
set(CMAKE_C_COMPILER_TARGET "${VARDLIX_MSVC_TARGET}")
set(CMAKE_LINKER "${VARDLIX_LLD_LINK}")
# The target goes into the flags too: CMake hands it to clang-cl only for
# some of its steps, and clang-cl without it builds for x86-64.
set(CMAKE_C_FLAGS_INIT "--target=${VARDLIX_MSVC_TARGET} -imsvc ${VARDLIX_MINGW_INCLUDE}")
# The compiler's checks build static libraries: there is no C runtime to
# link a test program against.
set(CMAKE_TRY_COMPILE_TARGET_TYPE STATIC_LIBRARY)
set(CMAKE_C_STANDARD_LIBRARIES "" CACHE STRING "" FORCE)
