# Hosts in the Microsoft ABI, built without Microsoft's tools: clang-cl for
# i686-pc-windows-msvc or x86_64-pc-windows-msvc with the MinGW headers,
# linked by lld-link against the Microsoft-format Vardlix.lib of the package
# (cmake/WindowsPackage.cmake) and the MinGW kernel32 import library.
# Included by CMakeLists.txt here.
find_program(VARDLIX_CLANG_CL NAMES clang-cl-14 clang-cl REQUIRED)
find_program(VARDLIX_LLD_LINK NAMES lld-link lld-link-14 REQUIRED)
find_path(VARDLIX_MINGW_INCLUDE windows.h REQUIRED)
find_library(VARDLIX_MINGW_KERNEL32 kernel32 REQUIRED)
# The kernel32 functions of the C++ host come from MinGW's import library,
# whose objects lack the safe exception handler marker that a 32-bit
# Microsoft-ABI link asks for (a Visual Studio host links the SDK's
# kernel32.lib); Vardlix.lib has it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDLIX_MSVC_TARGET i686-pc-windows-msvc)
  set(VARDLIX_MSVC_LINK_OPTIONS /safeseh:no)
else()
  set(VARDLIX_MSVC_TARGET x86_64-pc-windows-msvc)
  set(VARDLIX_MSVC_LINK_OPTIONS)
endif()

# Both tools take an argument that begins with "/" for an option, so the
# files are named relative to this folder, or behind an option's letters.
file(RELATIVE_PATH VARDLIX_MSVC_IMPORT_RELATIVE "${CMAKE_CURRENT_BINARY_DIR}" "${VARDLIX_MSVC_IMPORT_LIBRARY}")
get_filename_component(VARDLIX_MINGW_LIBDIR "${VARDLIX_MINGW_KERNEL32}" DIRECTORY)
get_filename_component(VARDLIX_MINGW_KERNEL32_NAME "${VARDLIX_MINGW_KERNEL32}" NAME)

# Warnings are errors here too when the build asks for it, as the project's
# scripts do.
set(VARDLIX_MSVC_WARNINGS /W3)
if(CMAKE_COMPILE_WARNING_AS_ERROR)
  list(APPEND VARDLIX_MSVC_WARNINGS /WX)
endif()

# vardlix_msvc_host(NAME SOURCE LANGUAGE_OPTION): NAME.exe from SOURCE,
# compiled as C (/Tc) or C++ (/Tp) and linked against Vardlix.lib.
function(vardlix_msvc_host strName strSource strLanguage)
  add_custom_command(OUTPUT "${CMAKE_CURRENT_BINARY_DIR}/${strName}.exe"
    # /GS- drops the stack cookie and /EHs-c- /GR- the C++ exception and
    # type tables, the things that would need a C runtime.
    COMMAND "${VARDLIX_CLANG_CL}" --target=${VARDLIX_MSVC_TARGET} /nologo /c /O2 /GS- /EHs-c- /GR-
            ${VARDLIX_MSVC_WARNINGS}
            -imsvc "${VARDLIX_MINGW_INCLUDE}" "/I${PROJECT_SOURCE_DIR}/include" "/I${CMAKE_CURRENT_SOURCE_DIR}"
            "${strLanguage}${CMAKE_CURRENT_SOURCE_DIR}/${strSource}" /Fo${strName}.obj
    COMMAND "${VARDLIX_LLD_LINK}" /nologo /entry:main /subsystem:console /nodefaultlib ${VARDLIX_MSVC_LINK_OPTIONS}
            "/libpath:${VARDLIX_MINGW_LIBDIR}" ${strName}.obj "${VARDLIX_MSVC_IMPORT_RELATIVE}"
            "${VARDLIX_MINGW_KERNEL32_NAME}" /out:${strName}.exe
    WORKING_DIRECTORY "${CMAKE_CURRENT_BINARY_DIR}"
    DEPENDS ${strSource} atl_string_standin.h "${PROJECT_SOURCE_DIR}/include/vardlix.h" vardlix_msvc_import_library
    COMMENT "${strName}.exe: a Microsoft-ABI host linked against Vardlix.lib"
    VERBATIM)
  add_custom_target(${strName} ALL DEPENDS "${CMAKE_CURRENT_BINARY_DIR}/${strName}.exe")
  add_dependencies(windows_host_tests ${strName})
endfunction()

# A C host, and a C++ host of ATL's or MFC's shape that passes CString
# objects (atl_string_standin.h stands in for atlstr.h).
vardlix_msvc_host(MsvcHost msvc_host.c /Tc)
vardlix_msvc_host(FrameworkHost framework_host.cpp /Tp)

# The zip as a Windows developer gets it: made by CPack, its listing
# checked, and a CMake project of each ABI built against it.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDLIX_PACKAGE_ARCH win32)
else()
  set(VARDLIX_PACKAGE_ARCH win64)
endif()
# The toolchain file, as the command line gave it, is relative to the source.
get_filename_component(VARDLIX_TOOLCHAIN_FILE "${CMAKE_TOOLCHAIN_FILE}" ABSOLUTE BASE_DIR "${PROJECT_SOURCE_DIR}")
add_test(NAME vardlix_package
         COMMAND "${CMAKE_COMMAND}" "-DCPACK=${CMAKE_CPACK_COMMAND}" "-DBUILD=${PROJECT_BINARY_DIR}"
                 "-DVERSION=${PROJECT_VERSION}" "-DARCH=${VARDLIX_PACKAGE_ARCH}" "-DTOOLCHAIN=${VARDLIX_TOOLCHAIN_FILE}"
                 "-DCLANG_CL=${VARDLIX_CLANG_CL}" "-DLLD_LINK=${VARDLIX_LLD_LINK}" "-DMSVC_TARGET=${VARDLIX_MSVC_TARGET}"
                 "-DMINGW_INCLUDE=${VARDLIX_MINGW_INCLUDE}" "-DKERNEL32=${VARDLIX_MINGW_KERNEL32}"
                 -P "${CMAKE_CURRENT_SOURCE_DIR}/check_package.cmake")
