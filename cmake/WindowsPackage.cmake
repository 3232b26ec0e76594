# The Windows package: what a Windows developer unzips and links against.
# cmake --install of a Windows build, and `cpack` in it, give
#   Vardlix-<version>-win32.zip (the 32-bit build) or
#   Vardlix-<version>-win64.zip (the 64-bit build), each holding one folder
#   of its own name with bin/Vardlix.dll, bin/Vardlix.dll.debug (or, built
#   by clang, bin/Vardlix.pdb and bin/vardlix.exe.pdb),
#   bin/vardlix.exe, include/vardlix.h, lib/Vardlix.lib,
#   lib/libVardlix.dll.a, lib/Vardlix.def, lib/cmake/Vardlix/,
#   lib/pkgconfig/vardlix.pc, share/vardlix/lnav/ (with the tool) and
#   README-Windows.txt.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDLIX_WINDOWS_ARCH win32)
  set(VARDLIX_DLLTOOL_MACHINE i386)
else()
  set(VARDLIX_WINDOWS_ARCH win64)
  set(VARDLIX_DLLTOOL_MACHINE i386:x86-64)
endif()

# The import library in the Microsoft format, for MSVC and clang-cl hosts,
# made from the module-definition file that fixes the exports.
find_program(VARDLIX_DLLTOOL NAMES llvm-dlltool llvm-dlltool-14 REQUIRED)
set(VARDLIX_DEF_FILE "${PROJECT_SOURCE_DIR}/log_service/library/vardlix.def")
set(VARDLIX_MSVC_IMPORT_LIBRARY "${PROJECT_BINARY_DIR}/log_service/Vardlix.lib")
add_custom_command(OUTPUT "${VARDLIX_MSVC_IMPORT_LIBRARY}"
  COMMAND "${VARDLIX_DLLTOOL}" -m ${VARDLIX_DLLTOOL_MACHINE} -d "${VARDLIX_DEF_FILE}" -l "${VARDLIX_MSVC_IMPORT_LIBRARY}"
          -D Vardlix.dll
  DEPENDS "${VARDLIX_DEF_FILE}"
  COMMENT "Import library Vardlix.lib for the Microsoft linker"
  VERBATIM)
add_custom_target(vardlix_msvc_import_library ALL DEPENDS "${VARDLIX_MSVC_IMPORT_LIBRARY}")

install(FILES "${VARDLIX_MSVC_IMPORT_LIBRARY}" DESTINATION "${CMAKE_INSTALL_LIBDIR}")
install(FILES "${VARDLIX_DEF_FILE}" DESTINATION "${CMAKE_INSTALL_LIBDIR}" RENAME Vardlix.def)
install(FILES "${PROJECT_SOURCE_DIR}/packaging/README-Windows.txt" DESTINATION .)
# The debug information of the binaries (cmake/WindowsBinaries.cmake),
# beside them: a clang build's PDB files, or the .debug files that a GCC
# Release build took out of them, where their debug links point.
if(VARDLIX_WINDOWS_PDB)
  install(FILES "$<TARGET_FILE_DIR:vardlix>/$<TARGET_PROPERTY:vardlix,VARDLIX_PDB_NAME>"
          DESTINATION "${CMAKE_INSTALL_BINDIR}")
  if(TARGET vardlix_tool)
    install(FILES "$<TARGET_FILE_DIR:vardlix_tool>/$<TARGET_PROPERTY:vardlix_tool,VARDLIX_PDB_NAME>"
            DESTINATION "${CMAKE_INSTALL_BINDIR}")
  endif()
elseif(CMAKE_BUILD_TYPE STREQUAL "Release")
  install(FILES "$<TARGET_FILE:vardlix>.debug" DESTINATION "${CMAKE_INSTALL_BINDIR}")
  if(TARGET vardlix_tool)
    install(FILES "$<TARGET_FILE:vardlix_tool>.debug" DESTINATION "${CMAKE_INSTALL_BINDIR}")
  endif()
endif()

set(CPACK_GENERATOR ZIP)
set(CPACK_PACKAGE_NAME Vardlix)
set(CPACK_PACKAGE_VERSION "${PROJECT_VERSION}")
set(CPACK_PACKAGE_FILE_NAME "Vardlix-${PROJECT_VERSION}-${VARDLIX_WINDOWS_ARCH}")
# One folder at the top of the archive, named like it, so that unpacking
# puts bin/, include/ and lib/ into Vardlix-<version>-win32/ rather than
# among the files of the folder the developer unpacks into.
set(CPACK_INCLUDE_TOPLEVEL_DIRECTORY ON)
set(CPACK_PACKAGE_DESCRIPTION_SUMMARY "${PROJECT_DESCRIPTION}")
include(CPack)
