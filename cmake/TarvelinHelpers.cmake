# Helpers that keep every module's CMakeLists short: one static library per
# namespace folder, one CTest entry per test file.

function(tarvelin_apply_sanitizers)
  if(NOT TARVELIN_SANITIZERS)
    return()
  endif()
  string(REPLACE ";" "," _list "${TARVELIN_SANITIZERS}")
  set(_flags -fsanitize=${_list} -fno-omit-frame-pointer -fno-sanitize-recover=all)
  add_compile_options(${_flags})
  add_link_options(${_flags})
endfunction()

# tarvelin_add_library(NAME tarvelin_utils SRCS a.cc b.cc
#                      PUBLIC_LINK_LIBS ... PRIVATE_LINK_LIBS ...)
function(tarvelin_add_library)
  cmake_parse_arguments(ARG "" "NAME" "SRCS;PUBLIC_LINK_LIBS;PRIVATE_LINK_LIBS" ${ARGN})
  add_library(${ARG_NAME} STATIC ${ARG_SRCS})
  target_include_directories(${ARG_NAME} PUBLIC ${PROJECT_SOURCE_DIR})
  target_link_libraries(${ARG_NAME} PUBLIC ${ARG_PUBLIC_LINK_LIBS} PRIVATE ${ARG_PRIVATE_LINK_LIBS})
endfunction()

# tarvelin_add_test(NAME ChunkNode_test SRCS ChunkNode_test.cc LINK_LIBS tarvelin_utils)
# The CTest entry is named after the folder and the file: foundation/utils/ChunkNode_test.
# LAUNCHER: a command the test runs under (e.g. xvfb-run -a for tests that
# open windows).
# SERIAL: the test runs alone (scans of the virtual rig run its cameras in
# real time, and a machine busy with other tests makes them drop frames).
function(tarvelin_add_test)
  if(NOT TARVELIN_BUILD_TESTS)
    return()
  endif()
  cmake_parse_arguments(ARG "SERIAL" "NAME;TIMEOUT" "SRCS;LINK_LIBS;LABELS;LAUNCHER" ${ARGN})
  file(RELATIVE_PATH _folder ${PROJECT_SOURCE_DIR} ${CMAKE_CURRENT_SOURCE_DIR})
  string(REPLACE "/" "_" _prefix "${_folder}")
  set(_target ${_prefix}_${ARG_NAME})
  add_executable(${_target} ${ARG_SRCS})
  target_link_libraries(${_target} PRIVATE ${ARG_LINK_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  add_test(NAME ${_folder}/${ARG_NAME} COMMAND ${ARG_LAUNCHER} $<TARGET_FILE:${_target}>)
  if(NOT ARG_TIMEOUT)
    set(ARG_TIMEOUT 600)
  endif()
  set_tests_properties(${_folder}/${ARG_NAME} PROPERTIES TIMEOUT ${ARG_TIMEOUT}
                       ENVIRONMENT "TARVELIN_TEST_DATA=${PROJECT_SOURCE_DIR}/testdata;OMP_WAIT_POLICY=passive")
  if(ARG_LABELS)
    set_tests_properties(${_folder}/${ARG_NAME} PROPERTIES LABELS "${ARG_LABELS}")
  endif()
  if("threaded" IN_LIST ARG_LABELS)
    set_property(GLOBAL APPEND PROPERTY TARVELIN_THREADED_TESTS ${_target})
  endif()
  if(ARG_SERIAL)
    set_tests_properties(${_folder}/${ARG_NAME} PROPERTIES RUN_SERIAL TRUE)
  endif()
endfunction()

# tarvelin_add_benchmark(NAME DecodeBenchmark SRCS DecodeBenchmark.cc LINK_LIBS ...)
function(tarvelin_add_benchmark)
  cmake_parse_arguments(ARG "" "NAME" "SRCS;LINK_LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SRCS})
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK_LIBS} benchmark::benchmark)
  set_property(GLOBAL APPEND PROPERTY TARVELIN_BENCHMARKS ${ARG_NAME})
endfunction()

# tarvelin_add_fuzzer(NAME ChunkNodeFuzz SRCS ChunkNodeFuzz.cc LINK_LIBS ...)
function(tarvelin_add_fuzzer)
  cmake_parse_arguments(ARG "" "NAME" "SRCS;LINK_LIBS" ${ARGN})
  add_executable(${ARG_NAME} ${ARG_SRCS})
  target_compile_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_options(${ARG_NAME} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${ARG_NAME} PRIVATE ${ARG_LINK_LIBS})
endfunction()
