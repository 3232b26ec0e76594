# Small helpers so that every target gets the same warnings and every test or
# benchmark is declared in one line.

function(vardlix_warnings target)
  target_compile_options(${target} PRIVATE -Wall -Wextra)
endfunction()

# vardlix_test(NAME source... [LIBS lib...] [SLOW gtest-filter])
# SLOW names the cases that take many seconds each, as a GoogleTest filter
# ("LoadTest.*:*/ForwardOver.*"): they get the CTest label "slow", which
# scripts/test-quick.sh leaves out (ctest -LE slow).
function(vardlix_test name)
  cmake_parse_arguments(ARG "" "SLOW" "LIBS" ${ARGN})
  add_executable(${name} ${ARG_UNPARSED_ARGUMENTS})
  vardlix_warnings(${name})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} GTest::gtest_main)
  # A suite's own code (fixtures, assertions, the test bodies) is compiled
  # for the build's time, not for speed: -O1 takes a third less time than
  # -O3 on these files. The library and the tool it drives stay as shipped.
  if(CMAKE_CXX_COMPILER_ID MATCHES "GNU|Clang")
    target_compile_options(${name} PRIVATE $<$<OR:$<CONFIG:Release>,$<CONFIG:RelWithDebInfo>>:-O1>)
  endif()
  if(WIN32)
    # Under Wine each program start costs far more than a test case, so a
    # cross-built suite runs as one CTest entry, in one process.
    add_test(NAME ${name} COMMAND ${name})
    set_tests_properties(${name} PROPERTIES ENVIRONMENT "TZ=UTC")
  elseif(ARG_SLOW AND NOT CMAKE_VERSION VERSION_LESS 3.22)
    # The program is listed twice, once for the slow cases and once for the
    # rest (TEST_FILTER came with CMake 3.22; before it, none is labelled).
    # The slow cases start first (COST), so that the short ones fill the
    # other core around them instead of one of them starting last.
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 TEST_FILTER "${ARG_SLOW}" TEST_LIST ${name}_SLOW
                         PROPERTIES ENVIRONMENT "TZ=UTC" LABELS slow COST 1000)
    gtest_discover_tests(${name} DISCOVERY_TIMEOUT 120 TEST_FILTER "-${ARG_SLOW}"
                         PROPERTIES ENVIRONMENT "TZ=UTC")
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

# vardlix_layer(TARGET FOLDER): the target's sources live in FOLDER and
# include its headers as "<folder name>/<header>". The include path it gets
# (and passes on to the targets that link it) is a folder of its own in the
# build tree that holds one link, to FOLDER: a target sees its own layer and
# the layers it links, never one above it, whose headers lie beside its own
# in the source tree. A header-only (INTERFACE) target passes the path on
# alone.
function(vardlix_layer target folder)
  get_filename_component(name "${folder}" NAME)
  set(root "${CMAKE_BINARY_DIR}/layers/${target}")
  file(MAKE_DIRECTORY "${root}")
  if(NOT IS_SYMLINK "${root}/${name}")
    file(CREATE_LINK "${folder}" "${root}/${name}" SYMBOLIC)
  endif()
  get_target_property(type ${target} TYPE)
  if(type STREQUAL "INTERFACE_LIBRARY")
    set(scope INTERFACE)
  else()
    set(scope PUBLIC)
  endif()
  target_include_directories(${target} ${scope} "$<BUILD_INTERFACE:${root}>")
endfunction()
