# Helpers shared by every folder's CMakeLists.txt.

# ferolt_include_folders(TARGET SCOPE FOLDER...)
# Headers are included by their path from the repository root ("platform/d3d9/d3d9.h"), but a target
# sees only the folders of the targets it links: each folder gets an include root of its own in the
# build tree that holds a link to that folder alone, and a target hands the roots of its folders on
# (SCOPE PUBLIC or INTERFACE) to what links it.
function(ferolt_include_folders target scope)
  foreach(folder ${ARGN})
    string(REPLACE "/" "_" root_name "${folder}")
    set(root ${PROJECT_BINARY_DIR}/include/${root_name})
    if(NOT EXISTS ${root}/${folder})
      cmake_path(GET folder PARENT_PATH parent)
      file(MAKE_DIRECTORY ${root}/${parent})
      file(CREATE_LINK ${PROJECT_SOURCE_DIR}/${folder} ${root}/${folder} SYMBOLIC)
    endif()
    target_include_directories(${target} ${scope} ${root})
  endforeach()
endfunction()

# ferolt_library(NAME SOURCES ... [DEPS ...])
# One library per folder, whose headers reach only what links it. A folder with only headers becomes
# an INTERFACE library.
function(ferolt_library name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  cmake_path(RELATIVE_PATH CMAKE_CURRENT_SOURCE_DIR BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE folder)
  if(ARG_SOURCES)
    add_library(${name} STATIC ${ARG_SOURCES})
    target_link_libraries(${name} PUBLIC ${ARG_DEPS})
    ferolt_include_folders(${name} PUBLIC ${folder})
  else()
    add_library(${name} INTERFACE)
    target_link_libraries(${name} INTERFACE ${ARG_DEPS})
    ferolt_include_folders(${name} INTERFACE ${folder})
  endif()
endfunction()

# ferolt_test(NAME LABEL label SOURCES ... [DEPS ...] [SERIAL])
# A GoogleTest executable whose cases ctest discovers and labels by folder. SERIAL runs each case
# with nothing else beside it, for cases that watch a real desktop's timing.
function(ferolt_test name)
  cmake_parse_arguments(ARG "SERIAL" "LABEL" "SOURCES;DEPS" ${ARGN})
  set(serial "")
  if(ARG_SERIAL)
    set(serial RUN_SERIAL TRUE)
  endif()
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} GTest::gtest GTest::gtest_main Threads::Threads)
  ferolt_include_folders(${name} PRIVATE tests)
  target_compile_definitions(${name} PRIVATE
    FEROLT_SOURCE_DIR="${PROJECT_SOURCE_DIR}"
    FEROLT_BASELINE_DIR="${PROJECT_SOURCE_DIR}/tests/baselines")
  gtest_discover_tests(${name}
    DISCOVERY_MODE PRE_TEST
    PROPERTIES LABELS ${ARG_LABEL} TIMEOUT 300 ${serial}
    WORKING_DIRECTORY ${CMAKE_CURRENT_BINARY_DIR})
endfunction()

# ferolt_bench(NAME SOURCES ... [DEPS ...])
function(ferolt_bench name)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(${name} ${ARG_SOURCES})
  target_link_libraries(${name} PRIVATE ${ARG_DEPS} benchmark::benchmark Threads::Threads)
  ferolt_include_folders(${name} PRIVATE bench tests)
endfunction()

# ferolt_fuzzer(NAME SOURCES ... [DEPS ...])
# A libFuzzer entry point (LLVMFuzzerTestOneInput). Built as a plain executable that runs each
# file named on its command line once (a folder: every file under it), unless FEROLT_LIBFUZZER is on.
option(FEROLT_LIBFUZZER "Link fuzz targets against libFuzzer (clang only)" OFF)
if(FEROLT_LIBFUZZER)
  if(NOT CMAKE_CXX_COMPILER_ID MATCHES "Clang")
    message(FATAL_ERROR "FEROLT_LIBFUZZER needs clang (CC=clang CXX=clang++)")
  endif()
  # libFuzzer steers by the coverage of the code under test, so every library is instrumented,
  # not only the harness; the fuzz targets alone link the fuzzer's runtime.
  add_compile_options(-fsanitize=fuzzer-no-link)
endif()
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
  ferolt_include_folders(${name} PRIVATE tests)
endfunction()

# ferolt_fuzz_corpus(TARGET [CORPUS_DIR])
# A ctest (label "fuzz") that replays every file under the target's corpus folder, past crash
# inputs in its crashes/ subfolder included. The folder defaults to tests/fuzz_corpus/TARGET;
# a relative one is taken from the repository root.
function(ferolt_fuzz_corpus target)
  set(corpus ${PROJECT_SOURCE_DIR}/tests/fuzz_corpus/${target})
  if(ARGC GREATER 1)
    cmake_path(ABSOLUTE_PATH ARGV1 BASE_DIRECTORY ${PROJECT_SOURCE_DIR} OUTPUT_VARIABLE corpus)
  endif()
  if(NOT IS_DIRECTORY ${corpus})
    message(FATAL_ERROR "ferolt_fuzz_corpus(${target}): no corpus folder ${corpus}")
  endif()
  if(FEROLT_LIBFUZZER)
    set(replay -runs=0 ${corpus})
  else()
    set(replay ${corpus})
  endif()
  add_test(NAME fuzz_corpus_${target} COMMAND ${target} ${replay})
  set_tests_properties(fuzz_corpus_${target} PROPERTIES LABELS fuzz TIMEOUT 300)
endfunction()

# ferolt_fuzz_seeds(TARGET SOURCES ... [DEPS ...])
# seeds_TARGET writes the target's seed corpus from the fixture writers: its sources define
# ferolt::test::FuzzSeeds() (tests/support/fuzz_seeds.h). Run it by hand with the corpus folder,
# e.g. build/tests/codec/seeds_fuzz_object_file tests/fuzz_corpus/fuzz_object_file, and commit.
function(ferolt_fuzz_seeds target)
  cmake_parse_arguments(ARG "" "" "SOURCES;DEPS" ${ARGN})
  add_executable(seeds_${target} ${ARG_SOURCES} ${PROJECT_SOURCE_DIR}/tests/support/fuzz_seeds_main.cpp)
  target_link_libraries(seeds_${target} PRIVATE ${ARG_DEPS} ferolt_test_support)
  ferolt_include_folders(seeds_${target} PRIVATE tests)
endfunction()
