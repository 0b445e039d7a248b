#!/usr/bin/env bash
# Builds the whole test suite with AddressSanitizer, UndefinedBehaviorSanitizer and
# LeakSanitizer into build-asan/ (or $MOZARIO_ASAN_BUILD_DIR) and runs it. Any report fails the
# test that caused it. The end-to-end tests (the real program in an X server) are left to the
# ordinary build.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${MOZARIO_ASAN_BUILD_DIR:-build-asan}

cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo -DMOZARIO_SANITIZE=ON >/dev/null
cmake --build "$build_dir" -j2

export ASAN_OPTIONS=detect_leaks=1:abort_on_error=0:strict_string_checks=1:detect_stack_use_after_return=1:check_initialization_order=1
export LSAN_OPTIONS=print_suppressions=0
export UBSAN_OPTIONS=print_stacktrace=1:halt_on_error=1
cd "$build_dir"
ctest --output-on-failure -j2 -E '^e2e$'
