#!/usr/bin/env bash
# Configures and builds into build/ (or $MOZARIO_BUILD_DIR) with the given build type.
set -euo pipefail
cd "$(dirname "$0")/.."
build_dir=${MOZARIO_BUILD_DIR:-build}
build_type=${1:-RelWithDebInfo}
cmake -S . -B "$build_dir" -DCMAKE_BUILD_TYPE="$build_type" "${@:2}" >/dev/null
cmake --build "$build_dir" -j2
