# Vardlix.dll inside hosts that bring the shared GCC runtime, and inside a
# host that loads and unloads it 5,000 times. Included at the end of
# tests/windows/CMakeLists.txt.

# RuntimeHost.exe loads the DLL (and the shared runtime) at run time from
# its own folder, so it links nothing of the library.
add_executable(RuntimeHost runtime_host.cpp)
vardlix_warnings(RuntimeHost)
target_include_directories(RuntimeHost PRIVATE "${PROJECT_SOURCE_DIR}/include")
target_link_options(RuntimeHost PRIVATE -municode)

vardlix_test(windows_runtime_tests runtime_host_test.cpp LIBS vardlix_test_support)
add_dependencies(windows_runtime_tests RuntimeHost)

# The shared runtime of the compiler that builds the DLL, as a MinGW-built
# host ships it: libgcc_s_dw2-1.dll in 32-bit (DWARF-2 unwinding),
# libgcc_s_seh-1.dll in 64-bit; each imports libwinpthread-1.dll. The host
# and the driver get its name from here.
if(CMAKE_SIZEOF_VOID_P EQUAL 4)
  set(VARDLIX_SHARED_GCC_RUNTIME libgcc_s_dw2-1.dll)
else()
  set(VARDLIX_SHARED_GCC_RUNTIME libgcc_s_seh-1.dll)
endif()
target_compile_definitions(RuntimeHost PRIVATE "VARDLIX_SHARED_GCC_RUNTIME=\"${VARDLIX_SHARED_GCC_RUNTIME}\"")
target_compile_definitions(windows_runtime_tests PRIVATE "VARDLIX_SHARED_GCC_RUNTIME=\"${VARDLIX_SHARED_GCC_RUNTIME}\"")
set(VARDLIX_SHARED_RUNTIME "")
# A clang build links the runtime of the MinGW GCC that its toolchain file
# names (cmake/mingw-clang-cross.cmake), which knows where it lies.
set(strRuntimeCompiler "${CMAKE_CXX_COMPILER}")
if(VARDLIX_MINGW_GCC)
  set(strRuntimeCompiler "${VARDLIX_MINGW_GCC}")
endif()
foreach(strDll IN ITEMS ${VARDLIX_SHARED_GCC_RUNTIME} libwinpthread-1.dll)
  execute_process(COMMAND "${strRuntimeCompiler}" "-print-file-name=${strDll}"
                  OUTPUT_VARIABLE strPath OUTPUT_STRIP_TRAILING_WHITESPACE)
  if(NOT IS_ABSOLUTE "${strPath}" OR NOT EXISTS "${strPath}")
    message(FATAL_ERROR "${strRuntimeCompiler} does not know ${strDll}, which the runtime tests need")
  endif()
  list(APPEND VARDLIX_SHARED_RUNTIME "${strPath}")
endforeach()

# The driver copies the host, the DLL and the shared runtime from its own
# folder into each test's folder; the DLL is brought there by
# windows_host_files (tests/windows/CMakeLists.txt).
add_custom_target(windows_runtime_files ALL
  COMMAND "${CMAKE_COMMAND}" -E copy_if_different ${VARDLIX_SHARED_RUNTIME} "$<TARGET_FILE_DIR:windows_runtime_tests>"
  VERBATIM)
