#!/usr/bin/env bash
# Builds the unit tests with AddressSanitizer, UndefinedBehaviorSanitizer, LeakSanitizer and Qt's own checks
# into build-asan/ (or $MOZARIO_ASAN_BUILD_DIR) and runs them with the desktop-file checks. Any
# report fails the test that caused it. The tests of the whole program (end to end, installed,
# fuzzing) are left to the ordinary build.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${MOZARIO_ASAN_BUILD_DIR:-build-asan}

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOZARIO_SANITIZE=ON -DMOZARIO_LIBRARY_CHECKS=ON -DMOZARIO_PROGRAM_TESTS=OFF >/dev/null
cmake --build "$build_dir" -j2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export LSAN_OPTIONS=print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build_dir"
ctest --output-on-failure -j2
