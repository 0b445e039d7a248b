#!/usr/bin/env bash
# Installs what is missing, builds the game (without its tests) and starts it.
set -euo pipefail
cd "$(dirname "$0")/.."
scripts/setup.sh
export MOZARIO_BUILD_DIR=${MOZARIO_PLAY_BUILD_DIR:-build-release}
scripts/build.sh Release -DBUILD_TESTING=OFF
exec "$MOZARIO_BUILD_DIR/app/mozario"
