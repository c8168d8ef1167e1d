# quor_add_gtest(<name> LABEL <unit|integration|gui|e2e> SOURCES ... LIBS ...
#                [TIMEOUT s] [ENV VAR=value ...])
# One GoogleTest executable registered as one CTest test (its cases run in one
# process, which keeps start-up cost low and the CTest summary short).
function(quor_add_gtest name)
  cmake_parse_arguments(T "" "LABEL;TIMEOUT" "SOURCES;LIBS;ENV" ${ARGN})
  find_package(GTest REQUIRED)
  add_executable(${name} ${T_SOURCES})
  target_link_libraries(${name} PRIVATE ${T_LIBS} GTest::gtest GTest::gtest_main GTest::gmock)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/tests)
  add_test(NAME ${name} COMMAND ${name} --gtest_brief=1)
  if(NOT T_TIMEOUT)
    set(T_TIMEOUT 300)
  endif()
  set_tests_properties(${name} PROPERTIES LABELS "${T_LABEL}" TIMEOUT ${T_TIMEOUT}
    ENVIRONMENT "QUOR_BIN_DIR=${CMAKE_BINARY_DIR}/bin;QUOR_SOURCE_DIR=${CMAKE_SOURCE_DIR};LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp:print_suppressions=0;UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1;${T_ENV}")
endfunction()

# quor_add_fuzz(<name> SOURCES ... LIBS ... CORPUS <dir> [SECONDS n])
# A libFuzzer target, run by CTest under the label fuzz for a bounded time over
# its checked-in seed corpus (copied, so the run never writes into the tree).
function(quor_add_fuzz name)
  cmake_parse_arguments(F "" "CORPUS;SECONDS" "SOURCES;LIBS" ${ARGN})
  if(NOT QUOR_FUZZ)
    return()
  endif()
  if(NOT F_SECONDS)
    set(F_SECONDS 30)
  endif()
  add_executable(${name} ${F_SOURCES})
  target_compile_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_options(${name} PRIVATE -fsanitize=fuzzer)
  target_link_libraries(${name} PRIVATE ${F_LIBS})
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/fuzz)
  set(work ${CMAKE_BINARY_DIR}/fuzz/${name}.corpus)
  add_test(NAME ${name}
    COMMAND ${CMAKE_COMMAND} -E env
      "LSAN_OPTIONS=suppressions=${CMAKE_SOURCE_DIR}/tests/lsan.supp"
      ${CMAKE_SOURCE_DIR}/fuzz/run-fuzz.sh $<TARGET_FILE:${name}> ${F_CORPUS} ${work} ${F_SECONDS})
  set_tests_properties(${name} PROPERTIES LABELS fuzz TIMEOUT 300)
  # `./ktv fuzz` runs every target of this list (fuzz/targets.txt).
  set_property(GLOBAL APPEND PROPERTY QUOR_FUZZ_TARGETS "${name} $<TARGET_FILE:${name}> ${F_CORPUS}")
endfunction()

# Writes fuzz/targets.txt: one line per fuzz target, "name program seeds".
function(quor_write_fuzz_targets)
  get_property(targets GLOBAL PROPERTY QUOR_FUZZ_TARGETS)
  list(JOIN targets "\n" lines)
  file(GENERATE OUTPUT ${CMAKE_BINARY_DIR}/fuzz/targets.txt CONTENT "${lines}\n")
endfunction()

# quor_add_bench(<name> SOURCES ... LIBS ...): a Google Benchmark (or plain)
# program in build/bench, run by `./ktv bench`.
function(quor_add_bench name)
  cmake_parse_arguments(B "" "" "SOURCES;LIBS" ${ARGN})
  find_package(benchmark REQUIRED)
  add_executable(${name} ${B_SOURCES})
  target_link_libraries(${name} PRIVATE ${B_LIBS} benchmark::benchmark)
  set_target_properties(${name} PROPERTIES RUNTIME_OUTPUT_DIRECTORY ${CMAKE_BINARY_DIR}/bench)
endfunction()
