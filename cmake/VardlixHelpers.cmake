# Small helpers so that every target gets the same warnings and every test or
# benchmark is declared in one line.

function(vardlix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# vardlix_test(NAME source... [LIBS lib...])
function(vardlix_test name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  vardlix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  if(WIN32)
    # Under Wine each program start costs far more than a test case, so a
    # cross-built suite runs as one CTest entry, in one process.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "TZ=UTC")
  else()
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
                         PROPERTIES ENVIRONMENT "TZ=UTC")
  endif()
endfunction()

# vardlix_benchmark(NAME source... [LIBS lib...])
function(vardlix_benchmark name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  vardlix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
