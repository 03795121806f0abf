# pixorta_add_library(NAME SOURCES ... [LIBS ...])
# Every library includes with the folder, from the repository root ("core/paths.h"), so a
# header's folder shows which layer it belongs to.
function(pixorta_add_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_library(${name} STATIC ${ARG_SOURCES})
  target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR})
  if(ARG_LIBS)
    target_link_libraries(${name} PUBLIC ${ARG_LIBS})
  endif()
endfunction()

# pixorta_add_test(NAME SOURCES ... LIBS ...): one GoogleTest executable registered with CTest.
# Every test runs with the offscreen Qt platform and knows where the shared test images are.
function(pixorta_add_test name)
  cmake_parse_arguments(ARG "" "" "SOURCES;LIBS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_LIBS} pixorta_testsupport GTest::gtest)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES ENVIRONMENT "QT_QPA_PLATFORM=offscreen;PIXORTA_TESTDATA=${PIXORTA_TESTDATA_DIR}"
    DISCOVERY_TIMEOUT 60)
endfunction()
