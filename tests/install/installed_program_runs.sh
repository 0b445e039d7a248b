#!/usr/bin/env bash
# Installs the build into a scratch root and starts the installed program from there, far from
# the source and build folders: it must find everything it needs inside itself.
set -euo pipefail
build=$1
root=$(mktemp -d)
trap 'rm -rf "$root"' EXIT
DESTDIR=$root cmake --install "$build" --prefix /usr >/dev/null
for f in bin/mozario \
         share/applications/io.github.mozario.Mozario.desktop \
         share/metainfo/io.github.mozario.Mozario.metainfo.xml \
         share/icons/hicolor/32x32/apps/mozario.png \
         share/icons/hicolor/256x256/apps/mozario.png \
         share/icons/hicolor/scalable/apps/mozario.svg; do
  [ -f "$root/usr/$f" ] || { echo "missing after install: /usr/$f"; exit 1; }
done
# A 32 x 32 icon of 16 colours.
file "$root/usr/share/icons/hicolor/32x32/apps/mozario.png" | grep -q '32 x 32, 4-bit colormap' \
  || { echo "the 32 x 32 icon is not a 16-colour picture"; exit 1; }
cd "$root"
status=0
QT_QPA_PLATFORM=offscreen timeout 3 "$root/usr/bin/mozario" >/dev/null 2>&1 || status=$?
if [ "$status" -ne 124 ]; then
  echo "the installed program ended on its own with status $status instead of running"
  exit 1
fi
echo "installed program runs"
