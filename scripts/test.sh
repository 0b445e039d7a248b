#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the unit tests and the desktop-file
# checks built with AddressSanitizer, UndefinedBehaviorSanitizer and LeakSanitizer first; then,
# on the ordinary build of the program alone, the tests that run the program as shipped
# (end-to-end, installed) and a short run of each fuzzer; last the Debian package, checked
# with lintian. The unit tests run once, under the sanitizers.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh tests fuzz
scripts/test-sanitized.sh
build_dir=${MOZARIO_BUILD_DIR:-build}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE=RelWithDebInfo >/dev/null
cmake --build "$build_dir" -j2 --target mozario
(cd "$build_dir" && ctest --output-on-failure -j2 -L 'program|fuzz')
# The unit tests have just run: the package build leaves them out.
DEB_BUILD_OPTIONS="nocheck terse parallel=2" scripts/package.sh
