#!/usr/bin/env bash
# Installs the build into scratch folders, the way the package build does (DESTDIR) and the way
# a user does for one account (--prefix), and starts each installed program from there, far
# from the source and build folders, the way its menu entry does: it must find everything it
# needs inside itself. Then starts it where its window cannot open: one line, a failure status,
# no crash.
set -euo pipefail
build=$1
scratch=$(mktemp -d)
trap 'rm -rf "$scratch"' EXIT
configured=$(sed -n 's/^CMAKE_INSTALL_PREFIX:PATH=//p' "$build/CMakeCache.txt")

# One row per way of installing: its name, the staging root (DESTDIR) of a package build or
# nothing, and the prefix installed for (for one user, a home folder with a space in its name).
rows=(
  "package|$scratch/root|$configured"
  "one-user||$scratch/my home/.local"
)
for row in "${rows[@]}"; do
  IFS='|' read -r name root prefix <<<"$row"
  if [ -n "$root" ]; then
    DESTDIR=$root cmake --install "$build" >/dev/null
  else
    cmake --install "$build" --prefix "$prefix" >/dev/null
  fi
  data=$root$prefix/share
  for f in applications/io.github.mozario.mozario.desktop \
           metainfo/io.github.mozario.mozario.metainfo.xml \
           icons/hicolor/scalable/apps/mozario.svg; do
    [ -f "$data/$f" ] || { echo "$name: missing after install: $f"; exit 1; }
  done
  for size in 16 24 32 48 256; do
    file "$data/icons/hicolor/${size}x$size/apps/mozario.png" | grep -q "$size x $size" \
      || { echo "$name: no $size x $size icon"; exit 1; }
  done
  entry=$data/applications/io.github.mozario.mozario.desktop
  if command -v desktop-file-validate >/dev/null; then
    desktop-file-validate "$entry" || { echo "$name: the installed menu entry is not valid"; exit 1; }
  fi
  # The program is the first word of Exec, quotes taken off as a launcher does.
  program=$(sed -n "s/^Exec=//p" "$entry" | xargs -n 1 | sed -n 1p)
  [[ $program == "$prefix"/* ]] && [ -x "$root$program" ] \
    || { echo "$name: the menu entry starts $program, which is not installed"; exit 1; }
  status=0
  (cd "$scratch" && QT_QPA_PLATFORM=offscreen timeout 3 "$root$program" >/dev/null 2>&1) || status=$?
  if [ "$status" -ne 124 ]; then
    echo "$name: the installed program ended on its own with status $status instead of running"
    exit 1
  fi
done

# Where the window cannot open, one line saying why, a failure status and no crash: an X display
# that does not exist, and a platform plugin that is not installed.
n=150
while [ -e "/tmp/.X11-unix/X$n" ] || [ -e "/tmp/.X$n-lock" ]; do n=$((n + 1)); done
for row in "xcb|no display could be reached (DISPLAY=:$n)" \
           "nosuch|\"nosuch\" platform plugin is not installed"; do
  IFS='|' read -r platform says <<<"$row"
  status=0
  QT_QPA_PLATFORM=$platform DISPLAY=:$n timeout 10 "$root$program" >/dev/null 2>"$scratch/stderr" || status=$?
  lines=$(wc -l <"$scratch/stderr")
  if [ "$status" -eq 0 ] || [ "$status" -ge 124 ] || [ "$lines" -ne 1 ] || ! grep -qF "$says" "$scratch/stderr"; then
    echo "on $platform: status $status and $lines lines on stderr instead of a failure status and one line saying \"$says\":"
    cat "$scratch/stderr"
    exit 1
  fi
  echo "installed program runs; on $platform without its window it says: $(cat "$scratch/stderr")"
done
