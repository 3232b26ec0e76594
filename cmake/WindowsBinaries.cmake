# What every Windows binary of the project carries: a version resource made
# from the project's one version, and, in a Release build, its debug
# information in a file of its own beside it. Included by the top-level
# CMakeLists.txt for Windows builds, at its own scope, where the resource
# compiler is enabled for every folder.
enable_language(RC)

set(VARDLIX_VERSION_RESOURCE_TEMPLATE "${PROJECT_SOURCE_DIR}/packaging/version.rc.in")
# Who publishes the binaries, as Explorer's Details tab and installers show
# it; a distributor that builds its own sets both on the command line. A
# fixed year rather than the build's, so that a rebuild gives the same DLL.
set(VARDLIX_COMPANY_NAME "The Vardlix developers" CACHE STRING "CompanyName of the version resources")
set(VARDLIX_LEGAL_COPYRIGHT "Copyright (C) 2026 The Vardlix developers" CACHE STRING
    "LegalCopyright of the version resources")

# The debug information names files relative to the source tree, not by the
# build machine's absolute paths: the .debug files that ship say
# log_service/service/daily_log.cpp, and a debugger finds the sources in any
# checkout of the same version. The build tree (where the layer folders and
# generated files lie) is named by its place in the source tree; it is the
# more specific prefix, so it comes last, which GCC and clang both prefer.
# Built by clang (the *-mingw-clang toolchain files), the debug information
# is CodeView, linked by lld into a PDB beside each binary: what Visual
# Studio and WinDbg read, matched to the binary by the GUID and age in its
# debug directory. GCC has no CodeView: its builds keep DWARF, split into a
# .debug file in Release builds.
if(CMAKE_CXX_COMPILER_ID STREQUAL "Clang")
  set(VARDLIX_WINDOWS_PDB ON)
  add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-gcodeview>")
else()
  set(VARDLIX_WINDOWS_PDB OFF)
endif()

file(RELATIVE_PATH VARDLIX_BINARY_RELATIVE "${PROJECT_SOURCE_DIR}" "${PROJECT_BINARY_DIR}")
if(VARDLIX_BINARY_RELATIVE STREQUAL "")
  set(VARDLIX_BINARY_RELATIVE .)
endif()
add_compile_options("$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_SOURCE_DIR}/=>"
                    "$<$<COMPILE_LANGUAGE:C,CXX>:-ffile-prefix-map=${PROJECT_BINARY_DIR}=${VARDLIX_BINARY_RELATIVE}>")

# vardlix_windows_binary(TARGET FILE_NAME DESCRIPTION)
#   The version resource: product "Vardlix", company and copyright (above),
#   file and product version from
#   PROJECT_VERSION, DESCRIPTION, and FILE_NAME (the binary's own name). A
#   clang build links a PDB beside it. A GCC Release build is then stripped
#   of its debug information,
#   which goes to FILE_NAME.debug beside it; the binary names that file and
#   its checksum in its .gnu_debuglink section, where GDB and the MinGW
#   crash reporters look for it.
function(vardlix_windows_binary target strFileName strDescription)
  get_target_property(strType ${target} TYPE)
  if(strType STREQUAL "SHARED_LIBRARY")
    set(VARDLIX_FILE_TYPE "VFT_DLL")
  else()
    set(VARDLIX_FILE_TYPE "VFT_APP")
  endif()
  set(VARDLIX_FILE_NAME "${strFileName}")
  get_filename_component(VARDLIX_INTERNAL_NAME "${strFileName}" NAME_WE)
  set(VARDLIX_FILE_DESCRIPTION "${strDescription}")
  set(strResource "${CMAKE_CURRENT_BINARY_DIR}/${target}_version.rc")
  configure_file("${VARDLIX_VERSION_RESOURCE_TEMPLATE}" "${strResource}" @ONLY)
  target_sources(${target} PRIVATE "${strResource}")

  if(VARDLIX_WINDOWS_PDB)
    # The PDB beside the binary: Vardlix.pdb for the DLL, FILE_NAME.pdb for
    # a program, since vardlix.pdb would be Vardlix.pdb's very file on
    # Windows, where both lie in bin\. The binary names the PDB without the
    # build machine's folder, and a debugger looks beside the binary and on
    # its symbol path. lld would make the source files' relative names
    # (above) absolute against its working folder: "." keeps them relative
    # to the source tree.
    set(strPdbName "${strFileName}.pdb")
    if(strType STREQUAL "SHARED_LIBRARY")
      set(strPdbName "${VARDLIX_INTERNAL_NAME}.pdb")
    endif()
    set_property(TARGET ${target} PROPERTY VARDLIX_PDB_NAME "${strPdbName}")
    target_link_options(${target} PRIVATE "LINKER:--pdb=$<TARGET_FILE_DIR:${target}>/${strPdbName}"
                        "LINKER:--Xlink=-pdbaltpath:%_PDB%" "LINKER:--Xlink=-pdbsourcepath:.")
  elseif(CMAKE_BUILD_TYPE STREQUAL "Release")
    add_custom_command(TARGET ${target} POST_BUILD
      COMMAND "${CMAKE_OBJCOPY}" --only-keep-debug "$<TARGET_FILE_NAME:${target}>" "$<TARGET_FILE_NAME:${target}>.debug"
      COMMAND "${CMAKE_OBJCOPY}" --strip-debug "--add-gnu-debuglink=$<TARGET_FILE_NAME:${target}>.debug"
              "$<TARGET_FILE_NAME:${target}>"
      WORKING_DIRECTORY "$<TARGET_FILE_DIR:${target}>"
      COMMENT "Debug information of $<TARGET_FILE_NAME:${target}> to $<TARGET_FILE_NAME:${target}>.debug"
      VERBATIM)
  endif()
endfunction()
