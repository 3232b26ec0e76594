cmake_minimum_required(VERSION 3.16)
# Makes the Windows zip with CPack in a folder of its own and checks that it
# holds what a Windows developer is told it holds.
#   cmake -DCPACK=... -DBUILD=<build folder> -DVERSION=x.y.z -P check_package.cmake
set(out "${BUILD}/package-test")
file(REMOVE_RECURSE "${out}")
execute_process(COMMAND "${CPACK}" -G ZIP --config "${BUILD}/CPackConfig.cmake" -B "${out}"
                RESULT_VARIABLE result OUTPUT_VARIABLE output ERROR_VARIABLE output)
if(NOT result EQUAL 0)
  message(FATAL_ERROR "cpack failed:\n${output}")
endif()
set(zip "${out}/Vardlix-${VERSION}-win32.zip")
if(NOT EXISTS "${zip}")
  message(FATAL_ERROR "no ${zip}:\n${output}")
endif()
execute_process(COMMAND "${CMAKE_COMMAND}" -E tar tf "${zip}" OUTPUT_VARIABLE listing RESULT_VARIABLE result)
string(REPLACE "\n" ";" entries "${listing}")
foreach(expected bin/Vardlix.dll include/vardlix.h lib/Vardlix.lib lib/libVardlix.dll.a lib/Vardlix.def
                 README-Windows.txt)
  if(NOT expected IN_LIST entries)
    message(FATAL_ERROR "${zip} lacks ${expected}; it holds:\n${listing}")
  endif()
endforeach()
if(EXISTS "${BUILD}/tools/vardlix.exe" AND NOT "bin/vardlix.exe" IN_LIST entries)
  message(FATAL_ERROR "${zip} lacks bin/vardlix.exe; it holds:\n${listing}")
endif()
message(STATUS "${zip}:\n${listing}")
