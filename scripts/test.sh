#!/usr/bin/env bash
# Installs what is missing, builds, and runs every test: the suite under AddressSanitizer,
# UndefinedBehaviorSanitizer and LeakSanitizer first, then the ordinary build with the
# end-to-end tests and a short run of each fuzzer, then the Debian package with lintian.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh tests fuzz
scripts/test-sanitized.sh
scripts/build.sh RelWithDebInfo
(cd "${MOZARIO_BUILD_DIR:-build}" && ctest --output-on-failure -j2)
# The unit tests have just run: the package build leaves them out.
DEB_BUILD_OPTIONS="nocheck terse parallel=2" scripts/package.sh
