#!/usr/bin/env bash
# Builds the Debian package from a copy of this tree in build-deb/ (or $MOZARIO_DEB_DIR), where
# the .deb files land, and checks them with lintian: any error or warning fails. Extra
# arguments go to dpkg-buildpackage. The unit tests run in the package build unless
# DEB_BUILD_OPTIONS holds nocheck.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${MOZARIO_DEB_DIR:-build-deb}")
rm -rf "$out/mozario" "$out"/mozario_* "$out"/mozario-dbgsym_*
mkdir -p "$out/mozario"
# The sources only: no build folders, and nothing an earlier package build left in the tree.
tar --exclude-vcs --exclude='./build*' --exclude=./fuzz-corpus --exclude='./obj-*' \
  --exclude=./debian/.debhelper --exclude=./debian/mozario -cf - . | tar -xf - -C "$out/mozario"
(cd "$out/mozario" && dpkg-buildpackage -us -uc -b "$@")
rm -rf "$out/mozario"
lintian --fail-on error,warning --no-tag-display-limit "$out"/mozario_*.changes
ls "$out"/mozario*.deb
