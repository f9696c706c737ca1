# Helpers shared by every folder's CMakeLists.txt.

# ferolt_library(NAME SOURCES ... [DEPS ...])
# One library per folder. A folder with only headers becomes an INTERFACE library.
function(ferolt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
  endif()
endfunction()

# ferolt_test(NAME LABEL label SOURCES ... [DEPS ...])
# A GoogleTest executable whose cases ctest discovers and labels by folder.
function(ferolt_test name)
  cmake_parse_arguments(ARG "" "LABEL" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  target_compile_definitions(${name} PRIVATE
    FEROLT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    FEROLT_BASELINE_DIR="${PROJECT_SOURCE_DIR}/tests/baselines")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# ferolt_bench(NAME SOURCES ... [DEPS ...])
function(ferolt_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark Threads::Threads)
endfunction()

# ferolt_fuzzer(NAME SOURCES ... [DEPS ...])
# A libFuzzer entry point (LLVMFuzzerTestOneInput). Built as a plain executable that runs each
# file named on its command line once, unless FEROLT_LIBFUZZER is on and the compiler is clang.
option(FEROLT_LIBFUZZER "Link fuzz targets against libFuzzer (clang only)" OFF)
function(ferolt_fuzzer name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  if(FEROLT_LIBFUZZER)
    add_executable(${name} ${ARG_SOURCES})
    target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
    target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  else()
    add_executable(${name} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_main.cpp)
  endif()
  target_link_libraries(${name} PRIVATE ${ARG_DEPS})
endfunction()
