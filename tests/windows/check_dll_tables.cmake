# Reads the import and export tables of the DLL with objdump and fails unless
# it imports system DLLs only (the C++ runtime is linked in) and exports
# exactly SetLogLife at ordinal 1 and WriteVardlix at ordinal 2, undecorated.
# With DEBUG_SPLIT (a Release build) the DLL must also hold no debug
# information but a .gnu_debuglink section, and Vardlix.dll.debug beside it
# the debug information of the library's own code, its files named relative
# to the source tree SOURCE, never by the build machine's absolute paths.
# With PDB (a clang build) the DLL's debug directory must name Vardlix.pdb
# beside it by that file's GUID and age, and the PDB must resolve
# WriteVardlix to its source file, relative to the source tree, and line.
#   cmake -DOBJDUMP=<objdump> -DDLL=<Vardlix.dll> [-DDEBUG_SPLIT=1 -DSOURCE=<source tree>]
#         [-DPDB=1 -DREADOBJ=<llvm-readobj> -DPDBUTIL=<llvm-pdbutil> -DSYMBOLIZER=<llvm-symbolizer>]
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
  string(REGEX REPLACE "([][+.*?()^$|\\])" "\\\\\\1" strSourcePattern "${SOURCE}")
  file(STRINGS "${DLL}.debug" aAbsolute REGEX "${strSourcePattern}" LIMIT_COUNT 1)
  if(aAbsolute)
    message(FATAL_ERROR "${DLL}.debug names the build machine's ${SOURCE}: ${aAbsolute}")
  endif()
  message(STATUS "debug information in ${DLL}.debug")
endif()

if(PDB)
  get_filename_component(strFolder "${DLL}" DIRECTORY)
  get_filename_component(strStem "${DLL}" NAME_WE)
  execute_process(COMMAND "${READOBJ}" --coff-debug-directory --file-headers --coff-exports "${DLL}"
                  OUTPUT_VARIABLE strHeaders)
  if(NOT strHeaders MATCHES "PDBGUID: \\(([0-9A-F ]+)\\)[ \n]+PDBAge: ([0-9]+)[ \n]+PDBFileName: ([^\n]*)")
    message(FATAL_ERROR "${DLL} has no CodeView debug directory entry:\n${strHeaders}")
  endif()
  string(REPLACE " " ";" aBytes "${CMAKE_MATCH_1}")
  set(nAge "${CMAKE_MATCH_2}")
  set(strPdbName "${CMAKE_MATCH_3}")
  if(NOT strPdbName STREQUAL "${strStem}.pdb")
    message(FATAL_ERROR "${DLL} names ${strPdbName}, not ${strStem}.pdb beside it")
  endif()
  # The GUID as the PDB writes it: its first three fields little-endian.
  set(strGuid "{")
  foreach(nIndex IN ITEMS 3 2 1 0 - 5 4 - 7 6 - 8 9 - 10 11 12 13 14 15)
    if(nIndex STREQUAL "-")
      string(APPEND strGuid "-")
    else()
      list(GET aBytes ${nIndex} strByte)
      string(APPEND strGuid "${strByte}")
    endif()
  endforeach()
  string(APPEND strGuid "}")
  execute_process(COMMAND "${PDBUTIL}" dump -summary "${strFolder}/${strStem}.pdb" OUTPUT_VARIABLE strSummary)
  string(REGEX MATCH "GUID: ([{}0-9A-F-]+)" strMatch "${strSummary}")
  set(strPdbGuid "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Age: ([0-9]+)" strMatch "${strSummary}")
  if(NOT strPdbGuid STREQUAL strGuid OR NOT CMAKE_MATCH_1 STREQUAL nAge)
    message(FATAL_ERROR "${strStem}.pdb is not the one ${DLL} names (${strGuid}, age ${nAge}):\n${strSummary}")
  endif()
  # The export's address, resolved through the PDB as a debugger does.
  string(REGEX MATCH "ImageBase: (0x[0-9A-F]+)" strMatch "${strHeaders}")
  set(nBase "${CMAKE_MATCH_1}")
  string(REGEX MATCH "Name: WriteVardlix[ \n]+RVA: (0x[0-9A-F]+)" strMatch "${strHeaders}")
  math(EXPR nAddress "${nBase} + ${CMAKE_MATCH_1}" OUTPUT_FORMAT HEXADECIMAL)
  execute_process(COMMAND "${SYMBOLIZER}" "--obj=${DLL}" "${nAddress}" WORKING_DIRECTORY "${strFolder}"
                  OUTPUT_VARIABLE strSymbol)
  if(NOT strSymbol MATCHES "^WriteVardlix\n(log_service[/\\]service[/\\]exports\\.cpp):[1-9][0-9]*:")
    message(FATAL_ERROR "${strStem}.pdb resolves ${nAddress} to:\n${strSymbol}"
                        "not WriteVardlix in log_service/service/exports.cpp, named relative to the source tree")
  endif()
  message(STATUS "${strStem}.pdb ${strGuid} age ${nAge}: WriteVardlix at ${CMAKE_MATCH_1}")
endif()
