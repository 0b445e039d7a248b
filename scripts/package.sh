#!/usr/bin/env bash
# Builds the Debian source and binary packages from a copy of this tree in build-deb/ (or
# $MOZARIO_DEB_DIR), where they land, and checks them together with lintian through the
# .changes file: any error or warning fails. Extra arguments go to dpkg-buildpackage. The unit
# tests run in the package build unless DEB_BUILD_OPTIONS holds nocheck.
set -euo pipefail
cd "$(dirname "$0")/.."
out=$(realpath -m "${MOZARIO_DEB_DIR:-build-deb}")
rm -rf "$out/mozario" "$out"/mozario_* "$out"/mozario-dbgsym_*
mkdir -p "$out/mozario"
# The copy leaves out what the source package leaves out (debian/source/options), and what an
# earlier package build left in the tree.
excludes=(--exclude-vcs --exclude=./debian/.debhelper --exclude=./debian/mozario)
while read -r pattern; do
  excludes+=("--exclude=$pattern")
done < <(sed -n 's/^tar-ignore *= *//p' debian/source/options)
tar "${excludes[@]}" -cf - . | tar -xf - -C "$out/mozario"
(cd "$out/mozario" && dpkg-buildpackage -us -uc "$@")
rm -rf "$out/mozario"
# The game has no web page, and AppStream 1.0 (Debian 13) counts a missing homepage URL as a
# failed validation, which lintian reports as appstream-metadata-validation-failed. That tag
# alone is passed over, and the installed tree is validated here instead with only the homepage
# warning let through, so any other AppStream problem still fails. Older AppStream (Debian 12's
# 0.16) neither warns about it nor knows the tag, and its lintian has no such check.
allowances=()
if [ "$(appstreamcli --version | grep -o '[0-9][0-9]*' | head -n 1)" -ge 1 ]; then
  allowances=(--suppress-tags appstream-metadata-validation-failed)
  tree=$(mktemp -d)
  trap 'rm -rf "$tree"' EXIT
  dpkg-deb -x "$out"/mozario_*_"$(dpkg --print-architecture)".deb "$tree"
  appstreamcli validate-tree --no-net --override=url-homepage-missing=info "$tree"
fi
lintian --fail-on error,warning --tag-display-limit 0 "${allowances[@]}" "$out"/mozario_*.changes
ls "$out"/mozario_*
