# Reads the import and export tables of the DLL with objdump and fails unless
# it imports system DLLs only (the C++ runtime is linked in) and exports
# exactly SetLogLife at ordinal 1 and WriteVardlix at ordinal 2, undecorated.
# With DEBUG_SPLIT (a Release build) the DLL must also hold no debug
# information but a .gnu_debuglink section, and Vardlix.dll.debug beside it
# the debug information of the library's own code, its files named relative
# to the source tree SOURCE, never by the build machine's absolute paths.
#   cmake -DOBJDUMP=<objdump> -DDLL=<Vardlix.dll> [-DDEBUG_SPLIT=1 -DSOURCE=<source tree>]
#         -P check_dll_tables.cmake
execute_process(COMMAND "${OBJDUMP}" -p "${DLL}"
                OUTPUT_VARIABLE strDump RESULT_VARIABLE nResult)
if(NOT nResult EQUAL 0)
  message(FATAL_ERROR "objdump failed on ${DLL}")
endif()

string(REGEX MATCHALL "DLL Name: [^\n]+" aImports "${strDump}")
string(REPLACE "DLL Name: " "" aImports "${aImports}")
list(SORT aImports CASE INSENSITIVE)
if(NOT aImports STREQUAL "KERNEL32.dll;msvcrt.dll")
  message(FATAL_ERROR "imports: ${aImports}; expected KERNEL32.dll and msvcrt.dll only")
endif()

if(NOT strDump MATCHES "Ordinal Base[ \t]+([0-9]+)")
  message(FATAL_ERROR "no export table")
endif()
set(nBase "${CMAKE_MATCH_1}")
# "[Ordinal/Name Pointer] Table" lists "[index] name", index = ordinal - base.
string(FIND "${strDump}" "[Ordinal/Name Pointer] Table" nStart)
if(nStart LESS 0)
  message(FATAL_ERROR "no exported names")
endif()
string(SUBSTRING "${strDump}" ${nStart} -1 strNames)
string(REGEX MATCHALL "\n\t\\[ *[0-9]+\\] [^\n]+" aEntries "${strNames}")
set(aExports "")
foreach(strEntry IN LISTS aEntries)
  string(REGEX MATCH "\\[ *([0-9]+)\\] ([^\n]+)" strMatch "${strEntry}")
  math(EXPR nOrdinal "${CMAKE_MATCH_1} + ${nBase}")
  list(APPEND aExports "${CMAKE_MATCH_2}@${nOrdinal}")
endforeach()
list(SORT aExports)
if(NOT aExports STREQUAL "SetLogLife@1;WriteVardlix@2")
  message(FATAL_ERROR "exports: ${aExports}; expected SetLogLife@1;WriteVardlix@2")
endif()
message(STATUS "imports ${aImports}; exports ${aExports}")

if(DEBUG_SPLIT)
  execute_process(COMMAND "${OBJDUMP}" -h "${DLL}" OUTPUT_VARIABLE strSections)
  if(strSections MATCHES "\\.debug_" OR NOT strSections MATCHES "\\.gnu_debuglink")
    message(FATAL_ERROR "${DLL} keeps debug sections or has no debug link:\n${strSections}")
  endif()
  # The library's own code, named by its source files in the debug strings.
  execute_process(COMMAND "${OBJDUMP}" -h "${DLL}.debug" OUTPUT_VARIABLE strDebugSections)
  file(STRINGS "${DLL}.debug" aSourceNames REGEX "exports\\.cpp" LIMIT_COUNT 1)
  if(NOT strDebugSections MATCHES "\\.debug_info" OR NOT aSourceNames)
    message(FATAL_ERROR "${DLL}.debug does not describe the library's own code")
  endif()
  file(STRINGS "${DLL}.debug" aAbsolute REGEX "${SOURCE}" LIMIT_COUNT 1)
  if(aAbsolute)
    message(FATAL_ERROR "${DLL}.debug names the build machine's ${SOURCE}: ${aAbsolute}")
  endif()
  message(STATUS "debug information in ${DLL}.debug")
endif()
