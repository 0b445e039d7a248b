# The test suite's short fuzz run: when clang and its libFuzzer runtime are installed, every
# fuzz target runs for a bounded time (scripts/fuzz.sh) in a build folder of its own inside this
# one. The sanitizer build of the suite leaves it out: it would only run the same again.
if(MOZARIO_SANITIZE)
  return()
endif()
find_program(MOZARIO_CLANGXX clang++)
if(NOT MOZARIO_CLANGXX)
  message(STATUS "clang++ not found: the short fuzz run is left out of the tests")
  return()
endif()
execute_process(COMMAND ${MOZARIO_CLANGXX} -print-resource-dir
  OUTPUT_VARIABLE clang_resources OUTPUT_STRIP_TRAILING_WHITESPACE)
file(GLOB fuzzer_runtime "${clang_resources}/lib/linux/libclang_rt.fuzzer-*.a")
if(NOT fuzzer_runtime)
  message(STATUS "clang's libFuzzer runtime not found: the short fuzz run is left out of the tests")
  return()
endif()

set(MOZARIO_FUZZ_SECONDS 5 CACHE STRING "Seconds each fuzz target runs in the test suite")
add_test(NAME fuzz_short
  COMMAND ${CMAKE_COMMAND} -E env MOZARIO_FUZZ_SETUP=0
          MOZARIO_FUZZ_BUILD_DIR=${CMAKE_BINARY_DIR}/fuzz-build
          MOZARIO_FUZZ_CORPUS_DIR=${CMAKE_BINARY_DIR}/fuzz-corpus
          ${PROJECT_SOURCE_DIR}/scripts/fuzz.sh ${MOZARIO_FUZZ_SECONDS})
# Alone, so the time limit per file measures the readers and not the other tests.
set_tests_properties(fuzz_short PROPERTIES RUN_SERIAL TRUE TIMEOUT 1200 LABELS fuzz)
