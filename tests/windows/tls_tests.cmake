# The tool's TLS session on SChannel under Wine, against openssl s_server.
# Included at the end of tests/windows/CMakeLists.txt; only when the tool
# is built.
if(NOT TARGET vardlix_tool_system)
  return()
endif()

# TlsProbe.exe drives CTlsSession; the driver makes the certificates,
# starts the servers and runs it once per row of its table.
add_executable(TlsProbe tls_probe.cpp)
vardlix_warnings(TlsProbe)
target_link_libraries(TlsProbe PRIVATE vardlix_tool_system)
add_test(NAME windows_tls_session
  COMMAND bash "${CMAKE_CURRENT_SOURCE_DIR}/tls_wine_test.sh" "$<TARGET_FILE:TlsProbe>"
          "${CMAKE_BINARY_DIR}/wineprefix" "${VARDLIX_WINE_ARCH}")
