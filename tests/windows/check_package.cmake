cmake_minimum_required(VERSION 3.16)
# Makes the Windows zip with CPack in a folder of its own, checks that it
# holds what a Windows developer is told it holds, and takes the library
# from it as a CMake project does: MinGW must get libVardlix.dll.a, clang-cl
# Vardlix.lib, and the clang-cl program must link.
#   cmake -DCPACK=... -DBUILD=<build folder> -DVERSION=x.y.z -DARCH=win32|win64
#         -DTOOLCHAIN=<the build's MinGW toolchain file> -DCLANG_CL=... -DLLD_LINK=...
#         -DMSVC_TARGET=<triple> -DMINGW_INCLUDE=<folder> -DKERNEL32=<libkernel32.a>
#         -P check_package.cmake
set(out "${BUILD}/package-test")
file(REMOVE_RECURSE "${out}")
execute_process(COMMAND "${CPACK}" -G ZIP --config "${BUILD}/CPackConfig.cmake" -B "${out}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
set(zip "${out}/Vardlix-${VERSION}-${ARCH}.zip")
if(NOT EXISTS "${zip}")
  message(FATAL_ERROR "no ${zip}:\n${output}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${zip}" OUTPUT_VARIABLE listing RESULT_VARIABLE result)
string(REPLACE "\n" ";" entries "${listing}")
foreach(expected bin/Vardlix.dll bin/Vardlix.dll.debug include/vardlix.h lib/Vardlix.lib lib/libVardlix.dll.a
                 lib/Vardlix.def lib/cmake/Vardlix/VardlixConfig.cmake README-Windows.txt)
  if(NOT expected IN_LIST entries)
    message(FATAL_ERROR "${zip} lacks ${expected}; it holds:\n${listing}")
  endif()
endforeach()
if(EXISTS "${BUILD}/tools/vardlix.exe" AND NOT "bin/vardlix.exe" IN_LIST entries)
  message(FATAL_ERROR "${zip} lacks bin/vardlix.exe; it holds:\n${listing}")
endif()
message(STATUS "${zip}:\n${listing}")

# The consumer project, configured against the unpacked zip.
set(package "${out}/unpacked")
file(MAKE_DIRECTORY "${package}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${zip}" WORKING_DIRECTORY "${package}")
set(consumer "${CMAKE_CURRENT_LIST_DIR}/package_consumer")
function(check_consumer strName strExpected)
  set(binary "${out}/${strName}")
  # Vardlix_DIR rather than CMAKE_PREFIX_PATH: the MinGW toolchain looks for
  # packages only below its own root, as a cross build does.
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${consumer}" -B "${binary}" -G Ninja
                          "-DVardlix_DIR=${package}/lib/cmake/Vardlix"
                          "-DVARDLIX_HOST_SOURCE=${CMAKE_CURRENT_LIST_DIR}/msvc_host.c" "-DVARDLIX_KERNEL32=${KERNEL32}"
                          ${ARGN}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${strName}: the consumer does not configure:\n${output}")
  endif()
  file(READ "${binary}/import-library.txt" strLibrary)
  get_filename_component(strLibrary "${strLibrary}" NAME)
  if(NOT strLibrary STREQUAL strExpected)
    message(FATAL_ERROR "${strName}: the package gave ${strLibrary}, not ${strExpected}")
  endif()
  message(STATUS "${strName}: ${strLibrary}")
endfunction()
check_consumer(mingw libVardlix.dll.a "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}")
check_consumer(clang-cl Vardlix.lib "-DCMAKE_TOOLCHAIN_FILE=${consumer}/clang-cl.cmake"
               "-DVARDLIX_MSVC_TARGET=${MSVC_TARGET}" "-DVARDLIX_MINGW_INCLUDE=${MINGW_INCLUDE}"
               "-DVARDLIX_CLANG_CL=${CLANG_CL}" "-DVARDLIX_LLD_LINK=${LLD_LINK}")
execute_process(COMMAND "${CMAKE_COMMAND}" --build "${out}/clang-cl"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "clang-cl: the consumer does not link against the package:\n${output}")
endif()
