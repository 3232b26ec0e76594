# vardlix.exe run under Wine. Included at the end of
# tests/windows/CMakeLists.txt; only when the tool is built.
if(NOT TARGET vardlix_tool)
  return()
endif()

vardlix_test(windows_tool_tests tool_exe_test.cpp LIBS vardlix_test_support)
# The version resources are read through version.dll, as Explorer reads them.
target_link_libraries(windows_tool_tests PRIVATE version)
target_compile_definitions(windows_tool_tests PRIVATE "VARDLIX_VERSION=\"${PROJECT_VERSION}\"")
# The driver copies vardlix.exe, Vardlix.dll and Host.exe from its own
# folder (this one) into each test's folder; the DLL and Host.exe are put
# here by windows_host_files and Host, the tool is brought in.
add_custom_target(windows_tool_files ALL
  COMMAND "${CMAKE_COMMAND}" -E copy_if_different "$<TARGET_FILE:vardlix_tool>" "${CMAKE_CURRENT_BINARY_DIR}"
  VERBATIM)
add_dependencies(windows_tool_files vardlix_tool)
add_dependencies(windows_tool_tests windows_tool_files windows_host_files Host MsvcHost)

# vardlix.exe forward to a real rsyslogd of this machine, over TCP and UDP.
add_test(NAME windows_tool_forward
  COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/forward_wine_test.sh" "${CMAKE_CURRENT_BINARY_DIR}"
          "${CMAKE_BINARY_DIR}/wineprefix" "${VARDLIX_WINE_ARCH}")
