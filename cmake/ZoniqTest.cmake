# zoniq_add_test(<name> SOURCES ... [LIBS ...]): one GoogleTest executable per subsystem,
# registered with CTest.
find_package(GTest REQUIRED)
include(GoogleTest)
function(zoniq_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} zoniq_test_util GTest::gtest_main zoniq_warnings)
  gtest_discover_tests(${name} DISCOVERY_TIMEOUT 60)
endfunction()
