#!/usr/bin/env bash
# Installs the build into a scratch root and starts the installed program from there, far from
# the source and build folders, the way its menu entry does: it must find everything it needs
# inside itself.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" >/dev/null
data=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")/share
for f in applications/io.github.mozario.Mozario.desktop \
         metainfo/io.github.mozario.Mozario.metainfo.xml \
         icons/hicolor/256x256/apps/mozario.png \
         icons/hicolor/scalable/apps/mozario.svg; do
  [ -f "$root$data/$f" ] || { echo "missing after install: $data/$f"; exit 1; }
done
file "$root$data/icons/hicolor/256x256/apps/mozario.png" | grep -q '256 x 256' \
  || { echo "the 256 px icon is not 256 x 256"; exit 1; }
program=$(sed -n 's/^Exec=//p' "$root$data/applications/io.github.mozario.Mozario.desktop")
[ -x "$root$program" ] || { echo "the menu entry starts $program, which is not installed"; exit 1; }
cd "$root"
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$root$program" >/dev/null 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  echo "the installed program ended on its own with status $status instead of running"
  exit 1
fi
echo "installed program runs"
