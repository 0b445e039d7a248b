#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite under AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer first, then the ordinary build with the
# end-to-end tests and a short run of each fuzzer.
set -euo pipefail
cd "$(dirname "$0")/.."
MOZARIO_WITH_FUZZ=1 scripts/setup.sh
scripts/test-sanitized.sh
scripts/build.sh RelWithDebInfo
cd "${MOZARIO_BUILD_DIR:-build}"
ctest --output-on-failure -j2
