# Reads the import and export tables of the DLL with objdump and fails unless
# it imports system DLLs only (the C++ runtime is linked in) and exports
# exactly SetLogLife at ordinal 1 and WriteVardlix at ordinal 2, undecorated.
#   cmake -DOBJDUMP=<objdump> -DDLL=<Vardlix.dll> -P check_dll_tables.cmake
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
