# One static library per source folder. Sources are picked up by glob so a new
# unit only needs its files; dependencies are declared here, in one direction.
# A folder grouped into sub-folders by concern (audio/) passes RECURSE.
function(sdm_library name dir)
  cmake_parse_arguments(ARG "RECURSE" "" "DEPS" ${ARGN})
  if(ARG_RECURSE)
    file(GLOB_RECURSE _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  else()
    file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp ${dir}/*.c)
  endif()
  if(_src)
    add_library(${name} STATIC ${_src})
    target_include_directories(${name} PUBLIC ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} PUBLIC ${ARG_DEPS} Threads::Threads)
  else()
    add_library(${name} INTERFACE)
    target_include_directories(${name} INTERFACE ${PROJECT_SOURCE_DIR}/src)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS} Threads::Threads)
  endif()
endfunction()

# One test program per test folder; every *.cpp in it is part of the program.
# Tests are discovered when CTest runs, so a sanitizer build never runs a test
# binary at build time.
function(sdm_test name dir)
  cmake_parse_arguments(ARG "" "" "DEPS" ${ARGN})
  file(GLOB _src CONFIGURE_DEPENDS ${dir}/*.cpp)
  if(NOT _src)
    return()
  endif()
  add_executable(${name} ${_src})
  target_include_directories(${name} PRIVATE ${PROJECT_SOURCE_DIR}/tests)
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} sdm_testsupport GTest::gtest GTest::gtest_main GTest::gmock)
  target_compile_definitions(${name} PRIVATE
    SDM_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    SDM_BINARY_DIR="${PROJECT_BINARY_DIR}"
    SDM_CLI="$<TARGET_FILE:slidomat-cli>")
  # Only the CLI tests wait for the command line program to be built.
  if(name STREQUAL "test_app")
    add_dependencies(${name} slidomat-cli slidomat-spk)
  endif()
  gtest_discover_tests(${name} DISCOVERY_MODE PRE_TEST DISCOVERY_TIMEOUT 60
    PROPERTIES ENVIRONMENT "SDM_TEST_TMP=${PROJECT_BINARY_DIR}/testtmp")
endfunction()
