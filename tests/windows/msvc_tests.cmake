# A host in the Microsoft ABI, built without Microsoft's tools: clang-cl for
# i686-pc-windows-msvc with the MinGW headers, linked by lld-link against the
# Microsoft-format Vardlix.lib of the package (cmake/WindowsPackage.cmake)
# and the MinGW kernel32 import library. Included by CMakeLists.txt here.
find_program(VARDLIX_CLANG_CL NAMES clang-cl-14 clang-cl REQUIRED)
find_program(VARDLIX_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_path(VARDLIX_MINGW_INCLUDE windows.h REQUIRED)
find_library(VARDLIX_MINGW_KERNEL32 kernel32 REQUIRED)

set(VARDLIX_MSVC_HOST "${CMAKE_CURRENT_BINARY_DIR}/MsvcHost.exe")
# Both tools take an argument that begins with "/" for an option, so the
# files are named relative to this folder, or behind an option's letters.
file(RELATIVE_PATH VARDLIX_MSVC_IMPORT_RELATIVE "${CMAKE_CURRENT_BINARY_DIR}" "${VARDLIX_MSVC_IMPORT_LIBRARY}")
get_filename_component(VARDLIX_MINGW_LIBDIR "${VARDLIX_MINGW_KERNEL32}" DIRECTORY)
get_filename_component(VARDLIX_MINGW_KERNEL32_NAME "${VARDLIX_MINGW_KERNEL32}" NAME)
add_custom_command(OUTPUT "${VARDLIX_MSVC_HOST}"
  # /GS- drops the stack cookie, the one thing that would need a C runtime.
  COMMAND "${VARDLIX_CLANG_CL}" --target=i686-pc-windows-msvc /nologo /c /O2 /GS- /W3
          -imsvc "${VARDLIX_MINGW_INCLUDE}" "/I${PROJECT_SOURCE_DIR}/include"
          "/Tc${CMAKE_CURRENT_SOURCE_DIR}/msvc_host.c" /Fomsvc_host.obj
  COMMAND "${VARDLIX_LLD_LINK}" /nologo /entry:main /subsystem:console /nodefaultlib
          "/libpath:${VARDLIX_MINGW_LIBDIR}" msvc_host.obj "${VARDLIX_MSVC_IMPORT_RELATIVE}"
          "${VARDLIX_MINGW_KERNEL32_NAME}" /out:MsvcHost.exe
  WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
  DEPENDS msvc_host.c "${PROJECT_SOURCE_DIR}/include/vardlix.h" vardlix_msvc_import_library
  COMMENT "MsvcHost.exe: a Microsoft-ABI host linked against Vardlix.lib"
  VERBATIM)
add_custom_target(msvc_host ALL DEPENDS "${VARDLIX_MSVC_HOST}")
add_dependencies(windows_host_tests msvc_host)

# The zip as a Windows developer gets it: made by CPack, its listing checked.
add_test(NAME vardlix_win32_package
         COMMAND "${CMAKE_COMMAND}" "-DCPACK=${CMAKE_CPACK_COMMAND}" "-DBUILD=${PROJECT_BINARY_DIR}"
                 "-DVERSION=${PROJECT_VERSION}" -P "${CMAKE_CURRENT_SOURCE_DIR}/check_package.cmake")
