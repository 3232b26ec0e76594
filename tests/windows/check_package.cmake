cmake_minimum_required(VERSION 3.16)
# Makes the Windows zip with CPack in a folder of its own, checks that it
# holds what a Windows developer is told it holds, and takes the library
# from it as a CMake project does, in every kind of configuration: MinGW
# must get libVardlix.dll.a, clang-cl Vardlix.lib, both the DLL as the
# target's file, and each program must link.
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
set(top "Vardlix-${VERSION}-${ARCH}")
set(zip "${out}/${top}.zip")
if(NOT EXISTS "${zip}")
  message(FATAL_ERROR "no ${zip}:\n${output}")
endif()
# Everything lies in one folder named like the zip, so that unpacking it
# scatters nothing into the current folder.
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${zip}" OUTPUT_VARIABLE listing RESULT_VARIABLE result)
string(REPLACE "\n" ";" entries "${listing}")
list(REMOVE_ITEM entries "")
foreach(entry IN LISTS entries)
  if(NOT entry MATCHES "^${top}/")
    message(FATAL_ERROR "${zip}: ${entry} lies outside ${top}/; it holds:\n${listing}")
  endif()
endforeach()
# A clang build ships the DLL's PDB, a GCC one its split DWARF.
set(strDebugFile bin/Vardlix.dll.debug)
if(EXISTS "${BUILD}/log_service/Vardlix.pdb")
  set(strDebugFile bin/Vardlix.pdb)
endif()
foreach(expected bin/Vardlix.dll ${strDebugFile} include/vardlix.h lib/Vardlix.lib lib/libVardlix.dll.a
                 lib/Vardlix.def lib/cmake/Vardlix/VardlixConfig.cmake lib/pkgconfig/vardlix.pc README-Windows.txt)
  if(NOT "${top}/${expected}" IN_LIST entries)
    message(FATAL_ERROR "${zip} lacks ${top}/${expected}; it holds:\n${listing}")
  endif()
endforeach()
if(EXISTS "${BUILD}/tools/vardlix.exe" AND NOT "${top}/bin/vardlix.exe" IN_LIST entries)
  message(FATAL_ERROR "${zip} lacks ${top}/bin/vardlix.exe; it holds:\n${listing}")
endif()
message(STATUS "${zip}:\n${listing}")

# The consumer project, configured against the unpacked zip.
set(unpacked "${out}/unpacked")
file(MAKE_DIRECTORY "${unpacked}")
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar xf "${zip}" WORKING_DIRECTORY "${unpacked}")
set(package "${unpacked}/${top}")
set(consumer "${CMAKE_CURRENT_LIST_DIR}/package_consumer")
set(aToolchain_mingw "-DCMAKE_TOOLCHAIN_FILE=${TOOLCHAIN}")
set(aToolchain_clang-cl "-DCMAKE_TOOLCHAIN_FILE=${consumer}/clang-cl.cmake" "-DVARDLIX_MSVC_TARGET=${MSVC_TARGET}"
                        "-DVARDLIX_MINGW_INCLUDE=${MINGW_INCLUDE}" "-DVARDLIX_CLANG_CL=${CLANG_CL}"
                        "-DVARDLIX_LLD_LINK=${LLD_LINK}")

# check_consumer(NAME IMPORT_LIBRARY GENERATOR CONFIGURATIONS TOOLCHAIN): the
# consumer configures with TOOLCHAIN (mingw or clang-cl); a single-config
# GENERATOR gets CONFIGURATIONS as its build type (empty: none), a
# multi-config one builds each of them. In every configuration the package
# must give IMPORT_LIBRARY and name the DLL, and the program must link.
function(check_consumer strName strExpected strGenerator strConfigurations strToolchain)
  set(binary "${out}/${strName}")
  set(bMulti FALSE)
  set(strConfigure "-DCMAKE_BUILD_TYPE=${strConfigurations}")
  if(strGenerator MATCHES "Multi-Config")
    set(bMulti TRUE)
    set(strConfigure "-DCMAKE_CONFIGURATION_TYPES=${strConfigurations}")
  endif()
  # Vardlix_DIR rather than CMAKE_PREFIX_PATH: the MinGW toolchain looks for
  # packages only below its own root, as a cross build does.
  execute_process(COMMAND "${CMAKE_COMMAND}" -S "${consumer}" -B "${binary}" -G "${strGenerator}" "${strConfigure}"
                          "-DVardlix_DIR=${package}/lib/cmake/Vardlix"
                          "-DVARDLIX_HOST_SOURCE=${CMAKE_CURRENT_LIST_DIR}/msvc_host.c" "-DVARDLIX_KERNEL32=${KERNEL32}"
                          ${aToolchain_${strToolchain}}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${strName}: the consumer does not configure:\n${output}")
  endif()
  if(bMulti)
    foreach(strConfiguration IN LISTS strConfigurations)
      check_consumer_build("${strName}" "${strExpected}" "${binary}" "${strConfiguration}" --config "${strConfiguration}")
    endforeach()
  else()
    check_consumer_build("${strName}" "${strExpected}" "${binary}" "${strConfigurations}")
  endif()
endfunction()

# check_consumer_build(NAME IMPORT_LIBRARY BINARY CONFIGURATION [BUILD_OPTION...]):
# one configuration of a configured consumer.
function(check_consumer_build strName strExpected binary strConfiguration)
  file(STRINGS "${binary}/imported-${strConfiguration}.txt" aImported)
  list(LENGTH aImported nLines)
  if(NOT nLines EQUAL 2)
    message(FATAL_ERROR "${strName} ${strConfiguration}: the package named ${aImported}")
  endif()
  list(GET aImported 0 strLibrary)
  list(GET aImported 1 strDll)
  get_filename_component(strLibraryName "${strLibrary}" NAME)
  get_filename_component(strDllName "${strDll}" NAME)
  if(NOT strLibraryName STREQUAL strExpected OR NOT strDllName STREQUAL "Vardlix.dll" OR NOT EXISTS "${strDll}")
    message(FATAL_ERROR "${strName} ${strConfiguration}: the package gave ${strLibrary} and ${strDll}, "
                        "not ${strExpected} and the packaged Vardlix.dll")
  endif()
  execute_process(COMMAND "${CMAKE_COMMAND}" --build "${binary}" ${ARGN}
                  RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
  if(NOT result EQUAL 0)
    message(FATAL_ERROR "${strName} ${strConfiguration}: the consumer does not link against the package:\n${output}")
  endif()
  message(STATUS "${strName} ${strConfiguration}: ${strLibraryName}, ${strDllName}")
endfunction()

# name                        import library    generator             configurations                            toolchain
check_consumer(mingw          libVardlix.dll.a Ninja                 ""                                        mingw)
check_consumer(mingw-debug    libVardlix.dll.a Ninja                 Debug                                     mingw)
check_consumer(clang-cl       Vardlix.lib      Ninja                 ""                                        clang-cl)
check_consumer(clang-cl-debug Vardlix.lib      Ninja                 Debug                                     clang-cl)
check_consumer(clang-cl-multi Vardlix.lib      "Ninja Multi-Config"  "Debug;Release;RelWithDebInfo;MinSizeRel" clang-cl)
