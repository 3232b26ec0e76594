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
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120
                       PROPERTIES ENVIRONMENT "TZ=UTC")
endfunction()

# vardlix_benchmark(NAME source... [LIBS lib...])
function(vardlix_benchmark name)
  cmake_parse_arguments(ARG "" "" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  vardlix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} benchmark::benchmark)
endfunction()
